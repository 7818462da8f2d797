#!/usr/bin/env bash
# Renders the window against the simulated module, after relay 2 was switched on and one
# read-all, to docs/screenshot.png (Qt's offscreen platform: no display needed).
# Usage: scripts/screenshot.sh [output.png]   (RTUTEST_BUILD_DIR chooses the build directory,
#        default build/)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
out=${1:-$root/docs/screenshot.png}
build=${RTUTEST_BUILD_DIR:-$root/build}

bash scripts/install-deps.sh
cmake -S "$root" -B "$build" -G Ninja -DRTUTEST_WERROR=ON -DRTUTEST_BUILD_TESTS=ON >/dev/null
cmake --build "$build" --target app_screenshot
mkdir -p "$(dirname "$out")"
QT_QPA_PLATFORM=offscreen "$build/bin/app_screenshot" "$out"
echo "Wrote $out"
