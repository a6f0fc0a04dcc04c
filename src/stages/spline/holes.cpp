#include "stages/spline/holes.h"

#include <algorithm>
#include <limits>
#include <vector>

namespace tesk::spline {

std::int64_t bound_holes(const IntGrid& contours, Grid<double>& surface, double interval, CancelCheck cancel) {
  const int rows = contours.rows(), cols = contours.cols();
  // Labels of the holes, found by a flood over each one in turn; the
  // surface's values are only read once every label is known.
  IntGrid label(rows, cols);  // 0: not yet seen or a contour pixel; k + 1: hole k
  std::vector<double> lo, hi;
  std::vector<std::int64_t> stack;
  std::int64_t visited = 0;
  for (int i0 = 0; i0 < rows; ++i0) {
    cancel.at_row(i0, cols);
    for (int j0 = 0; j0 < cols; ++j0) {
      if (contours[i0][j0] != INT32_MIN || label[i0][j0] != 0) continue;
      const int id = static_cast<int>(lo.size()) + 1;
      double l = std::numeric_limits<double>::infinity(), h = -l;
      label[i0][j0] = id;
      stack.push_back(static_cast<std::int64_t>(i0) * cols + j0);
      while (!stack.empty()) {
        const std::int64_t p = stack.back();
        stack.pop_back();
        if (++visited % CancelCheck::kPixels == 0) cancel.poll();
        const int i = static_cast<int>(p / cols), j = static_cast<int>(p % cols);
        const int ni[4] = {i - 1, i + 1, i, i};
        const int nj[4] = {j, j, j - 1, j + 1};
        for (int k = 0; k < 4; ++k) {
          if (ni[k] < 0 || ni[k] >= rows || nj[k] < 0 || nj[k] >= cols) continue;
          const std::int32_t c = contours[ni[k]][nj[k]];
          if (c != INT32_MIN) {
            l = std::min(l, static_cast<double>(c));
            h = std::max(h, static_cast<double>(c));
          } else if (label[ni[k]][nj[k]] == 0) {
            label[ni[k]][nj[k]] = id;
            stack.push_back(static_cast<std::int64_t>(ni[k]) * cols + nj[k]);
          }
        }
      }
      lo.push_back(l - interval);
      hi.push_back(h + interval);
    }
  }
  std::int64_t changed = 0;
  for (int i = 0; i < rows; ++i) {
    cancel.at_row(i, cols);
    for (int j = 0; j < cols; ++j) {
      const int id = label[i][j];
      if (id == 0) continue;
      const double l = lo[static_cast<std::size_t>(id - 1)], h = hi[static_cast<std::size_t>(id - 1)];
      if (!(l <= h)) continue;  // no border
      double& v = surface[i][j];
      const double b = std::clamp(v, l, h);
      if (b != v) {
        v = b;
        ++changed;
      }
    }
  }
  return changed;
}

}  // namespace tesk::spline
