// A run by tiles, for a raster larger than the memory the run may use (or
// with --tile-size): the same outputs as a whole run, value for value, in
// memory that follows the tile size, not the raster.
//
// Everything the whole raster decides is decided once (tiles/plan.h):
// before the tiles, a pass over the source refuses it without a contour
// pixel, warns about the interval, finds the first contour value internal
// units cannot hold and estimates the halo; after them, the output type,
// its no-data value and the preview's extremes.  Each tile is computed with
// a halo by the run's method, which proves its core equal to the whole
// run's (tiles/README.md for the classic method); a tile not proven is
// computed again with a larger halo, as far as the memory allows.  As many
// tiles as the threads run at once, each on its share of them, while their
// grids fit the memory together (run/tile_flight.h); their results are
// taken in the tiles' order, so the bytes do not depend on which ends first.
// The
// tiles' results wait in a temporary raster beside the destination, from
// which the DEM, the preview and the hillshade are written.
#pragma once

#include "io/gdal_source.h"
#include "io/staged_output.h"
#include "run/outputs.h"
#include "run/run_options.h"
#include "run/run_result.h"

namespace tesk {

// Whether the run of src goes by tiles: a tile size given, or a whole run
// that does not fit the memory (less GDAL's block cache, the run's overhead
// and the mask).
bool runs_by_tiles(const RunOptions& o, const gdal::Source& src, int threads);

// The run by tiles.  Throws as run_file does; MemoryRefusal before any work
// when not even a tile of 256 pixels fits, FileSystemFault when the
// temporary and output rasters exceed the free disk space, RunError when
// the method cannot run by tiles.
FileRunResult run_tiled(const RunOptions& o, const Destination& dest, gdal::Source& src, int threads,
                        const RunHooks& hooks, Staging& staging);

}  // namespace tesk
