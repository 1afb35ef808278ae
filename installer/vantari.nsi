; The Windows installer: the window, vantari-cli.exe, bcktool.exe and zipcode.bck in one folder of
; the user's own (no administrator rights), a Start-menu shortcut, an uninstaller and, when asked
; for, the nightly backup task of the installing user.
;
; makensis -INPUTCHARSET UTF8 -DVERSION=x.y -DOUTFILE=... -DVANTARI_EXE=... -DCLI_EXE=...
;          -DBCKTOOL_EXE=... -DZIPCODE_BCK=... vantari.nsi     (installer/CMakeLists.txt does so)
;
; Command line:  /S  silent;  /D=FOLDER  another folder (last, unquoted);
;   /NIGHTLY=1  register the nightly backup (the installing user's Task Scheduler task);
;   /USER=ID  the user ID for it when no login was saved yet;
;   /PASSWORDFILE=FILE  the password for it (first line) when none was saved by a login.
; A password is never taken from the command line: other users can read it there.

Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel user

!include MUI2.nsh
!include nsDialogs.nsh
!include LogicLib.nsh
!include FileFunc.nsh
!include TextFunc.nsh

!define PRODUCT "반타리서비스"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Vantari"
!define SHORTCUT "$SMPROGRAMS\${PRODUCT}.lnk"
; The settings of the window and of vantari-cli (%APPDATA%\Vantari): read here, never replaced.
!define CONFIG_FOLDER "$APPDATA\Vantari"
!define SETTINGS_FILE "${CONFIG_FOLDER}\FtpHost.ini"
!define PASSWORD_FILE "${CONFIG_FOLDER}\password"

Name "${PRODUCT}"
BrandingText "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\Vantari"
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"
ShowInstDetails nevershow
ShowUninstDetails nevershow

Var Nightly ; "1": register the task
Var NightlyUser ; the ID typed on the page or given by /USER=
Var NightlyPassword ; typed on the page or read from /PASSWORDFILE=
Var SavedUser ; the last login's, from FtpHost.ini
Var SavedPassword
Var NightlyBox
Var UserBox
Var PasswordBox

!define MUI_ABORTWARNING
!define MUI_FINISHPAGE_RUN "$INSTDIR\vantari.exe"
!insertmacro MUI_PAGE_DIRECTORY
Page custom NightlyPage NightlyPageLeave
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "Korean"

; The program states no copyright line of its own, so the version block has none either.
!pragma warning disable 9100
VIProductVersion "${VERSION}.0.0"
VIAddVersionKey /LANG=${LANG_KOREAN} "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=${LANG_KOREAN} "FileDescription" "${PRODUCT} 설치"
VIAddVersionKey /LANG=${LANG_KOREAN} "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_KOREAN} "ProductVersion" "${VERSION}"

Function .onInit
  SetShellVarContext current
  ${GetParameters} $R0
  ClearErrors
  ${GetOptions} $R0 "/NIGHTLY=" $R1
  ${IfNot} ${Errors}
  ${AndIf} $R1 == "1"
    StrCpy $Nightly "1"
  ${EndIf}
  ClearErrors
  ${GetOptions} $R0 "/USER=" $NightlyUser
  ClearErrors
  ${GetOptions} $R0 "/PASSWORDFILE=" $R1
  ${IfNot} ${Errors}
    Call ReadPasswordFile
  ${EndIf}
  ReadINIStr $SavedUser "${SETTINGS_FILE}" "Server" "HOSTID"
  ReadINIStr $SavedPassword "${SETTINGS_FILE}" "Server" "HOSTPASS"
FunctionEnd

; $R1: a file whose first line is the password.
Function ReadPasswordFile
  ClearErrors
  FileOpen $0 "$R1" r
  ${If} ${Errors}
    MessageBox MB_ICONSTOP "$R1: 파일을 읽을 수 없습니다." /SD IDOK
    SetErrorLevel 2
    Quit
  ${EndIf}
  FileRead $0 $NightlyPassword
  FileClose $0
  ${TrimNewLines} $NightlyPassword $NightlyPassword
FunctionEnd

; The nightly backup: uploads as the last login (the ID saved by the window), so the ID box only
; takes one when none was saved yet.
Function NightlyPage
  !insertmacro MUI_HEADER_TEXT "매일 밤 자동 백업" "컴퓨터가 켜져 있으면 매일 밤 9시에 자료를 서버에 올립니다."
  nsDialogs::Create 1018
  Pop $0
  ${NSD_CreateCheckbox} 0 0 100% 12u "매일 밤 자동으로 자료 올리기 (작업 스케줄러)"
  Pop $NightlyBox
  ${If} $Nightly == "1"
    ${NSD_Check} $NightlyBox
  ${EndIf}
  ${NSD_CreateLabel} 0 24u 60u 12u "아이디"
  Pop $0
  ${NSD_CreateText} 64u 22u 120u 12u "$SavedUser"
  Pop $UserBox
  ${If} $SavedUser != ""
    SendMessage $UserBox ${EM_SETREADONLY} 1 0
  ${EndIf}
  ${NSD_CreateLabel} 0 42u 60u 12u "비밀번호"
  Pop $0
  ${NSD_CreatePassword} 64u 40u 120u 12u "$SavedPassword"
  Pop $PasswordBox
  ${NSD_CreateLabel} 0 64u 100% 36u "비밀번호는 이 사용자만 읽을 수 있는 설정 폴더에 저장됩니다. 나중에 끄려면 프로그램을 제거하거나 vantari-cli disable-nightly 를 실행하십시오."
  Pop $0
  nsDialogs::Show
FunctionEnd

Function NightlyPageLeave
  ${NSD_GetState} $NightlyBox $0
  StrCpy $Nightly ""
  ${If} $0 == ${BST_CHECKED}
    ${NSD_GetText} $UserBox $NightlyUser
    ${NSD_GetText} $PasswordBox $NightlyPassword
    ${If} $NightlyUser == ""
    ${OrIf} $NightlyPassword == ""
      MessageBox MB_ICONEXCLAMATION "아이디와 비밀번호를 입력하십시오."
      Abort
    ${EndIf}
    StrCpy $Nightly "1"
  ${EndIf}
FunctionEnd

; Writes the password file and registers the task through vantari-cli.exe; a failure is shown
; (silent: the exit status 1) and leaves the installed program as it is.
Function RegisterNightly
  ${If} $NightlyPassword == ""
    StrCpy $NightlyPassword $SavedPassword
  ${EndIf}
  ${If} $NightlyUser == ""
    StrCpy $NightlyUser $SavedUser
  ${EndIf}
  ${If} $NightlyUser == ""
  ${OrIf} $NightlyPassword == ""
    StrCpy $R9 "아이디와 비밀번호가 없습니다. 창에서 한 번 로그인하거나 /USER= 와 /PASSWORDFILE= 을 주십시오."
    Goto failed
  ${EndIf}
  ${If} $SavedUser == ""
    ; What a first login in the window would save; no saved value is ever replaced.
    CreateDirectory "${CONFIG_FOLDER}"
    WriteINIStr "${SETTINGS_FILE}" "Server" "HOSTID" "$NightlyUser"
  ${ElseIf} $SavedUser != $NightlyUser
    StrCpy $R9 "자동 백업은 마지막으로 로그인한 아이디($SavedUser)로 올립니다."
    Goto failed
  ${EndIf}
  CreateDirectory "${CONFIG_FOLDER}"
  ClearErrors
  FileOpen $0 "${PASSWORD_FILE}" w
  ${If} ${Errors}
    StrCpy $R9 "${PASSWORD_FILE}: 파일을 쓸 수 없습니다."
    Goto failed
  ${EndIf}
  FileWrite $0 "$NightlyPassword$\r$\n"
  FileClose $0
  nsExec::ExecToLog '"$INSTDIR\vantari-cli.exe" enable-nightly --password-file "${PASSWORD_FILE}"'
  Pop $0
  ${If} $0 == "0"
    Return
  ${EndIf}
  StrCpy $R9 "자동 백업을 등록하지 못했습니다 ($0)."
failed:
  DetailPrint "$R9"
  MessageBox MB_ICONEXCLAMATION "$R9" /SD IDOK
  SetErrorLevel 1
FunctionEnd

Section "Install"
  SetShellVarContext current
  SetOutPath "$INSTDIR"
  ; Only the program's own files: an old FtpHost.ini beside them stays the user's.
  File "/oname=vantari.exe" "${VANTARI_EXE}"
  File "/oname=vantari-cli.exe" "${CLI_EXE}"
  File "/oname=bcktool.exe" "${BCKTOOL_EXE}"
  File "/oname=zipcode.bck" "${ZIPCODE_BCK}"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  CreateShortCut "${SHORTCUT}" "$INSTDIR\vantari.exe"

  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\vantari.exe"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" $0

  ${If} $Nightly == "1"
    Call RegisterNightly
  ${EndIf}
SectionEnd

; Removes the task, the program, the shortcut and the entry; the data folder, its Backup folder
; and snapshots, the settings folder and anything else in the program's folder stay.
Section "Uninstall"
  SetShellVarContext current
  nsExec::Exec '"$INSTDIR\vantari-cli.exe" disable-nightly'
  Pop $0 ; no task registered: nothing to remove
  Delete "$INSTDIR\vantari.exe"
  Delete "$INSTDIR\vantari-cli.exe"
  Delete "$INSTDIR\bcktool.exe"
  Delete "$INSTDIR\zipcode.bck"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR" ; only when empty
  Delete "${SHORTCUT}"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
SectionEnd
