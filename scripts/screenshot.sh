#!/usr/bin/env bash
# Makes docs/screenshot.png: the main window as it opens on the demo data, drawn under Xvfb
# with the fonts the scripts install. Needs a built program (scripts/run.sh or scripts/build.sh).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=scripts/demo/lib.sh
source "$root/scripts/demo/lib.sh"

[ -x "$demo_program" ] || { echo "No program at $demo_program: build it first." >&2; exit 1; }
out=${1:-$root/docs/screenshot.png}
mkdir -p "$demo_dir" "$(dirname "$out")"
demo_prepare >/dev/null
trap demo_stop_all EXIT
demo_start_xvfb
demo_start_client --background
window=$(demo_find_window "^$demo_title" 30) || { echo "The window did not open." >&2; exit 1; }
# Type a password so the masked box shows, then give the window a moment to paint.
xdotool mousemove --window "$window" 180 265 click 1
xdotool type "$demo_password"
sleep 1
demo_screenshot "$out" "$window"
echo "Screenshot: $out ($(identify -format '%wx%h' "$out"))"
