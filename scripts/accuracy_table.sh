#!/usr/bin/env bash
# The accuracy table of docs/accuracy.md: TESK and the established tools that
# make a surface from contour lines (SAGA's multilevel B-spline, GRASS
# r.surf.contour, gdal_fillnodata.py), each run on the same contour rasters,
# timed, and scored against the true elevation models by tools/accuracy.cpp.
#
#   scripts/accuracy_table.sh [--sets "NAME ..."] [--no-peers] [--no-picture]
#                             [--write-docs] [--compare-with DIR]
#
# Installs what is missing with apt-get (the build packages, GDAL's tools and
# Python bindings, matplotlib, saga, grass-core), builds TESK, makes the data
# sets under build/accuracy/data from images/demo (see make_data), runs every
# method on every set under build/accuracy/runs, and writes:
#   build/accuracy/results.tsv  one line a run: set, method, parameters, seconds, the score, CPU seconds
#   build/accuracy/tables.md    the versions, the tables and the notes of the run
#   docs/accuracy_hillshade.png hillshades of a crop of jacksboro8x (unless --no-picture)
# --write-docs replaces the generated part of docs/accuracy.md with tables.md.
# --compare-with DIR checks that the data sets made here equal, value for
# value, the files of the same name in DIR (where they were first made), and
# that jacksboro_i20 made the same way equals images/demo/jacksboro_i20_c.tif.
# --sets runs only the named sets (jacksboro_i10 jacksboro_i20 jacksboro4x_i10
# jacksboro8x_i10 volcano_i5); --no-peers runs TESK alone.  The lines of an
# earlier run that a run does not redo stay in results.tsv and the tables.
#
# The spline rows run when `tesk --help` lists --method: at its defaults, and
# once for each entry of SPLINE_SWEEP (a ';'-separated list of option sets,
# overridable from the environment), each skipped with a note when --help
# does not list its first option.
#
# Times are wall clock of the whole command (reading and writing included),
# and its CPU time, each the best of 3 runs when the first takes under 10 s,
# of 2 under 60 s, else of 1 (TIMING_RUNS=N runs everything N times).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib.sh

ALL_SETS="jacksboro_i10 jacksboro_i20 jacksboro4x_i10 jacksboro8x_i10 volcano_i5"
SETS=$ALL_SETS
PEERS=1 PICTURE=1 WRITE_DOCS=0 COMPARE_WITH=""
while [ $# -gt 0 ]; do
  case $1 in
    --sets) SETS=$2; shift 2 ;;
    --no-peers) PEERS=0; shift ;;
    --no-picture) PICTURE=0; shift ;;
    --write-docs) WRITE_DOCS=1; shift ;;
    --compare-with) COMPARE_WITH=$2; shift 2 ;;
    *) echo "usage: $0 [--sets \"NAME ...\"] [--no-peers] [--no-picture] [--write-docs] [--compare-with DIR]" >&2
       exit 1 ;;
  esac
done
for set in $SETS; do
  [[ " $ALL_SETS " == *" $set "* ]] || { echo "$0: unknown set $set (known: $ALL_SETS)" >&2; exit 1; }
done
SPLINE_SWEEP=${SPLINE_SWEEP:-"--smoothing 0.01;--smoothing 0.1;--smoothing 0.3;--smoothing 1;--tension 0;--tension 0.1"}

packages=("${TESK_BUILD_PACKAGES[@]}" gdal-bin python3-gdal python3-numpy python3-matplotlib)
[ "$PEERS" = 1 ] && packages+=(saga grass-core)
tesk_install_deps "${packages[@]}"

tesk_configure build/tools Release
cmake --build build/tools -j 2 --target tesk tesk_accuracy > /dev/null
TESK=$PWD/build/tools/tesk
SCORE=$PWD/build/tools/tesk_accuracy

top=$PWD/build/accuracy
data=$top/data
mkdir -p "$data" "$top/runs"
demo=$PWD/images/demo
gdal_q=(--config GDAL_PAM_ENABLED NO)

# ---------------------------------------------------------------- data sets
# The 4x and 8x truths are jacksboro_true.tif resampled by cubic spline; the
# contour rasters are gdal_contour's lines (attribute ELEV, levels at
# multiples of the interval) burnt by gdal_rasterize onto the truth's grid,
# UInt16, no-data 65500.  With GDAL 3.6 this gives the same values as the
# shared originals (checked by --compare-with).
burn_contours() {  # TRUTH INTERVAL OUT
  local truth=$1 interval=$2 out=$3 size extent
  size=$(gdalinfo "$truth" | awk '/^Size is/ {gsub(",", ""); print $3, $4}')
  extent=$(gdalinfo "$truth" | awk '
    /^Upper Left/  {gsub(/[(),]/, " "); xmin = $3; ymax = $4}
    /^Lower Right/ {gsub(/[(),]/, " "); xmax = $3; ymin = $4}
    END {print xmin, ymin, xmax, ymax}')
  rm -f "$out.lines.gpkg"
  gdal_contour -q -a ELEV -i "$interval" "$truth" "$out.lines.gpkg"
  # shellcheck disable=SC2086
  gdal_rasterize -q -a ELEV -a_nodata 65500 -init 65500 -ot UInt16 -ts $size -te $extent \
    -co COMPRESS=DEFLATE "$out.lines.gpkg" "$out.tmp.tif"
  rm -f "$out.lines.gpkg"
  mv "$out.tmp.tif" "$out"
}

make_data() {
  local s
  [ -f "$data/jacksboro_i10_c.tif" ] || burn_contours "$demo/jacksboro_true.tif" 10 "$data/jacksboro_i10_c.tif"
  for s in 4 8; do
    local w=$((403 * s)) h=$((344 * s))
    if [ ! -f "$data/jacksboro${s}x_true.tif" ]; then
      gdalwarp -q -overwrite -r cubicspline -ts $w $h -ot Float32 -co COMPRESS=DEFLATE -co PREDICTOR=3 \
        -co TILED=YES "$demo/jacksboro_true.tif" "$data/jacksboro${s}x_true.tmp.tif"
      mv "$data/jacksboro${s}x_true.tmp.tif" "$data/jacksboro${s}x_true.tif"
    fi
    [ -f "$data/jacksboro${s}x_i10_c.tif" ] ||
      burn_contours "$data/jacksboro${s}x_true.tif" 10 "$data/jacksboro${s}x_i10_c.tif"
  done
  # volcano: the classic 16-bit raster read through a VRT, given the truth's grid.
  if [ ! -f "$data/volcano_i5_c.tif" ]; then
    local rows cols origin pixel
    read -r rows cols < <(head -c 200 "$demo/volcano_i5_c2.txt" | tr -s ' \t\r\n' ' ' | awk '{print $1, $2}')
    origin=$(gdalinfo "$demo/volcano_true.tif" | awk '/^Origin/ {gsub(/[(),]/, " "); print $3, $4}')
    pixel=$(gdalinfo "$demo/volcano_true.tif" | awk '/^Pixel Size/ {gsub(/[(),]/, " "); print $4, $5}')
    cat > "$data/volcano_i5_c.vrt" <<EOF
<VRTDataset rasterXSize="$cols" rasterYSize="$rows">
  <GeoTransform>$(echo $origin $pixel | awk '{print $1 ", " $3 ", 0, " $2 ", 0, " $4}')</GeoTransform>
  <VRTRasterBand dataType="UInt16" band="1" subClass="VRTRawRasterBand">
    <NoDataValue>65500</NoDataValue>
    <SourceFilename relativeToVRT="0">$demo/volcano_i5_c2.raw</SourceFilename>
    <ImageOffset>0</ImageOffset><PixelOffset>2</PixelOffset><LineOffset>$((2 * cols))</LineOffset>
    <ByteOrder>LSB</ByteOrder>
  </VRTRasterBand>
</VRTDataset>
EOF
    gdalsrsinfo -o wkt "$demo/volcano_true.tif" > "$data/volcano.wkt"
    gdal_translate -q "${gdal_q[@]}" -a_srs "$data/volcano.wkt" -co COMPRESS=DEFLATE \
      "$data/volcano_i5_c.vrt" "$data/volcano_i5_c.tif"
    rm -f "$data/volcano_i5_c.vrt" "$data/volcano.wkt"
  fi
}

compare_data() {  # DIR
  local f status=0
  for f in jacksboro_i10_c.tif jacksboro4x_true.tif jacksboro4x_i10_c.tif jacksboro8x_true.tif jacksboro8x_i10_c.tif; do
    printf '%-24s against %s: ' "$f" "$1/$f"
    "$SCORE" --equal "$data/$f" "$1/$f" || status=1
  done
  printf '%-24s against %s: ' volcano_true.tif "$1/volcano_true.tif"
  "$SCORE" --equal "$demo/volcano_true.tif" "$1/volcano_true.tif" || status=1
  burn_contours "$demo/jacksboro_true.tif" 20 "$data/jacksboro_i20_c.tif"
  printf '%-24s against %s: ' jacksboro_i20_c.tif "$demo/jacksboro_i20_c.tif"
  "$SCORE" --equal "$data/jacksboro_i20_c.tif" "$demo/jacksboro_i20_c.tif" || status=1
  return $status
}

make_data
[ -z "$COMPARE_WITH" ] || compare_data "$COMPARE_WITH"

# set name -> contours, truth, interval
set_contours() {
  case $1 in
    jacksboro_i20) echo "$demo/jacksboro_i20_c.tif" ;;
    *) echo "$data/${1}_c.tif" ;;
  esac
}
set_truth() {
  case $1 in
    jacksboro_i*) echo "$demo/jacksboro_true.tif" ;;
    jacksboro4x_*) echo "$data/jacksboro4x_true.tif" ;;
    jacksboro8x_*) echo "$data/jacksboro8x_true.tif" ;;
    volcano_*) echo "$demo/volcano_true.tif" ;;
  esac
}
set_interval() { echo "$1" | sed -E 's/.*_i([0-9]+)$/\1/'; }

# ---------------------------------------------------------------- runs
results=$top/results.tsv
notes=$top/notes.txt
: > "$notes"
# The lines of an earlier run that this one does not redo are kept (after
# --no-peers, the peers' lines; after --sets, the other sets').
kept=$top/results.kept.tsv
: > "$kept"
if [ -f "$results" ]; then
  awk -F'\t' -v sets=" $SETS " -v peers="$PEERS" \
    'NR > 1 && !(index(sets, " " $1 " ") && ($2 ~ /^TESK/ || peers == 1))' "$results" > "$kept"
fi
printf 'set\tmethod\tparameters\tseconds\t%s\tcpu_seconds\n' "$("$SCORE" --tsv-header)" > "$results"

note() { echo "$*"; echo "$*" >> "$notes"; }

# timed LOG CMD...: runs CMD (output to LOG) and prints two figures, the
# best wall-clock seconds and the best CPU seconds (user + system, every
# thread and child process) of its runs; fails when a run fails.
timed() {
  local log=$1 best="" best_cpu="" runs=${TIMING_RUNS:-0} i out TIMEFORMAT='%R %U %S'
  shift
  for ((i = 1; ; i++)); do
    out=$( { time "$@" > "$log" 2>&1; } 2>&1 ) || return 1
    read -r best best_cpu < <(echo "$out" | tail -1 |
      awk -v b="$best" -v c="$best_cpu" '{w = $1; u = $2 + $3
        printf "%.2f %.2f\n", (b == "" || w < b) ? w : b, (c == "" || u < c) ? u : c}')
    if [ "$i" = 1 ] && [ "$runs" = 0 ]; then
      runs=$(awk -v t="$best" 'BEGIN {print t < 10 ? 3 : t < 60 ? 2 : 1}')
    fi
    [ "$i" -ge "$runs" ] && break
  done
  echo "$best $best_cpu"
}

# record SET METHOD PARAMETERS RESULT SECONDS: scores RESULT, appends a line.
record() {  # SET METHOD PARAMETERS RESULT "WALL CPU"
  local set=$1 method=$2 params=$3 result=$4 wall=${5% *} cpu=${5#* } score
  score=$("$SCORE" --interval "$(set_interval "$set")" --tsv "$result" "$(set_truth "$set")" "$(set_contours "$set")")
  printf '%s\t%s\t%s\t%s\t%s\t%s\n' "$set" "$method" "$params" "$wall" "$score" "$cpu" >> "$results"
  printf '  %-26s %-28s %8s s (CPU %s s)  %s\n' "$method" "$params" "$wall" "$cpu" \
    "$(echo "$score" | cut -f4,5,6,8,9)"
}

failed() {  # SET METHOD PARAMETERS LOG
  note "$1: $2 ($3) failed, see $4"
  printf '%s\t%s\t%s\tfailed\n' "$1" "$2" "$3" >> "$results"
}

run_tesk() {  # SET METHOD LABEL PARAMETERS OPTIONS...
  local set=$1 method=$2 params=$3 out t
  shift 3
  out=$top/runs/$set/tesk_$(echo "$method $params" | tr -c 'A-Za-z0-9.\n' '_').tif
  if t=$(timed "$out.log" "$TESK" "$(set_contours "$set")" "$out" -i "$(set_interval "$set")" -q --overwrite "$@"); then
    record "$set" "$method" "$params" "$out" "$t"
  else
    failed "$set" "$method" "$params" "$out.log"
  fi
}

# SAGA's multilevel B-spline from grid points (grid_spline 5) on a Float32
# copy of the contours: given the UInt16 raster itself, SAGA 8.5 fits
# residuals that wrap around (its log shows errors near 60000) and returns
# values hundreds of kilometres off.  The target grid is the input's own.
run_saga() {  # SET F32
  local set=$1 in=$2 out=$top/runs/$1/saga.sdat t
  if t=$(timed "$out.log" saga_cmd grid_spline 5 -GRID "$in" -TARGET_DEFINITION 1 -TARGET_TEMPLATE "$in" \
    -TARGET_OUT_GRID "$out"); then
    record "$set" "SAGA multilevel B-spline" "grid_spline 5, defaults" "$out" "$t"
  else
    failed "$set" "SAGA multilevel B-spline" "grid_spline 5, defaults" "$out.log"
  fi
}

# GRASS r.surf.contour in a throwaway location made from the raster itself.
run_grass() {  # SET
  local set=$1 in out=$top/runs/$1/grass.tif t
  in=$(set_contours "$set")
  if t=$(timed "$out.log" grass --tmp-location "$in" --exec bash -c '
      set -e
      r.in.gdal --quiet input="$1" output=contours
      g.region raster=contours
      r.surf.contour input=contours output=dem
      r.out.gdal --quiet --overwrite -f -c input=dem output="$2" format=GTiff type=Float64 createopt=COMPRESS=DEFLATE
    ' grass_run "$in" "$out"); then
    record "$set" "GRASS r.surf.contour" "defaults" "$out" "$t"
  else
    failed "$set" "GRASS r.surf.contour" "defaults" "$out.log"
  fi
}

# gdal_fillnodata.py on the Float32 copy (on the UInt16 raster its result
# would be whole metres).  Its default search distance, 100 pixels, first;
# when that leaves pixels empty, once more with a distance that reaches
# every pixel (the larger side of the raster).
run_fillnodata() {  # SET F32
  local set=$1 in=$2 out=$top/runs/$1/fillnodata.tif t unfilled md
  rm -f "$out"
  if t=$(timed "$out.log" bash -c 'rm -f "$2"; exec gdal_fillnodata.py -q "$1" "$2"' _ "$in" "$out"); then
    record "$set" "gdal_fillnodata.py" "-md 100 (default)" "$out" "$t"
  else
    failed "$set" "gdal_fillnodata.py" "-md 100 (default)" "$out.log"
    return
  fi
  unfilled=$(tail -1 "$results" | cut -f6)
  if [ "$unfilled" != 0 ]; then
    md=$(gdalinfo "$in" | awk '/^Size is/ {gsub(",", ""); print ($3 > $4 ? $3 : $4)}')
    note "$set: gdal_fillnodata.py with -md 100 left $unfilled gap pixels empty; run again with -md $md"
    out=${out%.tif}_md$md.tif
    if t=$(timed "$out.log" bash -c 'rm -f "$3"; exec gdal_fillnodata.py -q -md "$1" "$2" "$3"' _ "$md" "$in" "$out"); then
      record "$set" "gdal_fillnodata.py" "-md $md" "$out" "$t"
    else
      failed "$set" "gdal_fillnodata.py" "-md $md" "$out.log"
    fi
  fi
}

note "load average at the start of the runs: $(cut -d' ' -f1-3 /proc/loadavg)"
has_spline=0
"$TESK" --help | grep -q -- --method && has_spline=1
[ "$has_spline" = 1 ] || note "tesk --help lists no --method: the spline rows are skipped"

for set in $SETS; do
  mkdir -p "$top/runs/$set"
  echo "== $set ($(set_contours "$set"), interval $(set_interval "$set"))"
  run_tesk "$set" "TESK classic" "-m 1" -m 1
  run_tesk "$set" "TESK classic" "-m 3" -m 3
  if [ "$has_spline" = 1 ]; then
    run_tesk "$set" "TESK spline" "defaults" --method spline
    IFS=';' read -r -a sweep <<< "$SPLINE_SWEEP"
    for opts in "${sweep[@]}"; do
      # shellcheck disable=SC2086
      set -- $opts
      if "$TESK" --help | grep -q -- "$1"; then
        run_tesk "$set" "TESK spline" "$opts" --method spline $opts
      else
        note "tesk --help lists no $1: the spline row \"$opts\" is skipped"
      fi
    done
  fi
  if [ "$PEERS" = 1 ]; then
    f32=$top/runs/$set/contours_f32.tif
    gdal_translate -q "${gdal_q[@]}" -ot Float32 "$(set_contours "$set")" "$f32"
    run_saga "$set" "$f32"
    run_grass "$set"
    run_fillnodata "$set" "$f32"
  fi
done
note "load average at the end of the runs: $(cut -d' ' -f1-3 /proc/loadavg)"
cat "$kept" >> "$results"
rm -f "$kept"

# ---------------------------------------------------------------- tables
version_of() { dpkg-query -W -f='${Version}' "$1" 2>/dev/null || echo "not installed"; }
{
  echo "Made by \`scripts/accuracy_table.sh\` on $(date -u +%Y-%m-%d) ($(nproc) cores)."
  echo
  echo "Versions: $("$TESK" --version | head -1), commit $(git describe --always --dirty 2>/dev/null || echo unknown);"
  echo "SAGA $(version_of saga) (\`saga\`), GRASS $(version_of grass-core) (\`grass-core\`),"
  echo "GDAL $(version_of gdal-bin) (\`gdal-bin\`, \`python3-gdal\` $(version_of python3-gdal)), Debian $(cat /etc/debian_version)."
  echo
  awk -F'\t' -v sets="$ALL_SETS" -f scripts/accuracy_tables.awk "$results"
  if [ -s "$notes" ]; then
    echo
    echo "Notes of the run:"
    echo
    sed 's/^/- /' "$notes"
  fi
} > "$top/tables.md"
echo
cat "$top/tables.md"

if [ "$WRITE_DOCS" = 1 ]; then
  /usr/bin/python3 - "$top/tables.md" docs/accuracy.md <<'EOF'
import sys
table = open(sys.argv[1]).read()
doc = open(sys.argv[2]).read()
begin, end = "<!-- accuracy_table.sh: begin -->\n", "<!-- accuracy_table.sh: end -->"
head, rest = doc.split(begin, 1)
tail = rest.split(end, 1)[1]
open(sys.argv[2], "w").write(head + begin + table + end + tail)
EOF
  echo "docs/accuracy.md: tables replaced"
fi

# ---------------------------------------------------------------- picture
# Hillshades of one crop of jacksboro8x_i10, side by side: the classic
# method, the spline (when it ran), SAGA, and the truth.
if [ "$PICTURE" = 1 ] && [ -f "$top/runs/jacksboro8x_i10/tesk_TESK_classic__m_1.tif" ]; then
  crop=(${CROP:-2400 1700 600 600})  # column row width height
  runs=$top/runs/jacksboro8x_i10
  pics=$top/picture
  mkdir -p "$pics"
  panels=()
  add_panel() {  # LABEL RASTER
    [ -f "$2" ] || return 0
    local name
    name=$pics/$(basename "${2%.*}")
    gdal_translate -q "${gdal_q[@]}" -srcwin "${crop[@]}" "$2" "$name.crop.tif"
    gdaldem hillshade -q "${gdal_q[@]}" -compute_edges "$name.crop.tif" "$name.hs.tif"
    panels+=("$1=$name.hs.tif")
  }
  add_panel "TESK classic (-m 1)" "$runs/tesk_TESK_classic__m_1.tif"
  [ "$has_spline" = 1 ] && add_panel "TESK spline (defaults)" "$runs/tesk_TESK_spline_defaults.tif"
  add_panel "SAGA multilevel B-spline" "$runs/saga.sdat"
  add_panel "truth" "$data/jacksboro8x_true.tif"
  /usr/bin/python3 scripts/accuracy_montage.py docs/accuracy_hillshade.png "${panels[@]}"
  echo "picture: docs/accuracy_hillshade.png (crop: columns ${crop[0]}+${crop[2]}, rows ${crop[1]}+${crop[3]})"
fi
