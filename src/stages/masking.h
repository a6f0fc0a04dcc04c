// The preview of a result over an area of interest (a mask: 1 inside, 0
// outside).  The result itself is computed over the whole grid; only what
// is shown of it changes.
#pragma once

#include <cstdint>

#include "core/grid.h"

namespace tesk {

// Fills tab from itab1: 0 outside, and inside the line through (the lowest
// inside value, 1) and (the highest, 255), its slope and intercept held in
// single precision and each byte rounded as the whole-grid preview rounds
// (stretch_byte), so that 0 is left to the outside.  An inside of one value
// is 1 throughout.  Returns the number of inside pixels.  All three grids
// have the same shape.
std::int64_t quantise_inside(const IntGrid& itab1, const ByteGrid& inside, ByteGrid& tab);

}  // namespace tesk
