// The preview of a result over an area of interest (a mask: 1 inside, 0
// outside).  The result itself is computed over the whole grid; only what
// is shown of it changes.
#pragma once

#include <cstdint>

#include "core/grid.h"
#include "stages/quantisation.h"

namespace tesk {

// Fills tab from itab1: 0 outside, and inside the line through (the lowest
// inside value, 1) and (the highest, 255), its slope and intercept held in
// single precision and each byte rounded as the whole-grid preview rounds
// (stretch_byte), so that 0 is left to the outside.  An inside of one value
// is 1 throughout.  Returns the number of inside pixels.  All three grids
// have the same shape.
std::int64_t quantise_inside(const IntGrid& itab1, const ByteGrid& inside, ByteGrid& tab);

// The line of the preview over an area whose values run from lo to hi, and
// one byte of it: 0 outside, 1..255 inside.
inline Stretch inside_line(int lo, int hi) { return stretch_line(lo, hi, 1.0f, 255.0f); }
inline std::uint8_t inside_byte(std::int32_t v, bool in, const Stretch& s) {
  if (!in) return 0;
  const int b = s.flat ? 1 : arrondi(static_cast<double>(v) * s.a + static_cast<double>(s.b));
  return static_cast<std::uint8_t>(b < 1 ? 1 : b > 255 ? 255 : b);
}

}  // namespace tesk
