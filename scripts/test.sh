#!/usr/bin/env bash
# Builds TESK and runs every test: the Release build first, then the whole
# suite again under AddressSanitizer and UndefinedBehaviorSanitizer (with
# LeakSanitizer on every full run of the executable), then a short run of
# each libFuzzer target (scripts/fuzz.sh).
# Installs the Debian packages it needs when they are missing.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
tesk_install_deps

jobs=$(nproc 2>/dev/null || echo 2)

echo "== Release build and tests"
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release
cmake --build build/release -j "$jobs"
ctest --test-dir build/release --output-on-failure -j "$jobs"

echo "== AddressSanitizer + UndefinedBehaviorSanitizer build and tests"
cmake -S . -B build/sanitize -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTESK_SANITIZE=ON
cmake --build build/sanitize -j "$jobs"
ASAN_OPTIONS=allocator_may_return_null=1:detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build/sanitize --output-on-failure -j "$jobs"

echo "== Fuzzing: about a minute per target (TESK_FUZZ_SECONDS to change it)"
bash scripts/fuzz.sh "${TESK_FUZZ_SECONDS:-60}"
