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

# The file-ID list member is dated when it is packed: the two runs may fall into different
# 2-second steps of its MS-DOS date, so those four bytes of the first volume are compared apart.
same_volume() {
  python3 - "$1" "$2" <<'PY'
import datetime, struct, sys
a, b = (open(path, "rb").read() for path in sys.argv[1:3])
title = struct.unpack_from("<i", a)[0] if len(a) >= 4 else -1
name = 4 + title + 12  # past the title, TotalSize, FileCount and the member's NameLength
if sys.argv[1].endswith(".bck") and title >= 0 and a[name : name + 9] == b"FILE:LIST":
    at = name + 9
    def packed(x):
        stamp = struct.unpack_from("<I", x, at)[0]
        date, time = stamp >> 16, stamp & 0xFFFF
        return datetime.datetime(1980 + (date >> 9), (date >> 5) & 15, date & 31,
                                 time >> 11, (time >> 5) & 63, (time & 31) * 2)
    same = a[:at] + a[at + 4 :] == b[:at] + b[at + 4 :]
    sys.exit(0 if same and abs((packed(a) - packed(b)).total_seconds()) <= 60 else 1)
sys.exit(0 if a == b else 1)
PY
}

status=0
count=0
for made in "$work/linux"/*; do
  name=$(basename "$made")
  count=$((count + 1))
  if ! same_volume "$made" "$work/windows/$name"; then
    echo "same-archive.sh: $name differs" >&2
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
