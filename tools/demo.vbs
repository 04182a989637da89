' Brastow's public numeric members, called by a real automation client.
Set p = CreateObject("Brastow.PlugIn")
WScript.Echo "Name            = " & p.Name
WScript.Echo "Sign(-2.5)      = " & p.Sign(-2.5) & " (" & TypeName(p.Sign(-2.5)) & ")"
WScript.Echo "SinDeg(30)      = " & p.SinDeg(30)
WScript.Echo "CosDeg(90)      = " & p.CosDeg(90)
WScript.Echo "CalcAngle(8,-6) = " & p.CalcAngle(8, -6)
WScript.Echo "ArcCosDeg(0.5)  = " & p.ArcCosDeg(0.5)
WScript.Echo "OldCalcAngle(3,4) = " & p.OldCalcAngle(3, 4)
