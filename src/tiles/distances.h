// Distances on a tile that its certificate needs: the chessboard distance
// to a set of pixels, and the layer at which a dilation pass's growth
// reaches each no-data pixel.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/grid.h"
#include "stages/progress.h"

namespace tesk {

// Farther than any distance on a grid; sums of a few of these stay ints.
inline constexpr std::int32_t kFar = 1 << 28;

// In place, by two sweeps: every d[x] becomes the smallest d[y] + the
// chessboard distance from x to y (max of the row and column offsets).
// With 0 at a set of pixels and kFar elsewhere, the distance to that set.
void chessboard_transform(IntGrid& d, CancelCheck cancel = {});

// The growth layers of one dilation pass: the sweep in which the pass gives
// each no-data pixel its grown value.  1 for a pixel with a data pixel in
// its cross; then one more than the chessboard distance to the nearest
// data or layer-1 pixel.  Such a nearest pixel is reached through no-data
// pixels only (a data pixel on the way would be nearer), so the layers
// are found by a search over the no-data pixels alone.
//
// nodata lists (as row-major indices) the pixels without data before the
// pass, data flags the others; layer receives the layers at the listed
// pixels (kFar where nothing grows: a grid without data) and is left as it
// is elsewhere.  front and next are scratch lists.
void growth_layers(const ByteGrid& data, const std::vector<std::size_t>& nodata, IntGrid& layer,
                   std::vector<std::size_t>& front, std::vector<std::size_t>& next, CancelCheck cancel = {});

}  // namespace tesk
