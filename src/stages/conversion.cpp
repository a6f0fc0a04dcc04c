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

void convert_to_altitude(IntGrid& itab1, int ival, int equid) {
  for (auto& w : itab1) w = (w == kNoData) ? ival : to_altitude(w, equid);
}

void copy_grid(const IntGrid& from, IntGrid& to) { std::copy(from.begin(), from.end(), to.begin()); }

}  // namespace tesk
