; The operator's installer for Windows: per user, no administrator rights, Russian texts.
; Built by scripts/windows.sh:
;   makensis -INPUTCHARSET UTF8 -DVERSION=<M.NN> -DFILE_VERSION=<M.NN.0.0>
;            -DSTAGE=<folder with piezon.exe and its DLLs>
;            -DFILES=<generated list of the installed files> -DOUTFILE=<setup.exe> windows-setup.nsi
; The log lives beside the program, so the program goes where the operator may write:
; %LOCALAPPDATA%\Programs\Пьезон RX418. Uninstalling removes what was installed and keeps the logs.
; A 64-bit installer for the 64-bit program (and it runs where only 64-bit Windows code runs).
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel user
ManifestDPIAware true

!define PRODUCT "Пьезон для RX418"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\PiezonRX418"
; The program holds this mutex for as long as it runs (src/window/process_setup_win.cpp).
!define RUNNING_MUTEX "Local\PiezonRX418.Running"
!define SYNCHRONIZE 0x00100000
; The Start-menu folder: the program, and the folder its logs are written to.
!define MENU "$SMPROGRAMS\${PRODUCT}"
!define LOGS_LINK "Папка журналов"

Name "${PRODUCT}"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\Пьезон RX418"
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"
BrandingText "${PRODUCT} ${VERSION}"

!include "MUI2.nsh"
!include "FileFunc.nsh"
!include "LogicLib.nsh"
!define MUI_ICON "${STAGE}/piezon.ico"
!define MUI_UNICON "${STAGE}/piezon.ico"
!define MUI_ABORTWARNING
!define MUI_FINISHPAGE_RUN "$INSTDIR\piezon.exe"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "Russian"

VIProductVersion "${FILE_VERSION}"
VIAddVersionKey /LANG=${LANG_RUSSIAN} "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=${LANG_RUSSIAN} "FileDescription" "Установка программы ${PRODUCT}"
VIAddVersionKey /LANG=${LANG_RUSSIAN} "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_RUSSIAN} "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_RUSSIAN} "LegalCopyright" ""

; A running program holds its files and writes its log into the folder: installing over it or
; removing it would leave a half-updated or half-removed folder. Refused before anything is
; touched; with /S without a word, and with exit status 2, which a caller can tell from success.
;   !insertmacro REFUSE_WHILE_RUNNING "установку"|"удаление"
!macro REFUSE_WHILE_RUNNING WHAT
  ; A version that has the mutex, whatever folder it runs from: the mutex does not say which.
  System::Call 'kernel32::OpenMutexW(i ${SYNCHRONIZE}, i 0, w "${RUNNING_MUTEX}") p .r0'
  ${If} $0 P<> 0
    System::Call 'kernel32::CloseHandle(p r0)'
    Goto running
  ${EndIf}
  ; An earlier version has no mutex, but Windows lets no one write to the file of a running
  ; program.
  IfFileExists "$INSTDIR\piezon.exe" 0 not_running
  ClearErrors
  FileOpen $0 "$INSTDIR\piezon.exe" a
  IfErrors running
  FileClose $0
  Goto not_running
  running:
    MessageBox MB_OK|MB_ICONSTOP \
      "Программа «${PRODUCT}» запущена. Закройте её (F3) и запустите ${WHAT} снова." /SD IDOK
    SetErrorLevel 2
    Quit
  not_running:
!macroend

; Takes the size of the files in $INSTDIR that match MASK off $0 (bytes).
!macro LESS_FILES MASK
  ${GetSize} "$INSTDIR" "/M=${MASK} /S=0B /G=1" $1 $2 $3
  ; (No such file: no size at all.)
  ${If} $1 != ""
    System::Int64Op $0 - $1
    Pop $0
  ${EndIf}
!macroend

Function .onInit
  SetShellVarContext current
  !insertmacro REFUSE_WHILE_RUNNING "установку"
FunctionEnd

Function un.onInit
  SetShellVarContext current
  !insertmacro REFUSE_WHILE_RUNNING "удаление"
FunctionEnd

Section "Программа"
  SetOutPath "$INSTDIR"
  ; The folder chosen on the directory page may not be the one .onInit looked at: an earlier
  ; version running from it is refused here.
  IfFileExists "$INSTDIR\piezon.exe" 0 fresh
    ClearErrors
    FileOpen $0 "$INSTDIR\piezon.exe" a
    IfErrors 0 +2
      Abort "Программа «${PRODUCT}» запущена из папки $INSTDIR. Закройте её (F3) и запустите установку снова."
    FileClose $0
  fresh:
  File /r "${STAGE}/*"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  ; The program and, for whoever looks for the logs, the folder they are written to.
  CreateDirectory "${MENU}"
  CreateShortCut "${MENU}\${PRODUCT}.lnk" "$INSTDIR\piezon.exe" "" "$INSTDIR\piezon.ico"
  CreateShortCut "${MENU}\${LOGS_LINK}.lnk" "$INSTDIR"
  ; Earlier versions put the program's shortcut at the top of the menu: one entry is enough.
  Delete "$SMPROGRAMS\${PRODUCT}.lnk"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\piezon.ico"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "${PRODUCT}"
  ; Apps shows the program's size in KiB: the folder as installed, without the records an
  ; earlier version left in it (the logs and their .csv companions: the operator's, and out of
  ; date with the next session).
  ${GetSize} "$INSTDIR" "/S=0B /G=1" $0 $1 $2
  !insertmacro LESS_FILES "*.log"
  !insertmacro LESS_FILES "*.csv"
  System::Int64Op $0 + 1023
  Pop $0
  System::Int64Op $0 / 1024
  Pop $0
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

Section "Uninstall"
  ; Exactly the files that were installed; the logs (Пьезон_RX418*.log, and their .csv
  ; companions) stay, and so does the folder that holds them.
  !include "${FILES}"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR\platforms"
  RMDir "$INSTDIR\styles"
  RMDir "$INSTDIR\translations"
  RMDir "$INSTDIR"
  Delete "${MENU}\${PRODUCT}.lnk"
  Delete "${MENU}\${LOGS_LINK}.lnk"
  RMDir "${MENU}"
  ; An earlier version's, if the operator never installed this one over it.
  Delete "$SMPROGRAMS\${PRODUCT}.lnk"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
SectionEnd
