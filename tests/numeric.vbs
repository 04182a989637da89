' The numeric members as a real automation client sees them: VBScript, late bound.
' Argument 0: the log file of the message boxes the helper closed.
Option Explicit
Dim p, passed, failed, x, r, fso, logPath
passed = 0 : failed = 0
logPath = WScript.Arguments(0)
Set fso = CreateObject("Scripting.FileSystemObject")

Sub Check(name, condition)
  If condition Then
    passed = passed + 1
  Else
    failed = failed + 1
    WScript.Echo "FAIL: " & name
  End If
End Sub

Function LastBox()
  Dim f, lines, t
  WScript.Sleep 300
  Set f = fso.OpenTextFile(logPath, 1)
  t = ""
  If Not f.AtEndOfStream Then t = f.ReadAll
  f.Close
  lines = Split(Replace(t, vbCr, ""), vbLf)
  If UBound(lines) >= 1 Then LastBox = lines(UBound(lines) - 1) Else LastBox = ""
End Function

Set p = CreateObject("Brastow.PlugIn")
Check "Name", p.Name = "Brastow"
Check "Sign(0) is the Integer 1", TypeName(p.Sign(0)) = "Integer" And p.Sign(0) = 1
x = -2.5
Check "Sign of a variable passed by reference", p.Sign(x) = -1
Check "the argument is left unchanged", x = -2.5 And TypeName(x) = "Double"
Check "SinDeg is a Double", TypeName(p.SinDeg(30)) = "Double"
Check "SinDeg(30)", Abs(p.SinDeg(30) - 0.5) < 1E-15
Check "CosDeg(90) is negative", p.CosDeg(90) < 0
Check "CalcAngle(1, 1)", Abs(p.CalcAngle(1, 1) + 45.00000125223907) < 1E-9
Check "CalcAngle(-1, 0) is +180", p.CalcAngle(-1, 0) > 180
Check "ArcCosDeg(0.5)", Abs(p.ArcCosDeg(0.5) - 60) < 1E-12
Check "ArcCosDeg(1) is the Integer 180", TypeName(p.ArcCosDeg(1)) = "Integer" And p.ArcCosDeg(1) = 180
Check "OldCalcAngle(0, 0) is the Integer 0", TypeName(p.OldCalcAngle(0, 0)) = "Integer"
Check "OldCalcAngle(3, 4)", Abs(p.OldCalcAngle(3, 4) - 36.869897645844) < 1E-9

On Error Resume Next
r = p.Sign("abc")
Check "Sign(""abc"") is error 13", Err.Number = 13
Err.Clear
r = p.CalcAngle("abc", 1)
Check "CalcAngle(""abc"", 1) is error 13", Err.Number = 13
Check "the error's source", Err.Source = "Brastow"
Check "the error's description", Err.Description = "Type mismatch"
Check "the message shown first", LastBox() = "Error in CalcAngle, adj=abc, opp=1"
Err.Clear
r = p.ArcCosDeg(1E+200)
Check "ArcCosDeg(1E+200) is error 6 (overflow)", Err.Number = 6
Check "its message", LastBox() = "Error in ArcCosDeg, x=1E+200"
Err.Clear
p.Name = "Other"
Check "Name cannot be assigned", Err.Number <> 0
Err.Clear
p.DoModal
Check "DoModal without its argument fails", Err.Number <> 0
Err.Clear
On Error Goto 0

WScript.Echo passed & " passed, " & failed & " failed"
WScript.Quit failed
