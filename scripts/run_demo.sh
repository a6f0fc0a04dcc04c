#!/usr/bin/env bash
# Builds TESK and runs the classic dialogue on the shipped sample data set
# images/demo/jacksboro_i20 (contours every 20 m of a real DEM, 344 x 403),
# answering its questions from a here-document: directory demo, file
# jacksboro_i20, 16-bit, same output name, interval 20, window 3, overlay on.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib.sh
tesk_install_deps "${TESK_BUILD_PACKAGES[@]}"

tesk_configure build/release Release
cmake --build build/release --target tesk

TESK_IMAGES="$PWD/images" ./build/release/tesk <<'ANSWERS'
demo
jacksboro_i20
0
0
20
3
0
ANSWERS

echo
echo "Results in $PWD/images/demo/:"
ls -l images/demo/jacksboro_i20_m1.raw images/demo/jacksboro_i20_m1.txt \
      images/demo/jacksboro_i20_m2.raw images/demo/jacksboro_i20_m2.txt
