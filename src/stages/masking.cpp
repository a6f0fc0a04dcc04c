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
  const Stretch s = stretch_line(lo, hi, 1.0f, 255.0f);
  for (std::size_t k = 0; k < itab1.size(); ++k) {
    if (!inside.data()[k]) {
      tab.data()[k] = 0;
      continue;
    }
    const int v = s.flat ? 1 : arrondi(static_cast<double>(itab1.data()[k]) * s.a + static_cast<double>(s.b));
    tab.data()[k] = static_cast<std::uint8_t>(std::clamp(v, 1, 255));
  }
  return count;
}

}  // namespace tesk
