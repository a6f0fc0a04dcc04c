#!/usr/bin/env bash
# Builds TESK, computes DEMs from the shipped 20 m contours of the jacksboro
# sample (images/demo/jacksboro_i20_c.tif) and measures them against the true
# elevation model they were drawn from (images/demo/jacksboro_true.tif): the
# mean error, RMSE and largest error over the pixels off the contours, for
# each smoothing window.  Also remakes the pictures of
# the README section "From contour lines to a DEM", under docs/ (--no-pictures to skip that).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib.sh
# gdal-bin: gdal_translate draws the contour picture.
tesk_install_deps "${TESK_BUILD_PACKAGES[@]}" gdal-bin

tesk_configure build/tools Release
cmake --build build/tools --target tesk tesk_accuracy > /dev/null

out=build/walkthrough
mkdir -p "$out"
contours=images/demo/jacksboro_i20_c.tif
truth=images/demo/jacksboro_true.tif

for m in 1 3 5; do
  ./build/tools/tesk "$contours" "$out/jacksboro_m$m.tif" -i 20 -m "$m" -q --overwrite
  echo "== window $m: $out/jacksboro_m$m.tif"
  ./build/tools/tesk_accuracy "$out/jacksboro_m$m.tif" "$truth" "$contours"
done

if [ "${1:-}" != "--no-pictures" ]; then
  # The contour raster as a picture: altitudes in grey, the pixels off the contours black.
  gdal_translate -q --config GDAL_PAM_ENABLED NO -of PNG -ot Byte -scale 240 1060 0 254 -a_nodata none \
    "$contours" docs/contours.png
  ./build/tools/tesk "$contours" "$out/jacksboro_dem.tif" -i 20 -m 3 -q --overwrite \
    --preview docs/preview.png --hillshade docs/hillshade.png
  ./build/tools/tesk "$contours" "$out/valleys_dem.tif" -i 20 -m 3 -q --overwrite \
    --mask images/demo/jacksboro_valleys.geojson --preview docs/valleys_preview.png \
    --hillshade docs/valleys_hillshade.png
  echo "pictures: docs/contours.png docs/preview.png docs/hillshade.png docs/valleys_*.png"
fi
