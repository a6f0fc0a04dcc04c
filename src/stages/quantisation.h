// Byte quantisation: the 8-bit preview of the result, stretched linearly so
// that the smallest value becomes 0 and the largest 255.
#pragma once

#include <cstdint>

#include "core/grid.h"
#include "stages/progress.h"

namespace tesk {

// valeur rounded to the nearest whole number, halves away from zero
// (saturating at the int limits).
int arrondi(double valeur);

// Smallest and largest element of tab, starting from *Minv and *maxv;
// on_row (may be empty) is called before each row.
void Min_max(int* Minv, int* maxv, const IntGrid& tab, const RowCallback& on_row, CancelCheck cancel = {});

// The slope a and intercept b of the stretching line through (min_al, low)
// and (max_al, high), each held in single precision: the whole preview
// stretches onto 0..255, a preview over an area of interest onto 1..255.
// flat is set when the two ends coincide in single precision (no line
// exists).
struct Stretch {
  float a = 0.0f;
  float b = 0.0f;
  bool flat = false;
};
Stretch stretch_line(int min_al, int max_al, float low = 0.0f, float high = 255.0f);

// One preview byte: the low 8 bits of arrondi(v * a + b), formed in double.
inline std::uint8_t stretch_byte(std::int32_t v, const Stretch& s) {
  if (s.flat) return 0;
  return static_cast<std::uint8_t>(static_cast<unsigned>(arrondi(static_cast<double>(v) * s.a + static_cast<double>(s.b))));
}

// Fills tab from itab1 with the line of stretch_line(min_al, max_al).  A flat
// grid (all values equal) gives a preview of zeros.
void quantise(const IntGrid& itab1, ByteGrid& tab, int min_al, int max_al, CancelCheck cancel = {});

}  // namespace tesk
