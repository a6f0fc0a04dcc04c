// Contour dilation: the main loop of the reconstruction.
//
// Each pass grows the data values of itab over the whole grid (first layer
// through the cross, later layers through the ring, a pixel reached by
// several values in the same layer taking the smallest), then writes into
// every no-data pixel whose grown value has a strictly greater cross
// neighbour the midpoint between its grown value and that neighbour's (the
// last greater one in the order above, left, right, below).  Passes run
// until one writes nothing.  Only no-data pixels (kNoData) are ever written.
//
// The functions here are the literal form of the algorithm, one full sweep
// of the grid per growth layer: the reference any faster form must match
// byte for byte.
#pragma once

#include <cstdint>

#include "core/grid.h"
#include "stages/progress.h"

namespace tesk {

struct DilationStats {
  int passes = 0;                  // passes run, the last one writing nothing
  std::int64_t growth_sweeps = 0;  // growth sweeps over the whole grid, all passes
};

// The record of the passes a run may ask for (tiled runs prove their
// results with it): for every pixel, 0 when it holds data on entry, the
// number of the pass that wrote it (1 for the first), or kNeverWritten.
inline constexpr std::int32_t kNeverWritten = INT32_MAX;

// Starts a record: 0 at the data pixels of itab, kNeverWritten elsewhere.
void start_record(const IntGrid& itab, IntGrid& written_at);

// One dilation pass.  itab1 and itab2 are scratch grids of itab's shape; all
// three are overwritten as the pass describes (itab only at no-data pixels).
// Returns the number of pixels of itab written (modif).  Adds the number of
// growth sweeps to *sweeps when given.
std::int64_t tesklette(IntGrid& itab, IntGrid& itab1, IntGrid& itab2, std::int64_t* sweeps = nullptr,
                       CancelCheck cancel = {});

// The pass loop: reports each pass to on_pass (may be empty) before running
// it, and stops after the first pass that writes nothing.  Keeps the record
// of the passes in *written_at (itab's shape) when given.
DilationStats dilate_literal(IntGrid& itab, IntGrid& itab1, IntGrid& itab2, const PassCallback& on_pass,
                             CancelCheck cancel = {}, IntGrid* written_at = nullptr);

}  // namespace tesk
