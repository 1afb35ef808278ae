#!/usr/bin/env bash
# Runs the Windows installer as a customer's computer would, in a fresh Wine prefix made and
# removed here: a silent install, the installed window shown; an upgrade while it is open and
# one with an oversized password file, both refused with nothing changed; a second silent
# install with the nightly backup and a Hangul login (user ID and UTF-8 password file) that
# must then work against the demo service; and the silent uninstall. The user's data folder
# (with its Backup folder and snapshots) and settings must come out byte-identical.
# Usage: installer-check.sh SETUP_EXE     (runs itself under xvfb-run: the window needs an X server)
set -euo pipefail
if [ -z "${VANTARI_INSTALLER_CHECK_XVFB:-}" ]; then
  VANTARI_INSTALLER_CHECK_XVFB=1 exec xvfb-run -a "$0" "$@"
fi
setup=$(realpath "$1")
caption="반타리서비스 - 바코드용"
fail() {
  echo "installer-check.sh: $*" >&2
  exit 1
}

work=$(mktemp -d "${TMPDIR:-/tmp}/vantari-installer-check.XXXXXX")
server=""
# Every Wine process of the prefix ends with its server; then nothing is left to hold the prefix.
trap '[ -z "$server" ] || kill "$server" 2>/dev/null; wineserver -k >/dev/null 2>&1 || true
  wineserver -w >/dev/null 2>&1 || true; rm -rf "$work"' EXIT
export LANG=C.UTF-8 WINEPREFIX=$work/wine WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wineboot -i >/dev/null 2>&1 || true # its status says little; the prefix's system folder does
[ -d "$WINEPREFIX/drive_c/windows/system32" ] || fail "no Wine prefix made in $WINEPREFIX"

win() { wine "$@" </dev/null 2>/dev/null | tr -d '\r'; }
folder_of() { winepath -u "$(win cmd /c echo "%$1%")" 2>/dev/null || fail "Wine names no folder %$1%"; }
program=$(folder_of LOCALAPPDATA)/Programs/Vantari
settings=$(folder_of APPDATA)/Vantari
shortcut=$(folder_of APPDATA)/Microsoft/Windows/Start\ Menu/Programs/반타리서비스.lnk
entry='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Vantari'
has_entry() { wine reg query "$entry" </dev/null >/dev/null 2>&1; }
task() { find "$WINEPREFIX/drive_c/windows/system32" -maxdepth 2 -ipath '*/tasks/vantari-backup'; }
# The uninstaller runs on from a copy of itself in the temporary folder: done when the prefix's
# programs are.
wait_wine() { wineserver -w; }

# What the customer had before: the accounting data with its Backup folder (an archive and a
# snapshot), named in the registry, and the settings of the last login.
data=$WINEPREFIX/drive_c/LumoraData
mkdir -p "$data/Backup/before-download-20261201-120000" "$settings"
printf 'Item|000001|품목-0001\r\n' >"$data/Item.DB"
printf 'Sale|000001|%s\r\n' 12345 >"$data/Sale.DB"
head -c 3000 /dev/urandom >"$data/Backup/demo.bck"
cp "$data/Item.DB" "$data/Backup/before-download-20261201-120000/"
printf '[Server]\r\nFTPHOST=127.0.0.1\r\nHOSTID=demo\r\nHOSTPASS=vantari1234\r\n' >"$settings/FtpHost.ini"
wine reg add 'HKCU\Software\Corvex\LumoraBC\Database' /v DefaultDatabase /d 'C:\LumoraData' /f \
  </dev/null >/dev/null 2>&1
cp -a "$data" "$work/data-before"

wine "$setup" /S </dev/null >/dev/null 2>&1 || fail "the silent install ended with status $?"
wait_wine
for file in vantari.exe vantari-cli.exe vantari-nightly.exe bcktool.exe zipcode.bck uninstall.exe; do
  [ -f "$program/$file" ] || fail "the install left no $program/$file"
done
[ -f "$shortcut" ] || fail "the install made no Start-menu shortcut"
has_entry || fail "the install wrote no uninstall entry $entry"
for value in DisplayVersion Publisher HelpLink URLInfoAbout; do
  wine reg query "$entry" /v "$value" </dev/null 2>/dev/null | grep -q REG_SZ ||
    fail "the uninstall entry has no $value"
done
[ -z "$(task)" ] || fail "a nightly task was registered without /NIGHTLY=1"

# The installed window shows under its caption and closes when asked to (taskkill without /F
# sends it WM_CLOSE).
wine "$program/vantari.exe" </dev/null >/dev/null 2>&1 &
window=$!
for _ in $(seq 600); do # up to a minute: a loaded machine starts Wine slowly
  xwininfo -root -tree 2>/dev/null | grep -qF "\"$caption\"" && break
  sleep 0.1
done
xwininfo -root -tree 2>/dev/null | grep -qF "\"$caption\"" ||
  fail "the installed vantari.exe showed no window \"$caption\""
# What an upgrade must not touch: the program folder (one program changed here, so that a
# replacement would show), the uninstall entry and the task.
cp "$program/bcktool.exe" "$work/bcktool-shipped.exe"
echo changed >>"$program/bcktool.exe"
state() { (cd "$program" && sha256sum -- *; wine reg query "$entry" </dev/null 2>/dev/null; task); }
state >"$work/state-before"
status=0
wine "$setup" /S </dev/null >/dev/null 2>&1 || status=$? # Wine waits for it: the window stays open
[ "$status" -eq 1 ] || fail "an upgrade while vantari.exe runs ended with status $status, not 1"
state | cmp -s - "$work/state-before" || fail "an upgrade while vantari.exe runs changed something"
win taskkill /IM vantari.exe >/dev/null
for _ in $(seq 200); do
  kill -0 "$window" 2>/dev/null || break
  sleep 0.1
done
! kill -0 "$window" 2>/dev/null || fail "the installed vantari.exe did not close when asked to"
wait "$window" || true

# An old client's FtpHost.ini beside the program is the user's too.
printf '[Server]\r\nHOSTID=old\r\n' >"$program/FtpHost.ini"
cp "$program/FtpHost.ini" "$work/FtpHost-old.ini"

# An oversized password file is refused before anything changes.
truncate -s 64M "$work/big-password"
state >"$work/state-before"
status=0
wine "$setup" /S /NIGHTLY=1 "/PASSWORDFILE=$(winepath -w "$work/big-password")" </dev/null >/dev/null 2>&1 ||
  status=$?
[ "$status" -eq 2 ] || fail "an oversized password file ended the install with status $status, not 2"
state | cmp -s - "$work/state-before" || fail "an install with an oversized password file changed something"

# Wine's Task Scheduler refuses requests for a while after a fresh prefix starts ("service
# database locked"); the installed vantari-cli.exe registers and removes the task until it
# answers, so that the install below meets a ready one and must register the task itself.
printf 'probe\r\n' >"$work/probe-password"
scheduler_ready=""
for _ in $(seq 40); do
  win "$program/vantari-cli.exe" enable-nightly --password-file "$(winepath -w "$work/probe-password")" \
    >/dev/null && scheduler_ready=1 && break
  sleep 1
done
[ -n "$scheduler_ready" ] || fail "Wine's Task Scheduler never answered"
win "$program/vantari-cli.exe" disable-nightly >/dev/null
[ -z "$(task)" ] || fail "vantari-cli.exe disable-nightly left the task"

# The demo service with a Hangul account (the program sends the ID and the password in CP949, as
# the service's clients always did); the password file is UTF-8, as an editor saves it.
user=김철수
password=한글비번1234
port=$(/usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
mkdir -p "$work/server/home"
/usr/bin/python3 "$(dirname "$0")/demo/server.py" "$port" "$user" "$password" "$work/server/home" \
  "$work/server/ftp.log" cp949 >"$work/server/out" 2>&1 &
server=$!
for _ in $(seq 100); do grep -qs '^ready' "$work/server/out" && break; sleep 0.1; done
grep -q '^ready' "$work/server/out" || fail "the demo service did not start"
printf '%s\r\n' "$password" >"$work/password.txt"

# Over the installed one, with the nightly backup of that login at 22:30.
wine "$setup" /S /NIGHTLY=1 "/USER=$user" "/PASSWORDFILE=$(winepath -w "$work/password.txt")" \
  /HOST=127.0.0.1 "/PORT=$port" /PING=127.0.0.1 /AT=22:30 </dev/null >/dev/null 2>&1 ||
  fail "the silent install with the nightly backup ended with status $?"
wait_wine
cmp -s "$program/bcktool.exe" "$work/bcktool-shipped.exe" || fail "the upgrade did not replace the programs"
[ -n "$(task)" ] || fail "/NIGHTLY=1 registered no task"
grep -q "^HOSTID=$user" "$settings/FtpHost.ini" || fail "the login did not save the user ID $user as UTF-8"
[ ! -e "$settings/password" ] || fail "a plain-text password file was left in $settings"
[ -s "$settings/nightly.dat" ] || fail "no password was kept for the nightly backup"
wine reg query "$entry" /v NightlyTime </dev/null 2>/dev/null | grep -q '22:30' ||
  fail "the chosen time was not kept"
for file in "$(task)" "$settings/nightly.dat"; do
  ! grep -qa "$password" "$file" && ! iconv -f UTF-16LE -t UTF-8 "$file" 2>/dev/null | grep -qa "$password" ||
    fail "$file holds the password"
done
# The kept login works: the user ID from the settings, the password kept for the nightly backup.
win "$program/vantari-cli.exe" --quiet --nightly --host 127.0.0.1 --port "$port" \
  --ping-target 127.0.0.1 status >/dev/null || fail "the Hangul login handed to vantari-cli.exe does not work"
cp -a "$settings/FtpHost.ini" "$work/FtpHost-after-login.ini"

wine "$program/uninstall.exe" /S </dev/null >/dev/null 2>&1 || fail "the silent uninstall ended with status $?"
wait_wine
for file in vantari.exe vantari-cli.exe vantari-nightly.exe bcktool.exe zipcode.bck uninstall.exe; do
  [ ! -e "$program/$file" ] || fail "the uninstall left $program/$file"
done
[ ! -e "$shortcut" ] || fail "the uninstall left the Start-menu shortcut"
! has_entry || fail "the uninstall left the uninstall entry $entry"
[ -z "$(task)" ] || fail "the uninstall left the nightly task"
# The window that ran leaves its empty lock file in the Backup folder, as every start does.
diff -r -x .lock "$work/data-before" "$data" >&2 || fail "the data folder or its Backup folder changed"
cmp -s "$settings/FtpHost.ini" "$work/FtpHost-after-login.ini" || fail "the uninstall changed FtpHost.ini"
[ ! -e "$settings/nightly.dat" ] || fail "the uninstall left the password kept for the nightly backup"
cmp -s "$program/FtpHost.ini" "$work/FtpHost-old.ini" ||
  fail "the uninstall removed or changed the old FtpHost.ini beside the program"
echo "installer: silent install, refused upgrades, Hangul login with the nightly task, uninstall under Wine: ok"
