// Distances on a tile that its certificate needs: the layer at which a
// dilation pass's growth reaches each no-data pixel, and whether a set of
// pixels comes within a given chessboard distance (the larger of the row
// and column offsets) of a pixel.
//
// Grids here are framed: one pixel wider on each side than the tile, tile
// pixel (i, j) at (i + 1, j + 1), the frame holding 0.
#pragma once

#include <cstddef>
#include <cstdint>
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
// data (framed) flags the pixels holding data before the pass and nodata
// lists the others; layer (framed) receives the layers at the listed
// pixels (kFar where nothing grows: a tile without data) and is left as it
// is elsewhere.  front and next are scratch lists.
void growth_layers(const ByteGrid& data, const std::vector<Pixel>& nodata, IntGrid& layer,
                   std::vector<std::size_t>& front, std::vector<std::size_t>& next, CancelCheck cancel = {});

// Counts of a set of pixels over rectangles, from running sums.
class SetCounts {
 public:
  // The set: the pixels of flags (framed) that are not 0.  The pool, when
  // given, shares the rows and then the columns.
  void build(const ByteGrid& flags, ThreadPool* pool = nullptr);
  // Whether a pixel of the set lies within distance r of the rectangle of
  // rows i0..i1 and columns j0..j1 (a pixel when i0 = i1 and j0 = j1).
  bool near(int i0, int i1, int j0, int j1, int r) const {
    const auto w = static_cast<std::size_t>(cols_) + 1;
    const auto a = static_cast<std::size_t>(i0 > r ? i0 - r : 0);
    const auto b = static_cast<std::size_t>(rows_ - i1 > r + 1 ? i1 + r + 1 : rows_);
    const auto c = static_cast<std::size_t>(j0 > r ? j0 - r : 0);
    const auto d = static_cast<std::size_t>(cols_ - j1 > r + 1 ? j1 + r + 1 : cols_);
    return sums_[b * w + d] - sums_[a * w + d] - sums_[b * w + c] + sums_[a * w + c] != 0;
  }

 private:
  int rows_ = 0, cols_ = 0;
  // sums_[(i * (cols_ + 1)) + j]: the set's pixels in rows < i and columns
  // < j, modulo 2^32 (the differences stay exact).
  std::vector<std::uint32_t> sums_;
};

}  // namespace tesk
