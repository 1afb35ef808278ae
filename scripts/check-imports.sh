#!/usr/bin/env bash
# Fails when a Windows program imports a DLL that is not part of Windows itself: a customer's
# computer has nothing else (no zlib1.dll, no MinGW runtime), and Wine would hide the lack.
# Usage: check-imports.sh PROGRAM.exe...
set -euo pipefail
(($#)) || { echo "usage: check-imports.sh PROGRAM.exe..." >&2; exit 2; }

# Windows' own DLLs, lower case; the C runtime's API sets (api-ms-win-*) are Windows' too.
system_dlls=(advapi32.dll bcrypt.dll comctl32.dll comdlg32.dll crypt32.dll dnsapi.dll
  dwmapi.dll gdi32.dll gdiplus.dll imm32.dll iphlpapi.dll kernel32.dll msvcrt.dll mswsock.dll
  ncrypt.dll ntdll.dll ole32.dll oleaut32.dll rpcrt4.dll rstrtmgr.dll secur32.dll setupapi.dll shcore.dll
  shell32.dll shlwapi.dll ucrtbase.dll user32.dll userenv.dll uxtheme.dll version.dll
  windowscodecs.dll winhttp.dll wininet.dll winmm.dll wintrust.dll ws2_32.dll)
allowed=" ${system_dlls[*]} "

failed=0
for program in "$@"; do
  [ -f "$program" ] || { echo "check-imports.sh: no such program: $program" >&2; failed=1; continue; }
  dlls=$(x86_64-w64-mingw32-objdump -p "$program" | sed -n 's/^[[:space:]]*DLL Name: //p' |
    tr 'A-Z' 'a-z' | tr -d '\r')
  [ -n "$dlls" ] || { echo "check-imports.sh: $program: no imports read" >&2; failed=1; continue; }
  for dll in $dlls; do
    case $dll in api-ms-win-*) continue ;; esac
    if [[ $allowed != *" $dll "* ]]; then
      echo "check-imports.sh: $(basename "$program") imports $dll, which Windows does not have" >&2
      failed=1
    fi
  done
done
exit $failed
