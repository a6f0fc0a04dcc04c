// The holes of a whole raster from the summaries of its blocks: the holes
// that cross a seam between two blocks become one, and the border of each
// gathers the borders of its parts and the data pixels facing it across the
// seams.  Holes connect through the cross only, so the corners where four
// blocks meet join nothing.
#pragma once

#include <vector>

#include "tiles/holes.h"

namespace tesk {

// How a raster is cut into blocks: the first row of each row of blocks,
// then the raster's row count (0, ..., rows), and the same for the columns,
// as dask's chunks give them in offsets.  Strips of full rows have
// col_starts {0, cols}.  Every block holds at least one pixel.
struct BlockLayout {
  std::vector<int> row_starts;
  std::vector<int> col_starts;
};

// The final border of each edge label of each block: out[k][l - 1] for
// label l of block k, the blocks in row-major order as blocks holds them.
// Throws std::invalid_argument when a summary does not fit the layout.
// Memory: two words an edge label, the summaries' runs, nothing a pixel.
std::vector<std::vector<HoleBorder>> stitch(const BlockLayout& layout, const std::vector<BlockSummary>& blocks);

// Whether a hole crosses a seam between two blocks (pixels of it face each
// other across the seam) with a value a tile run may fill it with
// (hole_value of its border); stitched is what stitch gave for these
// blocks.  When none does, every hole of one value lies within a block.
bool fillable_across_seams(const BlockLayout& layout, const std::vector<BlockSummary>& blocks,
                           const std::vector<std::vector<HoleBorder>>& stitched);

}  // namespace tesk
