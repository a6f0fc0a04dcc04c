// Conversions between altitude units and internal units (512 units to one
// contour interval equid), the result copy and the contour overlay.
//
// Every converted value passes through a single-precision float (the store
// into fval): into internal units w = trunc(single(v / equid * 512)), back
// v = trunc(single(w * 0.001953125 * equid)), the arithmetic before the
// store in double precision.
#pragma once

#include <cstdint>
#include <optional>

#include "core/grid.h"

namespace tesk {

// A contour value that cannot be held in internal units: its single
// precision image has a magnitude of 2^31 or more (32-bit rasters only).
struct ConversionFault {
  int row = 0;
  int col = 0;
  std::int32_t value = 0;
};

// One value into internal units; nullopt when it does not fit an int.
// equid must not be 0.
std::optional<std::int32_t> to_internal(std::int32_t v, int equid);

// One internal value back into altitude units, saturating at the int limits.
std::int32_t to_altitude(std::int32_t w, int equid);

// In place: samples equal to ival become the internal no-data marker, every
// other sample is converted.  Stops at the first value that does not fit.
std::optional<ConversionFault> convert_to_internal(IntGrid& itab, int ival, int equid);

// Contour overlay: every sample of raw (the input read again) that is not
// ival overwrites the same pixel of result with its internal value.
std::optional<ConversionFault> overlay_contours(const IntGrid& raw, IntGrid& result, int ival, int equid);

// In place: the internal marker becomes ival, every other value is
// converted back into altitude units.
void convert_to_altitude(IntGrid& itab1, int ival, int equid);

// The result copy: every pixel of from into the same place of to.
void copy_grid(const IntGrid& from, IntGrid& to);

}  // namespace tesk
