// The 8-bit preview of any array of samples, as the command line draws the
// preview of a DEM (tesk.preview).
#pragma once

#include <cstdint>

#include "run/samples.h"

namespace tesk {

// Real samples are taken at their whole part.  Without holes, the array is
// stretched from its minimum (0) to its maximum (255) as the command line's
// preview is.  Pixels without a finite value (NaN, infinities) are holes:
// 0, the others stretched over 1..255 as the command line's preview over an
// area of interest is.  Throws RunError for a finite sample beyond the int
// range ("the value V at row R, column C is not within the int range").
void preview(const Samples& s, std::uint8_t* out);

}  // namespace tesk
