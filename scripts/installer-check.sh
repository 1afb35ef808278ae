#!/usr/bin/env bash
# Runs the Windows installer as a customer's computer would, in a fresh Wine prefix made and
# removed here: a silent install, the installed window shown and closed, a second silent install
# over it with the nightly backup, and the silent uninstall. The user's data folder (with its
# Backup folder and snapshots) and settings must come out byte-identical.
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
# Every Wine process of the prefix ends with its server; then nothing is left to hold the prefix.
trap 'wineserver -k >/dev/null 2>&1 || true; wineserver -w >/dev/null 2>&1 || true; rm -rf "$work"' EXIT
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
cp -a "$settings/FtpHost.ini" "$work/FtpHost-before.ini"

wine "$setup" /S </dev/null >/dev/null 2>&1 || fail "the silent install ended with status $?"
wait_wine
for file in vantari.exe vantari-cli.exe bcktool.exe zipcode.bck uninstall.exe; do
  [ -f "$program/$file" ] || fail "the install left no $program/$file"
done
[ -f "$shortcut" ] || fail "the install made no Start-menu shortcut"
has_entry || fail "the install wrote no uninstall entry $entry"
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

# Over the installed one, with the nightly backup of the last login.
wine "$setup" /S /NIGHTLY=1 </dev/null >/dev/null 2>&1 || fail "the second silent install ended with status $?"
wait_wine
cmp -s "$settings/FtpHost.ini" "$work/FtpHost-before.ini" ||
  fail "the second install changed FtpHost.ini"
[ -n "$(task)" ] || fail "/NIGHTLY=1 registered no task"
# The task reads the saved password from the settings folder; it is named, never written, there.
[ "$(head -n 1 "$settings/password" 2>/dev/null | tr -d '\r')" = vantari1234 ] ||
  fail "/NIGHTLY=1 did not save the last login's password for the task"
! grep -qa vantari1234 "$(task)" || fail "the task file holds the password"
! iconv -f UTF-16 -t UTF-8 "$(task)" 2>/dev/null | grep -q vantari1234 ||
  fail "the task file holds the password"

wine "$program/uninstall.exe" /S </dev/null >/dev/null 2>&1 || fail "the silent uninstall ended with status $?"
wait_wine
for file in vantari.exe vantari-cli.exe bcktool.exe zipcode.bck uninstall.exe; do
  [ ! -e "$program/$file" ] || fail "the uninstall left $program/$file"
done
[ ! -e "$shortcut" ] || fail "the uninstall left the Start-menu shortcut"
! has_entry || fail "the uninstall left the uninstall entry $entry"
[ -z "$(task)" ] || fail "the uninstall left the nightly task"
# The window that ran leaves its empty lock file in the Backup folder, as every start does.
diff -r -x .lock "$work/data-before" "$data" >&2 || fail "the data folder or its Backup folder changed"
cmp -s "$settings/FtpHost.ini" "$work/FtpHost-before.ini" || fail "the uninstall changed FtpHost.ini"
cmp -s "$program/FtpHost.ini" "$work/FtpHost-old.ini" ||
  fail "the uninstall removed or changed the old FtpHost.ini beside the program"
echo "installer: silent install, window, upgrade with the nightly task, uninstall under Wine: ok"
