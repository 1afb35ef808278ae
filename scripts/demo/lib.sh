# shellcheck shell=bash disable=SC2034  # the names are used by the scripts that source this
# Shared by scripts/run.sh, scripts/demo/headless.sh and scripts/screenshot.sh: the demo's
# places, the demo FTP service, a virtual display and the client. Source it; it sets no options.

demo_root=${demo_root:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)}
demo_build=${BUILD_DIR:-$demo_root/build}
demo_dir=$demo_build/demo
demo_port=${DEMO_FTP_PORT:-50021}
demo_user=demo
demo_password=vantari1234
demo_data=$demo_dir/data
demo_config=$demo_dir/config
demo_ftp_home=$demo_dir/server
demo_program=$demo_build/app/vantari
demo_title='반타리서비스 - 바코드용'

# The demo build: the service, its port and the connectivity check all on this machine.
demo_cmake_options=(-DVANTARI_FTP_HOST=127.0.0.1 "-DVANTARI_FTP_PORT=$demo_port"
                    -DVANTARI_PING_TARGET=127.0.0.1)

demo_pids=()
demo_stop_all() {
  local i
  for ((i = ${#demo_pids[@]} - 1; i >= 0; i--)); do
    kill "${demo_pids[i]}" 2>/dev/null || true
    wait "${demo_pids[i]}" 2>/dev/null || true
  done
  demo_pids=()
}

# A fresh data folder, registry stand-in and settings file; the server's folder emptied.
demo_prepare() {
  rm -rf "$demo_ftp_home" "$demo_config"
  rm -f "$demo_dir"/{ftp.log,events.log,server.out,client.out,watch.err,*.png}
  mkdir -p "$demo_ftp_home" "$demo_config" "$demo_dir/runtime"
  chmod 700 "$demo_dir/runtime"
  /usr/bin/python3 "$demo_root/scripts/demo/make_data.py" "$demo_data" "$demo_config" "$demo_user"
}

demo_start_server() {
  local log=$demo_dir/server.out
  /usr/bin/python3 "$demo_root/scripts/demo/server.py" "$demo_port" "$demo_user" \
    "$demo_password" "$demo_ftp_home" "$demo_dir/ftp.log" >"$log" 2>&1 &
  demo_pids+=($!)
  local i
  for i in $(seq 100); do
    grep -q '^ready' "$log" 2>/dev/null && return 0
    kill -0 "${demo_pids[-1]}" 2>/dev/null || break
    sleep 0.1
  done
  echo "The demo FTP service did not start on 127.0.0.1:$demo_port:" >&2
  cat "$log" >&2
  return 1
}

# Starts Xvfb on a free display and exports DISPLAY.
demo_start_xvfb() {
  local fifo=$demo_dir/xvfb.display
  rm -f "$fifo"
  mkfifo "$fifo"
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$fifo" 2>"$demo_dir/xvfb.log" &
  demo_pids+=($!)
  local number
  read -r -t 20 number <"$fifo" || { echo "Xvfb did not start" >&2; return 1; }
  rm -f "$fifo"
  export DISPLAY=:$number
}

# Builds the demo's accessibility plugin that makes the status bar's text readable; a failed
# build only costs the status lines of the headless demo.
demo_status_plugin=$demo_dir/status-a11y/plugins
demo_build_status_plugin() {
  cmake -S "$demo_root/scripts/demo/status-a11y" -B "$demo_dir/status-a11y" -G Ninja >/dev/null &&
    cmake --build "$demo_dir/status-a11y" >/dev/null ||
    echo "(the status texts will not be shown: the accessibility plugin did not build)"
}

# Runs the client against the demo (in the background when the first argument is --background).
demo_start_client() {
  local -a env=(XDG_CONFIG_HOME="$demo_config" XDG_RUNTIME_DIR="$demo_dir/runtime"
                WINEPREFIX="$demo_dir/no-wine" QT_QPA_PLATFORM=xcb)
  if [ "${1:-}" = --background ]; then
    # On a session bus the window's texts are readable through the accessibility bus.
    [ -z "${DBUS_SESSION_BUS_ADDRESS:-}" ] ||
      env+=(QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 QT_PLUGIN_PATH="$demo_status_plugin")
    env "${env[@]}" "$demo_program" >"$demo_dir/client.out" 2>&1 &
    demo_pids+=($!)
  else
    env "${env[@]}" "$demo_program"
  fi
}

# The id of the visible window whose title matches, waiting up to $2 seconds; empty if none.
demo_find_window() {
  local i id
  for ((i = 0; i < ${2:-30} * 5; i++)); do
    id=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n 1 || true)
    [ -n "$id" ] && { echo "$id"; return 0; }
    sleep 0.2
  done
  return 1
}

# Saves a picture of one window (or the whole screen) as PNG.
demo_screenshot() {
  import -window "${2:-root}" "$1"
}
