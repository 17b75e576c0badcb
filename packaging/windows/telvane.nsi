; The Windows installer. scripts/package.sh runs makensis with:
;   VERSION    the release number
;   X64DIR     the unpacked x64 zip (the 64-bit programs)
;   X86DIR     the unpacked x86 zip (the 32-bit programs)
;   FILELIST   an include with one FILE line per file of a zip, relative to its folder
;   ICON       the program's icon
;   OUTFILE    the installer to write
; Per machine, into Program Files, the build that fits the system; a Start menu entry and an
; entry under Apps for the uninstaller. Nothing else is changed.

Unicode true
SetCompressor /SOLID lzma
RequestExecutionLevel admin

!include "LogicLib.nsh"
!include "x64.nsh"
!include "MUI2.nsh"

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Telvane"

Name "Telvane ${VERSION}"
OutFile "${OUTFILE}"
BrandingText "Telvane ${VERSION}"
VIProductVersion "${VERSION}.0"
VIAddVersionKey "ProductName" "Telvane"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "FileDescription" "Telvane installer"
VIAddVersionKey "LegalCopyright" "the Telvane developers"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_FINISHPAGE_RUN "$INSTDIR\telvane.exe"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

Function .onInit
  SetShellVarContext all
  ${If} ${RunningX64}
    SetRegView 64
  ${EndIf}
  ; /D=FOLDER on the command line comes first.
  ${If} $INSTDIR == ""
    ${If} ${RunningX64}
      StrCpy $INSTDIR "$PROGRAMFILES64\Telvane"
    ${Else}
      StrCpy $INSTDIR "$PROGRAMFILES32\Telvane"
    ${EndIf}
  ${EndIf}
FunctionEnd

; Each file of one build, copied into the same place below $INSTDIR.
!macro InstallBuild DIR
  !define FILE `!insertmacro InstallOne "${DIR}"`
  !include "${FILELIST}"
  !undef FILE
!macroend
!macro InstallOne DIR SUBDIR NAME
  SetOutPath "$INSTDIR${SUBDIR}"
  File "${DIR}${SUBDIR}\${NAME}"
!macroend

Section "Telvane"
  ${If} ${RunningX64}
    !insertmacro InstallBuild "${X64DIR}"
  ${Else}
    !insertmacro InstallBuild "${X86DIR}"
  ${EndIf}
  SetOutPath "$INSTDIR"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  CreateShortcut "$SMPROGRAMS\Telvane.lnk" "$INSTDIR\telvane.exe"

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Telvane"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "the Telvane developers"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\telvane.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Function un.onInit
  SetShellVarContext all
  ${If} ${RunningX64}
    SetRegView 64
  ${EndIf}
FunctionEnd

; Only what the installer put there: a file of the user's own in the folder keeps it.
!macro RemoveOne DIR SUBDIR NAME
  Delete "$INSTDIR${SUBDIR}\${NAME}"
  RMDir "$INSTDIR${SUBDIR}"
!macroend

Section "Uninstall"
  !define FILE `!insertmacro RemoveOne ""`
  !include "${FILELIST}"
  !undef FILE
  Delete "$SMPROGRAMS\Telvane.lnk"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
SectionEnd
