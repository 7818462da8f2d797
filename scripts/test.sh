#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test:
#   1. the normal build (build/)             all tests
#   2. ASan + UBSan (build-asan/)            all tests
#   3. ThreadSanitizer (build-tsan/)         the tests labelled 'thread'
#   4. the libFuzzer targets, 20 seconds each (build-fuzz/)
#   5. the Windows build under Wine (build-win/)
# Usage: scripts/test.sh [--quick]   (--quick: step 1 only)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

bash scripts/install-deps.sh

jobs=$(nproc)
export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1
# Several tests start processes and pseudo-terminals; keep their output readable.
export CTEST_OUTPUT_ON_FAILURE=1

failed=()

# Qt for Windows (step 5) is the longest build by far, and the tests of steps 1 to 4 leave the
# cores idle much of the time (they wait on ports, timers and child programs). When its cache
# is missing it is built meanwhile, at the lowest priority, so that it takes only what the
# other steps leave; step 5 waits for it.
qt_pid=""
qt_log=$root/build/build-qt-windows.log
if [ "${1:-}" != "--quick" ] && bash scripts/build-qt-windows.sh --print-prefix | grep -q 'not built'; then
  echo "=== Qt for Windows: building in the background (log: ${qt_log#"$root"/})"
  mkdir -p "$root/build"
  # Its own process group, so that a run that ends early takes the whole build down with it.
  setsid nice -n 19 bash scripts/build-qt-windows.sh >"$qt_log" 2>&1 &
  qt_pid=$!
fi
stop_background_qt() {
  if [ -n "$qt_pid" ] && kill -0 "$qt_pid" 2>/dev/null; then kill -- -"$qt_pid" 2>/dev/null || true; fi
}
trap stop_background_qt EXIT

build_and_test() {  # dir sanitize [ctest args...]
  local dir=$1 sanitize=$2
  shift 2
  echo "=== ${dir}: configure and build (sanitize='${sanitize}')"
  # The benchmarks have no tests: the normal build checks that they build, the sanitizer builds
  # leave them out.
  cmake -S "$root" -B "$root/$dir" -G Ninja -DRTUTEST_WERROR=ON -DRTUTEST_BUILD_TESTS=ON -DRTUTEST_SANITIZE="$sanitize" \
    -DRTUTEST_BUILD_BENCH=$([ -z "$sanitize" ] && echo ON || echo OFF) >/dev/null
  cmake --build "$root/$dir" -j "$jobs"
  echo "=== ${dir}: ctest $*"
  if ! (cd "$root/$dir" && ctest -j "$jobs" --timeout 600 "$@"); then
    failed+=("$dir")
  fi
}

build_and_test build ""
if [ "${1:-}" != "--quick" ]; then
  build_and_test build-asan address -LE no_asan
  # Qt's GLib event loop hands memory between threads under GLib's own futex locks, which
  # ThreadSanitizer cannot see; Qt's plain Unix event loop keeps its reports to real races.
  QT_NO_GLIB=1 build_and_test build-tsan thread -L thread
  echo "=== build-fuzz: each libFuzzer target for a short fixed time"
  bash scripts/fuzz.sh --seconds "${RTUTEST_FUZZ_SECONDS:-20}" || failed+=("build-fuzz")
  if [ -n "$qt_pid" ]; then
    echo "=== Qt for Windows: waiting for the background build"
    wait "$qt_pid" || { tail -40 "$qt_log"; failed+=("Qt for Windows"); }
    tail -2 "$qt_log"
  fi
  if [ -x scripts/test-wine.sh ]; then
    echo "=== build-win: Windows build under Wine"
    # The simulated module the window is tested against: the one step 1 built.
    RTUTEST_WINE_SIM=$root/build/bin/kestrum-sim bash scripts/test-wine.sh || failed+=("build-win")
  fi
fi

if [ ${#failed[@]} -ne 0 ]; then
  echo "FAILED in: ${failed[*]}"
  exit 1
fi
echo "All test runs passed."
