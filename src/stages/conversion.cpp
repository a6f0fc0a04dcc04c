#include "stages/conversion.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "core/units.h"

namespace tesk {

std::optional<std::int32_t> to_internal_real(double v, int equid) {
  const double d = v / static_cast<double>(equid) * 512.0;
  if (!(std::fabs(d) < 4294967296.0)) return std::nullopt;  // also NaN; keeps the float store defined
  const float fval = static_cast<float>(d);
  if (!(std::fabs(fval) < 2147483648.0f)) return std::nullopt;
  return static_cast<std::int32_t>(fval);
}

std::optional<int> convert_row_to_internal(const double* src, int n, double nodata, int equid, std::int32_t* dst) {
  for (int j = 0; j < n; ++j) {
    if (std::isnan(src[j]) || src[j] == nodata) {
      dst[j] = kNoData;
      continue;
    }
    const auto w = to_internal_real(src[j], equid);
    if (!w) return j;
    dst[j] = *w;
  }
  return std::nullopt;
}

std::string too_large_text(double value, int row, int col, int equid) {
  char text[200];
  std::snprintf(text, sizeof text,
                "the value %.17g at row %d, column %d is too large for the interval %d "
                "(its magnitude must stay below 4194304 intervals)",
                value, row, col, equid);
  return text;
}

std::int32_t to_altitude(std::int32_t w, int equid) {
  return trunc_to_int(whole_units(w, equid));
}

std::optional<ConversionFault> convert_to_internal(IntGrid& itab, int ival, int equid, CancelCheck cancel) {
  for (int i = 0; i < itab.rows(); ++i) {
    cancel.at_row(i, itab.cols());
    std::int32_t* row = itab[i];
    for (int j = 0; j < itab.cols(); ++j) {
      if (row[j] == ival) {
        row[j] = kNoData;
        continue;
      }
      const auto w = to_internal(row[j], equid);
      if (!w) return ConversionFault{i, j, row[j]};
      row[j] = *w;
    }
  }
  return std::nullopt;
}

std::optional<ConversionFault> overlay_contours(const IntGrid& raw, IntGrid& result, int ival, int equid,
                                                CancelCheck cancel) {
  for (int i = 0; i < raw.rows(); ++i) {
    cancel.at_row(i, raw.cols());
    const std::int32_t* src = raw[i];
    std::int32_t* dst = result[i];
    for (int j = 0; j < raw.cols(); ++j) {
      if (src[j] == ival) continue;
      const auto w = to_internal(src[j], equid);
      if (!w) return ConversionFault{i, j, src[j]};
      dst[j] = *w;
    }
  }
  return std::nullopt;
}

void overlay_internal(const IntGrid& src, IntGrid& result, CancelCheck cancel) {
  for (int i = 0; i < src.rows(); ++i) {
    cancel.at_row(i, src.cols());
    const std::int32_t* s = src[i];
    std::int32_t* d = result[i];
    for (int j = 0; j < src.cols(); ++j)
      if (s[j] != kNoData) d[j] = s[j];
  }
}

void convert_to_altitude(IntGrid& itab1, int ival, int equid, CancelCheck cancel) {
  for (int i = 0; i < itab1.rows(); ++i) {
    cancel.at_row(i, itab1.cols());
    std::int32_t* row = itab1[i];
    for (int j = 0; j < itab1.cols(); ++j) row[j] = altitude_value(row[j], ival, equid);
  }
}

void copy_grid(const IntGrid& from, IntGrid& to, CancelCheck cancel) {
  for (int i = 0; i < from.rows(); ++i) {
    cancel.at_row(i, from.cols());
    std::copy(from[i], from[i] + from.cols(), to[i]);
  }
}

}  // namespace tesk
