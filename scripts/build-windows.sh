#!/usr/bin/env bash
# Cross-builds the Windows Release with MinGW-w64 into ${BUILD_DIR:-build-windows} and packs
# it into the installer, build-windows/vantari-setup-<version>.exe. Installs what is missing
# first; extra arguments go to CMake.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build-windows}
"$root/scripts/deps.sh" windows
mkdir -p "$build"

source "$root/scripts/windows-lib.sh"
windows_libdeflate
# zipcode.bck is packed by bcktool.exe under Wine during the build; the prefix's server and
# services are not left running afterwards.
windows_wine_prefix "$build/wine"
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
windows_build -DVANTARI_BUILD_TESTS=OFF "$@"
"$root/scripts/check-imports.sh" "$build/app/win/vantari.exe" "$build/tools/cli/vantari-cli.exe" \
  "$build/tools/cli/vantari-nightly.exe" "$build/tools/bcktool.exe"
setup=$(windows_setup)
[ -f "$setup" ] || { echo "build-windows.sh: no installer made ($setup)" >&2; exit 1; }
echo "$setup"
