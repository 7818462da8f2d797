#!/usr/bin/env bash
# Pulls the cable a hundred times: each run starts the window (app_drive loss) with auto-read
# on against the simulated module (kestrum-sim, a program of its own), kills the module at a
# moment the run's number picks (SIGKILL on odd runs, SIGTERM on even ones), lets the window
# run on without it, brings a new module up under a new device path and reopens the port on
# it. Each run must end with the reads resumed, the window never blocked for a send time-out
# (5 s), at most one error box at a time and the status list unchanged while the line was
# gone. Prints every run and then the outcome counts.
#
# Usage: scripts/loss-test.sh [--runs N] [--build DIR]
#        scripts/loss-test.sh [--runs N] --driver PATH --sim PATH   (programs already built)
# Exit status 0 when every run was ok.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

source scripts/lib/drive-window.sh

runs=100
while [ $# -gt 0 ]; do
  case $1 in
    --runs) runs=$2 ;;
    *) drive_option "$1" "${2:-}" ;;
  esac
  shift 2
done
drive_prepare

ok=0 failed=0 crashed=0 hung=0
max_stall=0 boxes=0
declare -A reasons=()
log=$(mktemp)
trap 'rm -f "$log"' EXIT

for run in $(seq 1 "$runs"); do
  set +e
  timeout -k 5 120 "$driver" loss --sim "$sim" --seed "$run" >"$log" 2>/dev/null
  status=$?
  set -e
  line=$(grep '^loss ' "$log" | tail -1 || true)
  if [ "$status" -eq 124 ] || [ "$status" -eq 137 ] && [ -z "$line" ]; then
    hung=$((hung + 1))
    echo "run $run: hung (no end within 120 s)"
    continue
  fi
  if [ "$status" -gt 128 ]; then
    crashed=$((crashed + 1))
    echo "run $run: crashed (signal $((status - 128)))"
    continue
  fi
  echo "run $run: ${line#loss }"
  stall=$(sed -n 's/.* stall_after_pull_ms=\([0-9]*\).*/\1/p' <<<"$line")
  box=$(sed -n 's/.* error_boxes=\([0-9]*\).*/\1/p' <<<"$line")
  [ -n "$stall" ] && [ "$stall" -gt "$max_stall" ] && max_stall=$stall
  boxes=$((boxes + ${box:-0}))
  if [ "$status" -eq 0 ] && [[ "$line" == *" outcome=ok "* ]]; then
    ok=$((ok + 1))
  else
    failed=$((failed + 1))
    reason=$(sed -n 's/.* reason="\(.*\)"$/\1/p' <<<"$line")
    reason=${reason:-exit status $status}
    reasons[$reason]=$(( ${reasons[$reason]:-0} + 1 ))
  fi
done

echo
echo "=== ${runs} pulled cables: ${ok} ok, ${failed} failed, ${crashed} crashed, ${hung} hung"
echo "longest UI stall after a pull: ${max_stall} ms (limit: one send time-out, 5000 ms)"
echo "error boxes in all runs: ${boxes}"
for reason in "${!reasons[@]}"; do
  echo "  failed ${reasons[$reason]}x: $reason"
done
[ "$ok" -eq "$runs" ]
