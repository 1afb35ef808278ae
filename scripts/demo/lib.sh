# shellcheck shell=bash disable=SC2034  # the names are used by the scripts that source this
# Shared by scripts/run.sh, scripts/demo/headless.sh and scripts/screenshot.sh: the demo's
# places, the demo FTP service, a virtual display, the client and its demo driver. Source it; it
# sets no options.

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
demo_driver=$demo_build/app/vantari-demo

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

# What the client sees of the demo: its own settings, no Wine prefix, the X display.
demo_client_env=(XDG_CONFIG_HOME="$demo_config" XDG_RUNTIME_DIR="$demo_dir/runtime"
                 WINEPREFIX="$demo_dir/no-wine" QT_QPA_PLATFORM=xcb)

# Runs the client against the demo, in the foreground: the person at the desktop closes it.
demo_start_client() {
  env "${demo_client_env[@]}" "$demo_program"
}

# Runs the demo driver: the real window through an upload and a download (see app/demo).
# The first argument is where the picture of the window goes; with --picture-only the driver
# only types the password and takes the picture.
demo_run_driver() {
  env "${demo_client_env[@]}" DEMO_PASSWORD="$demo_password" "$demo_driver" "$@" \
    "$demo_user" - "$demo_ftp_home" "$demo_dir/ftp.log"
}
