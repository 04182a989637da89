; brastow-setup.exe: installs and registers Brastow, with an uninstaller and an entry in
; the system's list of installed programs. /S installs or uninstalls silently.
;
; The setup program is a 32-bit program, so it runs on every Windows. It installs the
; 32-bit edition (for 32-bit hosts) into the chosen folder, by default "Program Files"
; on 32-bit Windows and "Program Files (x86)" on 64-bit Windows, registered in the 32-bit
; registry view. On 64-bit Windows it also installs the 64-bit edition (for 64-bit hosts)
; into "Program Files\Brastow", registered by the 64-bit regsvr32 in the 64-bit view.
; The uninstaller removes both.
;
; Built by CMake: makensis -DDLL32=<32-bit brastow.dll> [-DDLL64=<64-bit brastow.dll>]
;                          -DOUTFILE=<path of the setup program>
; Without DLL64 the setup program holds the 32-bit edition only.
!ifdef TARGET
  ; Only the installer test sets this (amd64-unicode): on a machine that runs no 32-bit
  ; programs it checks the script's steps with a 64-bit setup program.
  Target ${TARGET}
!else
  Unicode true
!endif
SetCompressor /SOLID lzma
RequestExecutionLevel admin

!include LogicLib.nsh
!include x64.nsh

!define PRODUCT "Brastow"
!define VERSION "1.03"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Brastow"

Name "${PRODUCT} ${VERSION}"
Caption "${PRODUCT} ${VERSION} Setup"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES32\Brastow"
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

Var Dir64         ; folder of the 64-bit edition; empty when it is not installed
Var Registered32  ; 1 once the 32-bit edition is registered

Function .onInit
  StrCpy $Dir64 ""
!ifdef TARGET
  ; A 64-bit setup program's $PROGRAMFILES32 is "Program Files" (measured under Wine);
  ; the probe keeps the two folders apart as the 32-bit setup program has them.
  ${If} $INSTDIR == "$PROGRAMFILES32\Brastow"
    ReadEnvStr $0 "ProgramFiles(x86)"
    StrCpy $INSTDIR "$0\Brastow"
  ${EndIf}
!endif
!ifdef DLL64
  ${If} ${RunningX64}
    StrCpy $Dir64 "$PROGRAMFILES64\Brastow"
  ${EndIf}
!endif
FunctionEnd

; Takes back what a failed installation put in place, folders included. A folder that
; is the setup program's current directory (SetOutPath makes it so) cannot be removed.
Function RollBack
  SetOutPath "$TEMP"
  ${If} $Registered32 == 1
    UnRegDLL "$INSTDIR\brastow.dll"
  ${EndIf}
  Delete "$INSTDIR\brastow.dll"
  RMDir "$INSTDIR"
  ${If} $Dir64 != ""
    Delete "$Dir64\brastow.dll"
    RMDir "$Dir64"
  ${EndIf}
FunctionEnd

!macro Fail WHAT
  Call RollBack
  MessageBox MB_OK|MB_ICONSTOP "${WHAT} could not be registered. Run the setup as an administrator." /SD IDOK
  SetErrorLevel 3
  Abort
!macroend

Section "Brastow"
  StrCpy $Registered32 0
  SetOutPath "$INSTDIR"
  File "/oname=brastow.dll" "${DLL32}"
  ClearErrors
  RegDLL "$INSTDIR\brastow.dll"
  ${If} ${Errors}
    !insertmacro Fail "brastow.dll"
  ${EndIf}
  StrCpy $Registered32 1
!ifdef DLL64
  ${If} $Dir64 != ""
    SetOutPath "$Dir64"
    File "/oname=brastow.dll" "${DLL64}"
    ; The 64-bit regsvr32: System32 as it is, not the 32-bit folder a 32-bit program sees.
    StrCpy $0 ""
    ClearErrors
    ${DisableX64FSRedirection}
    ExecWait '"$SYSDIR\regsvr32.exe" /s "$Dir64\brastow.dll"' $0
    ${EnableX64FSRedirection}
    ${If} ${Errors}
    ${OrIf} $0 != 0
      !insertmacro Fail "The 64-bit brastow.dll"
    ${EndIf}
  ${EndIf}
!endif
  SetOutPath "$INSTDIR"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Brastow"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Comments" "Manual guider calibration for MaxIm DL"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  ${If} $Dir64 != ""
    WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation64" "$Dir64"
  ${EndIf}
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
  ReadRegStr $Dir64 HKLM "${UNINSTALL_KEY}" "InstallLocation64"
  ${If} $Dir64 != ""
  ${AndIf} ${RunningX64}
    ${DisableX64FSRedirection}
    ExecWait '"$SYSDIR\regsvr32.exe" /u /s "$Dir64\brastow.dll"'
    ${EnableX64FSRedirection}
    Delete "$Dir64\brastow.dll"
    RMDir "$Dir64"
  ${EndIf}
  UnRegDLL "$INSTDIR\brastow.dll"
  Delete "$INSTDIR\brastow.dll"
  Delete "$INSTDIR\uninstall.exe"
  SetOutPath "$TEMP"
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
