// A finished result in internal units as the writers read it: a block of
// rows at a time, so that a result held whole in memory and one held in a
// temporary raster on disk (a tiled run's) are written by the same code.
#pragma once

#include <cstdint>
#include <functional>

#include "core/grid.h"

namespace tesk::gdal {

struct ResultRows {
  int rows = 0, cols = 0;
  // Rows [i, i + n) of the result, row after row: valid until the next call.
  std::function<const std::int32_t*(int i, int n)> at;

  static ResultRows of(const IntGrid& g) {
    return {g.rows(), g.cols(), [&g](int i, int) { return g[i]; }};
  }
};

}  // namespace tesk::gdal
