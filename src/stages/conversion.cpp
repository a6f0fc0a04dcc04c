#include "stages/conversion.h"

#include <algorithm>
#include <cmath>

#include "core/units.h"

namespace tesk {

std::optional<std::int32_t> to_internal(std::int32_t v, int equid) {
  const float fval = static_cast<float>(static_cast<double>(v) / static_cast<double>(equid) * 512.0);
  if (!(std::fabs(fval) < 2147483648.0f)) return std::nullopt;
  return static_cast<std::int32_t>(fval);
}

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

std::int32_t to_altitude(std::int32_t w, int equid) {
  const float fval = static_cast<float>(static_cast<double>(w) * 0.001953125 * static_cast<double>(equid));
  return trunc_to_int(fval);
}

std::optional<ConversionFault> convert_to_internal(IntGrid& itab, int ival, int equid) {
  for (int i = 0; i < itab.rows(); ++i) {
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

std::optional<ConversionFault> overlay_contours(const IntGrid& raw, IntGrid& result, int ival, int equid) {
  for (int i = 0; i < raw.rows(); ++i) {
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

void overlay_internal(const IntGrid& src, IntGrid& result) {
  for (std::size_t k = 0; k < src.size(); ++k) {
    if (src.data()[k] != kNoData) result.data()[k] = src.data()[k];
  }
}

void convert_to_altitude(IntGrid& itab1, int ival, int equid) {
  for (auto& w : itab1) w = (w == kNoData) ? ival : to_altitude(w, equid);
}

void copy_grid(const IntGrid& from, IntGrid& to) { std::copy(from.begin(), from.end(), to.begin()); }

}  // namespace tesk
