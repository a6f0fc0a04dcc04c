// Bernstein window smoothing with the weights computed once.
//
// Gives exactly the values of smooth_literal: the same window placement,
// the same float weights (one set per distinct position of a pixel in its
// window: the interior shares one, the border rows and columns have their
// own), the same float row sums accumulated in the same order, the same
// double total.  Rows are shared among the threads of the pool; the row
// callback is still called once per row, in increasing order, before the
// row is computed.
#pragma once

#include "core/grid.h"
#include "core/thread_pool.h"
#include "stages/progress.h"

namespace tesk {

// Needs 2 <= maille <= kMaxMaille and window_fits(); throws
// std::invalid_argument otherwise, like smooth_literal.
void smooth_fast(const IntGrid& itab, IntGrid& itab1, int maille, const RowCallback& on_row, ThreadPool& pool,
                 CancelCheck cancel = {});

}  // namespace tesk
