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

void growth_layers(const ByteGrid& data, const std::vector<std::size_t>& nodata, IntGrid& layer,
                   std::vector<std::size_t>& front, std::vector<std::size_t>& next, CancelCheck cancel) {
  const int rows = data.rows(), cols = data.cols();
  const std::uint8_t* d = data.data();
  std::int32_t* l = layer.data();
  const auto w = static_cast<std::size_t>(cols);
  // Layers 1 and 2 from the data pixels around; the others unreached.
  front.clear();
  next.clear();
  for (std::size_t n = 0; n < nodata.size(); ++n) {
    if (n % static_cast<std::size_t>(CancelCheck::kPixels) == 0) cancel.poll();
    const std::size_t x = nodata[n];
    const int i = static_cast<int>(x / w), j = static_cast<int>(x % w);
    const bool up = i > 0, down = i + 1 < rows, left = j > 0, right = j + 1 < cols;
    if ((up && d[x - w]) || (left && d[x - 1]) || (right && d[x + 1]) || (down && d[x + w])) {
      l[x] = 1;
      front.push_back(x);
    } else if ((up && left && d[x - w - 1]) || (up && right && d[x - w + 1]) || (down && left && d[x + w - 1]) ||
               (down && right && d[x + w + 1])) {
      l[x] = 2;
      next.push_back(x);
    } else {
      l[x] = kFar;
    }
  }
  // Then ring by ring from the layer-1 pixels: layer 2 also takes their
  // unreached ring neighbours, each later layer those of the one before.
  for (std::int32_t layer_of_next = 2; !front.empty() || !next.empty(); ++layer_of_next) {
    cancel.poll();
    for (const std::size_t x : front) {
      const int i = static_cast<int>(x / w), j = static_cast<int>(x % w);
      for (int k = std::max(i - 1, 0); k <= std::min(i + 1, rows - 1); ++k)
        for (int m = std::max(j - 1, 0); m <= std::min(j + 1, cols - 1); ++m) {
          const std::size_t y = static_cast<std::size_t>(k) * w + static_cast<std::size_t>(m);
          if (!d[y] && l[y] == kFar) {
            l[y] = layer_of_next;
            next.push_back(y);
          }
        }
    }
    front.swap(next);
    next.clear();
  }
}

}  // namespace tesk
