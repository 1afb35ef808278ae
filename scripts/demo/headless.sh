#!/usr/bin/env bash
# The demo without a desktop: the real window under Xvfb, driven by vantari-demo through one
# upload and one download against the demo service. vantari-demo finds the controls by name and
# answers the boxes itself, prints what the window shows and the server's view of each session,
# and exits 0 only when the downloaded data equals the uploaded data.
set -euo pipefail
# shellcheck source=scripts/demo/lib.sh
source "$(dirname "$0")/lib.sh"
trap demo_stop_all EXIT

demo_start_xvfb
demo_start_server
demo_run_driver "$demo_dir/screenshot.png"
