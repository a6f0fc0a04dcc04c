// The whole-grid conversions of a run shared among the threads of a pool.
// Each gives exactly the result of its one-thread form in conversion.h and
// quantisation.h: every pixel is converted on its own, and a fault is the
// first one in row-major order.
#pragma once

#include <optional>

#include "core/grid.h"
#include "stages/conversion.h"
#include "core/thread_pool.h"
#include "stages/progress.h"
#include "stages/quantisation.h"

namespace tesk {

std::optional<ConversionFault> convert_to_internal_fast(IntGrid& itab, int ival, int equid, ThreadPool& pool,
                                                        CancelCheck cancel = {});
std::optional<ConversionFault> overlay_contours_fast(const IntGrid& raw, IntGrid& result, int ival, int equid,
                                                     ThreadPool& pool, CancelCheck cancel = {});
void convert_to_altitude_fast(IntGrid& itab1, int ival, int equid, ThreadPool& pool, CancelCheck cancel = {});
void copy_grid_fast(const IntGrid& from, IntGrid& to, ThreadPool& pool, CancelCheck cancel = {});

// Min_max with the row callbacks called in order, a block of rows at a time
// before the block is searched.
void min_max_fast(int* Minv, int* maxv, const IntGrid& tab, const RowCallback& on_row, ThreadPool& pool,
                  CancelCheck cancel = {});
void quantise_fast(const IntGrid& itab1, ByteGrid& tab, int min_al, int max_al, ThreadPool& pool,
                   CancelCheck cancel = {});

}  // namespace tesk
