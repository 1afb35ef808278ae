#!/usr/bin/env bash
# Installs the Debian packages of the named groups (default: build):
#   build   building the program and running every test (scripts/test.sh, CI)
#   demo    the demo without a desktop and the screenshot (scripts/run.sh, scripts/screenshot.sh)
#   bench   benchmarks against standard tools and fuzzing (bench/, fuzz/)
#   windows cross-building for Windows, testing under Wine and the installer
#           (scripts/test-windows.sh, scripts/build-windows.sh)
# Safe to run again: only missing packages are fetched.
set -euo pipefail

build_packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev libgl1-mesa-dev zlib1g-dev
  libgtest-dev libgmock-dev
  libssl-dev openssl libdeflate-dev
  python3 python3-pyftpdlib python3-openssl vsftpd
  fonts-baekmuk fonts-nanum
  iproute2 procps iputils-ping iptables bsdutils
  systemd
  libglib2.0-bin # gdbus: the nightly upload's desktop notification
  dbus-daemon dbus-bin # a session bus of the notification test's own, and its monitor
)

demo_packages=(
  xvfb xauth
)

bench_packages=(
  libbenchmark-dev clang libclang-rt-14-dev
  curl gzip time pigz nftables
)

windows_packages=(
  cmake ninja-build dpkg-dev
  g++-mingw-w64-x86-64-posix libz-mingw-w64-dev
  wine wine64 googletest nsis
  fonts-wine xvfb xauth locales # the window under Wine: its fonts, a display, a Korean locale
  x11-utils # the installed window, seen by xwininfo (scripts/installer-check.sh)
  python3 python3-pyftpdlib python3-openssl openssl # the demo service for vantari-cli.exe
  build-essential zlib1g-dev libssl-dev # the Linux bcktool the archives are compared with
  osslsigncode # Authenticode signatures on the programs and the installer
)

packages=()
groups=("$@")
((${#groups[@]})) || groups=(build)
for group in "${groups[@]}"; do
  case $group in
    build) packages+=("${build_packages[@]}") ;;
    demo) packages+=("${demo_packages[@]}") ;;
    bench) packages+=("${bench_packages[@]}") ;;
    windows) packages+=("${windows_packages[@]}") ;;
    *) echo "deps.sh: unknown group '$group' (build, demo, bench, windows)" >&2; exit 2 ;;
  esac
done

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  sudo=""
  if [ "$(id -u)" -ne 0 ]; then
    command -v sudo >/dev/null || { echo "deps.sh: installing needs root: run it as root" >&2; exit 1; }
    sudo="sudo"
  fi
  echo "Installing: ${missing[*]}"
  # The tests run their own FTP servers; a server package must not also start a system
  # service listening on port 21 of this machine.
  policy=/usr/sbin/policy-rc.d
  if [ ! -e "$policy" ]; then
    printf '#!/bin/sh\nexit 101\n' | $sudo tee "$policy" >/dev/null
    $sudo chmod 755 "$policy"
    trap '$sudo rm -f "$policy"' EXIT
  fi
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}"
  if [[ " ${missing[*]} " == *" vsftpd "* ]] && command -v systemctl >/dev/null; then
    $sudo systemctl disable vsftpd >/dev/null 2>&1 || true
  fi
fi
