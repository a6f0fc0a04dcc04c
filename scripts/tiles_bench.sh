#!/usr/bin/env bash
# Whole against tiled runs of the command line on generated contour rasters
# (interval 10, window 3, overlay on; the benchmark's generator), with the
# time, the peak memory and the halos the tiles needed; then a raster of
# SIZE x SIZE pixels (20000 unless given) under a data limit that refuses
# the whole run, so that it runs by tiles by itself.
#
#   scripts/tiles_bench.sh [-n 8192] [-t 1024,2048,4096] [-b 20000] [-l MiB]
#
# Needs the benchmark's build (scripts/bench.sh makes build/bench).
set -euo pipefail
cd "$(dirname "$0")/.."
n=8192 tiles=1024,2048,4096 big=20000 limit=2048
while getopts "n:t:b:l:" o; do
  case $o in
    n) n=$OPTARG ;; t) tiles=$OPTARG ;; b) big=$OPTARG ;; l) limit=$OPTARG ;;
    *) echo "usage: $0 [-n size] [-t tile sizes] [-b big size] [-l data limit in MiB]" >&2; exit 2 ;;
  esac
done
source scripts/lib.sh
tesk_install_deps "${TESK_BUILD_PACKAGES[@]}" "${TESK_BENCH_PACKAGES[@]}"
tesk_configure build/bench Release -DTESK_BUILD_BENCH=ON
cmake --build build/bench -j "$(nproc)" --target tesk_bench tesk > /dev/null
tesk=$PWD/build/bench/tesk
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
root=$PWD
cd "$tmp"

# run NAME ARGS...: one run, its time, peak memory and the tiles' note.
run() {
  local name=$1
  shift
  /usr/bin/time -f "%e %M" -o time.txt "$@" 2> err.txt > /dev/null
  read -r secs kb < time.txt
  printf '| %-28s | %7.2f s | %6d MiB | %s |\n' "$name" "$secs" $((kb / 1024)) "$(grep -o 'tiles of.*' err.txt || true)"
}

"$root/build/bench/bench/tesk_bench" --write "$n" g > /dev/null
echo "$n x $n, 2 threads"
echo "| run | time | peak memory | tiles |"
echo "|---|---|---|---|"
run whole "$tesk" g_c2.raw whole.tif -i 10 -m 3 --overwrite
for t in ${tiles//,/ }; do
  run "--tile-size $t" "$tesk" g_c2.raw "t$t.tif" -i 10 -m 3 --overwrite --tile-size "$t"
  cmp -s <(gdalinfo -checksum whole.tif | grep Checksum) <(gdalinfo -checksum "t$t.tif" | grep Checksum) ||
    echo "tile size $t: the DEM differs from the whole run's" >&2
done
rm -f g_c2.raw whole.tif t*.tif
"$root/build/bench/bench/tesk_bench" --write "$big" b > /dev/null
echo
echo "$big x $big under prlimit --data=${limit}MiB"
run "by tiles (by itself)" /usr/bin/prlimit --data=$((limit << 20)) "$tesk" b_c2.raw big.tif -i 10 -m 3 --overwrite
