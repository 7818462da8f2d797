#!/usr/bin/env bash
# An independent Modbus master against the simulated module: mbpoll reads the input registers
# 0x0010-0x0011 and writes and reads back relay registers of a running kestrum-sim, over a
# socat pseudo-terminal pair in a temporary directory. Every process started here is ended by
# its pid when the script exits; each also runs under `timeout`, so that nothing outlives a
# script killed by the test runner.
#
# Usage: mbpoll_test.sh path/to/kestrum-sim
set -euo pipefail

sim=${1:?usage: mbpoll_test.sh path/to/kestrum-sim}
for tool in socat mbpoll; do
  command -v "$tool" >/dev/null || { echo "FAIL: $tool is not installed (scripts/install-deps.sh)"; exit 1; }
done

dir=$(mktemp -d /tmp/kestrum-mbpoll-XXXXXX)
socat_pid=""
sim_pid=""
cleanup() {
  for pid in $sim_pid $socat_pid; do
    kill "$pid" 2>/dev/null || true
  done
  for pid in $sim_pid $socat_pid; do
    wait "$pid" 2>/dev/null || true
  done
  rm -rf "$dir"
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*"
  echo "--- simulator log:"
  cat "$dir/sim.err" 2>/dev/null || true
  exit 1
}

# Two linked pseudo-terminals: the module on one end, mbpoll on the other.
timeout 110 socat pty,raw,echo=0,link="$dir/module" pty,raw,echo=0,link="$dir/master" 2>"$dir/socat.err" &
socat_pid=$!
for _ in $(seq 100); do
  [ -e "$dir/module" ] && [ -e "$dir/master" ] && break
  sleep 0.1
done
[ -e "$dir/module" ] && [ -e "$dir/master" ] || fail "socat made no pty pair: $(cat "$dir/socat.err")"

timeout 110 "$sim" --device "$dir/module" --address 100 --di 1,0 --verbose </dev/null >"$dir/sim.out" 2>"$dir/sim.err" &
sim_pid=$!
for _ in $(seq 100); do
  [ -s "$dir/sim.out" ] && break
  kill -0 "$sim_pid" 2>/dev/null || fail "kestrum-sim ended early"
  sleep 0.1
done
[ "$(head -n1 "$dir/sim.out")" = "$dir/module" ] || fail "kestrum-sim did not print its device"

# -0: references count from 0, so -r 16 is register 0x0010. -1: one poll. -o: time-out in s.
mbpoll_bin=$(command -v mbpoll)
mbpoll() { timeout 30 "$mbpoll_bin" "$@"; }
common=(-m rtu -a 100 -b 9600 -d 8 -P none -s 1 -0 -1 -o 5)
values() {  # prints the values mbpoll read, one per line, as "ref value"
  sed -n 's/^\[\([0-9]*\)\]:[[:space:]]*\(-\{0,1\}[0-9]*\).*/\1 \2/p'
}
expect() {  # name, expected lines, actual lines
  if [ "$2" != "$3" ]; then
    fail "$1: expected [$2], got [$3]"
  fi
  echo "ok: $1"
}

out=$(mbpoll "${common[@]}" -t 4 -r 16 -c 2 "$dir/master" 2>&1) || fail "mbpoll read of 0x0010: $out"
expect "inputs 0x0010-0x0011" $'16 1\n17 0' "$(values <<<"$out")"

out=$(mbpoll "${common[@]}" -t 4 -r 21 "$dir/master" 1 2>&1) || fail "mbpoll write of 0x0015: $out"
out=$(mbpoll "${common[@]}" -t 4 -r 20 -c 4 "$dir/master" 2>&1) || fail "mbpoll read of 0x0014: $out"
expect "relays after writing relay 2 on" $'20 0\n21 1\n22 0\n23 0' "$(values <<<"$out")"

# Several registers in one write (function 16), then read back.
out=$(mbpoll "${common[@]}" -t 4 -r 20 "$dir/master" 1 1 0 1 2>&1) || fail "mbpoll write of 4 relays: $out"
out=$(mbpoll "${common[@]}" -t 4 -r 20 -c 4 "$dir/master" 2>&1) || fail "mbpoll read of 0x0014: $out"
expect "relays after writing 1 1 0 1" $'20 1\n21 1\n22 0\n23 1' "$(values <<<"$out")"

# A refused write comes back as a Modbus exception, which mbpoll reports as a failure.
if out=$(mbpoll "${common[@]}" -t 4 -r 16 "$dir/master" 1 2>&1); then
  fail "writing input register 0x0010 was accepted: $out"
fi
grep -qi "illegal data address" <<<"$out" || fail "no illegal-data-address exception: $out"
echo "ok: write to an input refused with exception 02"

grep -q "RX 64 03 00 10 00 02 CC 3B" "$dir/sim.err" || fail "the simulator did not log the read request"
kill "$sim_pid"
wait "$sim_pid" || fail "kestrum-sim did not end cleanly on SIGTERM"
sim_pid=""
echo "mbpoll test passed"
