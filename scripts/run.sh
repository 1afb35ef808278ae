#!/usr/bin/env bash
# Installs what is missing, builds, and starts the client against a local demo of the service:
# an FTP server on 127.0.0.1:${DEMO_FTP_PORT:-50021} with the account demo / vantari1234 and a
# demo data folder named in a demo registry, all inside the build folder (build/demo), so a
# customer's own settings are never touched.
#
# With a desktop the window opens and you press the buttons yourself. Without one (no DISPLAY,
# or DEMO_HEADLESS=1) the demo runs by itself under Xvfb: it uploads, changes the data folder,
# downloads, prints what the window shows and exits 0 only when the data came back unchanged.
set -euo pipefail
# Packages, mounts and network namespaces need root: a user who is not root gets it through
# sudo where there is one (a fresh root-only Debian has none and needs none).
if [ "$(id -u)" -ne 0 ] && command -v sudo >/dev/null; then
  exec sudo --preserve-env=BUILD_DIR,DEMO_FTP_PORT,DEMO_HEADLESS,DISPLAY,XAUTHORITY bash "$0" "$@"
fi
root=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=scripts/demo/lib.sh
source "$root/scripts/demo/lib.sh"

"$root/scripts/deps.sh" build demo
echo "Building the demo client (service and connectivity check on 127.0.0.1:$demo_port)"
"$root/scripts/build.sh" "${demo_cmake_options[@]}"
mkdir -p "$demo_dir"
demo_prepare

# Under sudo the desktop's variables are gone: take them from the shell that ran sudo.
find_desktop() {
  [ -n "${DISPLAY:-}" ] && return 0
  local pid=$$ var
  while pid=$(ps -o ppid= -p "$pid" 2>/dev/null | tr -d ' ') && [ -n "$pid" ] && [ "$pid" -gt 1 ]; do
    [ -r "/proc/$pid/environ" ] || continue
    while IFS= read -r -d '' var; do
      case $var in DISPLAY=?* | XAUTHORITY=?*) export "${var?}" ;; esac
    done <"/proc/$pid/environ"
    [ -n "${DISPLAY:-}" ] && return 0
  done
  return 1
}

if [ "${DEMO_HEADLESS:-0}" != 1 ] && find_desktop; then
  trap demo_stop_all EXIT
  demo_start_server
  echo "Demo service on 127.0.0.1:$demo_port. Log in as '$demo_user' with the password '$demo_password'."
  echo "Data folder: $demo_data"
  demo_start_client
else
  echo "No desktop: running the demo under Xvfb"
  exec bash "$root/scripts/demo/headless.sh"
fi
