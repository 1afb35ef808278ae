#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite.
set -euo pipefail
# Packages, mounts and network namespaces need root: a user who is not root gets it through
# sudo where there is one (a fresh root-only Debian has none and needs none).
if [ "$(id -u)" -ne 0 ] && command -v sudo >/dev/null; then
  exec sudo --preserve-env=BUILD_DIR,CCACHE_DIR,CCACHE_BASEDIR bash "$0" "$@"
fi
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/deps.sh" build
"$root/scripts/build.sh"
cd "${BUILD_DIR:-$root/build}"
QT_QPA_PLATFORM=offscreen ctest --output-on-failure --timeout 600 -j 2
"$root/scripts/check-file-calls.sh"
