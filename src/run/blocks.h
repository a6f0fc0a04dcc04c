// The run of an array too large for one machine's memory, held in blocks
// (tesk.fill over a dask array): the survey of each block, whose merge
// decides what the whole raster decides (tiles/plan.h), and one tile of
// the run, a block with the halo around it, proven or not.
#pragma once

#include <cstdint>

#include "run/run_options.h"
#include "run/samples.h"
#include "tiles/plan.h"
#include "tiles/window.h"

namespace tesk {

// The survey of a block whose first pixel lies at (row0, col0) of the
// raster.
RasterSurvey survey_samples(const Samples& block, const FillOptions& o, std::int64_t row0, std::int64_t col0);

// A tile of the run of a raster too large to be held whole, the raster's
// decisions made before by the caller from the surveys of every block: a
// contour pixel exists and no value is too large.  block holds the tile's
// extent (the core with its halo, clipped to the raster: tile_extent), run
// on one thread.  The core's values go into out (C order, o.out's type)
// exactly as fill writes them in a whole run; when an integer type cannot
// hold them, nothing is written, and the caller refuses the run once it
// knows the range of every tile (check_result_type).
struct TileFill {
  bool certified = false;      // every core pixel proven to be the whole run's
  std::int64_t uncertain = 0;  // the core pixels not proven
  double minimum = 0, maximum = 0;  // the core's range in o.out's type
  bool written = false;
};
TileFill fill_tile(const Samples& block, const TileRequest& request, const FillOptions& o, void* out);

}  // namespace tesk
