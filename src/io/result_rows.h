// A finished result in internal units as the writers read it: a block of
// rows at a time, so that a result held whole in memory and one held in a
// temporary raster on disk (a tiled run's) are written by the same code.
// The values are reals: whole numbers for the classic method, any real for
// a fitted surface.
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "core/grid.h"

namespace tesk::gdal {

struct ResultRows {
  int rows = 0, cols = 0;
  // Rows [i, i + n) of the result, row after row: valid until the next call.
  std::function<const double*(int i, int n)> at;

  static ResultRows of(const Grid<double>& g) {
    return {g.rows(), g.cols(), [&g](int i, int) { return g[i]; }};
  }
  // Each reader converts into a buffer of its own.
  static ResultRows of(const IntGrid& g) {
    auto buffer = std::make_shared<std::vector<double>>();
    return {g.rows(), g.cols(), [&g, buffer](int i, int n) {
              buffer->resize(static_cast<std::size_t>(n) * static_cast<std::size_t>(g.cols()));
              std::copy(g[i], g[i] + buffer->size(), buffer->begin());  // n whole rows: the rows follow each other
              return static_cast<const double*>(buffer->data());
            }};
  }
};

}  // namespace tesk::gdal
