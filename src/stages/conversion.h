// Conversions between altitude units and internal units (512 units to one
// contour interval equid), the result copy and the contour overlay.
//
// Every converted value passes through a single-precision float (the store
// into fval): into internal units w = trunc(single(v / equid * 512)), back
// v = trunc(single(w * 0.001953125 * equid)), the arithmetic before the
// store in double precision.
#pragma once

#include <cmath>
#include <cstdint>
#include <optional>
#include <string>

#include "core/grid.h"
#include "core/units.h"
#include "stages/progress.h"

namespace tesk {

// A contour value that cannot be held in internal units: its single
// precision image has a magnitude of 2^31 or more (32-bit rasters only).
struct ConversionFault {
  int row = 0;
  int col = 0;
  std::int32_t value = 0;
};

// The words for a contour value that internal units cannot hold, as the
// messages put it after the name of the source: "the value V at row R,
// column C is too large for the interval E (...)".
std::string too_large_text(double value, int row, int col, int equid);

// One value into internal units; ok is cleared (and 0 returned) when it
// does not fit an int.  Inline, so that the fast conversion's loops
// vectorise it.  equid must not be 0.
inline std::int32_t internal_value(std::int32_t v, int equid, bool& ok) {
  const float fval = static_cast<float>(static_cast<double>(v) / static_cast<double>(equid) * 512.0);
  if (!(std::fabs(fval) < 2147483648.0f)) {
    ok = false;
    return 0;
  }
  return static_cast<std::int32_t>(fval);
}

// The same, nullopt when it does not fit an int.
inline std::optional<std::int32_t> to_internal(std::int32_t v, int equid) {
  bool ok = true;
  const std::int32_t w = internal_value(v, equid, ok);
  return ok ? std::optional<std::int32_t>(w) : std::nullopt;
}

// One internal value back into altitude units, saturating at the int limits.
std::int32_t to_altitude(std::int32_t w, int equid);

// A pixel of the result grid after its conversion back: the marker ival
// where no value was found, else to_altitude.
inline std::int32_t altitude_value(std::int32_t w, int ival, int equid) {
  return w == kNoData ? ival : to_altitude(w, equid);
}

// A real-valued source sample (floating-point rasters, wide integer types)
// into internal units by the same formula, v taken as a double:
// trunc(single(v / equid * 512)); nullopt when it does not fit an int (NaN
// included).  equid must not be 0.
std::optional<std::int32_t> to_internal_real(double v, int equid);

// One row of a real-valued source into internal units: a sample equal to
// nodata, or NaN, becomes the internal no-data marker (a NaN nodata matches
// NaN samples).  Returns the column of the first sample that does not fit.
std::optional<int> convert_row_to_internal(const double* src, int n, double nodata, int equid, std::int32_t* dst);

// In place: samples equal to ival become the internal no-data marker, every
// other sample is converted.  Stops at the first value that does not fit.
std::optional<ConversionFault> convert_to_internal(IntGrid& itab, int ival, int equid, CancelCheck cancel = {});

// Contour overlay: every sample of raw (the input read again) that is not
// ival overwrites the same pixel of result with its internal value.
std::optional<ConversionFault> overlay_contours(const IntGrid& raw, IntGrid& result, int ival, int equid,
                                                CancelCheck cancel = {});

// Contour overlay for a source already in internal units: every pixel of
// src that is not the internal no-data marker overwrites result.
void overlay_internal(const IntGrid& src, IntGrid& result, CancelCheck cancel = {});

// In place: the internal marker becomes ival, every other value is
// converted back into altitude units.
void convert_to_altitude(IntGrid& itab1, int ival, int equid, CancelCheck cancel = {});

// The result copy: every pixel of from into the same place of to.
void copy_grid(const IntGrid& from, IntGrid& to, CancelCheck cancel = {});

}  // namespace tesk
