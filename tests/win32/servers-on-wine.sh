#!/usr/bin/env bash
# kestrum.exe under Wine through serial device servers on loopback: ser2net in front of the
# (native) simulated module's pseudo-terminal in raw TCP and in RFC 2217 mode, and a port
# nothing listens on. With rtutest.exe as well (under Xvfb), the window opens each server, reads
# and switches relay 2 by clicks, with its log file as the evidence. Prints "servers: N passed,
# N failed". Every process started here is ended by its pid.
#
# Usage: servers-on-wine.sh path/to/kestrum.exe path/to/kestrum-sim [path/to/rtutest.exe]
set -uo pipefail
kestrum_exe=$1 sim=$2 window_exe=${3:-}
source "$(dirname "$0")/lib/window-on-wine.sh"
dir=$(mktemp -d /tmp/kestrum-wine-servers-XXXXXX)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  rm -rf "$dir"
}
trap cleanup EXIT
passed=0 failed=0
check() {  # what expected-exit expected-text kestrum-arguments...
  local what=$1 want=$2 text=$3 out status=0
  shift 3
  out=$(timeout 60 wine "$kestrum_exe" "$@" 2>&1 | tr -d '\r') || status=$?
  if [ "$status" = "$want" ] && [[ $out == *"$text"* ]]; then
    echo "  PASS $what"
    passed=$((passed + 1))
  else
    echo "  FAIL $what: exit $status, output: $out"
    failed=$((failed + 1))
  fi
}
verdict() {  # what command...: passes when the command succeeds
  local what=$1
  shift
  if "$@"; then
    echo "  PASS $what"
    passed=$((passed + 1))
  else
    echo "  FAIL $what"
    failed=$((failed + 1))
  fi
}
free_port() {
  /usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

timeout 300 "$sim" --pty --di 1,0 </dev/null >"$dir/sim.out" 2>/dev/null &
pids+=($!)
for _ in $(seq 100); do [ -s "$dir/sim.out" ] && break; sleep 0.1; done
pty=$(head -n1 "$dir/sim.out")
# The window through the server on <port>: opened by --open, 读取 and 继电器2开 clicked. The module
# has relay 1 on and relay 2 off here; kestrum.exe reads relay 2 back and switches it off again.
window_through() {  # scheme port
  [ -n "$window_exe" ] || return 0
  local log=$dir/window-$1.log window_pid window=""
  timeout 120 wine "$window_exe" --port "$1://127.0.0.1:$2" --open \
    --log-file "$(windows_path "$log")" >>"$dir/rtutest.err" 2>&1 &
  window_pid=$!
  pids+=("$window_pid")
  wait_for_line "$log" '发送：AA 55 00 05 E0 50 00 01 35' 60 && window=$(window_id)
  verdict "$1 window opened (control-mode frame in its log)" test -n "$window"
  if [ -n "$window" ]; then
    click_button "$window" 读取
    wait_for_line "$log" 'DO2=' 10
    verdict "$1 window read DI1=01 DI2=00 DO1=01 DO2=00" \
      bash -c "grep -q 'DI1=01' '$log' && grep -q 'DI2=00' '$log' && grep -q 'DO1=01' '$log' &&
        grep -q 'DO2=00' '$log'"
    click_button "$window" 继电器2开
    wait_for_line "$log" '发送：64 10 00 15 00 01 02 00 01' 10
    sleep 0.5  # the module answers the switch before the window lets go of the server
  fi
  kill "$window_pid" 2>/dev/null
  wait "$window_pid" 2>/dev/null
  # The server takes one client at a time: the window's must be gone before kestrum.exe's.
  for _ in $(seq 50); do [ -z "$(ss -Htn state established "sport = :$2")" ] && break; sleep 0.1; done
  check "$1 window switched relay 2 on" 0 "DO2=1" -p "$1://127.0.0.1:$2" read
  check "$1 relay 2 off again" 0 "" -p "$1://127.0.0.1:$2" relay 2 off
  [ "$failed" -eq 0 ] || sed 's/^/    /' "$log" 2>/dev/null
}

# A fresh Wine session on the display this runs on: the one before may have run without one.
if [ -n "$window_exe" ]; then
  wineserver -k 2>/dev/null
  wineserver -w 2>/dev/null
fi

for mode in tcp "telnet(rfc2217),tcp"; do
  port=$(free_port)
  printf 'connection: &m\n  accepter: %s,127.0.0.1,%s\n  connector: serialdev,%s,9600n81,local\n' \
    "$mode" "$port" "$pty" >"$dir/ser2net.yaml"
  timeout 300 ser2net -n -u -P "$dir/ser2net.pid" -c "$dir/ser2net.yaml" >/dev/null 2>&1 &
  server=$!
  pids+=("$server")
  for _ in $(seq 100); do [ -n "$(ss -Hltn "sport = :$port")" ] && break; sleep 0.1; done
  scheme=$([ "$mode" = tcp ] && echo tcp || echo rfc2217)
  check "$scheme read" 0 "DI1=1 DI2=0" -p "$scheme://127.0.0.1:$port" read
  check "$scheme relay" 0 "" -p "$scheme://localhost:$port" relay 1 on
  window_through "$scheme" "$port"
  kill "$server"
  wait "$server" 2>/dev/null
done
check "refused" 4 "connection refused" -p "tcp://127.0.0.1:$port" read
echo "servers: $passed passed, $failed failed"
