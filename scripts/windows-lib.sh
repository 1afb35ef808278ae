# shellcheck shell=bash disable=SC2154 # root and build come from the script that sources this
# Sourced by the Windows scripts (build-windows.sh, test-windows.sh): what both need before
# CMake runs. Expects root (the repository) and build (the build folder) to be set.

# libdeflate has no MinGW build in Debian: built here from Debian's own source package into
# $build/mingw-prefix, which CMake is then given.
windows_libdeflate() {
  local prefix=$build/mingw-prefix
  [ -f "$prefix/lib/libdeflate.a" ] && return 0
  local sources=/etc/apt/sources.list.d/vantari-bookworm-src.sources
  if [ ! -f "$sources" ]; then
    local sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    printf '%s\n' 'Types: deb-src' 'URIs: http://deb.debian.org/debian' 'Suites: bookworm' \
      'Components: main' 'Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg' |
      $sudo tee "$sources" >/dev/null
    $sudo apt-get update -qq
  fi
  rm -rf "$build/libdeflate-src" && mkdir -p "$build/libdeflate-src"
  (cd "$build/libdeflate-src" && apt-get source -qq libdeflate >/dev/null 2>&1)
  local source_dir
  source_dir=$(find "$build/libdeflate-src" -mindepth 1 -maxdepth 1 -type d -name 'libdeflate-*' | head -n 1)
  # Its Makefile knows MinGW and names the static library libdeflatestatic.lib there.
  make -C "$source_dir" -j "$(nproc)" CC=x86_64-w64-mingw32-gcc-posix \
    AR=x86_64-w64-mingw32-ar libdeflatestatic.lib >/dev/null
  mkdir -p "$prefix/lib" "$prefix/include"
  cp "$source_dir/libdeflatestatic.lib" "$prefix/lib/libdeflate.a"
  cp "$source_dir/libdeflate.h" "$prefix/include/"
}

# A Wine prefix made in $1 (kept when it exists), exported as WINEPREFIX, with its services
# started before anything else runs through it (started later, they inherit that program's
# output pipe and hold whoever reads it up).
windows_wine_prefix() {
  export WINEPREFIX=$1 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  if [ ! -d "$WINEPREFIX/drive_c/windows/system32" ]; then
    wineboot -i >/dev/null 2>&1 || true # its status says little; the prefix's system folder does
    [ -d "$WINEPREFIX/drive_c/windows/system32" ] || {
      echo "no Wine prefix made in $WINEPREFIX" >&2
      return 1
    }
  fi
  wineserver -p </dev/null >/dev/null 2>&1 || true # already running: fine
  wine cmd /c exit </dev/null >/dev/null 2>&1
}

# Configures and builds the Release in $build with MinGW-w64; extra arguments go to CMake.
windows_build() {
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DVANTARI_MINGW_PREFIX="$build/mingw-prefix" "$@" >/dev/null
  cmake --build "$build" -j "$(nproc)"
}

# The installer the build leaves: build-windows/vantari-setup-<the project's version>.exe, built
# by its own target, so that a build without it fails here rather than an older file passing.
windows_setup() {
  cmake --build "$build" --target installer >&2 || {
    echo "no installer built (its target comes with the window's, vantari)" >&2
    return 1
  }
  echo "$build/vantari-setup-$(sed -n 's/^project(Vantari VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt").exe"
}

# Signs the files given, in place, with Authenticode through osslsigncode when a certificate is
# given, and does nothing otherwise:
#   VANTARI_SIGN_PKCS12=FILE.pfx  and  VANTARI_SIGN_PASSWORD_FILE=FILE (its password, first line)
#   or VANTARI_SIGN_CERT=CERT.pem  and  VANTARI_SIGN_KEY=KEY.pem (an unencrypted key);
#   VANTARI_SIGN_TIMESTAMP=URL  an RFC 3161 timestamp server, so signatures outlive the cert.
windows_sign() {
  local signer=()
  if [ -n "${VANTARI_SIGN_PKCS12:-}" ]; then
    signer=(-pkcs12 "$VANTARI_SIGN_PKCS12")
    [ -z "${VANTARI_SIGN_PASSWORD_FILE:-}" ] || signer+=(-readpass "$VANTARI_SIGN_PASSWORD_FILE")
  elif [ -n "${VANTARI_SIGN_CERT:-}" ]; then
    signer=(-certs "$VANTARI_SIGN_CERT" -key "${VANTARI_SIGN_KEY:?VANTARI_SIGN_KEY names no key}")
  else
    return 0
  fi
  [ -z "${VANTARI_SIGN_TIMESTAMP:-}" ] || signer+=(-ts "$VANTARI_SIGN_TIMESTAMP")
  local file
  for file in "$@"; do
    rm -f "$file.signed"
    osslsigncode sign "${signer[@]}" -h sha256 -n "반타리서비스" -in "$file" -out "$file.signed" \
      >/dev/null || {
      rm -f "$file.signed"
      echo "windows_sign: osslsigncode could not sign $file" >&2
      return 1
    }
    mv "$file.signed" "$file"
  done
}

# The programs the installer ships, as the build leaves them.
windows_programs() {
  echo "$build/app/win/vantari.exe" "$build/tools/cli/vantari-cli.exe" \
    "$build/tools/cli/vantari-nightly.exe" "$build/tools/bcktool.exe"
}
