#!/usr/bin/env bash
# Cross-builds the part of Qt 6 the window needs (Core, Gui, Widgets, the windows platform
# plugin and the Windows styles) for 64-bit Windows with Debian's MinGW-w64 (posix threads),
# from Debian's own qt6-base source package of the same version as the host's Qt, with the
# host Qt's tools (moc, rcc, uic). Nothing the zip does not ship is built. Installs into a
# cache outside the tree, reused while the host's Qt keeps its version and this script its
# configuration, and prints the install folder on its last line.
#
#   ${XDG_CACHE_HOME:-$HOME/.cache}/kestrum-rtutest/qt-<version>-mingw64-<configuration hash>
#
# Beside the installed Qt it keeps what the zip's licence notices are made of: the Debian
# source version and patches, and the third-party parts the shipped DLLs were built from
# (third-party/, see scripts/lib/qt-third-party.py).
#
# When the machine has no deb-src entry for Debian's archive, one is added
# (/etc/apt/sources.list.d/kestrum-rtutest-src.sources) so that `apt-get source` can fetch it.
#
# Usage: scripts/build-qt-windows.sh [--print-prefix]
#   --print-prefix   print where the cache is (or would be) and whether it is complete; build nothing
#   RTUTEST_KEEP_QT_BUILD=1   keep the source and build folder (work-*) beside the cache
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

host_version=$(dpkg-query -W -f='${Version}' qt6-base-dev 2>/dev/null || true)
if [ -z "$host_version" ]; then
  bash scripts/install-deps.sh
  host_version=$(dpkg-query -W -f='${Version}' qt6-base-dev)
fi
# Debian's tarball has no wintab.h, so tablet events are off. OpenGL stays on: the windows
# platform plugin of this Qt version does not compile without it (Qt6OpenGL.dll is built but
# not needed at run time). No image format plugins (the window draws its few glyphs itself),
# no Direct2D platform plugin.
qt_features=(
  -DFEATURE_tabletevent=OFF
  -DFEATURE_network=OFF -DFEATURE_sql=OFF -DFEATURE_dbus=OFF -DFEATURE_printsupport=OFF
  -DFEATURE_testlib=OFF -DFEATURE_concurrent=OFF -DFEATURE_xml=OFF
  -DFEATURE_sql_sqlite=OFF -DFEATURE_vulkan=OFF -DFEATURE_pkg_config=OFF
  -DFEATURE_system_zlib=OFF -DFEATURE_system_pcre2=OFF -DFEATURE_system_harfbuzz=OFF
  -DFEATURE_system_freetype=OFF -DFEATURE_system_libpng=OFF -DFEATURE_system_libjpeg=OFF
  -DFEATURE_system_doubleconversion=OFF -DFEATURE_system_md4c=OFF
  -DFEATURE_icu=OFF -DFEATURE_openssl=OFF
  -DFEATURE_gif=OFF -DFEATURE_jpeg=OFF -DFEATURE_ico=OFF
  -DFEATURE_direct2d1_1=OFF
)
# The minimal and offscreen platform plugins and the OpenGL widgets module have no feature
# switch in this Qt version: their lines go from the build lists (no shipped code changes).
qt_unbuilt=(
  's/^\(\s*add_subdirectory(minimal)\)/# \1/' src/plugins/platforms/CMakeLists.txt
  's/^\(\s*add_subdirectory(offscreen)\)/# \1/' src/plugins/platforms/CMakeLists.txt
  's/^\(\s*add_subdirectory(openglwidgets)\)/# \1/' src/CMakeLists.txt
)
# A new configuration gets a new cache folder, so that a cache built otherwise is not reused.
configuration=$(printf '%s\n' "${qt_features[@]}" "${qt_unbuilt[@]}" "-ffile-prefix-map: source and build folders" |
  cat - cmake/toolchain-mingw64.cmake | sha256sum | cut -c1-8)

cache_root=${XDG_CACHE_HOME:-$HOME/.cache}/kestrum-rtutest
prefix=$cache_root/qt-${host_version//[:~]/_}-mingw64-$configuration
stamp=$prefix/.complete

if [ "${1:-}" = "--print-prefix" ]; then
  if [ -f "$stamp" ]; then echo "$prefix"; else echo "$prefix (not built)"; fi
  exit 0
fi
if [ -f "$stamp" ]; then
  echo "Qt for Windows $host_version: cached"
  echo "$prefix"
  exit 0
fi

bash scripts/install-deps.sh test dpkg-dev
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"

# apt-get source needs a deb-src entry for the archive the host's Qt came from.
if ! grep -rqsE '^(Types:.*deb-src|deb-src )' /etc/apt/sources.list /etc/apt/sources.list.d/; then
  echo "=== adding a deb-src entry for Debian's archive (for apt-get source)"
  codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
  $SUDO tee /etc/apt/sources.list.d/kestrum-rtutest-src.sources >/dev/null <<EOF
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: $codename $codename-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg

Types: deb-src
URIs: http://deb.debian.org/debian-security
Suites: $codename-security
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
EOF
  $SUDO apt-get update -qq
fi

work=$cache_root/work-${host_version//[:~]/_}-$configuration
rm -rf "$cache_root"/work-* "$prefix"
mkdir -p "$work"
echo "=== fetching Debian's qt6-base $host_version source"
(cd "$work" && apt-get source -qq "qt6-base=$host_version" >"$work/source.log" 2>&1) || {
  cat "$work/source.log"
  exit 1
}
src=$(find "$work" -maxdepth 1 -type d -name 'qt6-base-*' | head -1)
[ -n "$src" ] || { echo "no qt6-base source folder in $work"; exit 1; }
for ((i = 0; i < ${#qt_unbuilt[@]}; i += 2)); do
  sed -i "${qt_unbuilt[i]}" "$src/${qt_unbuilt[i + 1]}"
done

# Qt's own CMake wrapper (bin/qt-cmake) chain-loads the toolchain the build used: keep a copy
# beside the installed Qt so that it never points into one checkout.
mkdir -p "$prefix"
cp "$root/cmake/toolchain-mingw64.cmake" "$prefix/toolchain-mingw64.cmake"

echo "=== configuring Qt for Windows (x86_64-w64-mingw32, posix threads)"
started=$(date +%s)
# The DLLs name their source files as Qt's source tree does, not as this machine's folders.
prefix_map="-ffile-prefix-map=$src/= -ffile-prefix-map=$work/build/= -ffile-prefix-map=$work/="
cmake -S "$src" -B "$work/build" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$prefix/toolchain-mingw64.cmake" \
  -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_INSTALL_PREFIX="$prefix" \
  -DQT_HOST_PATH=/usr \
  -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
  -DQT_QMAKE_TARGET_MKSPEC=win32-g++ \
  -DCMAKE_C_FLAGS="$prefix_map" -DCMAKE_CXX_FLAGS="$prefix_map" \
  -DBUILD_SHARED_LIBS=ON \
  -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DQT_BUILD_BENCHMARKS=OFF \
  "${qt_features[@]}" >"$work/configure.log" 2>&1 || {
  tail -60 "$work/configure.log"
  exit 1
}

echo "=== building Qt for Windows (log: $work/build.log)"
cmake --build "$work/build" -j "$(nproc)" >"$work/build.log" 2>&1 || {
  tail -60 "$work/build.log"
  exit 1
}
cmake --install "$work/build" >"$work/install.log" 2>&1 || {
  tail -30 "$work/install.log"
  exit 1
}
finished=$(date +%s)

# Where the shipped libraries' source comes from, for the licence files in the zip.
echo "qt6-base $host_version" >"$prefix/debian-source-version"
cp "$src/.pc/applied-patches" "$prefix/debian-patches"
/usr/bin/python3 scripts/lib/qt-third-party.py "$src" "$work/build" "$prefix/third-party" || {
  echo "the third-party notices could not be gathered (the build stays in $work)"
  exit 1
}
cp "$src/LICENSES/LGPL-3.0-only.txt" "$prefix/LGPL-3.0-only.txt" 2>/dev/null ||
  cp "$src"/LICENSE.LGPL3 "$prefix/LGPL-3.0-only.txt"
cp "$src/LICENSES/GPL-3.0-only.txt" "$prefix/GPL-3.0-only.txt" 2>/dev/null ||
  cp "$src"/LICENSE.GPL3 "$prefix/GPL-3.0-only.txt" 2>/dev/null || true
[ -n "${RTUTEST_KEEP_QT_BUILD:-}" ] || rm -rf "$work"
touch "$stamp"
echo "=== Qt for Windows built in $((finished - started)) s"
echo "$prefix"
