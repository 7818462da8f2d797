#!/usr/bin/env bash
# The Windows build of the whole tool with its tests, run under Wine:
#   1. builds Qt for Windows when its cache is missing (scripts/build-qt-windows.sh);
#   2. cross-builds with MinGW-w64 and that Qt into build-win/ (the window, kestrum and the
#      tests; no simulator, no benchmarks);
#   3. builds the native helpers (build-win/host: the pty peer and the modem-line shim) and the
#      simulated module (build-win/native);
#   4. runs every Windows test program under Wine in a private prefix (build-win/wineprefix),
#      with "\\.\COM5" and "\\.\COM12" leading to pseudo-terminals whose far end the peer holds;
#   5. runs rtutest.exe and kestrum.exe under Wine and Xvfb against the simulated module on
#      COM7 (tests/win32/programs-on-wine.sh), and both through ser2net on loopback
#      (tests/win32/servers-on-wine.sh);
#   6. lists every test skipped under Wine with its reason and closes with 'N passed, N failed'.
# The ports are mapped the way a Wine user maps them (HKLM\Software\Wine\Ports), so that they
# are in the system's list of serial ports as on Windows.
# Exits non-zero when a test failed, a program crashed or hung, or the build failed.
#
# Without a cached Qt for Windows, RTUTEST_SKIP_WINDOWS_QT=1 leaves the window out (and says
# so) instead of building Qt (about 2,750 s of processor time: 24 minutes on two cores of its
# own, 67 here where five sessions shared two).
#
# Usage: scripts/test-wine.sh [gtest filter]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${RTUTEST_WINE_BUILD_DIR:-$root/build-win}  # another directory: RTUTEST_WINE_BUILD_DIR
filter=${1:-*}
started=$(date +%s)

bash scripts/install-deps.sh

# Adds the closing line 'WORD: N passed, N failed' of a checking script's log to the totals; a
# log without it counts as one failure.
add_script_result() {  # word script log
  local word=$1 script=$2 log=$3 passed failed
  passed=$(sed -n "s/^$word: \([0-9]*\) passed, \([0-9]*\) failed\$/\1/p" "$log" | tail -1)
  failed=$(sed -n "s/^$word: \([0-9]*\) passed, \([0-9]*\) failed\$/\2/p" "$log" | tail -1)
  if [ -z "$passed" ]; then
    passed=0 failed=1
    problems+=("$script: no result line (see $log)")
  fi
  total_passed=$((total_passed + passed))
  total_failed=$((total_failed + failed))
}

build_failed() {
  echo "=== build-win: $1 failed"
  echo "0 passed, 1 failed"
  exit 1
}

with_window=true
if [ "${RTUTEST_SKIP_WINDOWS_QT:-}" = 1 ] && bash scripts/build-qt-windows.sh --print-prefix | grep -q 'not built'; then
  echo "=== build-win: RTUTEST_SKIP_WINDOWS_QT=1 and no Qt for Windows cached: the window and its tests are LEFT OUT"
  with_window=false
  toolchain=$root/cmake/toolchain-mingw64.cmake
else
  qt=$(bash scripts/build-qt-windows.sh | tail -n 1) || build_failed "building Qt for Windows"
  toolchain=$qt/lib/cmake/Qt6/qt.toolchain.cmake
fi

echo "=== build-win: cross build (MinGW-w64)"
# A toolchain is read at the first configure only: a build made with another one starts anew.
if [ -f "$build/CMakeCache.txt" ] && ! grep -qx "CMAKE_TOOLCHAIN_FILE:[A-Z]*=$toolchain" "$build/CMakeCache.txt"; then
  rm -rf "$build/CMakeCache.txt" "$build/CMakeFiles"
fi
cmake -S "$root" -B "$build" -G Ninja -DRTUTEST_WERROR=ON --no-warn-unused-cli \
  -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DRTUTEST_BUILD_APP=$($with_window && echo ON || echo OFF) \
  -DRTUTEST_BUILD_BENCH=OFF -DRTUTEST_BUILD_SIM=OFF >/dev/null ||
  build_failed "configuring the cross build"
cmake --build "$build" -j "$(nproc)" || build_failed "the cross build"

echo "=== build-win/host: native helpers"
cmake -S "$root/tests/win32/host" -B "$build/host" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null ||
  build_failed "configuring the native helpers"
cmake --build "$build/host" || build_failed "the native helpers"
peer=$build/host/rtutest-wine-peer
shim=$build/host/rtutest-pty-modem-shim.so
# The simulated module: the one RTUTEST_WINE_SIM names (scripts/test.sh hands over its own),
# or one built here.
sim=${RTUTEST_WINE_SIM:-}
if [ ! -x "$sim" ]; then
  cmake -S "$root" -B "$build/native" -G Ninja -DRTUTEST_BUILD_APP=OFF -DRTUTEST_BUILD_TESTS=OFF \
    -DRTUTEST_BUILD_BENCH=OFF >/dev/null || build_failed "configuring the simulated module"
  cmake --build "$build/native" --target kestrum-sim >/dev/null || build_failed "the simulated module"
  sim=$build/native/bin/kestrum-sim
fi
built=$(date +%s)

# A private prefix, no display, no debug channels, no Mono/Gecko installers. The shim is
# loaded into every Wine process, the server included (see tests/win32/host).
export WINEPREFIX=$build/wineprefix
export WINEARCH=win64
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export LD_PRELOAD=$shim
unset DISPLAY WAYLAND_DISPLAY

# A server left from an earlier run may lack the shim: end it (this prefix's only).
wineserver -k 2>/dev/null || true
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "=== creating the Wine prefix"
  timeout 300 wine wineboot --init >/dev/null 2>&1 || { echo "wineboot failed"; exit 1; }
  timeout 60 wineserver -w || true
fi
# The serial lines, mapped in Wine's own table: its device manager then makes each a serial
# device of the system (in SERIALCOMM, as on Windows) whose Unix side is a link in $lines, which
# the peer (COM5, COM12) or the simulated module (COM7) points at a pseudo-terminal.
lines=$build/lines
mkdir -p "$lines"
for port in com5 com7 com12; do
  timeout 60 wine reg add 'HKLM\Software\Wine\Ports' /v "${port^^}" /d "$lines/$port" /f \
    >/dev/null 2>&1 || { echo "mapping ${port^^} failed"; exit 1; }
done
timeout 60 wineserver -k 2>/dev/null || true
timeout 60 wineserver -w 2>/dev/null || true
# The Qt DLLs and the MinGW runtime they need, for the test programs that use Qt. The programs
# themselves run from a folder laid out as the zip is (scripts/build-windows.sh).
if $with_window; then
  windows_path() { local path=${1//\//\\}; echo "Z:$path"; }
  gcc_runtime=$(dirname "$(x86_64-w64-mingw32-g++-posix -print-libgcc-file-name)")
  export WINEPATH="$(windows_path "$qt/bin");$(windows_path "$gcc_runtime");$(windows_path /usr/x86_64-w64-mingw32/lib)"
  source scripts/lib/stage-windows.sh
  stage_windows "$build/bin" "$qt" "$build/rtutest-win64" || build_failed "laying out the programs"
fi
# Keep one server for the whole run instead of one per program, and start the session's
# own processes once, with no terminal output to hold on to.
wineserver -p
timeout 120 wine cmd /c exit </dev/null >/dev/null 2>&1 || true
cleanup() { wineserver -k 2>/dev/null || true; }
trap cleanup EXIT

logs=$build/wine-logs
rm -rf "$logs" 2>/dev/null || { sleep 1; rm -rf "$logs"; }
mkdir -p "$logs"

total_passed=0
total_failed=0
total_skipped=0
problems=()
skips=()

while IFS= read -r program; do
  [ -n "$program" ] || continue
  name=$(basename "$program" .exe)
  log=$logs/$name.log
  # Wine maps a COM port without a link to /dev/ttyS<n>, which is the kernel console here:
  # drop any such link before each program (the shim refuses those devices as well).
  for link in "$WINEPREFIX"/dosdevices/com*; do
    if [ -L "$link" ] && [[ "$(readlink "$link")" == /dev/ttyS* ]]; then rm -f "$link"; fi
  done
  echo "=== $name (under Wine)"
  t0=$(date +%s)
  # Output goes to a file, not a pipe: the Wine session's own processes (services, device
  # host) inherit it and outlive the program.
  set +e
  "$peer" --dosdevices "$lines" --port com5 --port com12 --timeout 240 -- \
    wine "$program" --gtest_color=no --gtest_filter="$filter" </dev/null >"$log" 2>&1
  status=$?
  set -e
  sed -i 's/\r$//' "$log"  # the Windows console ends its lines with CR LF
  cat "$log"
  t1=$(date +%s)

  passed=$(sed -n 's/^\[  PASSED  \] \([0-9]*\) tests\{0,1\}\..*/\1/p' "$log" | tail -1)
  failed=$(sed -n 's/^\[  FAILED  \] \([0-9]*\) tests\{0,1\}, listed below:.*/\1/p' "$log" | tail -1)
  skipped=$(sed -n 's/^\[  SKIPPED \] \([0-9]*\) tests\{0,1\}, listed below:.*/\1/p' "$log" | tail -1)
  passed=${passed:-0}
  failed=${failed:-0}
  skipped=${skipped:-0}
  if [ "$status" -ne 0 ] && [ "$failed" -eq 0 ]; then
    # Crashed, hung (the watchdog or the peer ended it) or never started.
    failed=1
    problems+=("$name: exit status $status without a test result (crash or hang; see $log)")
  elif ! grep -q '^\[==========\] .* ran\.' "$log"; then
    failed=$((failed + 1))
    problems+=("$name: no test summary (see $log)")
  fi
  total_passed=$((total_passed + passed))
  total_failed=$((total_failed + failed))
  total_skipped=$((total_skipped + skipped))
  echo "--- $name: $passed passed, $failed failed, $skipped skipped in $((t1 - t0)) s"

  # Each skip with its reason: the line after "...: Skipped" up to the "[  SKIPPED ]" line.
  while IFS= read -r line; do
    skips+=("$line")
  done < <(awk '
    /: Skipped$/ { reason = ""; collecting = 1; next }
    collecting && /^\[  SKIPPED \] [^ ]+ \(/ {
      printf "%s: %s\n", $4, reason; collecting = 0; next
    }
    collecting { reason = (reason == "" ? $0 : reason " " $0) }
  ' "$log")
done < "$build/cross-tests.txt"

if $with_window; then
  echo "=== rtutest.exe and kestrum.exe against the simulated module (under Wine and Xvfb)"
  log=$logs/programs.log
  set +e
  xvfb-run -a -s '-screen 0 1280x1024x24' bash tests/win32/programs-on-wine.sh \
    "$build/rtutest-win64" "$sim" "$lines" "$logs" "$qt" 2>&1 | tee "$log"
  set -e
  add_script_result programs programs-on-wine.sh "$log"
  while IFS= read -r line; do
    skips+=("$line")
    total_skipped=$((total_skipped + 1))
  done < <(sed -n 's/^  SKIPPED //p' "$log")
fi

echo "=== kestrum.exe and rtutest.exe through serial device servers on loopback (ser2net, under Wine)"
log=$logs/servers.log
set +e
if $with_window; then
  xvfb-run -a -s '-screen 0 1280x1024x24' bash tests/win32/servers-on-wine.sh \
    "$build/bin/kestrum.exe" "$sim" "$build/rtutest-win64/rtutest.exe" 2>&1 | tee "$log"
else
  bash tests/win32/servers-on-wine.sh "$build/bin/kestrum.exe" "$sim" 2>&1 | tee "$log"
fi
set -e
add_script_result servers servers-on-wine.sh "$log"

finished=$(date +%s)
echo
echo "=== Windows tests under Wine: skipped with the reason (Wine differs from Windows there)"
for s in "${skips[@]}"; do echo "  SKIPPED $s"; done
for s in "${skips[@]}"; do
  [[ "$s" == *": Wine 8: "* ]] || echo "  note: not a Wine difference: $s"
done
for p in "${problems[@]}"; do echo "  PROBLEM $p"; done
echo "=== build $((built - started)) s, tests $((finished - built)) s, logs in $logs"
echo "$total_passed passed, $total_failed failed, $total_skipped skipped"
[ "$total_failed" -eq 0 ]
