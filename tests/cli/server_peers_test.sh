#!/usr/bin/env bash
# kestrum through real serial device servers on loopback: ser2net in front of kestrum-sim's
# pseudo-terminal in raw TCP and in telnet(rfc2217) mode, and socat as a plain raw TCP peer on
# IPv6. Checks reads and relay switches in both modes, that a rate and format set through
# RFC 2217 reach the pseudo-terminal, the open's reasons, and that a server that goes away is
# "device lost" (exit 4) within five seconds. Every process started here is ended by its pid.
#
# With the window's program as well, it opens through the RFC 2217 server too (offscreen); with
# the window's session program (tests/app/SessionThroughServer.cpp), the session reads and
# switches a relay through the server in both modes.
#
# Usage: server_peers_test.sh path/to/kestrum path/to/kestrum-sim [path/to/rtutest
#          [path/to/app_session_through_server]]
set -euo pipefail

kestrum=${1:?usage: server_peers_test.sh kestrum kestrum-sim [rtutest]}
sim=${2:?usage: server_peers_test.sh kestrum kestrum-sim [rtutest]}
window=${3:-}
session=${4:-}
for tool in ser2net socat; do
  command -v "$tool" >/dev/null || { echo "FAIL: $tool is not installed (scripts/install-deps.sh)"; exit 1; }
done

dir=$(mktemp -d /tmp/kestrum-servers-XXXXXX)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  exec 3>&- 2>/dev/null || true
  rm -rf "$dir"
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*"
  for log in sim.err ser2net.log socat.err; do
    [ -f "$dir/$log" ] && { echo "--- $log:"; tail -20 "$dir/$log"; }
  done
  exit 1
}

free_port() {  # a loopback port nothing listens on now
  /usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

wait_listening() {  # port host; looks without connecting (a server may serve one client)
  for _ in $(seq 100); do
    [ -n "$(ss -Hltn "sport = :$1")" ] && return 0
    sleep 0.1
  done
  fail "nothing listens on $2 port $1"
}

# The module, with its console on a fifo so that the test can ask it what the line runs at.
mkfifo "$dir/sim.in"
timeout 280 "$sim" --pty --di 1,0 <"$dir/sim.in" >"$dir/sim.out" 2>"$dir/sim.err" &
pids+=($!)
exec 3>"$dir/sim.in"
for _ in $(seq 100); do [ -s "$dir/sim.out" ] && break; sleep 0.1; done
pty=$(head -n1 "$dir/sim.out")
[ -e "$pty" ] || fail "kestrum-sim printed no device"

# ser2net serving the pty on one loopback port in the given mode ("tcp" or "telnet(rfc2217),tcp").
ser2net_pid=""
start_ser2net() {  # mode port
  cat >"$dir/ser2net.yaml" <<YAML
connection: &module
  accepter: $1,127.0.0.1,$2
  connector: serialdev,$pty,9600n81,local
YAML
  timeout 280 ser2net -n -u -P "$dir/ser2net.pid" -c "$dir/ser2net.yaml" >>"$dir/ser2net.log" 2>&1 &
  ser2net_pid=$!
  pids+=("$ser2net_pid")
  wait_listening "$2" 127.0.0.1
}
stop_ser2net() {
  kill "$ser2net_pid"
  wait "$ser2net_pid" 2>/dev/null || true
}

run() {  # kestrum arguments...; prints its output, sets $status
  status=0
  out=$(timeout 30 "$kestrum" "$@" 2>&1) || status=$?
}
expect() {  # status text what
  [ "$status" = "$1" ] || fail "$3: exit $status, not $1: $out"
  case "$out" in *"$2"*) ;; *) fail "$3: '$2' not in: $out" ;; esac
}

# The window's session through the server running now: inputs 0,1 set on the module (its reads
# must show them), relay 1 on and off again, relay 2 as the test left it; inputs 1,0 after.
session_through() {  # port-name relay-2-state
  [ -n "$session" ] || return 0
  echo "di 0,1" >&3
  local want="read: 00 01 00 0$2
relay 1 on: 00 01 01 0$2
relay 1 off: 00 01 00 0$2" got
  got=$(QT_QPA_PLATFORM=offscreen timeout 60 "$session" "$1" 2>"$dir/session.err") ||
    fail "the session through $1: exit $?: $got $(cat "$dir/session.err")"
  [ "$got" = "$want" ] || fail "the session through $1 showed
$got
not
$want
$(cat "$dir/session.err")"
  echo "di 1,0" >&3
}

# --- raw TCP through ser2net
port=$(free_port)
start_ser2net tcp "$port"
run -p "tcp://127.0.0.1:$port" read
expect 0 "DI1=1 DI2=0 DO1=0 DO2=0" "raw read"
run -p "tcp://localhost:$port" relay 2 on
expect 0 "" "raw relay switch by host name"
run -p "tcp://127.0.0.1:$port" read
expect 0 "DO2=1" "raw read back"
session_through "tcp://127.0.0.1:$port" 1
stop_ser2net

# --- RFC 2217 through ser2net: the rate and stop size reach the pseudo-terminal (its driver
# keeps every pty at 8 data bits without parity)
port=$(free_port)
start_ser2net "telnet(rfc2217),tcp" "$port"
run -p "rfc2217://127.0.0.1:$port" relay 2 off
expect 0 "" "rfc2217 relay switch"
# Asked while the client is connected: ser2net gives the line its own settings back afterwards.
timeout 30 "$kestrum" -q -p "rfc2217://127.0.0.1:$port" -b 19200 -f 8N2 watch --interval 200 \
  >/dev/null 2>&1 &
watcher=$!
pids+=("$watcher")
sleep 1
echo line >&3
for _ in $(seq 50); do grep -q '^line ' "$dir/sim.out" && break; sleep 0.1; done
kill "$watcher"
wait "$watcher" 2>/dev/null || true
grep -q "^line 19200 8N2$" "$dir/sim.out" || fail "the pty runs at $(grep '^line' "$dir/sim.out")"
run -p "rfc2217://127.0.0.1:$port" read
expect 0 "DI1=1 DI2=0 DO1=0 DO2=0" "rfc2217 read"
session_through "rfc2217://127.0.0.1:$port" 0

# --- the window opens through the same server and puts the module into control mode
if [ -n "$window" ]; then
  XDG_RUNTIME_DIR=$dir QT_QPA_PLATFORM=offscreen timeout 60 "$window" \
    --port "rfc2217://127.0.0.1:$port" --open --log-file "$dir/window.log" >/dev/null 2>&1 &
  window_pid=$!
  pids+=("$window_pid")
  # A sanitizer's build of the window on a busy machine starts several times slower.
  for _ in $(seq 300); do grep -q 'AA 55 00 05 E0 50 00 01 35' "$dir/window.log" 2>/dev/null && break; sleep 0.1; done
  grep -q 'AA 55 00 05 E0 50 00 01 35' "$dir/window.log" 2>/dev/null ||
    fail "the window sent no mode frame through the server: $(cat "$dir/window.log" 2>/dev/null)"
  # The server goes away and comes back on the same port: the window reopens by itself, and
  # its open sends the mode frame again.
  stop_ser2net
  sleep 1
  start_ser2net "telnet(rfc2217),tcp" "$port"
  frames() { grep -c 'AA 55 00 05 E0 50 00 01 35' "$dir/window.log" 2>/dev/null || true; }
  # Loss is seen within a few seconds, the reopen tries once a second; a sanitizer's build on a
  # busy machine is several times slower.
  for _ in $(seq 300); do [ "$(frames)" -ge 2 ] && break; sleep 0.1; done
  [ "$(frames)" -ge 2 ] || fail "the window did not reopen when the server came back"
  kill "$window_pid"
  wait "$window_pid" 2>/dev/null || true
fi

# --- loss: the server goes away in the middle of a watch
start=$(date +%s%N)
( sleep 1; kill "$ser2net_pid" ) &
run -p "rfc2217://127.0.0.1:$port" watch --interval 100
elapsed=$(( ($(date +%s%N) - start) / 1000000 ))
expect 4 "device lost" "server gone during watch"
[ "$elapsed" -lt 6000 ] || fail "the loss took ${elapsed} ms to tell"
wait "$ser2net_pid" 2>/dev/null || true

# --- the open's reasons, each with exit 4
run -p "tcp://127.0.0.1:$port" read
expect 4 "connection refused" "nothing listening"
run -p "rfc2217://no-such-host.invalid:$port" read
expect 4 "unknown host" "unresolvable name"
run -p "tcp://127.0.0.1:0" read
expect 4 "not a network port name" "port 0"

# --- socat as a plain raw TCP peer, on IPv6 loopback when the host has it
if /usr/bin/python3 -c 'import socket; socket.socket(socket.AF_INET6).bind(("::1", 0))' 2>/dev/null; then
  host='[::1]'; listen=TCP6-LISTEN; bind='::1'
else
  host=127.0.0.1; listen=TCP4-LISTEN; bind=127.0.0.1
fi
port=$(free_port)
timeout 280 socat "$listen:$port,bind=$bind,reuseaddr,fork" "FILE:$pty,raw,echo=0" 2>"$dir/socat.err" &
pids+=($!)
wait_listening "$port" "$bind"
run -p "tcp://$host:$port" read
expect 0 "DI1=1 DI2=0" "raw read through socat on $host"

echo "PASS"
