#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (ASan + UBSan) and runs each one, starting from the
# seeds in fuzz/corpus/<target>. Prints the executions each target did.
#   scripts/fuzz.sh                 each target for 20 seconds (what CI runs)
#   scripts/fuzz.sh --seconds 120   each for 120 seconds
#   scripts/fuzz.sh --runs 10000000 each for that many executions (what bench/ quotes)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
limit=(-max_total_time=20)
case "${1:-}" in
  --seconds) limit=(-max_total_time="$2") ;;
  --runs) limit=(-runs="$2") ;;
  "") ;;
  *) echo "usage: $0 [--seconds N | --runs N]" >&2; exit 2 ;;
esac

bash scripts/install-deps.sh
cmake -S "$root" -B "$root/build-fuzz" -G Ninja -DRTUTEST_WERROR=ON -DCMAKE_CXX_COMPILER=clang++-14 -DRTUTEST_FUZZ=ON \
  -DRTUTEST_BUILD_APP=OFF -DRTUTEST_BUILD_TESTS=OFF -DRTUTEST_BUILD_BENCH=OFF -DRTUTEST_BUILD_SIM=ON >/dev/null
cmake --build "$root/build-fuzz" -j "$(nproc)" >/dev/null

status=0
for target in "$root"/build-fuzz/bin/fuzz_*; do
  name=$(basename "$target")
  seeds="$root/fuzz/corpus/${name#fuzz_}"
  work="$root/build-fuzz/corpus/${name#fuzz_}"
  mkdir -p "$work"
  [ -d "$seeds" ] && cp -n "$seeds"/* "$work"/ 2>/dev/null || true
  log="$root/build-fuzz/$name.log"
  if "$target" "${limit[@]}" -print_final_stats=1 -artifact_prefix="$root/build-fuzz/$name-" \
      "$work" >"$log" 2>&1; then
    runs=$(grep -m1 'stat::number_of_executed_units' "$log" | awk '{print $2}')
    echo "$name: ${runs:-?} executions, no failure"
  else
    echo "$name: FAILED (see $log)"
    tail -30 "$log"
    status=1
  fi
done
exit $status
