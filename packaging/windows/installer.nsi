; The Windows installer, made by scripts/package-win32.sh with
;   makensis -DVERSION=1.0 -DVERSION4=1.0.0.0 -DPUBLISHER=... -DBUILD=FOLDER
;            -DOUTFILE=FILE [-DCLI] installer.nsi
; BUILD holds tideload.exe, icon128.ico and, with CLI, tideload-cli.exe.
; Silent: setup.exe /S [/PATH] [/D=FOLDER]; /PATH also adds the programs'
; folder to the system PATH, which is otherwise off in a silent install.
Unicode true
SetCompressor /SOLID lzma
RequestExecutionLevel admin

!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh
!include WinMessages.nsh

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Tideload"
!define ENVIRONMENT_KEY "SYSTEM\CurrentControlSet\Control\Session Manager\Environment"
!define SHORTCUT "$SMPROGRAMS\Tideload.lnk"

Name "Tideload ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES\Tideload"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"

VIProductVersion "${VERSION4}"
!pragma warning disable 9100 ; no LegalCopyright: none is ours to state
VIAddVersionKey /LANG=1033 "ProductName" "Tideload"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=1033 "FileDescription" "Tideload ${VERSION} setup"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"

!define MUI_ICON "${BUILD}/icon128.ico"
!define MUI_UNICON "${BUILD}/icon128.ico"
!define MUI_COMPONENTSPAGE_NODESC
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

; ---------------------------------------------------------------- PATH

; PathIndex LIST ENTRY: where ";ENTRY;" starts in ";LIST;" (case does not
; count), or -1, in $R0.
!macro PathIndexFunction prefix
Function ${prefix}PathIndex
  Exch $R1  ; the entry
  Exch
  Exch $R2  ; the list
  Push $R3
  Push $R4
  Push $R5
  Push $R6
  StrCpy $R2 ";$R2;"
  StrCpy $R1 ";$R1;"
  StrLen $R6 $R1
  StrLen $R4 $R2
  IntOp $R4 $R4 - $R6
  StrCpy $R0 -1
  ${For} $R5 0 $R4
    StrCpy $R3 $R2 $R6 $R5
    ${If} $R3 == $R1
      StrCpy $R0 $R5
      ${Break}
    ${EndIf}
  ${Next}
  Pop $R6
  Pop $R5
  Pop $R4
  Pop $R3
  Pop $R2
  Pop $R1
FunctionEnd
!macroend
!insertmacro PathIndexFunction ""
!insertmacro PathIndexFunction "un."

; The system PATH in $R0; the error flag when it cannot be read whole.
!macro ReadPath
  ClearErrors
  ReadRegStr $R0 HKLM "${ENVIRONMENT_KEY}" "Path"
!macroend

!macro PathChanged
  SendMessage ${HWND_BROADCAST} ${WM_SETTINGCHANGE} 0 "STR:Environment" /TIMEOUT=5000
!macroend

; Appends the folder to the PATH unless it is there, and remembers that it
; did; a PATH too long to read or extend here is left as it is.
Function AddToPath
  !insertmacro ReadPath
  ${If} ${Errors}
    DetailPrint "The PATH is left as it is: it cannot be read here."
    Return
  ${EndIf}
  StrCpy $R9 $R0
  Push $R9
  Push $INSTDIR
  Call PathIndex
  ${If} $R0 != -1
    DetailPrint "The PATH already has $INSTDIR."
    Return
  ${EndIf}
  ; The new PATH with a separator at each end must fit in a string here.
  StrLen $R1 $R9
  StrLen $R2 $INSTDIR
  IntOp $R1 $R1 + $R2
  IntOp $R1 $R1 + 3
  ${If} $R1 >= ${NSIS_MAX_STRLEN}
    DetailPrint "The PATH is left as it is: it would be too long to write here."
    Return
  ${EndIf}
  ${If} $R9 == ""
    StrCpy $R9 $INSTDIR
  ${Else}
    StrCpy $R9 "$R9;$INSTDIR"
  ${EndIf}
  WriteRegExpandStr HKLM "${ENVIRONMENT_KEY}" "Path" $R9
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "PathAdded" 1
  !insertmacro PathChanged
FunctionEnd

; Takes out of the PATH the entry AddToPath put there, leaving the rest as
; it was.
Function un.RemoveFromPath
  ReadRegDWORD $R0 HKLM "${UNINSTALL_KEY}" "PathAdded"
  ${If} $R0 != 1
    Return
  ${EndIf}
  !insertmacro ReadPath
  ${If} ${Errors}
    Return
  ${EndIf}
  StrCpy $R9 ";$R0;"
  Push $R0
  Push $INSTDIR
  Call un.PathIndex
  ${If} $R0 == -1
    Return
  ${EndIf}
  ; ";LIST;" without ";ENTRY", then without the added ends.
  StrLen $R1 $INSTDIR
  IntOp $R1 $R1 + 1
  IntOp $R2 $R0 + $R1
  StrCpy $R3 $R9 $R0
  StrCpy $R4 $R9 "" $R2
  StrCpy $R9 "$R3$R4" "" 1
  StrCpy $R9 $R9 -1
  WriteRegExpandStr HKLM "${ENVIRONMENT_KEY}" "Path" $R9
  !insertmacro PathChanged
FunctionEnd

; ---------------------------------------------------------------- sections

Section "Tideload" SecPrograms
  SectionIn RO
  SetShellVarContext all
  SetOutPath "$INSTDIR"
  File "${BUILD}/tideload.exe"
!ifdef CLI
  File "${BUILD}/tideload-cli.exe"
!endif
  WriteUninstaller "$INSTDIR\uninstall.exe"
  CreateShortcut "${SHORTCUT}" "$INSTDIR\tideload.exe" "" "$INSTDIR\tideload.exe" 0

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Tideload"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\tideload.exe,0"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

Section /o "Add the programs' folder to the PATH" SecPath
  Call AddToPath
SectionEnd

Function .onInit
  ClearErrors
  ${GetOptions} $CMDLINE "/PATH" $0
  ${IfNot} ${Errors}
    SectionSetFlags ${SecPath} ${SF_SELECTED}
  ${EndIf}
FunctionEnd

; Everything the installer put there; the settings under
; HKLM\SOFTWARE\${PUBLISHER}\TIDELOAD stay.
Section "Uninstall"
  SetShellVarContext all
  Call un.RemoveFromPath
  Delete "${SHORTCUT}"
  Delete "$INSTDIR\tideload.exe"
!ifdef CLI
  Delete "$INSTDIR\tideload-cli.exe"
!endif
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
