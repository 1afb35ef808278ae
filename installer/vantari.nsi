; The Windows installer: the window, vantari-cli.exe, vantari-nightly.exe, bcktool.exe and
; zipcode.bck in one folder of the user's own (no administrator rights), a Start-menu shortcut,
; an uninstaller and, when asked for, the nightly backup task of the installing user.
;
; makensis -INPUTCHARSET UTF8 -DVERSION=x.y -DOUTFILE=... -DVANTARI_EXE=... -DCLI_EXE=...
;          -DNIGHTLY_EXE=... -DBCKTOOL_EXE=... -DZIPCODE_BCK=... -DCOMPANY=... -DSUPPORT_URL=...
;          vantari.nsi     (installer/CMakeLists.txt does so)
;
; Command line:  /S  silent;  /D=FOLDER  another folder (last, unquoted);
;   /NIGHTLY=1  turn the nightly backup on (the installing user's Task Scheduler task),
;   /NIGHTLY=0  turn it off;  /AT=HH:MM  its time (21:00 unless it was on at another time);
;   /USER=ID  and  /PASSWORDFILE=FILE (UTF-8, first line)  the login for it, else the window's
;   last login;  /HOST=NAME  /PORT=N  another server, /PING=ADDRESS  another address for the
;   connectivity check (support staff, tests).
; A password is never taken from the command line: other users can read it there. The login is
; handed to vantari-cli.exe, which checks it on the server and keeps it; this installer writes no
; setting and no password of its own.
; Exit status: 0 done, 1 failed or refused (a running window: nothing changed), 2 bad input.

Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel user

!include MUI2.nsh
!include nsDialogs.nsh
!include LogicLib.nsh
!include FileFunc.nsh
!include StrFunc.nsh
${StrStr}

!define PRODUCT "반타리서비스"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Vantari"
!define SHORTCUT "$SMPROGRAMS\${PRODUCT}.lnk"
!define WINDOW_CLASS "VantariForm1" ; the main window's class (app/win/ControlIds.h)
!define TASK_NAME "vantari-backup"
!define MAX_PASSWORD_FILE 4096 ; as vantari-cli.exe reads it

Name "${PRODUCT}"
BrandingText "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\Vantari"
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"
ShowInstDetails nevershow
ShowUninstDetails nevershow

Var Nightly ; "1" on, "0" off, "" as it is
Var NightlyWasOn ; "1" when the task is registered now
Var NightlyTime ; HH:MM
Var NightlyUser ; the ID typed on the page or given by /USER=
Var PasswordFile ; /PASSWORDFILE=
Var Server ; --host/--port for vantari-cli.exe, or ""
Var LoginKept ; "1" once the page's login was checked and kept
Var NightlyBox
Var TimeBox
Var UserBox
Var PasswordBox

!define MUI_ABORTWARNING
!define MUI_WELCOMEPAGE_TITLE "${PRODUCT} 설치를 시작합니다"
!define MUI_WELCOMEPAGE_TEXT "${PRODUCT}는 회계 자료를 서버에 올려 두고, 필요할 때 내려받아 되살리는 프로그램입니다.$\r$\n$\r$\n${PRODUCT} 창이 열려 있다면 먼저 닫아 주세요. 회계 자료와 설정은 그대로 둡니다.$\r$\n$\r$\n계속하려면 '다음'을 누르십시오."
!insertmacro MUI_PAGE_WELCOME
!define MUI_PAGE_HEADER_SUBTEXT "${PRODUCT}를 설치할 폴더를 골라 주세요."
!define MUI_DIRECTORYPAGE_TEXT_TOP "${PRODUCT}를 아래 폴더에 설치합니다. 다른 폴더에 설치하려면 '찾아보기'를 눌러 골라 주세요."
!insertmacro MUI_PAGE_DIRECTORY
Page custom NightlyPage NightlyPageLeave
!define MUI_PAGE_HEADER_SUBTEXT "${PRODUCT}를 설치하고 있습니다. 잠시 기다려 주세요."
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_TITLE "설치를 마쳤습니다"
!define MUI_FINISHPAGE_TEXT "${PRODUCT}를 설치했습니다. 시작 메뉴의 '${PRODUCT}'에서 실행할 수 있습니다."
!define MUI_FINISHPAGE_RUN "$INSTDIR\vantari.exe"
!define MUI_FINISHPAGE_RUN_TEXT "지금 ${PRODUCT} 실행하기"
!insertmacro MUI_PAGE_FINISH
!define MUI_PAGE_HEADER_SUBTEXT "이 컴퓨터에서 ${PRODUCT} 프로그램을 지웁니다."
!define MUI_UNCONFIRMPAGE_TEXT_TOP "${PRODUCT} 프로그램과 시작 메뉴의 바로 가기를 지우고, 매일 밤 자동 백업을 끕니다.$\r$\n$\r$\n회계 자료, 자료 폴더 안의 Backup 폴더(백업 파일과 되돌리기 자료), 그리고 설정(아이디와 서버 설정)은 지우지 않고 그대로 둡니다."
!insertmacro MUI_UNPAGE_CONFIRM
!define MUI_PAGE_HEADER_SUBTEXT "${PRODUCT}를 지우고 있습니다. 잠시 기다려 주세요."
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "Korean"
LangString ^DirBrowseText ${LANG_KOREAN} "${PRODUCT}를 설치할 폴더를 골라 주세요:"

; The program states no copyright line of its own, so the version block has none either.
!pragma warning disable 9100
VIProductVersion "${VERSION}.0.0"
VIAddVersionKey /LANG=${LANG_KOREAN} "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=${LANG_KOREAN} "CompanyName" "${COMPANY}"
VIAddVersionKey /LANG=${LANG_KOREAN} "FileDescription" "${PRODUCT} 설치"
VIAddVersionKey /LANG=${LANG_KOREAN} "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_KOREAN} "ProductVersion" "${VERSION}"

; Ends the installer before anything is changed: shown, then the exit status.
!macro Refuse text status
  MessageBox MB_ICONSTOP "${text}" /SD IDOK
  SetErrorLevel ${status}
  Quit
!macroend

; The open window holds vantari.exe: replacing the others alone would leave mixed versions. The
; person is asked to close it; a silent install ends with status 1 and nothing changed.
Function WaitForClosedWindow
  ${Do}
    FindWindow $0 "${WINDOW_CLASS}"
    ${If} $0 == 0
      Return
    ${EndIf}
    ${If} ${Silent}
      SetErrorLevel 1
      Quit
    ${EndIf}
    MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "${PRODUCT} 창이 열려 있어 설치할 수 없습니다.$\r$\n창을 닫은 다음 '다시 시도'를 눌러 주세요." IDRETRY retry
    SetErrorLevel 1
    Quit
  retry:
  ${Loop}
FunctionEnd

Function .onInit
  SetShellVarContext current
  Call WaitForClosedWindow
  ${GetParameters} $R0
  ClearErrors
  ${GetOptions} $R0 "/NIGHTLY=" $Nightly
  ${If} ${Errors}
    StrCpy $Nightly ""
  ${EndIf}
  ClearErrors
  ${GetOptions} $R0 "/USER=" $NightlyUser
  ClearErrors
  ${GetOptions} $R0 "/PASSWORDFILE=" $PasswordFile
  ${IfNot} ${Errors}
    Call CheckPasswordFile
  ${EndIf}
  StrCpy $R2 "" ; the values of /HOST= and /PORT=
  ClearErrors
  ${GetOptions} $R0 "/HOST=" $R1
  ${IfNot} ${Errors}
    StrCpy $Server '$Server --host "$R1"'
    StrCpy $R2 "$R2$R1"
  ${EndIf}
  ClearErrors
  ${GetOptions} $R0 "/PORT=" $R1
  ${IfNot} ${Errors}
    StrCpy $Server '$Server --port "$R1"'
    StrCpy $R2 "$R2$R1"
  ${EndIf}
  ClearErrors
  ${GetOptions} $R0 "/PING=" $R1
  ${IfNot} ${Errors}
    StrCpy $Server '$Server --ping-target "$R1"'
    StrCpy $R2 "$R2$R1"
  ${EndIf}
  ; Each value is one quoted argument of vantari-cli.exe: a quote inside would end it early.
  ${StrStr} $R1 "$NightlyUser$PasswordFile$R2" '"'
  ${If} $R1 != ""
    !insertmacro Refuse "아이디, 파일 이름이나 서버 이름에는 따옴표를 쓸 수 없습니다." 2
  ${EndIf}
  ; What is on now: the time this installer registered the task at, while the Task Scheduler
  ; still has the task (Wine's schtasks answers every query with success, so the time counts).
  ReadRegStr $NightlyTime HKCU "${UNINSTALL_KEY}" "NightlyTime"
  StrCpy $NightlyWasOn ""
  ${If} $NightlyTime != ""
    nsExec::Exec '"$SYSDIR\schtasks.exe" /Query /TN ${TASK_NAME}'
    Pop $0
    ${If} $0 == "0"
      StrCpy $NightlyWasOn "1"
    ${EndIf}
  ${Else}
    StrCpy $NightlyTime "21:00"
  ${EndIf}
  ClearErrors
  ${GetOptions} $R0 "/AT=" $R1
  ${IfNot} ${Errors}
    StrCpy $NightlyTime $R1
  ${EndIf}
FunctionEnd

; The password file is read by vantari-cli.exe alone; here only its size is looked at, so that an
; oversized one is refused before anything changes.
Function CheckPasswordFile
  ClearErrors
  FileOpen $0 "$PasswordFile" r
  ${If} ${Errors}
    !insertmacro Refuse "비밀번호 파일을 읽을 수 없습니다: $PasswordFile" 2
  ${EndIf}
  FileSeek $0 0 END $1
  FileClose $0
  ${If} $1 U> ${MAX_PASSWORD_FILE}
    !insertmacro Refuse "비밀번호 파일이 너무 큽니다: $PasswordFile$\r$\n첫 줄에 비밀번호만 적어 주세요." 2
  ${EndIf}
FunctionEnd

; The nightly backup: whether it is on and at what time, the time to choose, and the login it
; uses (the window's last one unless another is typed).
Function NightlyPage
  !insertmacro MUI_HEADER_TEXT "매일 밤 자동 백업" "컴퓨터가 켜져 있으면 정해 둔 시각에 회계 자료를 서버에 올립니다."
  nsDialogs::Create 1018
  Pop $0
  ${If} $NightlyWasOn == "1"
    StrCpy $1 "지금 자동 백업이 켜져 있습니다 (매일 $NightlyTime)."
  ${Else}
    StrCpy $1 "지금 자동 백업은 꺼져 있습니다."
  ${EndIf}
  ${NSD_CreateLabel} 0 0 100% 12u "$1"
  Pop $0
  ${NSD_CreateCheckbox} 0 16u 100% 12u "매일 밤 자동으로 자료 올리기"
  Pop $NightlyBox
  StrCpy $0 $Nightly ; as asked on the command line, else as it is now
  ${If} $0 == ""
    StrCpy $0 $NightlyWasOn
  ${EndIf}
  ${If} $0 == "1"
    ${NSD_Check} $NightlyBox
  ${EndIf}
  ${NSD_CreateLabel} 0 36u 60u 12u "시각 (00:00~23:59)"
  Pop $0
  ${NSD_CreateText} 64u 34u 40u 12u "$NightlyTime"
  Pop $TimeBox
  ReadINIStr $1 "$APPDATA\Vantari\FtpHost.ini" "Server" "HOSTID"
  ${If} $NightlyUser == ""
    StrCpy $NightlyUser $1
  ${EndIf}
  ${NSD_CreateLabel} 0 54u 60u 12u "아이디"
  Pop $0
  ${NSD_CreateText} 64u 52u 120u 12u "$NightlyUser"
  Pop $UserBox
  ${NSD_CreateLabel} 0 72u 60u 12u "비밀번호"
  Pop $0
  ${NSD_CreatePassword} 64u 70u 120u 12u ""
  Pop $PasswordBox
  ${NSD_CreateLabel} 0 92u 100% 36u "비밀번호를 비워 두면 창에서 마지막으로 로그인한 비밀번호를 씁니다. 다음 단계로 가기 전에 서버에 로그인해 확인하고, 비밀번호는 이 사용자만 풀 수 있게 암호화해 둡니다."
  Pop $0
  nsDialogs::Show
FunctionEnd

; Runs the extracted or installed vantari-cli.exe with arguments; the exit status in $0.
Function RunCli
  Pop $1 ; arguments
  Pop $2 ; program
  nsExec::ExecToLog '"$2" $1$Server'
  Pop $0
FunctionEnd

; Checks and keeps the login through vantari-cli.exe: a typed password travels in its
; environment only, never through a file or the command line.
Function KeepLogin
  Pop $3 ; the typed password, or ""
  Pop $4 ; program
  StrCpy $5 "save-login"
  ${If} $NightlyUser != ""
    StrCpy $5 '$5 --user "$NightlyUser"'
  ${EndIf}
  ${If} $PasswordFile != ""
    StrCpy $5 '$5 --password-file "$PasswordFile"'
  ${EndIf}
  ${If} $3 != ""
    System::Call 'kernel32::SetEnvironmentVariableW(w "VANTARI_PASSWORD", w r3)'
  ${EndIf}
  Push $4
  Push $5
  Call RunCli
  System::Call 'kernel32::SetEnvironmentVariableW(w "VANTARI_PASSWORD", p 0)'
FunctionEnd

Function NightlyPageLeave
  ${NSD_GetText} $TimeBox $NightlyTime
  ${NSD_GetState} $NightlyBox $0
  StrCpy $Nightly "0"
  ${If} $0 != ${BST_CHECKED}
    Return
  ${EndIf}
  StrCpy $Nightly "1"
  ${NSD_GetText} $UserBox $NightlyUser
  ${NSD_GetText} $PasswordBox $6
  ${StrStr} $R1 "$NightlyUser" '"'
  ${If} $R1 != ""
    MessageBox MB_ICONEXCLAMATION "아이디에 따옴표를 쓸 수 없습니다."
    Abort
  ${EndIf}
  InitPluginsDir
  SetOutPath "$PLUGINSDIR"
  File "/oname=vantari-cli.exe" "${CLI_EXE}"
  Push "$PLUGINSDIR\vantari-cli.exe"
  Push $6
  Call KeepLogin
  StrCpy $6 ""
  ${If} $0 != "0"
    MessageBox MB_ICONEXCLAMATION "서버에 로그인하지 못했습니다. 아이디와 비밀번호, 인터넷 연결을 확인해 주세요."
    Abort
  ${EndIf}
  StrCpy $LoginKept "1"
FunctionEnd

; Turns the nightly backup on or off through the installed vantari-cli.exe; a failure is shown
; (silent: the exit status 1) and leaves the installed program as it is.
Function ApplyNightly
  ${If} $Nightly == "0"
  ${AndIf} $NightlyWasOn == "1"
    Push "$INSTDIR\vantari-cli.exe"
    Push "disable-nightly"
    Call RunCli
    DeleteRegValue HKCU "${UNINSTALL_KEY}" "NightlyTime"
    Return
  ${EndIf}
  ${If} $Nightly == ""
  ${AndIf} $NightlyWasOn == "1"
    ; On as it was: registered again, so that the task runs this version's program the way
    ; it expects (the kept password, an older plain one taken over at its first run).
    StrCpy $LoginKept "1"
  ${ElseIf} $Nightly != "1"
    Return
  ${EndIf}
  ${If} $LoginKept != "1"
    Push "$INSTDIR\vantari-cli.exe"
    Push ""
    Call KeepLogin
    ${If} $0 != "0"
      StrCpy $R9 "서버에 로그인하지 못해 자동 백업을 켜지 못했습니다. 아이디와 비밀번호를 확인해 주세요."
      Goto failed
    ${EndIf}
  ${EndIf}
  StrCpy $5 'enable-nightly --at "$NightlyTime"'
  ${If} $NightlyUser != ""
    StrCpy $5 '$5 --user "$NightlyUser"'
  ${EndIf}
  Push "$INSTDIR\vantari-cli.exe"
  Push $5
  Call RunCli
  ${If} $0 == "0"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "NightlyTime" "$NightlyTime"
    Return
  ${EndIf}
  StrCpy $R9 "자동 백업을 켜지 못했습니다. 시각을 00:00~23:59 형식으로 적었는지 확인해 주세요."
failed:
  DetailPrint "$R9"
  MessageBox MB_ICONEXCLAMATION "$R9" /SD IDOK
  SetErrorLevel 1
FunctionEnd

Section "Install"
  SetShellVarContext current
  Call WaitForClosedWindow ; it may have been opened while the pages were shown
  SetOutPath "$INSTDIR"
  ; Only the program's own files: an old FtpHost.ini beside them stays the user's.
  File "/oname=vantari.exe" "${VANTARI_EXE}"
  File "/oname=vantari-cli.exe" "${CLI_EXE}"
  File "/oname=vantari-nightly.exe" "${NIGHTLY_EXE}"
  File "/oname=bcktool.exe" "${BCKTOOL_EXE}"
  File "/oname=zipcode.bck" "${ZIPCODE_BCK}"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  CreateShortCut "${SHORTCUT}" "$INSTDIR\vantari.exe"

  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "${COMPANY}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "HelpLink" "${SUPPORT_URL}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "URLInfoAbout" "${SUPPORT_URL}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\vantari.exe"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" $0

  Call ApplyNightly
SectionEnd

; Removes the task with its kept password, the program, the shortcut and the entry; the data
; folder, its Backup folder and snapshots, the settings and anything else in the program's
; folder stay.
Section "Uninstall"
  SetShellVarContext current
  nsExec::Exec '"$INSTDIR\vantari-cli.exe" disable-nightly'
  Pop $0 ; no task registered: nothing to remove
  Delete "$INSTDIR\vantari.exe"
  Delete "$INSTDIR\vantari-cli.exe"
  Delete "$INSTDIR\vantari-nightly.exe"
  Delete "$INSTDIR\bcktool.exe"
  Delete "$INSTDIR\zipcode.bck"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR" ; only when empty
  Delete "${SHORTCUT}"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
SectionEnd
