#!/bin/bash
# Times the download workflow after the transfer (preview, staged unpack with flush, swap into
# the data folder) against a plain "bcktool extract" of the same archive, and the extract
# followed by sync, on the accounting-shaped corpus of bench/backup.
# Usage: bench/workflow/run.sh [MEGABYTES] [BUILD_DIR]     (defaults: 200, ./build-bench)
# Best of three runs each.
set -euo pipefail
MB=${1:-200}
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
BUILD=${2:-$ROOT/build-bench}
cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVANTARI_BUILD_APP=OFF \
  -DVANTARI_BUILD_TESTS=OFF >/dev/null
cmake --build "$BUILD" --target bcktool backup_corpus restore_bench -j2 >/dev/null
BCK=$BUILD/tools/bcktool
WORK=$(mktemp -d "${TMPDIR:-/tmp}/vantari-bench-XXXXXX")
trap 'rm -rf "$WORK"' EXIT
mkdir -p "$WORK/corpus" "$WORK/data/Backup"
"$BUILD/bench/backup/backup_corpus" "$WORK/corpus" "$MB"
"$BCK" create -q "$WORK/data/Backup/bench.bck" "$WORK/corpus/*"
"$BCK" create -q --title zipcode "$WORK/zipcode.bck"
cp -p "$WORK"/corpus/* "$WORK/data/" # the data the download replaces
sync

best() { # best of three wall-clock seconds of a shell command
  local best_s="" s
  for _ in 1 2 3; do
    s=$( { /usr/bin/time -f "%e" bash -c "$1" >/dev/null; } 2>&1 | tail -1)
    if [ -z "$best_s" ] || awk "BEGIN{exit !($s < $best_s)}"; then best_s=$s; fi
  done
  echo "$best_s"
}

ex_s=$(best "rm -rf $WORK/out && sync && $BCK extract -q $WORK/data/Backup/bench.bck $WORK/out")
exs_s=$(best "rm -rf $WORK/out && sync && $BCK extract -q $WORK/data/Backup/bench.bck $WORK/out && sync")
"$BUILD/bench/workflow/restore_bench" "$WORK/data" "$WORK/zipcode.bck" 3 | tee "$WORK/runs.txt"
wf_s=$(awk '$1 == "preview" {print $7}' "$WORK/runs.txt" | sort -n | head -1)
same=1
for f in "$WORK"/corpus/*; do cmp -s "$f" "$WORK/data/$(basename "$f")" || same=0; done
[ "$(ls -p "$WORK/data" | grep -vc /)" = "$(ls "$WORK/corpus" | wc -l)" ] || same=0
[ $same = 1 ] && echo "restored content identical" || echo "RESTORED CONTENT DIFFERS"
printf "archive: %d bytes, %d files\n" "$(stat -c %s "$WORK/data/Backup/bench.bck")" \
  "$(ls "$WORK/corpus" | wc -l)"
printf "%-34s %8s\n" step seconds
printf "%-34s %8s\n" "bcktool extract" "$ex_s"
printf "%-34s %8s\n" "bcktool extract + sync" "$exs_s"
printf "%-34s %8s\n" "workflow restore (preview..swap)" "$wf_s"
awk "BEGIN{printf \"workflow / extract: %.2fx   workflow / (extract + sync): %.2fx\n\", $wf_s / $ex_s, $wf_s / $exs_s}"
