#!/bin/bash
# Times bcktool create/extract against tar with gzip -1 / pigz -1 -p 2 / pigz -6 -p 2 and
# gzip -d / pigz -d on one accounting-shaped corpus, with each archive's size and the time it
# takes to send at 10 and 2 Mbit/s.
# Usage: bench/backup/run.sh [MEGABYTES] [BUILD_DIR]     (defaults: 200, ./build-bench)
# Builds bcktool and the corpus generator in BUILD_DIR (Release), reports MB/s, output size
# and peak resident memory, best of three runs each; then bcktool's peak memory on a corpus
# a quarter the size, to show it does not grow with the corpus.
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
mkdir "$WORK/data" "$WORK/small"
"$BUILD/bench/backup/backup_corpus" "$WORK/data" "$MB"
"$BUILD/bench/backup/backup_corpus" "$WORK/small" $((MB / 4)) 2
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
fresh() { echo "rm -rf $WORK/out && mkdir $WORK/out"; }

read -r gz_s gz_kb < <(best "tar -C $WORK/data -cf - . | gzip -1 > $WORK/all.tgz")
read -r pz_s pz_kb < <(best "tar -C $WORK/data -cf - . | pigz -1 -p 2 > $WORK/all.pgz")
read -r p6_s p6_kb < <(best "tar -C $WORK/data -cf - . | pigz -6 -p 2 > $WORK/all6.pgz")
read -r bk_s bk_kb < <(best "$BCK create -q $WORK/all.bck '$WORK/data/*'")
read -r gd_s gd_kb < <(best "$(fresh) && gzip -dc $WORK/all.tgz | tar -C $WORK/out -xf -")
read -r pd_s pd_kb < <(best "$(fresh) && pigz -dc $WORK/all.pgz | tar -C $WORK/out -xf -")
read -r bx_s bx_kb < <(best "rm -rf $WORK/out && $BCK extract -q $WORK/all.bck $WORK/out")
cmp <(cat "$WORK"/data/*) <(cat "$WORK"/out/*) && echo "extracted content identical"
read -r _ sc_kb < <(best "$BCK create -q $WORK/small.bck '$WORK/small/*'")
read -r _ sx_kb < <(best "rm -rf $WORK/out && $BCK extract -q $WORK/small.bck $WORK/out")

printf "corpus: %d bytes in %d files\n" "$BYTES" "$(find "$WORK/data" -type f | wc -l)"
printf "%-22s %8s %9s %14s %10s %9s %9s\n" step seconds MB/s output peak_KB "10Mbit_s" "2Mbit_s"
send() { awk "BEGIN{printf \"%.1f\", $1 * 8 / ($2 * 1000000)}"; }
row() {
  local sends=("" "")
  [ -n "${5:-}" ] && sends=("$(send "$3" 10)" "$(send "$3" 2)")
  printf "%-22s %8s %9s %14s %10s %9s %9s\n" "$1" "$2" "$(rate "$2")" "$3" "$4" "${sends[@]}"
}
row "tar | gzip -1" "$gz_s" "$(stat -c %s "$WORK/all.tgz")" "$gz_kb" send
row "tar | pigz -1 -p 2" "$pz_s" "$(stat -c %s "$WORK/all.pgz")" "$pz_kb" send
row "tar | pigz -6 -p 2" "$p6_s" "$(stat -c %s "$WORK/all6.pgz")" "$p6_kb" send
row "bcktool create" "$bk_s" "$(stat -c %s "$WORK/all.bck")" "$bk_kb" send
row "gzip -d | tar" "$gd_s" "$BYTES" "$gd_kb"
row "pigz -d | tar" "$pd_s" "$BYTES" "$pd_kb"
row "bcktool extract" "$bx_s" "$BYTES" "$bx_kb"
awk "BEGIN{printf \"create: %.2fx gzip -1, %.2fx pigz -1 -p 2, %.2fx pigz -6 -p 2   extract: %.2fx gzip -d, %.2fx pigz -d\n\", \
  $gz_s / $bk_s, $pz_s / $bk_s, $p6_s / $bk_s, $gd_s / $bx_s, $pd_s / $bx_s}"
awk "BEGIN{printf \"archive size: %.3fx tar | pigz -1, %.3fx tar | pigz -6\n\", \
  $(stat -c %s "$WORK/all.bck") / $(stat -c %s "$WORK/all.pgz"), $(stat -c %s "$WORK/all.bck") / $(stat -c %s "$WORK/all6.pgz")}"
echo "bcktool peak KB on a corpus a quarter the size: create $sc_kb, extract $sx_kb"
