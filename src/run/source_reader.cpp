#include "run/source_reader.h"

#include <limits>

#include "core/units.h"
#include "run/reading.h"
#include "stages/conversion.h"

namespace tesk {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

}  // namespace

ContourReader source_reader(gdal::Source& src, int interval, const std::string& name) {
  ContourReader in;
  in.rows = src.rows();
  in.cols = src.cols();
  in.name = name;
  if (src.raw()) {
    in.raw_nodata = static_cast<std::int32_t>(src.nodata());
    in.read = [&src](IntGrid& itab, ContourSurvey*, CancelCheck) { src.read_raw(itab); };
  } else {
    // read_altitudes gives NaN off the contours.
    in.read = [&src, interval, name](IntGrid& itab, ContourSurvey* survey, CancelCheck cancel) {
      read_into_internal(itab, [&](int i, double* row) { src.read_altitudes(i, row); }, kNaN, interval, name, survey,
                         cancel);
    };
  }
  return in;
}

WindowReader source_windows(gdal::Source& src, int interval, const std::string& name) {
  return [&src, interval, name](const Window& w, IntGrid& out) {
    if (src.raw()) return src.read_raw_window(w.row0, w.col0, out);
    read_into_internal(out, [&](int i, double* row) { src.read_altitudes(w.row0 + i, w.col0, w.cols, row); }, kNaN,
                       interval, name, nullptr, {});
  };
}

WindowReader contour_windows(gdal::Source& src, int interval, const std::string& name) {
  const WindowReader read = source_windows(src, interval, name);
  return [&src, interval, read](const Window& w, IntGrid& out) {
    read(w, out);
    if (!src.raw()) return;
    const auto ival = static_cast<std::int32_t>(src.nodata());
    for (std::int32_t& v : out) v = v == ival ? kNoData : to_internal(v, interval).value_or(kNoData);
  };
}

}  // namespace tesk
