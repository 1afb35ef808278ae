#!/usr/bin/env bash
# FTP over TLS: 200 MB upload and download over loopback against vsftpd (ssl_enable=YES,
# require_ssl_reuse=YES, a self-signed certificate made here), TIdFTP with the component
# defaults against curl --ssl-reqd, both in the same run and taking turns.
# Each case runs REPEAT times (default 3); the line shows the run with the median wall time.
# MODES="passive active" picks the modes (default passive; in active mode only TIdFTP runs:
# curl 7.88's active mode fails against vsftpd over TLS). APP_SIZES=1 adds TIdFTP with the application's buffer sizes (recv 8192,
# send 1024). Needs root (vsftpd changes user and chroots).
# Usage: bench/ftp/run-tls.sh [build-dir] [size-MB]
set -euo pipefail
repeat=${REPEAT:-3}
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$root/build}
size_mb=${2:-200}
bench=$build/bench/ftp/ftp_bench
[ "$(id -u)" = 0 ] || { echo "vsftpd needs root" >&2; exit 2; }
[ -x "$bench" ] || cmake --build "$build" --target ftp_bench
work=$(mktemp -d /tmp/vantari-ftpsbench-XXXXXX)
chmod 755 "$work"
server_pid=
cleanup() {
  if [ -n "$server_pid" ]; then
    kill "$server_pid" 2>/dev/null || true
    wait "$server_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT
# vsftpd refuses a login folder its user may write to: files go to pub/.
mkdir -p "$work/anon/pub" "$work/empty"
chown ftp "$work/anon/pub"
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 \
  -keyout "$work/server.key" -out "$work/server.crt" -subj /CN=127.0.0.1 \
  -addext subjectAltName=IP:127.0.0.1 2>/dev/null
port=$(/usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
cat > "$work/vsftpd.conf" <<EOF
listen=YES
listen_ipv6=NO
listen_address=127.0.0.1
listen_port=$port
background=NO
anonymous_enable=YES
local_enable=NO
anon_root=$work/anon
write_enable=YES
anon_upload_enable=YES
anon_other_write_enable=YES
anon_umask=022
secure_chroot_dir=$work/empty
seccomp_sandbox=NO
ssl_enable=YES
allow_anon_ssl=YES
force_anon_logins_ssl=YES
force_anon_data_ssl=YES
require_ssl_reuse=YES
strict_ssl_read_eof=YES
ssl_ciphers=HIGH
rsa_cert_file=$work/server.crt
rsa_private_key_file=$work/server.key
debug_ssl=YES
vsftpd_log_file=$work/vsftpd.log
xferlog_enable=YES
pasv_enable=YES
pasv_address=127.0.0.1
port_enable=YES
connect_from_port_20=NO
EOF
/usr/sbin/vsftpd "$work/vsftpd.conf" > "$work/vsftpd.out" 2>&1 &
server_pid=$!
for _ in $(seq 100); do
  (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break
  sleep 0.1
done
url="ftp://127.0.0.1:$port/pub"
head -c $((size_mb * 1048576)) /dev/urandom > "$work/source.bin"
cp "$work/source.bin" "$work/anon/pub/source.bin"

report() {
  sort -n | awk -v label="$1" -v mb="$size_mb" -v n="$repeat" \
    'NR == int((n + 1) / 2) { printf "%-34s %7.1f MB/s  wall %6.3f s  cpu user %5.2f s sys %5.2f s\n", label, mb / $1, $1, $2, $3 }'
}

timed() {
  local start end cpu
  start=$(date +%s.%N)
  cpu=$( { /usr/bin/time -f "%U %S" "$@" > /dev/null; } 2>&1 | tail -1)
  end=$(date +%s.%N)
  awk -v a="$start" -v b="$end" -v c="$cpu" 'BEGIN { printf "%.6f %s\n", b - a, c }'
}

run_curl() { # direction mode
  local args=(-s -S --globoff --ssl-reqd -k -u anonymous:guest@)
  [ "$2" = active ] && args+=(-P 127.0.0.1)
  if [ "$1" = up ]; then
    timed curl "${args[@]}" -T "$work/source.bin" "$url/curl.bin"
  else
    timed curl "${args[@]}" -o "$work/curl-down.bin" "$url/source.bin"
  fi
}

run_ours() { # direction mode recv send
  local local_file=$work/source.bin remote=pub/ours.bin
  [ "$1" = down ] && { local_file=$work/ours-down.bin; remote=pub/source.bin; }
  timed "$bench" "$1" "$2" 127.0.0.1 "$port" anonymous guest@ "$local_file" "$remote" "$3" "$4" tls
}

printf "%s MB over TLS, median of %s runs, vsftpd %s, %s\n" "$size_mb" "$repeat" \
  "$(dpkg-query -W -f='${Version}' vsftpd)" "$(openssl version)"
for mode in ${MODES:-passive}; do
  for direction in up down; do
    : > "$work/t.curl"; : > "$work/t.ours"; : > "$work/t.app"
    for _ in $(seq "$repeat"); do
      [ "$mode" = active ] || run_curl "$direction" "$mode" >> "$work/t.curl"
      run_ours "$direction" "$mode" 0 0 >> "$work/t.ours"
      [ "${APP_SIZES:-0}" = 1 ] && run_ours "$direction" "$mode" 8192 1024 >> "$work/t.app"
    done
    [ "$mode" = active ] || report "curl --ssl-reqd $direction $mode" < "$work/t.curl"
    report "TIdFTP $direction $mode (defaults)" < "$work/t.ours"
    [ "${APP_SIZES:-0}" = 1 ] && report "TIdFTP $direction $mode (app 8192/1024)" < "$work/t.app"
    median() { sort -n "$1" | awk -v n="$repeat" 'NR == int((n + 1) / 2) { print $1 }'; }
    [ "$mode" = active ] || awk -v c="$(median "$work/t.curl")" -v o="$(median "$work/t.ours")" \
      'BEGIN { printf "  TIdFTP throughput / curl: %.2f\n", c / o }'
  done
done
for copy in "$work/anon/pub/ours.bin" "$work/ours-down.bin" "$work/anon/pub/curl.bin"; do
  [ -e "$copy" ] || continue
  cmp -s "$work/source.bin" "$copy" || { echo "COPY MISMATCH: $copy"; exit 1; }
done
echo "copies verified; data connections resumed (server's log): $(grep -c ', reused,' "$work/vsftpd.log"), not resumed: $(grep -c ', not reused,' "$work/vsftpd.log") (the control connections)"
