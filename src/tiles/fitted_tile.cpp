#include "tiles/fitted_tile.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "core/units.h"

namespace tesk {
namespace {

// A fitted extent: its contours read, fitted, bounded and overlaid.  Unless
// the extent is the whole raster, which is fitted as a whole run fits it,
// an extent whose contours leave nothing to fit (none, inside a sea, or
// without tension on one straight line) gets the middle of its holes'
// ranges.  spread tells the extent's contours.
Grid<double> fit_extent(const Window& extent, bool whole, const SplineParams& p, bool overlay,
                        const FittedTileInput& in, SplineStats& stats, ContourSpread& spread, CancelCheck cancel) {
  IntGrid contours(extent.rows, extent.cols), lo(extent.rows, extent.cols), hi(extent.rows, extent.cols);
  in.contours(extent, contours);
  in.lo(extent, lo);
  in.hi(extent, hi);
  Grid<double> surface(extent.rows, extent.cols);
  spread = contour_spread(contours);
  const bool free_slope = spread == ContourSpread::kOneLine && p.tension.value_or(0) == 0;
  if (!whole && (spread == ContourSpread::kNone || free_slope)) {
    for (std::size_t k = 0; k < surface.size(); ++k)
      if (lo.data()[k] != kNoData) surface.data()[k] = (static_cast<double>(lo.data()[k]) + hi.data()[k]) / 2;
    return surface;
  }
  SplineParams fixed = p;
  fixed.bound_holes = false;
  stats = fit_spline(contours, fixed, surface, {}, cancel);
  bound_and_overlay(surface, contours, lo, hi, overlay);
  return surface;
}

}  // namespace

void bound_and_overlay(Grid<double>& surface, const IntGrid& contours, const IntGrid& lo, const IntGrid& hi,
                       bool overlay) {
  for (std::size_t k = 0; k < surface.size(); ++k) {
    double& v = surface.data()[k];
    const std::int32_t c = contours.data()[k];
    if (c != kNoData) {
      if (overlay) v = c;
    } else if (lo.data()[k] != kNoData) {
      v = std::clamp(v, static_cast<double>(lo.data()[k]) - 512.0, static_cast<double>(hi.data()[k]) + 512.0);
    }
  }
}

FittedTile fit_tile(const TileRequest& request, int wider, const SplineParams& p, double tolerance, bool overlay,
                    const FittedTileInput& input, CancelCheck cancel) {
  if (!valid(request) || wider < request.halo || !p.lambda)
    throw std::invalid_argument("fit_tile: a valid request, a wider halo, and the raster's smoothing");
  FittedTile t;
  t.core = request.core;
  const Window& c = request.core;
  // The wider fit first: its core is kept, its grids freed before the other.
  TileRequest w = request;
  w.halo = wider;
  const Window outer = tile_extent(w);
  const bool whole = outer.rows == request.raster_rows && outer.cols == request.raster_cols;
  ContourSpread spread{};
  {
    const Grid<double> s = fit_extent(outer, whole, p, overlay, input, t.stats, spread, cancel);
    t.values = Grid<double>(c.rows, c.cols);
    for (int i = 0; i < c.rows; ++i)
      std::copy(s[c.row0 - outer.row0 + i] + (c.col0 - outer.col0),
                s[c.row0 - outer.row0 + i] + (c.col0 - outer.col0) + c.cols, t.values[i]);
  }
  if (whole) {  // the whole run's fit itself
    t.certified = true;
    return t;
  }
  // Nothing is proven where the narrower extent's contours leave the
  // surface undecided: fits to contours of one value, to none, or to one
  // line agree whatever the raster holds beyond them.
  t.uncertain = static_cast<std::int64_t>(c.rows) * c.cols;
  const Window inner = tile_extent(request);
  if (inner.row0 == outer.row0 && inner.col0 == outer.col0 && inner.rows == outer.rows && inner.cols == outer.cols)
    return t;
  SplineStats unused;
  const Grid<double> s = fit_extent(inner, false, p, overlay, input, unused, spread, cancel);
  if (spread != ContourSpread::kSurface) return t;
  t.uncertain = 0;
  for (int i = 0; i < c.rows; ++i)
    for (int j = 0; j < c.cols; ++j) {
      const double d = std::fabs(s[c.row0 - inner.row0 + i][c.col0 - inner.col0 + j] - t.values[i][j]);
      t.largest_difference = std::max(t.largest_difference, d);
      t.uncertain += !(d <= tolerance);
    }
  t.certified = t.uncertain == 0;
  return t;
}

}  // namespace tesk
