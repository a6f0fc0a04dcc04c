#!/usr/bin/env bash
# Builds TESK and runs every test: first the layering check of src/, then
# the Release build with the Python package and its tests, then pip's
# install of the package in a fresh virtual environment, then the whole
# suite again (the module left out) under AddressSanitizer and
# UndefinedBehaviorSanitizer (with LeakSanitizer on every full run of the
# executable; built with asserts on), then the multi-threaded stages under
# ThreadSanitizer.
# Installs the Debian packages it needs when they are missing.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib.sh

echo "== Layers of src/"
bash scripts/check_layers.sh

tesk_install_deps "${TESK_BUILD_PACKAGES[@]}" "${TESK_TEST_PACKAGES[@]}"
jobs=$(nproc 2>/dev/null || echo 2)

echo "== Release build and tests"
tesk_configure build/release Release -DTESK_BUILD_TESTS=ON -DTESK_PYTHON=ON -DTESK_FAULT_INJECTION=ON
cmake --build build/release -j "$jobs"
ctest --test-dir build/release --output-on-failure -j "$jobs"

# Offline, as a user of Debian's Python would: a virtual environment that
# sees Debian's packages, pip's build of the package (CMake in build/pip)
# with its QGIS plugin, and one fill with the package it installed, away
# from the source tree.
echo "== pip install in a virtual environment"
venv=$(mktemp -d)
trap 'rm -rf "$venv"' EXIT
/usr/bin/python3 -m venv --system-site-packages "$venv"
"$venv/bin/python" -m pip install -q --no-index --no-cache-dir --no-build-isolation .
(cd "$venv" && "$venv/bin/python" -c '
import os, sys, numpy as np, tesk
assert tesk.__file__.startswith("'"$venv"'") and not {"xarray", "dask"} & sys.modules.keys() and hasattr(tesk._core, "run"), tesk.__file__
assert os.path.isfile(os.path.join(os.path.dirname(tesk.__file__), "qgis", "metadata.txt"))  # the QGIS plugin
c = np.full((50, 40), 65500, np.uint16); c[10], c[40] = 100, 140
print(tesk.__file__, tesk.fill(c, interval=20, nodata=65500)[::10, 0])')

# -O1 keeps the instrumented suite quick; without -DNDEBUG, asserts stay on.
echo "== AddressSanitizer + UndefinedBehaviorSanitizer build and tests"
tesk_configure build/sanitize RelWithDebInfo -DTESK_BUILD_TESTS=ON -DTESK_SANITIZE=ON -DTESK_FAULT_INJECTION=ON \
  -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g"
cmake --build build/sanitize -j "$jobs"
ASAN_OPTIONS=allocator_may_return_null=1:detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build/sanitize --output-on-failure -j "$jobs"

# The stages that share work among threads, and the pipeline around them.
# The per-CPU kernels are off: ThreadSanitizer cannot run their selectors.
echo "== ThreadSanitizer build and tests of the threaded stages"
tesk_configure build/tsan RelWithDebInfo -DTESK_BUILD_TESTS=ON -DTESK_TSAN=ON -DTESK_CPU_KERNELS=OFF \
  -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g"
cmake --build build/tsan -j "$jobs" --target tesk_unit_tests
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
  ctest --test-dir build/tsan --output-on-failure -j "$jobs" -R 'FastVsLiteral|FastStages|FastDilation|Pipeline|RunGrids|Cancel|TileFlight|Spline\.SameBytes|TileRun\.ProvenPixels'
