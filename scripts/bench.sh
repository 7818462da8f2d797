#!/usr/bin/env bash
# Builds the benchmarks (Release, build-bench/) and prints their figures. Nothing here passes or
# fails on speed: it measures.
#
# Usage: scripts/bench.sh [section ...]     sections: comm app fuzz (default: all)
#
# Each section is a function bench_<name> below; add one for a new area and list it in
# `all_sections`.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${RTUTEST_BENCH_BUILD_DIR:-$root/build-bench}
all_sections=(comm app fuzz)

bash scripts/install-deps.sh >/dev/null
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DRTUTEST_BUILD_TESTS=OFF >/dev/null

section() { echo; echo "=== $*"; }

bench_comm() {
  section "serial component (bench_comm)"
  cmake --build "$build" --target bench_comm >/dev/null
  "$build/bin/bench_comm"
}

# The window: launch to first paint, idle memory, CPU with auto-read on against the simulated
# module (its own process), the log pane after 400,000 lines (about a day of auto-read).
bench_app() {
  section "window (bench_window)"
  cmake --build "$build" --target bench_window kestrum-sim >/dev/null
  local platform=offscreen
  if [ -n "${DISPLAY:-}" ]; then platform=xcb; fi
  export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-$platform}
  echo "platform: $QT_QPA_PLATFORM"
  if [ -z "${XDG_RUNTIME_DIR:-}" ]; then
    XDG_RUNTIME_DIR=$(mktemp -d)  # Qt wants one; a private empty directory will do
    export XDG_RUNTIME_DIR
  fi

  # Launch: the median of five starts (the first one warms the file cache).
  local runs=() i
  "$build/bin/bench_window" launch "$(date +%s%N)" >/dev/null
  for i in 1 2 3 4 5; do
    runs+=("$("$build/bin/bench_window" launch "$(date +%s%N)" | awk '{print $2}')")
  done
  printf 'launch_to_shown %s ms (median of 5: %s)\n' \
    "$(printf '%s\n' "${runs[@]}" | sort -n | sed -n 3p)" "${runs[*]}"

  "$build/bin/bench_window" idle 3

  local sim_out sim_pid port
  sim_out=$(mktemp)
  "$build/bin/kestrum-sim" --pty --di 1,0 >"$sim_out" 2>/dev/null </dev/null &
  sim_pid=$!
  for i in $(seq 1 100); do
    port=$(head -n 1 "$sim_out" 2>/dev/null || true)
    [ -n "$port" ] && break
    sleep 0.05
  done
  "$build/bin/bench_window" cpu "$port" "${RTUTEST_BENCH_CPU_SECONDS:-60}" || true
  kill -TERM "$sim_pid" 2>/dev/null || true
  wait "$sim_pid" 2>/dev/null || true
  rm -f "$sim_out"

  "$build/bin/bench_window" log 400000
}

# The libFuzzer targets, each for ten million executions (builds build-fuzz/ with clang).
bench_fuzz() {
  section "fuzzing (10,000,000 executions per target)"
  bash "$root/scripts/fuzz.sh" --runs "${RTUTEST_FUZZ_RUNS:-10000000}"
}

sections=("$@")
[ ${#sections[@]} -eq 0 ] && sections=("${all_sections[@]}")
for s in "${sections[@]}"; do
  if ! declare -F "bench_$s" >/dev/null; then
    echo "unknown section: $s (known: ${all_sections[*]})" >&2
    exit 2
  fi
  "bench_$s"
done
