// Distances on a tile that its certificate needs: the layer at which a
// dilation pass's growth reaches each no-data pixel, and whether a set of
// pixels comes within a given chessboard distance (the larger of the row
// and column offsets) of a pixel.
//
// Grids here are framed: one pixel wider on each side than the tile, tile
// pixel (i, j) at (i + 1, j + 1), the frame holding 0.
#pragma once

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "core/grid.h"
#include "core/thread_pool.h"
#include "stages/progress.h"

namespace tesk {

// Farther than any distance on a grid; sums of a few of these stay ints.
inline constexpr std::int32_t kFar = 1 << 28;

// A pixel of a tile.
struct Pixel {
  std::int32_t i = 0;
  std::int32_t j = 0;
};

// The growth layers of one dilation pass: the sweep in which the pass gives
// each no-data pixel its grown value.  1 for a pixel with a data pixel in
// its cross; then one more than the chessboard distance to the nearest
// data or layer-1 pixel.  Such a nearest pixel is reached through no-data
// pixels only (a data pixel on the way would be nearer), so the layers are
// found by a search over the no-data pixels alone.
//
// data (framed) flags the pixels holding data before the pass and the
// pieces list no-data pixels: all of them, or those of a region that holds
// the nearest growth source of each pixel whose layer is wanted.  layer
// (framed) receives the layers at the listed pixels (kFar where nothing
// grows: a tile without data), and may receive those of other no-data
// pixels.  front and next are scratch lists.
void growth_layers(const ByteGrid& data, std::span<const std::span<const Pixel>> pieces, IntGrid& layer,
                   BlockVector<std::size_t>& front, BlockVector<std::size_t>& next, CancelCheck cancel = {});

// A rectangle of tile pixels, rows i0..i1 and columns j0..j1; empty until
// a pixel is added, or when either range is (an intersection may be).
struct Rect {
  int i0 = INT_MAX, i1 = -1, j0 = INT_MAX, j1 = -1;
  bool empty() const { return i1 < i0 || j1 < j0; }
  void add(Pixel p) {
    i0 = std::min(i0, p.i), i1 = std::max(i1, p.i), j0 = std::min(j0, p.j), j1 = std::max(j1, p.j);
  }
  void add(const Rect& r) {
    if (!r.empty()) add(Pixel{r.i0, r.j0}), add(Pixel{r.i1, r.j1});
  }
};

// Counts of a set of pixels over rectangles, from running sums over a box
// that holds the set (nothing needs summing outside it).
class SetCounts {
 public:
  // The set: the pixels of flags (framed) that are not 0 and lie in box (no
  // pixel when it is empty).  The pool, when given, shares the rows and then
  // the columns.
  void build(const ByteGrid& flags, const Rect& box, ThreadPool* pool = nullptr);
  // Whether a pixel of the set lies within distance r of the rectangle of
  // rows i0..i1 and columns j0..j1 (a pixel when i0 = i1 and j0 = j1).
  bool near(int i0, int i1, int j0, int j1, int r) const {
    if (rows_ == 0) return false;
    // The rectangle grown by r, clipped to the box, in the box's coordinates:
    // rows a..b - 1 and columns c..d - 1.  r stays below 2^29 and the tile's
    // sides below 2^31 - 2^30, so nothing overflows.
    const int a = std::max(i0 - r - box_.i0, 0), b = std::min(i1 + r + 1 - box_.i0, rows_);
    const int c = std::max(j0 - r - box_.j0, 0), d = std::min(j1 + r + 1 - box_.j0, cols_);
    if (a >= b || c >= d) return false;
    const auto w = static_cast<std::size_t>(cols_) + 1;
    const auto A = static_cast<std::size_t>(a), B = static_cast<std::size_t>(b), C = static_cast<std::size_t>(c),
               D = static_cast<std::size_t>(d);
    return sums_[B * w + D] - sums_[A * w + D] - sums_[B * w + C] + sums_[A * w + C] != 0;
  }

 private:
  Rect box_;
  int rows_ = 0, cols_ = 0;  // the box's, 0 when it is empty
  // sums_[(i * (cols_ + 1)) + j]: the set's pixels in the box's rows < i and
  // columns < j, modulo 2^32 (the differences stay exact).
  BlockVector<std::uint32_t> sums_;
};

}  // namespace tesk
