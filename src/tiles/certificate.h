// Which pixels of a tile run are proven to hold the whole run's values.
// tiles/README.md gives the argument; in short, a pixel is uncertain from
// the moment something it depends on may differ from the whole run.
#pragma once

#include <cstdint>
#include <span>

#include "core/grid.h"
#include "stages/progress.h"
#include "tiles/window.h"

namespace tesk {

// The pixels (1) of a tile whose values after the dilation and the gap
// filling are proven equal to the whole run's, from the tile's record of
// its passes (stages/dilation_literal.h) and their count, the last one writing
// nothing.  sweeps, when it holds one count for each pass, gives the growth
// sweeps each made (its largest layer plus one); cut names the sides beyond
// which the raster goes on.  threads share each pass's checks and counts;
// the pixels proven never depend on their number.  Each pass checks only
// the pixels as near a cut side as the passes so far can have brought
// uncertainty, and with sweeps grows the layers only near enough those;
// every_pixel grows and checks them all, which proves the same pixels (for
// the tests).
ByteGrid certain_after_gap_filling(const IntGrid& written_at, int passes, std::span<const std::int64_t> sweeps,
                                   CutSides cut, CancelCheck cancel = {}, int threads = 1, bool every_pixel = false);

// The pixels proven after the smoothing of degree maille: those whose
// window, placed as the whole raster places it, holds only pixels proven
// before it.  tile is where the tile lies in the raster, whose size must
// hold the window (window_fits): whether to smooth is the whole raster's
// decision.
ByteGrid certain_after_smoothing(const ByteGrid& certain, const Window& tile, int raster_rows, int raster_cols,
                                 int maille);

}  // namespace tesk
