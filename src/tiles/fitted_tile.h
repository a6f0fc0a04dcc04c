// A tile of a fitted surface (the spline): a window of the raster (the core)
// fitted with a halo around it, its smoothing the whole raster's (chosen
// once, from windows of the whole raster), each hole kept within the range
// of its border in the whole raster.
//
// A fit is global: a tile's core never holds the whole run's bytes, since
// pixels beyond the halo still pull on it, however little.  What is checked
// instead, tile by tile: the core fitted again with a wider halo differs
// nowhere by more than a tolerance (a thousandth of the interval), and the
// wider fit is kept.  Where the contours are dense, their pull decays within
// a few lines and the check passes with a small halo; a hole wider than the
// tile (a sea) needs a halo that reaches across it, as the classic
// certificate does.  The guarantee is the check's: never a seam beyond the
// tolerance between the halos compared.  Two fits agree, though, whatever
// lies beyond them, where their contours leave the surface undecided: all
// of one value (the fit is flat), none, or all on one straight line (the
// slope across it is free).  Such a narrower extent proves nothing, and
// its halo grows until it holds contours that decide a surface.  Contours
// that a surface without curvature fits exactly (a plane, or the saddle
// r x c: evenly spaced straight contours of a generated plane) are fitted
// exactly by both extents too, and are not recognised.
#pragma once

#include <cstdint>

#include "core/grid.h"
#include "stages/progress.h"
#include "stages/spline/spline.h"
#include "tiles/tile_run.h"
#include "tiles/window.h"

namespace tesk {

// The largest difference between a tile's two fits that proves it, in
// internal units (512 to the interval): a thousandth of the interval.
inline constexpr double kFittedTolerance = 0.512;

struct FittedTile {
  Window core;
  Grid<double> values;               // the core in internal units, from the wider fit
  std::int64_t uncertain = 0;        // core pixels whose two fits differ by more than the tolerance
  bool certified = false;            // none does
  double largest_difference = 0;     // internal units
  SplineStats stats;                 // the wider fit's
};

// The windows a tile reads: the contours in internal units (kNoData off
// them), and the range of the border of each pixel's hole in the whole
// raster (tiles/holes.h: hole_ranges; kNoData at contour pixels).
struct FittedTileInput {
  WindowReader contours;
  WindowReader lo, hi;
};

// The bound of a fitted surface in its holes: each value of a hole within
// [lo - 512, hi + 512] (internal units: an interval beyond the levels around
// it), the overlay's contour values laid back when asked.  On a window of the
// raster, with that window's contours and ranges.
void bound_and_overlay(Grid<double>& surface, const IntGrid& contours, const IntGrid& lo, const IntGrid& hi,
                       bool overlay);

// The tile of request fitted with its halo and with `wider` (a larger halo,
// or the same when the halo already reaches every edge of the raster: then
// nothing is compared and the tile is the whole run's fit).  p.lambda must be
// set (the whole raster's); p.bound_holes is ignored (the whole raster's
// ranges bound it).  Throws what fit_spline throws.
FittedTile fit_tile(const TileRequest& request, int wider, const SplineParams& p, double tolerance, bool overlay,
                    const FittedTileInput& input, CancelCheck cancel);

}  // namespace tesk
