#!/usr/bin/env bash
# Packs one folder of generated tables with the Linux bcktool and with bcktool.exe under Wine
# and fails unless both archives (every volume) are the same bytes.
# Usage: same-archive.sh LINUX_BCKTOOL WINDOWS_BCKTOOL_EXE
# Both are given the folder by its Linux path: Wine reads "/..." as a path on its current
# drive (Z:, the Linux root), so the stored member names agree too. Dates are read in UTC on
# both sides, so no time-zone rule can differ.
set -euo pipefail
linux=$1 windows=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
tables=$work/tables
mkdir -p "$tables/SUB" "$work/linux" "$work/windows"

# Sizes around the 16384-byte block, compressible and incompressible content, an empty file,
# a Korean name (stored as CP949) and a subfolder.
python3 - "$tables" <<'PY'
import os, random, sys
root = sys.argv[1]
rng = random.Random(19)
rows = b"".join(b"%08d|KIM|%012d|ACCOUNT\r\n" % (i, rng.randrange(10**12)) for i in range(9000))
files = {
    "EMPTY.DBF": b"",
    "ONE.DBF": b"x",
    "BLOCK.DBF": rows[:16384],
    "BLOCK1.DBF": rows[:16385],
    "LEDGER.DBF": rows,
    "NOISE.DAT": bytes(rng.randrange(256) for _ in range(70000)),
    "거래처.DBF": rows[:5000],
    "SUB/INDEX.CDX": rows[::3],
}
for name, data in files.items():
    with open(os.path.join(root, name), "wb") as f:
        f.write(data)
PY
find "$tables" -type f -exec touch -d '2024-03-05 14:26:38 UTC' {} +

export TZ=UTC LC_ALL=C.UTF-8
args=(create -q -i -l default -v 40000 -t "Nightly backup")
"$linux" "${args[@]}" "$work/linux/data.bck" "$tables/*.* /s"
wine "$windows" "${args[@]}" "$work/windows/data.bck" "$tables/*.* /s" </dev/null

status=0
count=0
for made in "$work/linux"/*; do
  name=$(basename "$made")
  count=$((count + 1))
  if ! cmp "$made" "$work/windows/$name"; then
    status=1
  fi
done
if [ "$(ls "$work/windows" | wc -l)" -ne "$count" ] || [ "$count" -lt 2 ]; then
  echo "same-archive.sh: the programs made different volume sets:" \
    "$(ls "$work/linux" | tr '\n' ' ')/ $(ls "$work/windows" | tr '\n' ' ')" >&2
  status=1
fi
[ "$status" -eq 0 ] && echo "same-archive.sh: $count volumes, the same bytes from both programs"
exit "$status"
