#!/usr/bin/env bash
# Leaves the window reading the simulated module for a long time over a faulty line: auto-read
# on (a read-all about every 1.9 s) against kestrum-sim started with --corrupt 0.01 --drop 0.01
# (one reply in a hundred has a bit flipped, one in a hundred never comes). Then prints the
# figures of the run: read-alls done, the CRC error lines against the corruptions the module
# injected, error boxes, the longest UI stall, resident memory at the start and the end, and
# how much of it the log lines hold.
#
# Fails (exit status 1) when the window crashed or hung, when a decoded reply with a bad CRC
# was not reported as "CRC校验失败！", or when an error box came up.
#
# Usage: scripts/soak.sh [--seconds S] [--build DIR] [-- simulator options]
#        scripts/soak.sh [--seconds S] --driver PATH --sim PATH   (programs already built)
#   default 3600 seconds; simulator options default to --corrupt 0.01 --drop 0.01
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

source scripts/lib/drive-window.sh

seconds=3600
sim_options=(--corrupt 0.01 --drop 0.01)
while [ $# -gt 0 ]; do
  case $1 in
    --seconds) seconds=$2 ;;
    --) shift; sim_options=("$@"); break ;;
    *) drive_option "$1" "${2:-}" ;;
  esac
  shift 2
done
drive_prepare

echo "=== soak: auto-read for ${seconds} s against kestrum-sim ${sim_options[*]}"
set +e
timeout -k 10 $((seconds + 120)) "$driver" soak --sim "$sim" --seconds "$seconds" -- \
  "${sim_options[@]}" 2> >(grep -v '^QStandardPaths' >&2)
status=$?
set -e
case $status in
  0) echo "=== soak: passed" ;;
  124 | 137) echo "=== soak: FAILED, the window did not finish in time" ;;
  1) echo "=== soak: FAILED (see the figures above)" ;;
  *) echo "=== soak: FAILED, exit status $status$([ "$status" -gt 128 ] && echo " (signal $((status - 128)))")" ;;
esac
exit "$status"
