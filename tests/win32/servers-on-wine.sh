#!/usr/bin/env bash
# kestrum.exe under Wine through serial device servers on loopback: ser2net in front of the
# (native) simulated module's pseudo-terminal in raw TCP and in RFC 2217 mode, and a port
# nothing listens on. Prints "servers: N passed, N failed". Every process started here is ended
# by its pid.
#
# Usage: servers-on-wine.sh path/to/kestrum.exe path/to/kestrum-sim
set -uo pipefail
kestrum_exe=$1 sim=$2
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
free_port() {
  /usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

timeout 300 "$sim" --pty --di 1,0 </dev/null >"$dir/sim.out" 2>/dev/null &
pids+=($!)
for _ in $(seq 100); do [ -s "$dir/sim.out" ] && break; sleep 0.1; done
pty=$(head -n1 "$dir/sim.out")
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
  kill "$server"
  wait "$server" 2>/dev/null
done
check "refused" 4 "connection refused" -p "tcp://127.0.0.1:$port" read
echo "servers: $passed passed, $failed failed"
