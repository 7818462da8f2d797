#!/usr/bin/env bash
# Installs the serial port component from a build directory into a temporary prefix, then
# configures, builds and runs the outside program in consumer/ against that prefix alone.
#
# Usage: consumer_test.sh BUILD-DIR CXX-COMPILER [CXX-FLAGS]
set -euo pipefail
build=$1 compiler=$2 flags=${3:-}
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cmake --install "$build" --component xcom --prefix "$work/prefix" >"$work/install.log" ||
  { cat "$work/install.log"; exit 1; }
echo "installed:"
(cd "$work/prefix" && find . -type f | sort | sed 's|^\./|  |')

# The installed headers are the API: each compiles on its own from the prefix alone, and the
# backend contract (the device, its stop signal, the noting of open failures) is not among them.
for private in CommDevice.h StopSignal.h OpenFailureNote.h; do
  [[ ! -e "$work/prefix/include/xcom/$private" ]] || { echo "backend header installed: $private"; exit 1; }
done
for header in "$work/prefix/include/xcom/"*.h; do
  echo "#include \"$(basename "$header")\"" |
    "$compiler" -std=c++20 -fsyntax-only -x c++ -I"$work/prefix/include/xcom" - ||
    { echo "installed header does not compile alone: $(basename "$header")"; exit 1; }
done

launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S "$here/consumer" -B "$work/build" -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_PREFIX_PATH="$work/prefix" -DCMAKE_CXX_COMPILER="$compiler" \
  -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="$flags" "${launcher[@]}" \
  >"$work/configure.log" 2>&1 || { cat "$work/configure.log"; exit 1; }
cmake --build "$work/build" >"$work/build.log" 2>&1 || { cat "$work/build.log"; exit 1; }
"$work/build/xcom_consumer"
