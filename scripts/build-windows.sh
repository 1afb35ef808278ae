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
# shellcheck disable=SC2046 # the programs' paths hold no blanks
"$root/scripts/check-imports.sh" $(windows_programs)
# Signed (when a certificate is given, see windows_sign) before the installer packs them; then
# the installer, packed again from the signed programs, is signed itself.
if [ -n "${VANTARI_SIGN_PKCS12:-}${VANTARI_SIGN_CERT:-}" ]; then
  # shellcheck disable=SC2046
  windows_sign $(windows_programs)
  rm -f "$build"/vantari-setup-*.exe
fi
setup=$(windows_setup)
[ -f "$setup" ] || { echo "build-windows.sh: no installer made ($setup)" >&2; exit 1; }
windows_sign "$setup"
echo "$setup"
