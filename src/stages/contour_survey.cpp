#include "stages/contour_survey.h"

#include <cmath>
#include <cstdint>

namespace tesk {

double ContourSurvey::intervals(int equid) const {
  if (pixels == 0) return 0;
  return (hi - lo) / std::fabs(static_cast<double>(equid));
}

ContourSurvey survey_raw(const IntGrid& raw, int ival, int equid) {
  // Whole numbers: the remainder in integers, the rest as add() does it.
  ContourSurvey s;
  std::int32_t lo = INT32_MAX, hi = INT32_MIN;
  for (const std::int32_t v : raw) {
    if (v == ival) continue;
    ++s.pixels;
    lo = v < lo ? v : lo;
    hi = v > hi ? v : hi;
    if (static_cast<std::int64_t>(v) % equid != 0 && s.off_interval++ == 0) s.example = v;
  }
  if (s.pixels > 0) s.lo = lo, s.hi = hi;
  return s;
}

}  // namespace tesk
