; brastow-setup.exe: installs and registers brastow.dll, with an uninstaller and an
; entry in the system's list of installed programs. /S installs or uninstalls silently.
; Built by CMake: makensis -DDLL=<path of brastow.dll> -DOUTFILE=<path of the setup program>
Unicode true
SetCompressor /SOLID lzma
RequestExecutionLevel admin

!define PRODUCT "Brastow"
!define VERSION "1.03"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Brastow"

Name "${PRODUCT} ${VERSION}"
Caption "${PRODUCT} ${VERSION} Setup"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES\Brastow"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
VIProductVersion "1.3.0.0"
VIAddVersionKey "ProductName" "${PRODUCT}"
VIAddVersionKey "FileDescription" "${PRODUCT} setup"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "LegalCopyright" "Copyright (C) 2026 Brastow"

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Section "Brastow"
  SetOutPath "$INSTDIR"
  File "${DLL}"
  ClearErrors
  RegDLL "$INSTDIR\brastow.dll"
  IfErrors 0 registered
    Delete "$INSTDIR\brastow.dll"
    RMDir "$INSTDIR"
    MessageBox MB_OK|MB_ICONSTOP "brastow.dll could not be registered. Run the setup as an administrator." /SD IDOK
    SetErrorLevel 3
    Abort
  registered:
  WriteUninstaller "$INSTDIR\uninstall.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Brastow"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Comments" "Manual guider calibration for MaxIm DL"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
  UnRegDLL "$INSTDIR\brastow.dll"
  Delete "$INSTDIR\brastow.dll"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
