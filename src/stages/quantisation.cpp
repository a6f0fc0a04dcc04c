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

void Min_max(int* Minv, int* maxv, const IntGrid& tab, const RowCallback& on_row, CancelCheck cancel) {
  for (int i = 0; i < tab.rows(); ++i) {
    cancel.at_row(i, tab.cols());
    if (on_row) on_row(i);
    const std::int32_t* row = tab[i];
    for (int j = 0; j < tab.cols(); ++j) {
      if (row[j] < *Minv) *Minv = row[j];
      if (row[j] > *maxv) *maxv = row[j];
    }
  }
}

Stretch stretch_line(int min_al, int max_al, float low, float high) {
  const float iy1 = low;
  const float iy2 = high;
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

void quantise(const IntGrid& itab1, ByteGrid& tab, int min_al, int max_al, CancelCheck cancel) {
  const Stretch s = stretch_line(min_al, max_al);
  for (int i = 0; i < itab1.rows(); ++i) {
    cancel.at_row(i, itab1.cols());
    const std::int32_t* src = itab1[i];
    std::uint8_t* dst = tab[i];
    for (int j = 0; j < itab1.cols(); ++j) dst[j] = stretch_byte(src[j], s);
  }
}

}  // namespace tesk
