#!/usr/bin/env bash
# Serial device servers on loopback, measured (nothing here passes or fails):
#   - kestrum read through ser2net (raw and RFC 2217) against the same read on the local pty;
#   - eight network ports at once against one;
#   - how long a server that stops answering (ser2net frozen with SIGSTOP) takes to be reported
#     "device lost", and one that closes its connection;
#   - with a window binary: the window's answers to _NET_WM_PING while "打开串口" connects to a
#     loopback listener that never accepts (its backlog kept full), i.e. a server that never
#     answers.
# Only loopback is used. Every process started here is ended by its pid.
#
# Usage: net_bench.sh BUILD_DIR   (kestrum and kestrum-sim there; bench_ping when built)
set -euo pipefail
build=${1:?usage: net_bench.sh BUILD_DIR}
kestrum=$build/bin/kestrum
sim=$build/bin/kestrum-sim
dir=$(mktemp -d /tmp/kestrum-net-bench-XXXXXX)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill -CONT "$pid" 2>/dev/null || true; kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  rm -rf "$dir"
}
trap cleanup EXIT

free_port() {
  /usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}
wait_listening() {
  for _ in $(seq 100); do [ -n "$(ss -Hltn "sport = :$1")" ] && return 0; sleep 0.05; done
  echo "nothing listens on port $1" >&2
  return 1
}
start_sim() {  # name: starts a simulator, its pty in $dir/NAME.pty
  "$sim" --pty --di 1,0 </dev/null >"$dir/$1.out" 2>/dev/null &
  pids+=($!)
  for _ in $(seq 100); do [ -s "$dir/$1.out" ] && break; sleep 0.05; done
  head -n1 "$dir/$1.out" >"$dir/$1.pty"
}
# ser2net with one connection per "mode port pty" triple given.
start_ser2net() {
  local config=$dir/ser2net-$RANDOM.yaml
  : >"$config"
  while [ $# -gt 0 ]; do
    printf 'connection: &c%s\n  accepter: %s,127.0.0.1,%s\n  connector: serialdev,%s,9600n81,local\n' \
      "$2" "$1" "$2" "$3" >>"$config"
    shift 3
  done
  ser2net -n -u -P "$config.pid" -c "$config" >/dev/null 2>&1 &
  ser2net_pid=$!
  pids+=("$ser2net_pid")
}
median_us() {  # runs the command 21 times: the median whole-program time in microseconds
  local runs=() t0 i
  for i in $(seq 21); do
    t0=$(date +%s%N)
    "$@" >/dev/null 2>&1 || echo "  (exit $? from: $*)" >&2
    runs+=("$((($(date +%s%N) - t0) / 1000))")
  done
  printf '%s\n' "${runs[@]}" | sort -n | sed -n 11p
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

# --- one read: local pty against ser2net
start_sim one
pty=$(cat "$dir/one.pty")
raw=$(free_port)
start_ser2net tcp "$raw" "$pty"
wait_listening "$raw"
local_us=$(median_us "$kestrum" -q -p "$pty" read)
raw_us=$(median_us "$kestrum" -q -p "tcp://127.0.0.1:$raw" read)
kill "$ser2net_pid"; wait "$ser2net_pid" 2>/dev/null || true
telnet=$(free_port)
start_ser2net "telnet(rfc2217),tcp" "$telnet" "$pty"
wait_listening "$telnet"
telnet_us=$(median_us "$kestrum" -q -p "rfc2217://127.0.0.1:$telnet" read)
echo "kestrum read, whole program, median of 21:"
echo "  local pty              $local_us us"
echo "  ser2net raw TCP        $raw_us us ($(ratio "$raw_us" "$local_us")x the pty; goal at most 1.5x)"
echo "  ser2net RFC 2217       $telnet_us us ($(ratio "$telnet_us" "$local_us")x the pty)"

# --- a server that stops answering, and one that goes away
( sleep 1; kill -STOP "$ser2net_pid" ) &
t0=$(date +%s%N)
"$kestrum" -q -p "rfc2217://127.0.0.1:$telnet" watch --interval 200 >/dev/null 2>&1 || status=$?
lost_ms=$((($(date +%s%N) - t0) / 1000000 - 1000))
echo "RFC 2217 server frozen (SIGSTOP) during a watch: kestrum exit ${status:-0} after $lost_ms ms (goal at most 5000)"
kill -CONT "$ser2net_pid"; kill "$ser2net_pid"; wait "$ser2net_pid" 2>/dev/null || true
start_ser2net tcp "$raw" "$pty"
wait_listening "$raw"
( sleep 1; kill "$ser2net_pid" ) &
t0=$(date +%s%N)
status=0
"$kestrum" -q -p "tcp://127.0.0.1:$raw" watch --interval 200 >/dev/null 2>&1 || status=$?
echo "raw TCP server ended during a watch: kestrum exit $status after $((($(date +%s%N) - t0) / 1000000 - 1000)) ms"
wait "$ser2net_pid" 2>/dev/null || true

# --- eight network ports at once against one
triples=()
names=()
for i in $(seq 8); do
  start_sim "m$i"
  port=$(free_port)
  triples+=(tcp "$port" "$(cat "$dir/m$i.pty")")
  names+=(-p "tcp://127.0.0.1:$port")
done
start_ser2net "${triples[@]}"
for ((i = 1; i < ${#triples[@]}; i += 3)); do wait_listening "${triples[$i]}"; done
one_us=$(median_us "$kestrum" -q "${names[@]:0:2}" read)
eight_us=$(median_us "$kestrum" -q "${names[@]}" read)
echo "eight ser2net raw ports at once: $eight_us us against $one_us us for one ($(ratio "$eight_us" "$one_us")x; goal at most 1.2x)"

# --- the window during a connect that never completes
if [ -x "$build/bin/bench_ping" ] && [ -n "${DISPLAY:-}" ]; then
  never=$(free_port)
  /usr/bin/python3 - "$never" <<'PY' &
import socket, sys, time
# Backlog 0 holds one pending connection; two made here fill it, so that the kernel drops every
# later SYN: a connect to this port never completes.
port = int(sys.argv[1])
listener = socket.socket()
listener.bind(("127.0.0.1", port))
listener.listen(0)
held = []
for _ in range(2):
    s = socket.socket(); s.setblocking(False)
    s.connect_ex(("127.0.0.1", port)); held.append(s)
time.sleep(60)
PY
  pids+=($!)
  wait_listening "$never"
  sleep 0.3
  echo "window answers to _NET_WM_PING while connecting to a server that never answers:"
  "$build/bin/bench_ping" --connect "tcp://127.0.0.1:$never" | sed 's/^/  /'
fi
