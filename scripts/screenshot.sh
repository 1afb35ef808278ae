#!/usr/bin/env bash
# Makes docs/screenshot.png: the main window as it opens on the demo data, drawn under Xvfb
# with the fonts the scripts install. Needs a built program (scripts/run.sh or scripts/build.sh).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=scripts/demo/lib.sh
source "$root/scripts/demo/lib.sh"

[ -x "$demo_driver" ] || { echo "No program at $demo_driver: build it first." >&2; exit 1; }
out=${1:-$root/docs/screenshot.png}
mkdir -p "$demo_dir" "$(dirname "$out")"
demo_prepare >/dev/null
trap demo_stop_all EXIT
demo_start_xvfb
demo_run_driver --picture-only "$out"
