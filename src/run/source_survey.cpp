#include "run/source_survey.h"

#include <algorithm>
#include <limits>

#include "core/units.h"
#include "stages/conversion.h"

namespace tesk {
namespace {

// The rows of each strip: as many as the budget allows, up to 4 Mpx (taller
// strips save little: the seams between them are few), at least one.
std::vector<int> strip_starts(int rows, int cols, std::uint64_t budget) {
  const auto pixels = static_cast<std::int64_t>(std::min<std::uint64_t>(budget / kStripBytesPerPixel, 4 << 20));
  const int n = static_cast<int>(std::clamp<std::int64_t>(pixels / std::max(cols, 1), 1, std::max(rows, 1)));
  std::vector<int> starts;
  for (int i = 0; i < rows; i += n) starts.push_back(i);
  starts.push_back(rows);
  return starts;
}

// A strip of the source: its samples as read (raw, or altitudes with NaN
// off the contours) and in internal units, kNoData off the contours.  A
// value internal units cannot hold is left out of the internal grid (it is
// the survey's to report).
class Strip {
 public:
  Strip(gdal::Source& src, int equid) : src_(src), equid_(equid) {}

  void read(int row0, int rows) {
    const int cols = src_.cols();
    if (internal_.rows() != rows) internal_ = IntGrid(rows, cols), raw_ = IntGrid(src_.raw() ? rows : 0, cols);
    row0_ = row0;
    if (src_.raw()) {
      src_.read_raw_window(row0, 0, raw_);
      const std::int32_t ival = static_cast<std::int32_t>(src_.nodata());
      for (std::size_t k = 0; k < raw_.size(); ++k) {
        const std::int32_t v = raw_.data()[k];
        internal_.data()[k] = v == ival ? kNoData : to_internal(v, equid_).value_or(kNoData);
      }
      return;
    }
    real_.resize(internal_.size());
    for (int i = 0; i < rows; ++i) {
      double* row = real_.data() + static_cast<std::size_t>(i) * static_cast<std::size_t>(cols);
      src_.read_altitudes(row0 + i, row);
      convert_row_to_internal(row, cols, std::numeric_limits<double>::quiet_NaN(), equid_, internal_[i]);
    }
  }

  // The strip as the survey reads it.
  BlockRows rows() const {
    BlockRows b;
    b.rows = internal_.rows();
    b.cols = internal_.cols();
    b.row0 = row0_;
    const std::size_t cols = static_cast<std::size_t>(b.cols);
    if (src_.raw()) {
      b.raw_nodata = static_cast<std::int32_t>(src_.nodata());
      b.read_raw = [this](int i, std::int32_t* row) { std::copy(raw_[i], raw_[i] + raw_.cols(), row); };
    } else {
      b.read_real = [this, cols](int i, double* row) {
        std::copy(real_.data() + i * cols, real_.data() + (i + 1) * cols, row);
      };
    }
    return b;
  }

  const IntGrid& internal() const { return internal_; }

 private:
  gdal::Source& src_;
  int equid_;
  int row0_ = 0;
  IntGrid internal_, raw_;
  std::vector<double> real_;
};

}  // namespace

SourceSurvey survey_source(gdal::Source& src, int equid, std::uint64_t budget, CancelCheck cancel) {
  SourceSurvey s;
  s.strips = {strip_starts(src.rows(), src.cols(), budget), {0, src.cols()}};
  std::vector<int> column_runs;
  Strip strip(src, equid);
  for (std::size_t k = 0; k + 1 < s.strips.row_starts.size(); ++k) {
    const int row0 = s.strips.row_starts[k], rows = s.strips.row_starts[k + 1] - row0;
    cancel.poll();
    strip.read(row0, rows);
    s.raster.merge(survey_block(strip.rows(), equid, &column_runs, cancel));
    if (s.raster.fault) break;  // the first in row order: refused with its row and column
    const BlockLabels labels = label_block(strip.internal());
    s.holes.push_back(summarise({row0, 0, rows, src.cols()}, strip.internal(), labels));
  }
  return s;
}

namespace {

// Every strip of the source again, in internal units, with the borders of
// its edge labels stitched over the whole raster.
template <class F>
void for_each_strip(gdal::Source& src, int equid, const SourceSurvey& survey, CancelCheck cancel, F&& f) {
  const std::vector<std::vector<HoleBorder>> borders = stitch(survey.strips, survey.holes);
  Strip strip(src, equid);
  for (std::size_t k = 0; k + 1 < survey.strips.row_starts.size(); ++k) {
    const int row0 = survey.strips.row_starts[k], rows = survey.strips.row_starts[k + 1] - row0;
    cancel.poll();
    strip.read(row0, rows);
    f(row0, strip.internal(), borders[k]);
  }
}

}  // namespace

bool write_hole_values(gdal::Source& src, int equid, const SourceSurvey& survey, gdal::TileStore& store,
                       CancelCheck cancel) {
  bool any = false;
  for_each_strip(src, equid, survey, cancel, [&](int row0, const IntGrid& strip, const std::vector<HoleBorder>& b) {
    const IntGrid values = hole_values(strip, b);
    any = any || std::any_of(values.begin(), values.end(), [](std::int32_t v) { return v != kNoData; });
    store.put(row0, 0, values);
  });
  return any;
}

void write_hole_ranges(gdal::Source& src, int equid, const SourceSurvey& survey, gdal::TileStore& lo,
                       gdal::TileStore& hi, CancelCheck cancel) {
  for_each_strip(src, equid, survey, cancel, [&](int row0, const IntGrid& strip, const std::vector<HoleBorder>& b) {
    const HoleRanges r = hole_ranges(strip, b);
    lo.put(row0, 0, r.lo);
    hi.put(row0, 0, r.hi);
  });
}

}  // namespace tesk
