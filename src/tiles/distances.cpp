#include "tiles/distances.h"

#include <algorithm>

namespace tesk {
namespace {

// The layers of every pixel by sweeps over the whole framed grid, cheaper
// than the search while most pixels are no-data: 0 at the growth's sources
// (data and layer 1), the chessboard distance to them by one sweep down
// and one up, then the layers from it.
void layers_by_sweeps(const ByteGrid& data, IntGrid& layer, CancelCheck cancel) {
  const int rows = data.rows(), cols = data.cols();
  for (int i = 1; i + 1 < rows; ++i) {
    cancel.at_row(i, cols);
    const std::uint8_t *up = data[i - 1], *d = data[i], *down = data[i + 1];
    std::int32_t* l = layer[i];
    for (int j = 1; j + 1 < cols; ++j) l[j] = (d[j] | up[j] | down[j] | d[j - 1] | d[j + 1]) ? 0 : kFar;
    l[0] = l[cols - 1] = kFar;
  }
  std::fill(layer[0], layer[0] + cols, kFar);
  std::fill(layer[rows - 1], layer[rows - 1] + cols, kFar);
  for (int dir : {1, -1}) {
    for (int n = 1; n < rows; ++n) {
      cancel.at_row(n, cols);
      const int i = dir > 0 ? n : rows - 1 - n;
      std::int32_t* l = layer[i];
      const std::int32_t* p = layer[i - dir];
      for (int j = 1; j + 1 < cols; ++j) l[j] = std::min(l[j], std::min(std::min(p[j - 1], p[j]), p[j + 1]) + 1);
      if (dir > 0)
        for (int j = 1; j < cols; ++j) l[j] = std::min(l[j], l[j - 1] + 1);
      else
        for (int j = cols - 2; j >= 0; --j) l[j] = std::min(l[j], l[j + 1] + 1);
    }
  }
  for (int i = 0; i < rows; ++i) {
    const std::uint8_t* d = data[i];
    std::int32_t* l = layer[i];
    const bool frame_row = i == 0 || i + 1 == rows;
    for (int j = 0; j < cols; ++j) {
      l[j] = (frame_row || j == 0 || j + 1 == cols || d[j]) ? 0 : l[j] + 1;
    }
  }
}

}  // namespace

void growth_layers(const ByteGrid& data, std::span<const std::span<const Pixel>> pieces, IntGrid& layer,
                   BlockVector<std::size_t>& front, BlockVector<std::size_t>& next, CancelCheck cancel) {
  std::size_t listed = 0;
  for (const auto& piece : pieces) listed += piece.size();
  if (listed > data.size() / 2) {
    layers_by_sweeps(data, layer, cancel);
    return;
  }
  const std::uint8_t* d = data.data();
  std::int32_t* l = layer.data();
  const auto w = static_cast<std::size_t>(data.cols());
  // Layers 1 and 2 from the data pixels around (the frame holds none); the
  // others unreached.
  front.clear();
  next.clear();
  std::size_t n = 0;
  for (const auto& piece : pieces)
    for (const Pixel p : piece) {
      if (n++ % static_cast<std::size_t>(CancelCheck::kPixels) == 0) cancel.poll();
      const std::size_t x = static_cast<std::size_t>(p.i + 1) * w + static_cast<std::size_t>(p.j + 1);
      if (d[x - w] | d[x - 1] | d[x + 1] | d[x + w]) {
        l[x] = 1;
        front.push_back(x);
      } else if (d[x - w - 1] | d[x - w + 1] | d[x + w - 1] | d[x + w + 1]) {
        l[x] = 2;
        next.push_back(x);
      } else {
        l[x] = kFar;
      }
    }
  // Then ring by ring from the layer-1 pixels: layer 2 also takes their
  // unreached ring neighbours, each later layer those of the one before.
  // The frame holds 0: never unreached.
  const std::ptrdiff_t sw = static_cast<std::ptrdiff_t>(w);
  const std::ptrdiff_t ring[8] = {-sw - 1, -sw, -sw + 1, -1, 1, sw - 1, sw, sw + 1};
  for (std::int32_t depth = 2; !front.empty() || !next.empty(); ++depth) {
    cancel.poll();
    for (const std::size_t x : front)
      for (const std::ptrdiff_t o : ring) {
        const std::size_t y = x + static_cast<std::size_t>(o);
        if (l[y] == kFar) {
          l[y] = depth;
          next.push_back(y);
        }
      }
    front.swap(next);
    next.clear();
  }
}

void SetCounts::build(const ByteGrid& flags, const Rect& box, ThreadPool* pool) {
  box_ = box;
  rows_ = box.empty() ? 0 : box.i1 - box.i0 + 1;
  cols_ = box.empty() ? 0 : box.j1 - box.j0 + 1;
  const auto w = static_cast<std::size_t>(cols_) + 1;
  // Every sum is written below but those of row 0 and column 0.
  sums_.resize((static_cast<std::size_t>(rows_) + 1) * w);
  std::fill(sums_.begin(), sums_.begin() + static_cast<std::ptrdiff_t>(w), 0);
  for (std::size_t i = 1; i <= static_cast<std::size_t>(rows_); ++i) sums_[i * w] = 0;
  // The box's first flag of row i (framed: one row and column in).
  const auto flags_of = [&](int i) { return flags[box.i0 + i + 1] + box.j0 + 1; };
  if (!pool || pool->size() == 1) {
    for (int i = 0; i < rows_; ++i) {
      const std::uint8_t* f = flags_of(i);
      const std::uint32_t* above = &sums_[static_cast<std::size_t>(i) * w];
      std::uint32_t* row = &sums_[static_cast<std::size_t>(i + 1) * w];
      std::uint32_t run = 0;
      for (int j = 0; j < cols_; ++j) {
        run += f[j] != 0;
        row[j + 1] = above[j + 1] + run;
      }
    }
    return;
  }
  // The same sums in two steps: the counts along each row, then their sums
  // down each column (integers: the order of the additions changes nothing).
  pool->for_range(0, rows_, 16, [&](std::int64_t a, std::int64_t b, int) {
    for (auto i = static_cast<int>(a); i < b; ++i) {
      const std::uint8_t* f = flags_of(i);
      std::uint32_t* row = &sums_[static_cast<std::size_t>(i + 1) * w];
      std::uint32_t run = 0;
      for (int j = 0; j < cols_; ++j) row[j + 1] = run += f[j] != 0;
    }
  });
  pool->for_range(1, cols_ + 1, 64, [&](std::int64_t a, std::int64_t b, int) {
    for (int i = 1; i < rows_; ++i) {
      const std::uint32_t* above = &sums_[static_cast<std::size_t>(i) * w];
      std::uint32_t* row = &sums_[static_cast<std::size_t>(i + 1) * w];
      for (auto j = static_cast<std::size_t>(a); j < static_cast<std::size_t>(b); ++j) row[j] += above[j];
    }
  });
}

}  // namespace tesk
