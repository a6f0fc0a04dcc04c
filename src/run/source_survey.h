// The passes over a source file before a run by tiles, in strips of whole
// rows, in memory that follows the strip, not the raster: the survey of
// what the whole raster decides (tiles/plan.h), with the holes of each strip
// summarised (tiles/holes.h); then, once the strips' holes are stitched
// into the whole raster's, a second pass that writes the value of every
// pixel in a hole of one value, which any tile may then take as data.
#pragma once

#include <cstdint>
#include <vector>

#include "io/gdal_source.h"
#include "io/tile_store.h"
#include "stages/progress.h"
#include "tiles/hole_stitch.h"
#include "tiles/holes.h"
#include "tiles/plan.h"

namespace tesk {

struct SourceSurvey {
  RasterSurvey raster;
  BlockLayout strips;                  // the strips, as a layout of one column of blocks
  std::vector<BlockSummary> holes;     // each strip's holes, edges only
};

// Bytes a pixel of a strip takes at most, in either pass.
inline constexpr std::uint64_t kStripBytesPerPixel = 24;

// The first pass, in strips that fit `budget` bytes together (at least a
// row each), up to the first value internal units cannot hold (then
// raster.fault is set and the rest is not surveyed).  Strips are worked on
// `threads` at once; the result does not depend on their number.
SourceSurvey survey_source(gdal::Source& src, int equid, std::uint64_t budget, int threads, CancelCheck cancel);

// The second pass: the holes stitched, and the value of every pixel in a
// hole of one value (kNoData elsewhere) written into store.  Returns
// whether there is any.
bool write_hole_values(gdal::Source& src, int equid, const SourceSurvey& survey, gdal::TileStore& store, int threads,
                       CancelCheck cancel);

// The same second pass for a fitted surface: the range of the border of
// every pixel's hole (tiles/holes.h: hole_ranges; kNoData at the contours)
// into lo and hi.
void write_hole_ranges(gdal::Source& src, int equid, const SourceSurvey& survey, gdal::TileStore& lo,
                       gdal::TileStore& hi, int threads, CancelCheck cancel);

}  // namespace tesk
