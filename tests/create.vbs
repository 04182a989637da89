' Prints the plug-in's name when Brastow.PlugIn can be created; exit code 1 otherwise.
On Error Resume Next
Set p = CreateObject("Brastow.PlugIn")
If Err.Number <> 0 Then
  WScript.Echo "not creatable"
  WScript.Quit 1
End If
WScript.Echo p.Name
