#include "run/samples.h"

#include <cmath>
#include <limits>

#include "run/reading.h"

namespace tesk {

bool raw_samples(SampleType t) { return !is_real(t) && info(t).bits <= 32 && t != SampleType::uint32; }

ContourReader contour_reader(const Samples& s, std::optional<double> nodata, int interval, const std::string& name) {
  ContourReader in;
  in.rows = static_cast<int>(s.rows);
  in.cols = static_cast<int>(s.cols);
  in.name = name;
  if (raw_samples(s.type)) {
    in.raw_nodata = static_cast<std::int32_t>(*nodata);
    in.read = [s](IntGrid& itab, ContourSurvey*, CancelCheck cancel) {
      with_type(s.type, [&](auto t) {
        for (int i = 0; i < itab.rows(); ++i) {
          cancel.at_row(i, itab.cols());
          read_row<decltype(t)>(s, i, itab[i]);
        }
      });
    };
    return in;
  }
  // The no-data value compared as a sample of the type holds it (NaN: none
  // besides NaN).
  const double off = as_sample(nodata.value_or(std::numeric_limits<double>::quiet_NaN()), s.type);
  in.read = [s, off, interval, name](IntGrid& itab, ContourSurvey* survey, CancelCheck cancel) {
    with_type(s.type, [&](auto t) {
      read_into_internal(itab, [&](int i, double* row) { read_row<decltype(t)>(s, i, row); }, off, interval, name,
                         survey, cancel);
    });
  };
  return in;
}

}  // namespace tesk
