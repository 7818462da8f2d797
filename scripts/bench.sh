#!/usr/bin/env bash
# Builds the benchmarks (Release, build-bench/) and prints their figures. Nothing here passes or
# fails on speed: it measures.
#
# Usage: scripts/bench.sh [section ...]     sections: comm cli app ping replug net fuzz (default: all)
#
# Each section is a function bench_<name> below; add one for a new area and list it in
# `all_sections`.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${RTUTEST_BENCH_BUILD_DIR:-$root/build-bench}
all_sections=(comm cli app ping replug net fuzz)

bash scripts/install-deps.sh >/dev/null
# The tests are configured too (none is built here): the re-plug benchmark reuses the window
# tests' scenario code.
cmake -S "$root" -B "$build" -G Ninja -DRTUTEST_WERROR=ON -DCMAKE_BUILD_TYPE=Release -DRTUTEST_BUILD_TESTS=ON >/dev/null

section() { echo; echo "=== $*"; }

bench_comm() {
  section "serial component (bench_comm)"
  cmake --build "$build" --target bench_comm >/dev/null
  "$build/bin/bench_comm" --runs 9
  # A caller that reads a small block at a time (a Modbus master reads frames of a few bytes).
  "$build/bin/bench_comm" --runs 9 --chunk 4096 --only throughput
}

# kestrum against the simulated module on ptys: the read-all round trip (median of 1000), 1, 4
# and 8 ports at once against one, and the whole program (start, open, read-all, close, exit)
# as a production-line script calls it, against the simulator program.
bench_cli() {
  section "command line (bench_cli, kestrum)"
  cmake --build "$build" --target bench_cli kestrum kestrum-sim >/dev/null
  "$build/bin/bench_cli" 1000
  local i t0 t1 runs=()
  start_sim
  for i in $(seq 1 101); do
    t0=$(date +%s%N)
    "$build/bin/kestrum" -q -p "$sim_port" read || echo "kestrum read: exit code $?"
    t1=$(date +%s%N)
    runs+=("$(((t1 - t0) / 1000))")
  done
  printf 'kestrum -p PTY read, the whole program: median %s us of 101 runs\n' \
    "$(printf '%s\n' "${runs[@]}" | sort -n | sed -n 51p)"
  stop_sim
  against_mbpoll 30 prompt
  # At 9600 baud a request (8 bytes) and its reply (9) take 17.7 ms on the wire: the simulator
  # answers that long after each request, so the read's wire time is 35.4 ms.
  against_mbpoll 30 "paced 9600 (wire time 35.4 ms)" --delay 18
  against_mbpoll 5 "silent (no module at the address)" --address 7
}

# Microseconds one command takes, start to exit.
wall_us() {
  local t0 t1
  t0=$(date +%s%N)
  "$@" >/dev/null 2>&1 || true
  t1=$(date +%s%N)
  echo $(((t1 - t0) / 1000))
}

# kestrum read (DI1, DI2, DO1, DO2: two requests) against mbpoll reading the same two blocks
# (two one-shot runs), interleaved, each with its default settings (mbpoll: 1 s time-out),
# against the simulator program started with the given options. Medians.
against_mbpoll() {
  local runs=$1 name=$2 i k m
  shift 2
  command -v mbpoll >/dev/null || { echo "mbpoll not installed: no comparison"; return; }
  start_sim "$@"
  local kestrum_us=() mbpoll_us=()
  local poll=(mbpoll -m rtu -b 9600 -P none -a 100 -t 4 -c 2 -0 -1 -q)
  for i in $(seq 1 "$runs"); do
    kestrum_us+=("$(wall_us "$build/bin/kestrum" -q -p "$sim_port" read)")
    m=$(wall_us "${poll[@]}" -r 16 "$sim_port")
    mbpoll_us+=("$((m + $(wall_us "${poll[@]}" -r 20 "$sim_port")))")
  done
  k=$(printf '%s\n' "${kestrum_us[@]}" | sort -n | sed -n "$(((runs + 1) / 2))p")
  m=$(printf '%s\n' "${mbpoll_us[@]}" | sort -n | sed -n "$(((runs + 1) / 2))p")
  awk -v name="$name" -v k="$k" -v m="$m" -v runs="$runs" 'BEGIN {
    printf "read, %s: kestrum %.1f ms, mbpoll %.1f ms (median of %d interleaved runs): %.2fx\n",
      name, k / 1000, m / 1000, runs, k / m }'
  stop_sim
}

# Serial device servers on loopback (bench/net/net_bench.sh): kestrum through ser2net against the
# local pty, eight network ports against one, a frozen server's loss, and the window's answers
# while it connects to a server that never answers.
bench_net() {
  section "serial device servers (bench/net, ser2net on loopback)"
  cmake --build "$build" --target kestrum kestrum-sim >/dev/null
  if cmake --build "$build" --target help | grep '^bench_ping:' >/dev/null; then
    cmake --build "$build" --target bench_ping >/dev/null
    start_display || true
  fi
  bash bench/net/net_bench.sh "$build"
  stop_display
}

# The simulator program on a pty of its own (options go to it); its device is in $sim_port.
start_sim() {
  sim_out=$(mktemp)
  "$build/bin/kestrum-sim" --pty "$@" >"$sim_out" 2>/dev/null </dev/null &
  sim_pid=$!
  local i
  for i in $(seq 1 100); do
    sim_port=$(head -n 1 "$sim_out" 2>/dev/null || true)
    [ -n "$sim_port" ] && break
    sleep 0.05
  done
}

stop_sim() {
  kill -TERM "$sim_pid" 2>/dev/null || true
  wait "$sim_pid" 2>/dev/null || true
  rm -f "$sim_out"
}

# The window: launch to first paint, idle memory, CPU with the port open and quiet and then with
# auto-read on against the simulated module (its own process), the log pane after 400,000 lines (about a day of auto-read); and,
# side by side with CuteCom (a Qt serial terminal users already know) under the same X display,
# the time from launch to a window on screen and the idle memory of both.
# Without a display the section starts an Xvfb of its own and runs everything on it.
bench_app() {
  section "window (bench_window, and side by side with CuteCom)"
  bash scripts/install-deps.sh cutecom x11-utils >/dev/null
  cmake --build "$build" --target bench_window rtutest kestrum-sim >/dev/null
  start_display || return 0

  # Launch: the median of five starts (the first one warms the file cache).
  local runs=() i
  "$build/bin/bench_window" launch "$(date +%s%N)" >/dev/null
  for i in 1 2 3 4 5; do
    runs+=("$("$build/bin/bench_window" launch "$(date +%s%N)" | awk '{print $2}')")
  done
  printf 'launch_to_shown %s ms (median of 5: %s)\n' \
    "$(printf '%s\n' "${runs[@]}" | sort -n | sed -n 3p)" "${runs[*]}"

  "$build/bin/bench_window" idle 3

  start_sim --di 1,0
  "$build/bin/bench_window" cpu "$sim_port" "${RTUTEST_BENCH_CPU_SECONDS:-60}" || true
  stop_sim

  "$build/bin/bench_window" log 400000

  side_by_side "$build/bin/rtutest" /usr/bin/cutecom
  stop_display
}

# The window's answers to the window system with auto-read on: a _NET_WM_PING every 50 ms, as
# a window manager sends, for RTUTEST_BENCH_PING_SECONDS (default 60); the worst answer should
# stay within 100 ms.
bench_ping() {
  section "window answers with auto-read on (bench_ping, _NET_WM_PING every 50 ms)"
  if ! cmake --build "$build" --target help | grep '^bench_ping:' >/dev/null; then
    echo "skipped: bench_ping is not configured (xcb's headers are missing: libxcb1-dev)"
    return 0
  fi
  cmake --build "$build" --target bench_ping kestrum-sim >/dev/null
  start_display || return 0
  start_sim --di 1,0
  # Answers are late when the machine is busy: the load says how busy it was.
  echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
  "$build/bin/bench_ping" "$sim_port" "${RTUTEST_BENCH_PING_SECONDS:-60}" || true
  echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
  stop_sim
  stop_display
}

# A re-plug during auto-read: the simulator killed and started again on the same link, timed
# from its return to the window's own reopen and to the first decoded reply (no display).
bench_replug() {
  section "re-plug during auto-read (bench_replug, kestrum-sim on a fixed link)"
  cmake --build "$build" --target bench_replug kestrum-sim >/dev/null
  with_runtime_dir
  QT_QPA_PLATFORM=offscreen "$build/bin/bench_replug" "$build/bin/kestrum-sim" \
    "${RTUTEST_BENCH_REPLUG_RUNS:-10}" || true
}

with_runtime_dir() {
  if [ -z "${XDG_RUNTIME_DIR:-}" ]; then
    XDG_RUNTIME_DIR=$(mktemp -d)  # Qt wants one; a private empty directory will do
    export XDG_RUNTIME_DIR
  fi
}

# The X display the window sections run on: $DISPLAY when set, else an Xvfb of our own (stopped
# by stop_display). Without either, says that the section is skipped and fails, so that the
# caller returns.
xvfb_pid=""
start_display() {
  with_runtime_dir
  export QT_QPA_PLATFORM=xcb
  if [ -n "${DISPLAY:-}" ]; then
    echo "display: $DISPLAY"
    return 0
  fi
  if ! command -v Xvfb >/dev/null; then
    echo "skipped: no display and no Xvfb (scripts/install-deps.sh installs xvfb)"
    return 1
  fi
  local display_file
  display_file=$(mktemp)
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$display_file" 2>/dev/null &
  xvfb_pid=$!
  for _ in $(seq 1 100); do
    [ -s "$display_file" ] && break
    sleep 0.05
  done
  export DISPLAY=":$(cat "$display_file")"
  rm -f "$display_file"
  echo "display: Xvfb $DISPLAY (1280x1024, 24 bits)"
}

stop_display() {
  if [ -n "$xvfb_pid" ]; then
    kill -TERM "$xvfb_pid" 2>/dev/null || true
    wait "$xvfb_pid" 2>/dev/null || true
    xvfb_pid=""
    unset DISPLAY
  fi
}

# True when a top-level window of the X class instance $1 (the program's name) is on screen.
window_viewable() {
  local id
  for id in $(xwininfo -root -children 2>/dev/null | awk -v c="(\"$1\"" 'index($0, c) {print $1}'); do
    xwininfo -id "$id" 2>/dev/null | grep -q 'Map State: IsViewable' && return 0
  done
  return 1
}

# Both programs measured the same way from outside: the time from starting the program to its
# main window being viewable (median of five starts after one that warms the file cache), then
# its resident memory (and proportional share) after three idle seconds. Each start gets an
# empty home directory, so no saved settings or sessions come into play.
side_by_side() {
  echo
  echo "side by side on $DISPLAY: launch to a viewable window (median of 5) and idle memory"
  printf '%-10s %12s %14s %14s\n' tool launch_ms idle_rss_MiB idle_pss_MiB
  local program name home pid t0 t1 times rss pss i ours_rss=""
  for program in "$@"; do
    name=$(basename "$program")
    times=()
    for i in 0 1 2 3 4 5; do
      home=$(mktemp -d)
      t0=$(date +%s%N)
      HOME=$home XDG_CONFIG_HOME=$home/.config "$program" >/dev/null 2>&1 &
      pid=$!
      until window_viewable "$name"; do
        if ! kill -0 "$pid" 2>/dev/null || [ $(($(date +%s%N) - t0)) -gt 30000000000 ]; then
          break
        fi
        sleep 0.005
      done
      t1=$(date +%s%N)
      [ "$i" -gt 0 ] && times+=("$(((t1 - t0) / 1000000))")
      if [ "$i" -eq 5 ]; then
        sleep 3
        rss=$(awk '/^VmRSS:/ {printf "%.1f", $2 / 1024}' "/proc/$pid/status" 2>/dev/null || echo "?")
        pss=$(awk '/^Pss:/ {printf "%.1f", $2 / 1024}' "/proc/$pid/smaps_rollup" 2>/dev/null ||
          echo "?")
      fi
      kill -TERM "$pid" 2>/dev/null || true
      wait "$pid" 2>/dev/null || true
      rm -rf "$home"
    done
    printf '%-10s %12s %14s %14s   (starts: %s ms)\n' "$name" \
      "$(printf '%s\n' "${times[@]}" | sort -n | sed -n 3p)" "$rss" "$pss" "${times[*]}"
    if [ -z "$ours_rss" ]; then
      ours_rss=$rss
    else
      awk -v a="$ours_rss" -v b="$rss" -v n="$name" \
        'BEGIN { if (b > 0) printf "idle RSS against %s: %.2f (target: at most 0.50)\n", n, a / b }'
    fi
  done
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
