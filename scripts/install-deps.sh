#!/usr/bin/env bash
# Installs the Debian packages one purpose of the project needs, and only those missing.
# Safe to run again; needs root (or sudo) only when something is missing.
#
# Usage: scripts/install-deps.sh [PURPOSE] [extra-package ...]
#        scripts/install-deps.sh --print PURPOSE      (prints the list, installs nothing)
# PURPOSE: run   building and running the window, the command-line tool and the simulator
#          test  everything scripts/test.sh and the other scripts use (the default)
set -euo pipefail

# Building the programs and running them: compiler, CMake, Qt 6 Widgets with its platform
# plugins, and a font with Chinese glyphs for the window's captions.
run_packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools qt6-qpa-plugins libgl-dev fonts-wqy-microhei
  qt6-translations-l10n
)
test_packages=(
  "${run_packages[@]}"
  git
  # tests and benchmarks
  googletest libgtest-dev libgmock-dev libbenchmark-dev socat mbpoll procps
  # serial device servers on loopback, and a look at which ports listen
  ser2net iproute2
  # fuzzing and sanitizers
  clang-14 libclang-rt-14-dev
  # headless display for the window's tests and screenshots; xcb's headers for the probe that
  # pings the window in bench/
  xvfb xauth libxcb1-dev
  # the throughput comparison in bench/
  qt6-serialport-dev
  # the Windows build of the serial component and its tests under Wine
  g++-mingw-w64-x86-64-posix wine64 wine
  # the Windows zip, and Qt for Windows built from Debian's source (apt-get source) with the
  # notices of what its DLLs contain (scripts/lib/qt-third-party.py)
  zip unzip dpkg-dev python3
  # clicks on the Windows window under Xvfb, and a look at its status bar
  xdotool imagemagick
  # the Debian package check (dpkg-shlibdeps comes with build-essential)
  lintian
)

print=false
if [ "${1:-}" = "--print" ]; then
  print=true
  shift
fi
purpose=test
case "${1:-}" in
  run | test) purpose=$1; shift ;;
  "") ;;
  -*) echo "install-deps.sh: unknown option $1 (see the head of $0)" >&2; exit 2 ;;
esac
declare -n purpose_packages="${purpose}_packages"
if $print; then
  [ $# -eq 0 ] || { echo "install-deps.sh: --print takes only a purpose" >&2; exit 2; }
  printf '%s\n' "${purpose_packages[@]}"
  exit 0
fi
packages=("${purpose_packages[@]}" "$@")

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
echo "Installing: ${missing[*]}"
# Only refresh the package lists when they are missing or older than a day.
if [ -z "$(find /var/lib/apt/lists -maxdepth 1 -name '*Packages*' -mtime -1 2>/dev/null | head -1)" ]; then
  $SUDO apt-get update -qq
fi
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
