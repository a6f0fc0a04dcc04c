// A tile run: one window (the core) of a raster computed with a halo
// around it by the same stages as a whole run, and a certificate that says
// whether every core pixel is proven to hold the whole run's value.
//
// The certificate is sound: when it says yes, the core's bytes are the
// whole run's.  It may say no when it cannot tell; a larger halo then
// helps, unless a hole reaches beyond it (tiles/README.md says why).
//
// What a whole run decides from the whole raster stays the caller's, done
// once: the check that the source holds a contour pixel, the warnings about
// the interval, the first contour value internal units cannot hold (a tile
// reports only its own), the preview's extremes, the output type.  Whether
// the smoothing window fits is decided here from the raster's size, never
// the tile's.
#pragma once

#include <cstdint>
#include <functional>

#include "core/grid.h"
#include "stages/pipeline.h"
#include "tiles/window.h"

namespace tesk {

// Fills out (already of the window's size) with the input samples of a
// window of the raster, as compute_dem takes them: raw samples, or internal
// units when the run's internal_input is set.  Called twice, the second
// time for the overlay.
using WindowReader = std::function<void(const Window&, IntGrid& out)>;

// A reader of the windows of a raster held whole in memory.
WindowReader window_reader(const IntGrid& raster);

struct TileResult {
  Window core;
  // The core's finished surface in internal units, after the overlay: what
  // RunObserver::before_conversion_back shows of a whole run.
  IntGrid internal;
  // The core in altitude units: the whole run's result grid (itab1) there.
  IntGrid altitude;
  // 1 where the core pixel is proven to hold the whole run's value.
  ByteGrid certain;
  std::int64_t uncertain = 0;  // core pixels not proven
  bool certified = false;      // every core pixel proven
  // The tile's own run, a report: its pass count and extremes are the
  // tile's, not the whole run's.
  RunStats stats;
};

// Computes the tile of req (valid(req) must hold, or invalid_argument
// is thrown) with the parameters of the whole run.  Throws what
// compute_dem throws; a ConversionError names the raster's row and column.
// observer, when given, is asked whether to stop.
//
// hole_values, when given, fills out with the hole values of a window
// (tiles/holes.h: in internal units, kNoData outside the holes a tile may
// fill), found over the whole raster.  Their pixels are proven whatever the
// halo: they are set before the stages as data, while the overlay reads the
// true input (tiles/README.md says why).  A hole value at a data pixel, or
// one the gap filling would not keep, throws invalid_argument: the holes
// were not found on this input.
TileResult run_tile(const TileRequest& req, const RunParams& p, const WindowReader& read,
                    const RunObserver* observer = nullptr, const WindowReader& hole_values = {});

// The smallest window of the raster that holds every pixel of r's core not
// proven (empty: rows and cols 0, when all are).
Window unproven_box(const TileResult& r);

// Takes into r the pixels of patch's core that patch proves and r does not
// (patch's core within r's): each proven pixel holds the whole run's value,
// whichever tile proved it.  Its counts and certification follow; its
// stats take the patch's passes and sweeps in.  Throws invalid_argument when
// patch's core is not within r's.
void take_proven(TileResult& r, const TileResult& patch);

}  // namespace tesk
