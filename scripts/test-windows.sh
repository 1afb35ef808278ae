#!/usr/bin/env bash
# Cross-builds the Windows programs and tests with MinGW-w64 into ${BUILD_DIR:-build-windows}
# and runs the tests under Wine with CTest. Installs what is missing first.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build-windows}
"$root/scripts/deps.sh" windows
mkdir -p "$build"

source "$root/scripts/windows-lib.sh"
windows_libdeflate

# The window's tests and the demo open windows, which need an X display; Wine's desktop process
# keeps the display of the first program of a session, so one Xvfb serves the whole run and a
# server of this prefix left from an earlier run (maybe without a display) is ended first.
DEMO_FTP_PORT=$(/usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
export BUILD_DIR=$build DEMO_FTP_PORT
# shellcheck source=scripts/demo/lib.sh
source "$root/scripts/demo/lib.sh"
# Undone last first; Wine's server of this prefix is not left behind.
cleanup=(demo_stop_all 'wineserver -k >/dev/null 2>&1')
trap 'for ((i = ${#cleanup[@]} - 1; i >= 0; i--)); do eval "${cleanup[i]}" || true; done' EXIT
mkdir -p "$demo_dir"
WINEPREFIX=$build/wine wineserver -k >/dev/null 2>&1 || true
demo_start_xvfb
# Korean texts in Wine's own boxes and captions need a Korean locale.
if ! locale -a 2>/dev/null | grep -qix 'ko_KR.utf8'; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo localedef -i ko_KR -c -f UTF-8 ko_KR.UTF-8
fi
# Wine: a prefix of its own, ready before CMake and CTest run anything through it.
windows_wine_prefix "$build/wine"
windows_build -DVANTARI_BUILD_TESTS=ON "$@"
cd "$build"
# A Wine client now and then loses its server connection before the test program starts
# ("wine client error: recvmsg: Connection reset by peer"); such a start is tried once more.
ctest --output-on-failure --timeout 600 -j 2 --repeat until-pass:2

# Only Windows' own DLLs: every program the installer ships starts on a clean Windows.
# shellcheck disable=SC2046 # the programs' paths hold no blanks
"$root/scripts/check-imports.sh" $(windows_programs)
echo "the programs import only Windows' own DLLs: ok"

# Archives from bcktool.exe and the Linux bcktool are the same bytes for the same input.
# The Linux one is built here, in a folder of its own, when none is given: a fresh clone has none.
linux_build=$build/linux-bcktool
linux_bcktool=${LINUX_BCKTOOL:-$linux_build/tools/bcktool}
if [ -z "${LINUX_BCKTOOL:-}" ]; then
  cmake -S "$root" -B "$linux_build" -G Ninja -DVANTARI_BUILD_APP=OFF -DVANTARI_BUILD_TESTS=OFF \
    -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$linux_build" --target bcktool >/dev/null
fi
"$root/scripts/same-archive.sh" "$linux_bcktool" "$build/tools/bcktool.exe"

# Names a Linux computer packs but Windows cannot hold are never extracted: bcktool.exe names
# each with its reason, exits 1 and writes only the others.
hostile=$build/hostile-names
rm -rf "$hostile" && mkdir -p "$hostile/in" "$hostile/out"
for name in 'Item.DB.' 'Item.DB ' 'CON.DB' 'ITEM.DB' 'Item.db' 'Sale.DB'; do echo "$name" >"$hostile/in/$name"; done
"$linux_bcktool" create -q "$hostile/names.bck" "$hostile/in/*.*"
status=0
wine "$build/tools/bcktool.exe" extract "$hostile/names.bck" "$hostile/out" </dev/null 2>"$hostile/err" >/dev/null || status=$?
[ "$status" -eq 1 ] && [ "$(grep -c '^bcktool: not extracted (' "$hostile/err")" -eq 4 ] &&
  [ "$(ls "$hostile/out" | tr '\n' ' ')" = "ITEM.DB Sale.DB " ] ||
  { echo "test-windows.sh: bcktool.exe wrote names Windows cannot hold ($status)" >&2; cat "$hostile/err" >&2; exit 1; }

# vantari-cli.exe against the demo service over TLS: an upload, then a download over damaged
# local data gives back the uploaded data; the nightly task is registered and removed.
# The data folder on a Korean desktop: a Hangul path all the way through the wide calls.
cli_dir=$build/cli-check
cli_data="$cli_dir/바탕 화면/루모라 자료"
rm -rf "$cli_dir" && mkdir -p "$cli_dir/server"
/usr/bin/python3 "$root/scripts/demo/make_data.py" "$cli_data" "$cli_dir/config" demo >/dev/null
cp -a "$cli_data" "$cli_dir/uploaded"
# The service's certificate is new each time: no pin of an earlier one (settings of this prefix).
rm -rf "$WINEPREFIX"/drive_c/users/*/AppData/Roaming/Vantari "$WINEPREFIX"/drive_c/users/*/AppData/Local/Vantari
windows_path() { echo "Z:${1//\//\\}"; }
database_key='HKCU\Software\Corvex\LumoraBC\Database'
cli_port=$(/usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
/usr/bin/python3 "$root/scripts/demo/server.py" "$cli_port" demo vantari1234 "$cli_dir/server" \
  "$cli_dir/ftp.log" >"$cli_dir/server.out" 2>&1 &
cli_server=$!
cleanup+=("kill $cli_server 2>/dev/null" 'wine reg delete "$database_key" /v DefaultDatabase /f >/dev/null 2>&1')
for _ in $(seq 100); do grep -q '^ready' "$cli_dir/server.out" && break; sleep 0.1; done
LC_ALL=C.UTF-8 wine reg add "$database_key" /v DefaultDatabase /d "$(windows_path "$cli_data")" /f >/dev/null
cli() {
  VANTARI_PASSWORD=vantari1234 wine "$build/tools/cli/vantari-cli.exe" --quiet --user demo \
    --host 127.0.0.1 --port "$cli_port" --ping-target 127.0.0.1 "$@" </dev/null
}
# The help names the Windows places of the settings and of the data folder's key, no Linux ones.
help=$(cli --help)
case $help in *'%APPDATA%\Vantari\FtpHost.ini'*'HKCU\Software\Corvex\LumoraBC\Database'*) ;;
*) echo "test-windows.sh: vantari-cli.exe --help does not name the Windows places" >&2; exit 1 ;; esac
case $help in *'~/.config'* | *user.reg* | *chmod*) echo "test-windows.sh: vantari-cli.exe --help names Linux places" >&2; exit 1 ;; esac
cli upload
case $(cli status) in *" table files, newest change "*) ;;
*) echo "test-windows.sh: vantari-cli.exe status finds no table files in a Hangul folder" >&2; exit 1 ;; esac
rm "$cli_data/Sale.DB"
echo damaged >"$cli_data/Item.DB"
touch -d 2020-01-01 "$cli_data/Item.DB" # older than the upload: no question asked
cli download
cmp -s "$cli_data/Backup/demo.bck" "$cli_dir/server/demo.bck" ||
  { echo "test-windows.sh: the local archive is not the server's after the download" >&2; exit 1; }
diff -r -x Backup "$cli_dir/uploaded" "$cli_data" >/dev/null ||
  { echo "test-windows.sh: vantari-cli.exe download did not give back the uploaded data" >&2; exit 1; }
task() { find "$WINEPREFIX/drive_c/windows/system32" -maxdepth 2 -ipath '*/tasks/vantari-backup'; }
# What this computer saw stays on it: the sync state is in %LOCALAPPDATA%, not the roaming folder.
[ -n "$(find "$WINEPREFIX"/drive_c/users/*/AppData/Local/Vantari -name SyncState.ini)" ] &&
  [ -z "$(find "$WINEPREFIX"/drive_c/users/*/AppData/Roaming/Vantari -name SyncState.ini)" ] ||
  { echo "test-windows.sh: SyncState.ini is not in %LOCALAPPDATA%\\Vantari alone" >&2; exit 1; }
# A missing password file and a path that would add arguments are refused: no task.
for refused in "$(windows_path "$cli_dir/no-such-password")" 'C:\pw" --host evil.invalid --user mallory "x'; do
  status=0
  cli --password-file "$refused" enable-nightly 2>/dev/null || status=$?
  [ "$status" -eq 2 ] && [ -z "$(task)" ] ||
    { echo "test-windows.sh: enable-nightly took the password file '$refused' ($status)" >&2; exit 1; }
done
echo vantari1234 >"$cli_dir/password"
cli --password-file "$(windows_path "$cli_dir/password")" enable-nightly
[ -n "$(task)" ] || { echo "test-windows.sh: enable-nightly registered no task" >&2; exit 1; }
# The task's program as the task runs it: window-less, with the password kept for it.
wine "$build/tools/cli/vantari-nightly.exe" upload --yes --nightly --user demo \
  --host 127.0.0.1 --port "$cli_port" --ping-target 127.0.0.1 </dev/null ||
  { echo "test-windows.sh: vantari-nightly.exe did not upload with the kept password" >&2; exit 1; }
cli disable-nightly
[ -z "$(task)" ] || { echo "test-windows.sh: disable-nightly left the task" >&2; exit 1; }
echo "vantari-cli.exe: upload, download and the nightly task under Wine: ok"

# vantari.exe's window through the demo of the service: vantari-demo.exe types the login, presses
# the buttons by control ID, answers the boxes (the newer-data question with Yes), checks that the
# data folder equals what was uploaded and saves the picture of the window that the README shows.
demo_prepare >/dev/null
rm -rf "$WINEPREFIX"/drive_c/users/*/AppData/Roaming/Vantari "$WINEPREFIX"/drive_c/users/*/AppData/Local/Vantari
demo_start_server
wine reg add "$database_key" /v DefaultDatabase /d "$(windows_path "$demo_data")" /f >/dev/null
LANG=ko_KR.UTF-8 DEMO_PASSWORD=$demo_password wine "$build/app/win/vantari-demo.exe" \
  --port "$demo_port" "$(windows_path "$demo_dir/screenshot.png")" "$demo_user" - \
  "$(windows_path "$demo_ftp_home")" "$(windows_path "$demo_dir/ftp.log")" </dev/null
cp "$demo_dir/screenshot.png" "$root/docs/screenshot-windows.png"
echo "vantari.exe: the window's demo under Wine: ok (docs/screenshot-windows.png)"

# The installer as a customer's computer runs it, in a Wine prefix of its own.
setup=$(windows_setup)
"$root/scripts/installer-check.sh" "$setup"

# Signing: copies of the programs and the installer signed with a throwaway certificate made
# here; each signature verifies against it and names its signer, and a copy changed after
# signing no longer verifies.
signing=$build/signing
rm -rf "$signing" && mkdir -p "$signing"
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$signing/key.pem" -out "$signing/cert.pem" \
  -days 2 -subj "/CN=Vantari test signing" -addext extendedKeyUsage=codeSigning 2>/dev/null
# shellcheck disable=SC2046
cp $(windows_programs) "$setup" "$signing/"
(
  VANTARI_SIGN_CERT=$signing/cert.pem VANTARI_SIGN_KEY=$signing/key.pem
  windows_sign "$signing"/*.exe
)
for signed in "$signing"/*.exe; do
  osslsigncode verify -CAfile "$signing/cert.pem" -in "$signed" >"$signing/verify.log" 2>&1 ||
    { cat "$signing/verify.log" >&2; echo "test-windows.sh: $signed does not verify" >&2; exit 1; }
  osslsigncode extract-signature -in "$signed" -out "$signing/signature.der" >/dev/null
  openssl pkcs7 -inform DER -in "$signing/signature.der" -print_certs -noout |
    grep -q 'subject=CN = Vantari test signing' ||
    { echo "test-windows.sh: the signature of $signed names another signer" >&2; exit 1; }
  rm -f "$signing/signature.der"
done
changed=$signing/changed.exe
cp "$signing/vantari-cli.exe" "$changed"
printf 'X' | dd of="$changed" bs=1 seek=4096 conv=notrunc 2>/dev/null
! osslsigncode verify -CAfile "$signing/cert.pem" -in "$changed" >/dev/null 2>&1 ||
  { echo "test-windows.sh: a program changed after signing still verifies" >&2; exit 1; }
echo "Authenticode signatures of the programs and the installer: ok"
