#include "tiles/distances.h"

#include <algorithm>

namespace tesk {
namespace {

// One sweep of the transform: rows from `from` toward `to` (step dir),
// each pixel from the row before (three pixels) and the pixel before it in
// the row.
void sweep(IntGrid& d, int dir, CancelCheck cancel) {
  const int rows = d.rows(), cols = d.cols();
  const int first = dir > 0 ? 0 : rows - 1;
  for (int n = 0; n < rows; ++n) {
    cancel.at_row(n, cols);
    const int i = first + dir * n;
    std::int32_t* row = d[i];
    if (n > 0) {
      const std::int32_t* prev = d[i - dir];
      for (int j = 0; j < cols; ++j) {
        std::int32_t v = prev[j];
        if (j > 0) v = std::min(v, prev[j - 1]);
        if (j + 1 < cols) v = std::min(v, prev[j + 1]);
        row[j] = std::min(row[j], v + 1);
      }
    }
    if (dir > 0)
      for (int j = 1; j < cols; ++j) row[j] = std::min(row[j], row[j - 1] + 1);
    else
      for (int j = cols - 2; j >= 0; --j) row[j] = std::min(row[j], row[j + 1] + 1);
  }
}

}  // namespace

void chessboard_transform(IntGrid& d, CancelCheck cancel) {
  if (d.empty()) return;
  sweep(d, +1, cancel);
  sweep(d, -1, cancel);
}

void growth_layers(const IntGrid& written_at, int pass, IntGrid& layer, CancelCheck cancel) {
  const int rows = written_at.rows(), cols = written_at.cols();
  const auto data = [&](int i, int j) { return written_at[i][j] < pass; };
  // 0 at the data pixels and at the first layer, the growth's sources from
  // its second sweep on.
  for (int i = 0; i < rows; ++i) {
    cancel.at_row(i, cols);
    for (int j = 0; j < cols; ++j) {
      const bool source = data(i, j) || (i > 0 && data(i - 1, j)) || (j > 0 && data(i, j - 1)) ||
                          (j + 1 < cols && data(i, j + 1)) || (i + 1 < rows && data(i + 1, j));
      layer[i][j] = source ? 0 : kFar;
    }
  }
  chessboard_transform(layer, cancel);
  for (int i = 0; i < rows; ++i)
    for (int j = 0; j < cols; ++j)
      if (!data(i, j)) layer[i][j] += 1;
}

}  // namespace tesk
