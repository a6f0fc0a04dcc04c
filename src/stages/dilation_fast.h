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
// A connected set of no-data pixels (8-neighbours) in which a pass writes
// nothing is grown identically, and writes nothing, in every later pass:
// once the remaining no-data pixels are few, a flood from the written pixels
// finds such sets after each pass and they are left out from then on.
//
// What it costs: per pass, a scan of a byte per pixel of the rows still
// holding pixels that may change (eight pixels at a time where they hold
// only data or dropped pixels), then work in proportion to the no-data
// pixels still grown and their neighbours.  It needs no grid of its own: the
// grown surface lives in a scratch int grid, the pixel states in a scratch
// byte grid, and the growth frontiers in two bounded lists (when a layer
// outgrows them, the next layer is found by scanning the byte grid instead).
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
  std::int64_t pixels_visited = 0; // pixels examined: scans of no-data pixels, growth, midpoint and flood visits
  std::int64_t pixels_dropped = 0; // no-data pixels left out of every later pass, their component being final
};

// Bounds on the scratch lists, in entries (a pixel index each).
struct FastDilationLimits {
  // Each of the two frontier lists; 0 picks one sixteenth of the pixel count
  // (at least 4096).  The flood uses one of them as its stack.
  std::size_t frontier_capacity = 0;
  // The search for components that can no longer change runs after a pass
  // only when at most this many grown pixels are still without data (before
  // that, nearly every component changes and the search would cost more
  // than it saves); 0 picks the frontier capacity, so that the search never
  // outgrows its stack.
  std::size_t flood_limit = 0;
};

// itab as for dilate_literal; grown and state are scratch grids of itab's
// shape whose contents are overwritten.
FastDilationStats dilate_fast(IntGrid& itab, IntGrid& grown, ByteGrid& state, const PassCallback& on_pass,
                              FastDilationLimits limits = {});

}  // namespace tesk
