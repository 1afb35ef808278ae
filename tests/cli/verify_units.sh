#!/usr/bin/env bash
# Installs the build into a private prefix and checks the nightly backup's systemd units there
# with systemd-analyze verify. Exit 77 (skipped) without systemd-analyze.
set -euo pipefail
build=$1
command -v systemd-analyze >/dev/null || { echo "SKIP: systemd-analyze is not installed"; exit 77; }
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null
units=$prefix/lib/systemd/user
for unit in vantari-backup.service vantari-backup.timer; do
  [ -f "$units/$unit" ] || { echo "not installed: $units/$unit"; exit 1; }
done
grep -q "^ExecStart=$prefix/bin/vantari-cli upload " "$units/vantari-backup.service" ||
  { echo "the service does not run the installed program:"; grep ExecStart "$units/vantari-backup.service"; exit 1; }
grep -q '^Persistent=true$' "$units/vantari-backup.timer" || { echo "the timer is not persistent"; exit 1; }
# verify prints its findings and fails on an error in the units; warnings about the host
# (no user manager in a container) are printed but not counted.
out=$(cd "$units" && SYSTEMD_LOG_LEVEL=warning systemd-analyze verify --man=no \
      ./vantari-backup.timer ./vantari-backup.service 2>&1) || { echo "$out"; exit 1; }
if [ -n "$out" ]; then
  echo "$out"
  grep -qi -e 'vantari-backup' <<<"$out" && exit 1
fi
echo "units verified: $units"
