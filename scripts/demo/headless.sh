#!/usr/bin/env bash
# The demo without a desktop: the window under Xvfb, driven with xdotool through one upload and
# one download against the demo service, printing what the window shows as it shows it.
# Run by scripts/run.sh inside a private session bus (the window's texts are read from the
# accessibility bus). Exits 0 only when the downloaded data equals the uploaded data.
set -euo pipefail
# shellcheck source=scripts/demo/lib.sh
source "$(dirname "$0")/lib.sh"
trap demo_stop_all EXIT

success='모든 작업을 정상적으로 완료하였습니다.'
events=$demo_dir/events.log
shown=0        # lines of the event log printed so far
server_shown=0 # lines of the server's log printed so far

fail() {
  echo "FAILED: $*" >&2
  demo_screenshot "$demo_dir/failure.png" || true
  echo "A picture of the screen is in $demo_dir/failure.png" >&2
  exit 1
}

# The server's view of a session: logins, transfers, logouts.
print_server_log() {
  local total line
  total=$(wc -l <"$demo_dir/ftp.log")
  while ((server_shown < total)); do
    server_shown=$((server_shown + 1))
    line=$(sed -n "${server_shown}p" "$demo_dir/ftp.log")
    line=${line#*-\[*\] }
    line=${line//$demo_ftp_home\//}
    case $line in *"logged in"* | *completed=* | *"session closed"*) echo "  server: $line" ;; esac
  done
}

# Prints the window's new texts; true when a message box line has come.
print_events() {
  local total line got=1
  total=$(wc -l <"$events")
  while ((shown < total)); do
    shown=$((shown + 1))
    line=$(sed -n "${shown}p" "$events")
    [ "$line" = ready ] && continue
    echo "  $line"
    [[ $line == message* ]] && { last_message=$line; got=0; }
  done
  print_server_log
  return $got
}

# Waits up to $1 seconds for a message box, prints it, closes it with Enter.
answer_message() {
  local deadline=$((SECONDS + $1)) box=""
  last_message=""
  while ((SECONDS < deadline)); do
    print_events && break
    box=$(xdotool search --onlyvisible --name '^(Vantari|자료백업/복원)$' 2>/dev/null | head -n 1 || true)
    [ -n "$box" ] && [ "$watching" = no ] && { last_message="message [$(xdotool getwindowname "$box")]"; echo "  $last_message"; break; }
    sleep 0.2
  done
  [ -n "$last_message" ] || fail "no message box within $1 seconds"
  box=$(demo_find_window '^(Vantari|자료백업/복원)$' 10) || fail "the message box is not on the screen"
  demo_screenshot "$demo_dir/$2.png" || true
  timeout 10 xdotool windowfocus --sync "$box" key Return || xdotool key Return
  for _ in $(seq 50); do
    xdotool search --onlyvisible --name '^(Vantari|자료백업/복원)$' >/dev/null 2>&1 || return 0
    sleep 0.2
  done
  fail "the message box did not close"
}

click() { xdotool mousemove --window "$window" "$1" "$2" click 1; }

fingerprint() { (cd "$demo_data" && find . -maxdepth 1 -type f -printf '%P\n' | LC_ALL=C sort | xargs -d '\n' sha256sum); }

demo_start_xvfb
demo_start_server
: >"$events"
/usr/bin/python3 "$demo_root/scripts/demo/watch.py" Vantari >"$events" 2>"$demo_dir/watch.err" &
demo_pids+=($!)
demo_start_client --background
window=$(demo_find_window "^$demo_title" 30) || fail "the window did not open"
watching=no
for _ in $(seq 50); do
  grep -q '^ready' "$events" && { watching=yes; break; }
  sleep 0.2
done
[ $watching = yes ] || echo "(the window's texts cannot be read; judging by the files alone)"

echo "Window open on $DISPLAY; data folder $demo_data ($(find "$demo_data" -maxdepth 1 -type f | wc -l) files)"
before=$(fingerprint)

# Control centres inside the window: the user ID box, the password box and the two buttons.
echo "Typing user ID '$demo_user' and its password"
click 180 240
xdotool key ctrl+a BackSpace
xdotool type "$demo_user"
click 180 265
xdotool type "$demo_password"

echo "Pressing 자료 올리기 (upload)"
click 74 197
answer_message 180 upload
[[ $watching == no || $last_message == *"$success" ]] || fail "the upload did not succeed"
local_archive=$demo_data/Backup/$demo_user.bck
remote_archive=$demo_ftp_home/$demo_user.bck
[ -f "$remote_archive" ] || fail "the server holds no $demo_user.bck"
cmp -s "$local_archive" "$remote_archive" || fail "the server's archive differs from the local one"
echo "The server holds $demo_user.bck, $(stat -c %s "$remote_archive") bytes, equal to the local archive"

# The workflow ends with the logout after the message; wait for it before the next click.
for _ in $(seq 50); do
  print_events || true
  [ $watching = no ] || grep -q '^status: 서버 단절' "$events" && break
  sleep 0.2
done

echo "Changing the data folder: one table deleted, one overwritten, one stray file"
rm -f "$demo_data/Note.DB"
echo "changed after the upload" >"$demo_data/Sale.DB"
echo "stray" >"$demo_data/Stray.tmp"

echo "Pressing 자료 내려받기 (download)"
click 198 197
answer_message 180 download
[[ $watching == no || $last_message == *"$success" ]] || fail "the download did not succeed"
sleep 0.5
print_events || true
[ "$(fingerprint)" = "$before" ] || fail "the data folder differs from the uploaded data"
echo "The data folder equals the uploaded data ($(find "$demo_data" -maxdepth 1 -type f | wc -l) files)"

demo_screenshot "$demo_dir/screenshot.png" "$window"
echo "Screenshot: $demo_dir/screenshot.png"
echo "Demo passed."
