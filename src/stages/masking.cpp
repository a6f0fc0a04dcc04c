#include "stages/masking.h"

#include <algorithm>
#include <climits>

#include "stages/quantisation.h"

namespace tesk {

std::int64_t quantise_inside(const IntGrid& itab1, const ByteGrid& inside, ByteGrid& tab) {
  int lo = INT_MAX, hi = INT_MIN;
  std::int64_t count = 0;
  for (std::size_t k = 0; k < itab1.size(); ++k) {
    if (!inside.data()[k]) continue;
    ++count;
    lo = std::min(lo, itab1.data()[k]);
    hi = std::max(hi, itab1.data()[k]);
  }
  // The line through (lo, 1) and (hi, 255), formed as stretch_line forms its own.
  const float x1 = static_cast<float>(lo), x2 = static_cast<float>(hi);
  const bool flat = x1 == x2;
  const double dx = static_cast<double>(x1) - static_cast<double>(x2);
  const float a = flat ? 0.0f : static_cast<float>((1.0 - 255.0) / dx);
  const float b = flat ? 1.0f : static_cast<float>((255.0 * x1 - 1.0 * x2) / dx);
  for (std::size_t k = 0; k < itab1.size(); ++k) {
    if (!inside.data()[k]) {
      tab.data()[k] = 0;
      continue;
    }
    const int v = arrondi(static_cast<double>(itab1.data()[k]) * a + static_cast<double>(b));
    tab.data()[k] = static_cast<std::uint8_t>(std::clamp(v, 1, 255));
  }
  return count;
}

}  // namespace tesk
