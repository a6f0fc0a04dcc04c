#!/usr/bin/env bash
# Whole against tiled runs of the command line, side by side: each round runs
# the whole raster and then every tiled variant, one after the other, and the
# table keeps the best time of the rounds, the ratio of each tiled run to the
# whole one, the peak memory and the halos the tiles needed.  Every tiled DEM
# is compared with the whole run's.
#
# Rasters: the benchmark's generated SIZE x SIZE raster (interval 10, window
# 3, overlay on) with --tile-size from the list; a real raster given with -f
# (-i 10 -m 3) with the same tile sizes; then a BIG x BIG generated raster
# (20000 unless given; 0 leaves it out) run whole and under a data limit that
# refuses the whole run, so that it goes by tiles by itself.
#
#   scripts/tiles_bench.sh [-n 8192] [-t 1024,2048] [-f real.tif] [-b 20000] [-l MiB] [-r rounds] [-B build dir]
#                          [-O other tesk]
#
# -O names another build's tesk (say, of the commit before a change): each
# round then runs it too, right after this build's runs, and a second table
# gives its times and ratios ("before").
#
# Needs the benchmark's build (made here in build/bench unless -B names one
# that holds tesk and bench/tesk_bench).
set -euo pipefail
cd "$(dirname "$0")/.."
n=8192 tiles=1024,2048 big=20000 limit=2048 rounds=2 real="" build="" other=""
while getopts "n:t:f:b:l:r:B:O:" o; do
  case $o in
    n) n=$OPTARG ;; t) tiles=$OPTARG ;; f) real=$(realpath "$OPTARG") ;; b) big=$OPTARG ;; l) limit=$OPTARG ;;
    r) rounds=$OPTARG ;; B) build=$(realpath "$OPTARG") ;; O) other=$(realpath "$OPTARG") ;;
    *) echo "usage: $0 [-n size] [-t tile sizes] [-f real raster] [-b big size] [-l data limit in MiB]" \
         "[-r rounds] [-B build dir]" >&2; exit 2 ;;
  esac
done
source scripts/lib.sh
if [ -z "$build" ]; then
  tesk_install_deps "${TESK_BUILD_PACKAGES[@]}" "${TESK_BENCH_PACKAGES[@]}"
  tesk_configure build/bench Release -DTESK_BUILD_BENCH=ON
  cmake --build build/bench -j "$(nproc)" --target tesk_bench tesk > /dev/null
  build=$PWD/build/bench
fi
tesk=$build/tesk
binaries=("$tesk")
[ -n "$other" ] && binaries+=("$other")
# The key prefix of a binary's runs.
prefix() { [ "$1" = "$tesk" ] && echo "" || echo "before "; }
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
cd "$tmp"

declare -A best mem note
# run KEY ARGS...: one run; keeps its best time, its peak memory and the tiles' note.
run() {
  local key=$1
  shift
  /usr/bin/time -f "%e %M" -o time.txt "$@" 2> err.txt > /dev/null || { cat err.txt >&2; return 1; }
  read -r secs kb < time.txt
  if [ -z "${best[$key]:-}" ] || awk "BEGIN{exit !($secs < ${best[$key]})}"; then best[$key]=$secs; fi
  mem[$key]=$((kb / 1024))
  note[$key]=$(grep -o 'tiles of [0-9]* pixels; .*' err.txt | sed 's/ pixels; the first halo,/ px; first halo/' || true)
}

# table TITLE WHOLE_KEY KEYS...: the best times against the whole run's.
table() {
  local title=$1 whole=$2
  shift 2
  echo
  echo "$title, 2 threads, best of $rounds"
  echo "| run | time | ratio | peak memory | tiles |"
  echo "|---|---|---|---|---|"
  for k in "$whole" "$@"; do
    printf '| %-24s | %6.2f s | %5.2fx | %5d MiB | %s |\n' "$k" "${best[$k]}" \
      "$(awk "BEGIN{print ${best[$k]} / ${best[$whole]}}")" "${mem[$k]}" "${note[$k]}"
  done
}

same() { cmp -s <(gdalinfo -checksum "$1" | grep Checksum) <(gdalinfo -checksum "$2" | grep Checksum) ||
  echo "$2: the DEM differs from the whole run's" >&2; }

# bench_raster TITLE SOURCE ARGS...: the source whole and in each tile size.
bench_raster() {
  local title=$1 src=$2
  shift 2
  local keys=()
  for t in ${tiles//,/ }; do keys+=("--tile-size $t"); done
  for ((r = 0; r < rounds; ++r)); do
    for b in "${binaries[@]}"; do
      local p
      p=$(prefix "$b")
      run "${p}whole" "$b" "$src" whole.tif "$@" --overwrite
      for t in ${tiles//,/ }; do
        run "${p}--tile-size $t" "$b" "$src" "t$t.tif" "$@" --overwrite --tile-size "$t"
        same whole.tif "t$t.tif"
      done
    done
  done
  table "$title" whole "${keys[@]}"
  if [ -n "$other" ]; then
    local before=()
    for k in "${keys[@]}"; do before+=("before $k"); done
    table "$title, before" "before whole" "${before[@]}"
  fi
  best=() mem=() note=()
  rm -f whole.tif t*.tif
}

"$build/bench/tesk_bench" --write "$n" g > /dev/null
bench_raster "$n x $n generated" g_c2.raw -i 10 -m 3
rm -f g_c2.raw
[ -n "$real" ] && bench_raster "$(basename "$real")" "$real" -i 10 -m 3
if [ "$big" -gt 0 ]; then
  "$build/bench/tesk_bench" --write "$big" b > /dev/null
  for ((r = 0; r < rounds; ++r)); do
    for b in "${binaries[@]}"; do
      p=$(prefix "$b")
      run "${p}whole" "$b" b_c2.raw whole.tif -i 10 -m 3 --overwrite
      run "${p}by tiles (by itself)" /usr/bin/prlimit --data=$((limit << 20)) "$b" b_c2.raw big.tif -i 10 -m 3 \
        --overwrite
      same whole.tif big.tif
    done
  done
  table "$big x $big generated, whole and under prlimit --data=${limit}MiB" whole "by tiles (by itself)"
  if [ -n "$other" ]; then table "the same, before" "before whole" "before by tiles (by itself)"; fi
fi
