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
  const Stretch s = inside_line(lo, hi);
  for (std::size_t k = 0; k < itab1.size(); ++k) tab.data()[k] = inside_byte(itab1.data()[k], inside.data()[k], s);
  return count;
}

}  // namespace tesk
