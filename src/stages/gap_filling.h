// Residual gap filling: closes the no-data pixels the dilation leaves (the
// inside of a closed contour without further contour, flats, the strip along
// the grid's edge) by averaging the data pixels of their cross.
//
// Sweeps in place, rows outer and columns inner, until a sweep writes
// nothing: a pixel sees the pixels above and to its left as this sweep left
// them.  The sum of the neighbours is held in single precision after every
// addition; the mean plus one half is taken in double and truncated toward
// zero.  A grid without any data pixel is left unchanged.
#pragma once

#include <cstdint>

#include "core/grid.h"
#include "stages/progress.h"

namespace tesk {

// The mean written into a no-data pixel whose cross holds the data values
// vals[0..count-1] in the order above, left, right, below (count > 0).
std::int32_t gap_mean(const std::int32_t* vals, int count);

// The literal sweeps.  Returns the number of sweeps, the last one writing
// nothing.
int fill_gaps_literal(IntGrid& itab, CancelCheck cancel = {});

}  // namespace tesk
