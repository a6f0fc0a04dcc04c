// The contour dilation computed by two sweeps a pass instead of one sweep
// per growth layer.  It gives exactly the values, pass counts and growth
// sweep counts of dilate_literal.  The module lives in stages/dilation/:
//
// How a pass works.  The literal growth gives each no-data pixel a layer d
// and a value v: d is one more than the chessboard distance to the nearest
// data or layer-1 pixel, and v the smallest value among the nearest ones.
// Packed into one key (d, v) compared as a pair (keys.h), that is a
// shortest-path labelling with unit steps over the 3 x 3 neighbourhood, and
// every pixel on a shortest path is nearer still, so the distance needs no
// obstacles.  Such a labelling is exact after two sweeps: one down the rows
// with the chains along each row to the right, one up the rows with the
// chains to the left, since a shortest path can always take its steps in
// those two orders (sparse_pass.cpp, grow(), says it pixel by pixel).  Then
// every reached pixel whose grown value has a strictly greater cross
// neighbour takes the midpoint between them (row_kernels.h).
//
// A walk (walker.h, walks.cpp) goes over the rows still holding grown
// pixels.  Row by row, and only over the runs of 16-pixel tiles that hold
// such a pixel (tiles.h): the first sweep settles what the last pass wrote,
// grows layer 1 and chains (forward_row); the second sweep, walked the
// other way, chains again (backward_row); one row behind it, the last step
// flags the reached pixels and the midpoints are written (midpoint_row in
// sweeps.cpp).  A pass is two walks, or one when the next pass's first
// sweep rides two rows behind the second (pass_driver.cpp).  With several
// threads the columns are cut into lanes that keep step row by row
// (lanes.h).  Once a handful of pixels are left, a pass visits them one by
// one instead (sparse_pass.h).
//
// When a component is dropped.  A set of no-data pixels connected through
// their 8-neighbours in which a pass writes nothing is grown identically,
// and writes nothing, in every later pass (states.h says why).  Once the
// pixels still grown are few, a flood from the pixels a pass wrote finds
// the components still alive (flood.h); the others are grown once more to
// measure their layer count, which every later pass still adds to its
// sweep count, and then left out for good.
//
// It needs no grid of its own: the grown surface lives in a scratch int
// grid, the pixel states in a scratch byte grid, and the layers in itab's
// no-data pixels while a pass grows.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/grid.h"
#include "stages/dilation_literal.h"
#include "stages/progress.h"

namespace tesk {

struct FastDilationStats {
  int passes = 0;
  std::int64_t growth_sweeps = 0;  // the sweeps the literal passes would have made
  std::int64_t pixels_visited = 0; // pixels examined: scans of no-data pixels, growth, midpoint and flood visits
  std::int64_t pixels_dropped = 0; // no-data pixels left out of every later pass, their component being final
};

// Bounds on the scratch list, in entries (a pixel index each).
struct FastDilationLimits {
  // The stack of the search for components that can no longer change (on
  // each thread); 0 picks one sixteenth of the pixel count (at least 4096).
  // When it overflows, the search gives up and everything grown is grown
  // again.
  std::size_t stack_capacity = 0;
  // The search for components that can no longer change runs after a pass
  // only when at most this many grown pixels are still without data (before
  // that, nearly every component changes and the search would cost more
  // than it saves); 0 picks the stack capacity, so that the search never
  // outgrows its stack.
  std::size_t flood_limit = 0;
  // A pass walks the rows still holding grown pixels with straight-line
  // code over the 16-pixel tiles that hold one when at least this share of
  // those rows' pixels is still grown, and visits pixel by pixel, skipping
  // data and dead pixels a word at a time, otherwise (0: always the former,
  // above 1: always the latter).  Both give the same result.
  double dense_share = 0.002;
  // With more than one thread, the flood splits the rows still grown into
  // one block per thread, each at least this many rows long (0: 256).  The
  // result does not depend on the split.
  int min_block_rows = 0;
  // With more than one thread, the straight-line walks split the columns
  // into one lane per thread, each at least this many 16-pixel tiles wide
  // (0: 32).  The result does not depend on the split.
  int min_lane_tiles = 0;
  // The lanes keep step at every row, so a walk uses them only when its
  // rows hold on average at least this many active tiles (0: 16); other
  // walks are cut into parts of the rows between rows without grown pixels,
  // or walked on one thread.  The result does not depend on it.
  int lane_row_tiles = 0;
  // At most this many lanes of columns (0: as many as the processors the
  // process may run on).
  int max_lanes = 0;
  // When positive, the lanes of every walk that keeps step merge at this
  // step, as when another process takes a processor (for the tests).
  int merge_at_step = 0;
  // When positive, the last lane of every walk over lanes starts this many
  // microseconds late, as when its thread waits for a processor (for the
  // tests).
  int late_lane_us = 0;
};

class ThreadPool;

// itab as for dilate_literal; grown and state are scratch grids of itab's
// shape whose contents are overwritten.  pool, when given, shares the
// straight-line walks among its threads (same result at every count).
// cancel is polled by every thread; once it asks, every lane of a walk
// stops (none is left waiting for another) and Cancelled is thrown.
// written_at, when given, receives the record of the passes that
// dilate_literal keeps, entered where each midpoint is written.
FastDilationStats dilate_fast(IntGrid& itab, IntGrid& grown, ByteGrid& state, const PassCallback& on_pass,
                              FastDilationLimits limits = {}, ThreadPool* pool = nullptr, CancelCheck cancel = {},
                              IntGrid* written_at = nullptr);

}  // namespace tesk
