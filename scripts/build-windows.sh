#!/usr/bin/env bash
# Builds the tool for 64-bit Windows and packs it into one zip, ready to unpack and run:
#
#   out/rtutest-<version>-win64.zip, one folder rtutest-<version>-win64/ with
#     rtutest.exe, kestrum.exe               the window and the command-line tool
#     Qt6Core.dll, Qt6Gui.dll, Qt6Widgets.dll, platforms/, styles/, qt.conf
#     libstdc++-6.dll, libgcc_s_seh-1.dll, libwinpthread-1.dll   the MinGW runtime of the Qt DLLs
#     translations/                          Qt's own Chinese texts (the same files on every system)
#     README-Windows.txt, LICENSE.txt, Qt-LGPL-3.0.txt, Qt-GPL-3.0.txt, Qt-SOURCE.txt
#     THIRD-PARTY.txt                        the notices of what the Qt DLLs and the runtime hold
#     source/kestrum-rtutest-<version>.tar.gz   this tool's source, as built
#
# Qt for Windows comes from scripts/build-qt-windows.sh, which builds it (once, into a cache)
# from Debian's own source when it is missing. The programs themselves link the C++ runtime
# statically; only the Qt DLLs need the MinGW runtime DLLs beside them.
#
# Usage: scripts/build-windows.sh            (the zip's path is the last line printed)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${RTUTEST_WINDOWS_BUILD_DIR:-$root/build-win-release}
out=$root/out

bash scripts/install-deps.sh
source scripts/lib/stage-windows.sh
qt=$(bash scripts/build-qt-windows.sh | tail -n 1)
version=$(sed -n 's/^project(kestrum_rtutest VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)

echo "=== building rtutest.exe and kestrum.exe (${build#"$root"/})"
cmake -S "$root" -B "$build" -G Ninja -DRTUTEST_WERROR=ON -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$qt/lib/cmake/Qt6/qt.toolchain.cmake" \
  -DRTUTEST_BUILD_TESTS=OFF -DRTUTEST_BUILD_BENCH=OFF -DRTUTEST_BUILD_SIM=OFF >/dev/null
cmake --build "$build" -j "$(nproc)" --target rtutest kestrum

name=rtutest-$version-win64
stage=$build/$name
stage_windows "$build/bin" "$qt" "$stage"

mkdir -p "$out"
rm -f "$out/$name.zip"
(cd "$build" && zip -q -r -X "$out/$name.zip" "$name")
echo "=== $(du -k "$out/$name.zip" | cut -f1) KiB, $(unzip -Z1 "$out/$name.zip" | grep -vc '/$') files"
echo "$out/$name.zip"
