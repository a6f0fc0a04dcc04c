// Contour dilation computed by breadth-first growth instead of full sweeps.
//
// Gives exactly the values, pass counts and growth sweep counts of
// dilate_literal: each pass grows layer by layer from the data pixels of
// itab, the first layer through the cross and the later ones through the
// ring, each layer reading only the layers before it (snapshot rule) and a
// pixel reached by several values in one layer taking the smallest; then the
// midpoints are written into the no-data pixels whose grown value has a
// strictly greater cross neighbour (the last one in the order above, left,
// right, below).
//
// What it costs: per pass, one scan of a byte per pixel, then work in
// proportion to the no-data pixels and their neighbours.  It needs no grid
// of its own: the grown surface lives in a scratch int grid, the pixel
// states in a scratch byte grid, and the growth frontiers in two bounded
// lists (when a layer outgrows them, the next layer is found by scanning the
// byte grid instead).
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/grid.h"
#include "stages/dilation.h"
#include "stages/progress.h"

namespace tesk {

struct FastDilationStats {
  int passes = 0;
  std::int64_t growth_sweeps = 0;  // the sweeps the literal passes would have made
  std::int64_t pixels_visited = 0; // pixels examined: scans of no-data pixels, growth and midpoint visits
};

// itab as for dilate_literal; grown and state are scratch grids of itab's
// shape whose contents are overwritten.  frontier_capacity bounds each
// frontier list (entries); 0 picks one sixteenth of the pixel count (at
// least 4096).
FastDilationStats dilate_fast(IntGrid& itab, IntGrid& grown, ByteGrid& state, const PassCallback& on_pass,
                              std::size_t frontier_capacity = 0);

}  // namespace tesk
