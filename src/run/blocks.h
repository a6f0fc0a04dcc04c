// The run of an array too large for one machine's memory, held in blocks
// (tesk.fill over a dask array): the survey of each block, whose merge
// decides what the whole raster decides (tiles/plan.h), and one tile of
// the run, a block with the halo around it, proven or not.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "run/run_options.h"
#include "stages/spline/spline.h"
#include "run/samples.h"
#include "tiles/holes.h"
#include "tiles/plan.h"
#include "tiles/window.h"

namespace tesk {

// The survey of a block whose first pixel lies at (row0, col0) of the
// raster, and the summary of its holes (nothing when a value does not fit
// internal units: the survey refuses the raster).
struct BlockSurvey {
  RasterSurvey raster;
  std::optional<BlockSummary> holes;
};
BlockSurvey survey_samples(const Samples& block, const FillOptions& o, std::int64_t row0, std::int64_t col0);

// The values of the holes of one value in a block (kNoData elsewhere), its
// edge labels' borders stitched over the whole raster (tiles/hole_stitch.h).
IntGrid block_hole_values(const Samples& block, const FillOptions& o, const std::vector<HoleBorder>& edge_borders);

// A tile of the run of a raster too large to be held whole, the raster's
// decisions made before by the caller from the surveys of every block: a
// contour pixel exists and no value is too large.  block holds the tile's
// extent (the core with its halo, clipped to the raster: tile_extent), run
// on one thread; hole_values, when given, holds the values of the whole
// raster's holes of one value over the same extent.  The core's values go into out (C order, o.out's type)
// exactly as fill writes them in a whole run; when an integer type cannot
// hold them, nothing is written, and the caller refuses the run once it
// knows the range of every tile (check_result_type).
struct TileFill {
  bool certified = false;      // every core pixel proven to be the whole run's
  std::int64_t uncertain = 0;  // the core pixels not proven
  double minimum = 0, maximum = 0;  // the core's range in o.out's type
  bool written = false;
  Window unproven;  // the box of the core pixels not proven, in the raster (fill_tile)
};
TileFill fill_tile(const Samples& block, const TileRequest& request, const FillOptions& o, void* out,
                   const IntGrid* hole_values = nullptr);

// A fitted surface over blocks.  The block's contours in internal units
// (kNoData off them), for the choice of the smoothing over windows of the
// whole raster (fitted_params in run/method.h).  Throws RunError for a value
// internal units cannot hold.
IntGrid block_contours(const Samples& block, const FillOptions& o);

// The range of the border of each pixel's hole (tiles/holes.h: hole_ranges),
// the block's edge labels' borders stitched over the whole raster.
HoleRanges block_hole_ranges(const Samples& block, const FillOptions& o, const std::vector<HoleBorder>& edge_borders);

// A tile of a fitted surface (tiles/fitted_tile.h): block holds the extent
// of the core with the wider halo, clipped to the raster, and lo and hi the
// ranges of its holes over the same extent; p the whole raster's parameters
// (fitted_params).  Certified when the fits with the request's halo and with
// `wider` agree within a thousandth of the interval; the wider one's core
// goes into out as fill writes a fitted surface.
TileFill fit_block(const Samples& block, const HoleRanges& ranges, const TileRequest& request, int wider,
                   const SplineParams& p, const FillOptions& o, void* out);

}  // namespace tesk
