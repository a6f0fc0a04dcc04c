#include "stages/quantisation.h"

#include <climits>

#include "core/units.h"

namespace tesk {

int arrondi(double valeur) {
  int intermed = trunc_to_int(valeur);
  if (valeur >= 0) {
    if (valeur - intermed >= 0.5 && intermed < INT_MAX) intermed += 1;
  } else {
    if (valeur - intermed <= -0.5 && intermed > INT_MIN) intermed -= 1;
  }
  return intermed;
}

void Min_max(int* Minv, int* maxv, const IntGrid& tab, const RowCallback& on_row) {
  for (int i = 0; i < tab.rows(); ++i) {
    if (on_row) on_row(i);
    const std::int32_t* row = tab[i];
    for (int j = 0; j < tab.cols(); ++j) {
      if (row[j] < *Minv) *Minv = row[j];
      if (row[j] > *maxv) *maxv = row[j];
    }
  }
}

Stretch stretch_line(int min_al, int max_al) {
  const float iy1 = 0.0f;
  const float iy2 = 255.0f;
  const float ix1 = static_cast<float>(min_al);
  const float ix2 = static_cast<float>(max_al);
  Stretch s;
  if (ix1 == ix2) {
    s.flat = true;
    return s;
  }
  const double dx = static_cast<double>(ix1) - static_cast<double>(ix2);
  s.a = static_cast<float>((static_cast<double>(iy1) - static_cast<double>(iy2)) / dx);
  s.b = static_cast<float>((static_cast<double>(iy2) * ix1 - static_cast<double>(iy1) * ix2) / dx);
  return s;
}

void quantise(const IntGrid& itab1, ByteGrid& tab, int min_al, int max_al) {
  const Stretch s = stretch_line(min_al, max_al);
  const std::int32_t* src = itab1.data();
  std::uint8_t* dst = tab.data();
  for (std::size_t k = 0; k < itab1.size(); ++k) dst[k] = stretch_byte(src[k], s);
}

}  // namespace tesk
