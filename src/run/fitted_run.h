// A run by tiles of a fitted surface (the spline), for a raster larger than
// the memory the run may use, or with --tile-size.
//
// A fit is global, so no tile holds the whole fit's bytes; what a tile
// guarantees instead is checked (tiles/fitted_tile.h): its core fitted with
// its halo and with twice that halo differs nowhere by more than a
// thousandth of the interval, and the wider fit is kept.  A tile that fails
// the check is fitted again with the halo doubled, as far as the memory
// allows; a tile whose halo reaches every edge of the raster is the whole
// fit itself.  What the whole raster decides is decided once, from the
// whole raster: the refusals and warnings of the survey, the smoothing
// (chosen from the same windows of the raster as a whole run chooses it),
// the range of the border of every hole (the bound the surface keeps in
// each), then the output type and the preview's extremes.
#pragma once

#include "io/gdal_source.h"
#include "io/staged_output.h"
#include "run/outputs.h"
#include "run/run_options.h"
#include "run/run_result.h"

namespace tesk {

// Throws as run_tiled does; inside is the mask, read (or null).
FileRunResult run_fitted_tiles(const RunOptions& o, const Destination& dest, gdal::Source& src, int threads,
                               const RunHooks& hooks, Staging& staging, const ByteGrid* inside);

}  // namespace tesk
