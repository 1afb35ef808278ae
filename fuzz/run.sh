#!/bin/bash
# Builds restore_fuzzer with clang (ASan, UBSan, libFuzzer) and runs it for a bounded time.
# Usage: fuzz/run.sh [SECONDS] [BUILD_DIR]     (defaults: 600, ./build-fuzz)
# Works in a fresh folder; afterwards nothing may exist there but the restore destination
# (emptied after every input), the link targets outside it (unchanged), the volume files
# of the last input, the corpus and crash artefacts.
set -euo pipefail
SECONDS_TO_RUN=${1:-600}
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${2:-$ROOT/build-fuzz}
CXX=clang++ cmake -S "$ROOT/fuzz" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$BUILD" -j2 >/dev/null
WORK=$(mktemp -d "${TMPDIR:-/tmp}/vantari-fuzz-XXXXXX")
/usr/bin/python3 "$ROOT/fuzz/make_seeds.py" "$WORK/corpus"
cd "$WORK"
"$BUILD/restore_fuzzer" -max_total_time="$SECONDS_TO_RUN" -max_len=65536 -print_final_stats=1 \
  -artifact_prefix="$WORK/" corpus 2>&1 | tee fuzz.log | grep -E '^(#[0-9]+[[:space:]]+DONE|stat::|==|SUMMARY|write outside)' || true
if grep -qE 'ERROR: (libFuzzer|AddressSanitizer)|runtime error|write outside' fuzz.log; then
  echo "fuzzer found a fault; see $WORK"
  exit 1
fi
stray=$(find . -mindepth 1 -maxdepth 1 ! -name dest ! -name corpus ! -name fuzz.log ! -name outside ! -name vol)
if [ -n "$(find dest -mindepth 1 2>/dev/null)" ] || [ -n "$stray" ]; then
  echo "files left outside the emptied destination: $stray"
  exit 1
fi
tail -n 3 fuzz.log && cd / && rm -rf "$WORK" && echo "clean run"
