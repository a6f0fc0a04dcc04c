#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a while.
#
#   bash scripts/fuzz.sh            # about a minute per target (the CI run)
#   bash scripts/fuzz.sh 3600       # an hour per target
#   bash scripts/fuzz.sh 600 header # ten minutes, the header reader only
#
# Targets: header (header text reader), dialogue (the whole classic program
# on a fuzzed console input: every answer, the stops on bad ones), pipeline (fast stages against the literal
# ones on tiny random grids).  Each starts from its seed corpus in
# fuzz/corpus/TARGET; what it finds goes to build/fuzz/corpus/TARGET (copy
# the interesting inputs into fuzz/corpus to keep them).  A crash leaves its
# input in build/fuzz/crashes/ and makes the script fail.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib.sh
tesk_install_deps "${TESK_BUILD_PACKAGES[@]}" "${TESK_TEST_PACKAGES[@]}"

seconds=${1:-60}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(header dialogue pipeline)

CC=clang CXX=clang++ tesk_configure build/fuzz RelWithDebInfo -DTESK_BUILD_FUZZ=ON -DTESK_WITH_GDAL=OFF
cmake --build build/fuzz --target "${targets[@]/%/_fuzz}"

mkdir -p build/fuzz/crashes
total=0
for t in "${targets[@]}"; do
  work=build/fuzz/corpus/$t
  mkdir -p "$work"
  log=build/fuzz/$t.log
  echo "== fuzzing $t for ${seconds}s"
  # One process; -timeout catches a run that hangs, -rss_limit_mb one that
  # swells.
  if ! ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1 \
       "build/fuzz/fuzz/${t}_fuzz" "$work" "fuzz/corpus/$t" -max_total_time="$seconds" -timeout=10 \
       -rss_limit_mb=2048 -max_len=4096 -print_final_stats=1 \
       -artifact_prefix="build/fuzz/crashes/${t}-" > "$log" 2>&1; then
    tail -n 40 "$log"
    echo "fuzz target $t failed; the input is in build/fuzz/crashes/" >&2
    exit 1
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  echo "   $t: ${runs:-0} inputs tried, no fault"
  total=$((total + ${runs:-0}))
done
echo "fuzzing: $total inputs tried in all, no fault"
