#!/usr/bin/env bash
# File and folder calls go through platform/ only (wide functions on Windows): a narrow-path
# call anywhere else reads UTF-8 paths in the ANSI code page there. Fails naming each one.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
pattern='std::filesystem|<filesystem>|std::rename|std::remove\(|[^_a-zA-Z]fopen\(|ifstream|ofstream|[^_a-zA-Z:]fstream|::stat\('
hits=$(find . \( -path './build*' -o -path ./.git -o -path ./platform -o -path ./tests \
  -o -path ./bench -o -path ./fuzz -o -path ./app/demo \) -prune -o \
  \( -name '*.cpp' -o -name '*.h' \) -print0 | sort -z | xargs -0 -r grep -nHE "$pattern" || true)
if [ -n "$hits" ]; then
  echo "File calls outside platform/ (use its functions instead):" >&2
  echo "$hits" >&2
  exit 1
fi
echo "check-file-calls: no narrow file calls outside platform/"
