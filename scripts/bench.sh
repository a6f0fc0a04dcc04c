#!/usr/bin/env bash
# Builds the benchmark (Release, the same flags as the program) and runs it:
# whole runs on generated contour rasters of 1024^2 to 8192^2 pixels against
# the literal stages, the shipped sample rasters, then the single stages.
# Installs nothing; needs Google Benchmark (libbenchmark-dev), as the build does.
# Arguments go to tesk_bench, e.g. --sizes 1024,2048 --literal-max 2048.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)
cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DTESK_BUILD_BENCH=ON -DTESK_BUILD_TESTS=OFF >/dev/null
cmake --build build/bench -j "$jobs" --target tesk_bench
exec build/bench/bench/tesk_bench "$@"
