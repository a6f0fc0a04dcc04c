// Markers and number conversions shared by every stage.
#pragma once

#include <climits>
#include <cmath>
#include <cstdint>

namespace tesk {

// No-data markers of the raster formats: a 16-bit sample of 65500 (not
// 65535: 65501..65535 are altitudes) and a 32-bit sample of 10000000.
inline constexpr int kIval16 = 65500;
inline constexpr int kIval32 = 10000000;

inline constexpr int ival_for(int itype) { return itype == 0 ? kIval16 : kIval32; }

// While the surface is built (internal units, 512 per contour interval) a
// pixel without altitude holds the smallest int.  No converted altitude can
// take that value (conversion refuses magnitudes of 2^31 and more), so a
// midpoint, a mean or a converted contour that happens to equal the file
// marker 65500 or 10000000 stays an ordinary altitude.
inline constexpr std::int32_t kNoData = INT_MIN;

// Truncation toward zero of a double into an int, saturating at the int
// limits instead of the undefined behaviour of a plain cast.  NaN gives 0.
inline std::int32_t trunc_to_int(double v) {
  if (std::isnan(v)) return 0;
  if (v >= 2147483647.0) return INT_MAX;
  if (v <= -2147483648.0) return INT_MIN;
  return static_cast<std::int32_t>(v);
}

// An internal value at the full resolution of the computation, in
// altitude units: w x interval / 512 in double (the product rounded once,
// the division by a power of two exact).
inline double full_resolution(std::int32_t w, int equid) { return static_cast<double>(w) * equid / 512.0; }

// An internal value in whole altitude units, as the classic result holds
// it but free of the int limits: trunc(single(w x 1/512 x interval)), the
// product in double.  At most 2^53 in magnitude, so exact in a double.
inline double whole_units(std::int32_t w, int equid) {
  const float f = static_cast<float>(static_cast<double>(w) * 0.001953125 * static_cast<double>(equid));
  return std::trunc(static_cast<double>(f));
}

// An internal value (any real for a fitted surface) as an output holds it:
// at full resolution, w x equid / 512 in double (the same value as
// full_resolution for a whole w); in whole units, that value truncated
// after a store in single precision, as the classic output holds it (the
// same as whole_units for a whole w), or rounded to the nearest, halves away
// from zero, for a fitted surface.
inline double output_value(double w, int equid, bool whole, bool nearest) {
  const double full = w * equid / 512.0;
  if (!whole) return full;
  return nearest ? std::round(full) : std::trunc(static_cast<double>(static_cast<float>(full)));
}

}  // namespace tesk
