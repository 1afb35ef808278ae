#!/bin/bash
# Archive bytes and single-core speed of zlib and libdeflate levels on 16 KiB blocks of the
# accounting-shaped corpus: the measurement behind the TCompressionLevel mapping.
# Usage: bench/backup/levels.sh [MEGABYTES] [BUILD_DIR]     (defaults: 100, ./build-bench)
set -euo pipefail
MB=${1:-100}
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
BUILD=${2:-$ROOT/build-bench}
cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVANTARI_BUILD_APP=OFF \
  -DVANTARI_BUILD_TESTS=OFF >/dev/null
cmake --build "$BUILD" --target backup_corpus backup_levels -j2 >/dev/null
WORK=$(mktemp -d "${TMPDIR:-/tmp}/vantari-levels-XXXXXX")
trap 'rm -rf "$WORK"' EXIT
"$BUILD/bench/backup/backup_corpus" "$WORK" "$MB"
printf "corpus: %d bytes in %d files\n" "$(cat "$WORK"/* | wc -c)" "$(ls "$WORK" | wc -l)"
"$BUILD/bench/backup/backup_levels" "$WORK"
