#!/usr/bin/env bash
# Builds the benchmark (Release, the same flags as the program) and runs it:
# whole runs on generated contour rasters of 1024^2 to 8192^2 pixels against
# the literal stages, the shipped sample rasters, then the single stages.
# Installs what it needs that is missing (Google Benchmark among it).
# Arguments go to tesk_bench, e.g. --sizes 1024,2048 --literal-max 2048.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib.sh
tesk_install_deps "${TESK_BUILD_PACKAGES[@]}" "${TESK_BENCH_PACKAGES[@]}"
jobs=$(nproc 2>/dev/null || echo 2)
tesk_configure build/bench Release -DTESK_BUILD_BENCH=ON
cmake --build build/bench -j "$jobs" --target tesk_bench
exec build/bench/bench/tesk_bench "$@"
