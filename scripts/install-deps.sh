#!/usr/bin/env bash
# Installs every Debian package the project needs to build, run and test, and only
# what is missing. Safe to run again; needs root (or sudo) only when something is missing.
#
# Usage: scripts/install-deps.sh [extra-package ...]
set -euo pipefail

packages=(
  # build
  build-essential cmake ninja-build pkg-config git
  # tests and benchmarks
  googletest libgtest-dev libgmock-dev libbenchmark-dev socat mbpoll procps
  # fuzzing and sanitizers
  clang-14 libclang-rt-14-dev
  # the window
  qt6-base-dev qt6-base-dev-tools qt6-qpa-plugins libgl-dev fonts-wqy-microhei
  # headless display for the window's tests and screenshots
  xvfb xauth
  # the throughput comparison in bench/
  qt6-serialport-dev
  # the Windows build of the serial component and its tests under Wine
  g++-mingw-w64-x86-64-posix wine64 wine
)
packages+=("$@")

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
