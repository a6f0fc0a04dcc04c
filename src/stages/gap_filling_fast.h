// Residual gap filling that visits only the pixels that can still change.
//
// Gives exactly the values and the sweep count of fill_gaps_literal.  The
// first sweep visits the whole grid like the literal one.  Afterwards a
// no-data pixel can only be written when a pixel of its cross became data
// after its previous visit: a pixel written in a sweep makes its right and
// lower neighbours candidates of the same sweep (they come later in the
// row-major order) and its left and upper neighbours candidates of the next
// sweep.  Candidates are visited in row-major order, so each pixel sees the
// grid exactly as the in-place literal sweep would show it.
#pragma once

#include <cstdint>

#include "core/grid.h"
#include "stages/progress.h"

namespace tesk {

struct FastGapStats {
  int sweeps = 0;                   // as fill_gaps_literal returns
  std::int64_t pixels_visited = 0;  // pixels examined over all sweeps
};

class ThreadPool;

// flags is a scratch byte grid of itab's shape (overwritten).  pool, when
// given, clears the flags and looks for the rows holding no-data pixels on
// its threads; the sweeps themselves run in order on the calling thread.
FastGapStats fill_gaps_fast(IntGrid& itab, ByteGrid& flags, ThreadPool* pool = nullptr, CancelCheck cancel = {});

}  // namespace tesk
