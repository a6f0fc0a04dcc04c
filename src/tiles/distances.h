// Distances on a tile that its certificate needs: the chessboard distance
// to a set of pixels, and the layer at which a dilation pass's growth
// reaches each no-data pixel.
#pragma once

#include <cstdint>

#include "core/grid.h"
#include "stages/progress.h"

namespace tesk {

// Farther than any distance on a grid; sums of a few of these stay ints.
inline constexpr std::int32_t kFar = 1 << 28;

// In place, by two sweeps: every d[x] becomes the smallest d[y] + the
// chessboard distance from x to y (max of the row and column offsets).
// With 0 at a set of pixels and kFar elsewhere, the distance to that set.
void chessboard_transform(IntGrid& d, CancelCheck cancel = {});

// The growth layers of the pass `pass` of a dilation whose record is
// written_at (stages/dilation.h): before that pass a pixel holds data when
// it was written by an earlier one.  layer[x] is 0 at data pixels, 1 at
// no-data pixels with a data pixel in their cross, and otherwise one more
// than the chessboard distance to the nearest of those: the growth sweep
// in which the pass gives the pixel its grown value.  kFar and more where
// nothing grows (a grid without data).
void growth_layers(const IntGrid& written_at, int pass, IntGrid& layer, CancelCheck cancel = {});

}  // namespace tesk
