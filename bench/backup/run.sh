#!/bin/bash
# Times bcktool create/extract against gzip -1 / gzip -d on one accounting-shaped corpus.
# Usage: bench/backup/run.sh [MEGABYTES] [BUILD_DIR]     (defaults: 200, ./build-bench)
# Builds bcktool and the corpus generator in BUILD_DIR (Release), reports MB/s, output size
# and peak resident memory, best of three runs each.
set -euo pipefail
MB=${1:-200}
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
BUILD=${2:-$ROOT/build-bench}
cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVANTARI_BUILD_APP=OFF \
  -DVANTARI_BUILD_TESTS=OFF >/dev/null
cmake --build "$BUILD" --target bcktool backup_corpus -j2 >/dev/null
BCK=$BUILD/tools/bcktool
WORK=$(mktemp -d "${TMPDIR:-/tmp}/vantari-bench-XXXXXX")
trap 'rm -rf "$WORK"' EXIT
mkdir "$WORK/data"
"$BUILD/bench/backup/backup_corpus" "$WORK/data" "$MB"
BYTES=$(cat "$WORK"/data/* | wc -c)
sync

# best of three: prints "seconds peak_kb"
best() {
  local best_s="" best_kb=0 out s kb
  for _ in 1 2 3; do
    out=$( { /usr/bin/time -f "%e %M" bash -c "$1" >/dev/null; } 2>&1 | tail -1)
    s=${out% *}; kb=${out#* }
    if [ -z "$best_s" ] || awk "BEGIN{exit !($s < $best_s)}"; then best_s=$s; fi
    [ "$kb" -gt "$best_kb" ] && best_kb=$kb
  done
  echo "$best_s $best_kb"
}
rate() { awk "BEGIN{printf \"%.1f\", $BYTES / 1000000 / ($1 > 0 ? $1 : 0.001)}"; }

read -r gz_s gz_kb < <(best "cat $WORK/data/* | gzip -1 > $WORK/all.gz")
read -r bk_s bk_kb < <(best "$BCK create -q $WORK/all.bck '$WORK/data/*'")
read -r gd_s gd_kb < <(best "gzip -dc $WORK/all.gz > $WORK/all.raw")
read -r bx_s bx_kb < <(best "rm -rf $WORK/out && $BCK extract -q $WORK/all.bck $WORK/out")
cmp <(cat "$WORK"/data/*) <(cat "$WORK"/out/*) && echo "extracted content identical"
printf "corpus: %d bytes in %d files\n" "$BYTES" "$(ls "$WORK/data" | wc -l)"
printf "%-16s %8s %9s %14s %10s\n" step seconds MB/s output peak_KB
printf "%-16s %8s %9s %14s %10s\n" "gzip -1" "$gz_s" "$(rate "$gz_s")" "$(stat -c %s "$WORK/all.gz")" "$gz_kb"
printf "%-16s %8s %9s %14s %10s\n" "bcktool create" "$bk_s" "$(rate "$bk_s")" "$(stat -c %s "$WORK/all.bck")" "$bk_kb"
printf "%-16s %8s %9s %14s %10s\n" "gzip -d" "$gd_s" "$(rate "$gd_s")" "$BYTES" "$gd_kb"
printf "%-16s %8s %9s %14s %10s\n" "bcktool extract" "$bx_s" "$(rate "$bx_s")" "$BYTES" "$bx_kb"
awk "BEGIN{printf \"create / gzip -1: %.2fx   extract / gzip -d: %.2fx\n\", $gz_s / $bk_s, $gd_s / $bx_s}"
