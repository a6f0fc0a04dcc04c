#include "run/reading.h"

#include <algorithm>
#include <new>
#include <vector>

#include "core/memory.h"
#include "core/mention.h"
#include "core/run_error.h"
#include "stages/conversion.h"
#include "stages/smoothing.h"
#include "tiles/plan.h"

namespace tesk {
namespace {

std::string size_text(std::int64_t rows, std::int64_t cols) {
  return std::to_string(rows) + " x " + std::to_string(cols) + " pixels";
}

}  // namespace

void check_run_memory(std::int64_t rows, std::int64_t cols, std::uint64_t bytes_per_pixel, const std::string& name,
                      std::uint64_t reserved_bytes) {
  const MemoryCheck m = check_memory(rows, cols, bytes_per_pixel, reserved_bytes);
  if (!m.fits)
    throw MemoryRefusal("not enough memory: a grid of " + size_text(rows, cols) + " needs " +
                        std::to_string(m.need_mib) + " MiB, " + std::to_string(m.avail_mib) + " MiB available (" +
                        name + ")");
}

void allocate_run(RunGrids& g, int rows, int cols, int threads, const std::string& name, std::uint64_t reserved_bytes,
                  std::uint64_t bytes_per_pixel) {
  check_run_memory(rows, cols, bytes_per_pixel, name, reserved_bytes);
  try {
    g.allocate(rows, cols, false, threads > 1);
  } catch (const std::bad_alloc&) {
    throw MemoryRefusal("not enough memory for a grid of " + size_text(rows, cols) + " (" + name + ")");
  }
}

std::string too_large_message(const std::string& name, double v, int row, int col, int equid) {
  return name + ": " + too_large_text(v, row, col, equid);
}

void read_into_internal(IntGrid& itab, FunctionRef<void(int, double*)> read_row, double nodata, int equid,
                        const std::string& name, ContourSurvey* survey, CancelCheck cancel) {
  std::vector<double> row(static_cast<std::size_t>(itab.cols()));
  for (int i = 0; i < itab.rows(); ++i) {
    cancel.at_row(i, itab.cols());
    read_row(i, row.data());
    if (survey)
      for (const double v : row)
        if (!std::isnan(v) && v != nodata) survey->add(v, equid);
    if (auto j = convert_row_to_internal(row.data(), itab.cols(), nodata, equid, itab[i]))
      throw RunError(too_large_message(name, row[static_cast<std::size_t>(*j)], i, *j, equid));
  }
}

void warn_about_interval(const ContourSurvey& s, int equid, const std::string& name, const RunHooks& hooks) {
  if (s.off_interval > 0) {
    // The values are kept in 512ths of the interval, truncated.
    const double step = std::fabs(static_cast<double>(equid)) / 512;
    hooks.remark(std::to_string(s.off_interval) + " contour pixels of " + name +
                 " hold values that are not multiples of " + mention(Opt::interval, std::to_string(equid)) + " (for example " +
                 message_number(s.example) + "): such values come back closer to zero, by less than " + message_number(step) +
                 " (the interval / 512), and " + (step <= 1 ? "by up to one unit" : "by less than " + message_number(step + 1)) +
                 " in whole units");
  }
  constexpr double kFewIntervals = 3;
  if (s.pixels > 0 && s.intervals(equid) < kFewIntervals)
    hooks.remark("the contour values of " + name + " run from " + message_number(s.lo) + " to " +
                 message_number(s.hi) + ", fewer than " + message_number(kFewIntervals) + " intervals of " +
                 mention(Opt::interval, std::to_string(equid)) +
                 ": the result holds few distinct values; give the spacing of the contours");
}

void warn_smoothing_skipped(int maille, int rows, int cols, const RunHooks& hooks) {
  hooks.remark(mention(Opt::window, std::to_string(maille)) + ": the smoothing window needs more than " + std::to_string(maille) +
               " rows and columns, and the raster has " + std::to_string(rows) + " x " + std::to_string(cols) +
               " pixels: the result is not smoothed");
}

void settle_survey(const RasterSurvey& s, int rows, int cols, const SurfaceOptions& o, const std::string& name,
                   const RunHooks& hooks) {
  if (s.fault)
    throw RunError(too_large_message(name, s.fault->value, static_cast<int>(s.fault->at.row),
                                     static_cast<int>(s.fault->at.col), o.interval));
  if (!s.any) throw RunError(no_contour_message(name, rows, cols));
  warn_about_interval(s.contours, o.interval, name, hooks);
  if (o.window > 1 && !window_fits(rows, cols, o.window)) warn_smoothing_skipped(o.window, rows, cols, hooks);
}

void refuse_without_contours(const IntGrid& itab, std::int32_t off, const std::string& name) {
  if (std::find_if(itab.begin(), itab.end(), [&](std::int32_t v) { return v != off; }) == itab.end())
    throw RunError(no_contour_message(name, itab.rows(), itab.cols()));
}

}  // namespace tesk
