#include "app/batch.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "app/batch_options.h"
#include "app/batch_outputs.h"
#include "app/stop_signals.h"
#include "core/memory.h"
#include "core/run_error.h"
#include "core/threads.h"
#include "core/units.h"
#include "io/gdal_mask.h"
#include "io/gdal_output.h"
#include "io/gdal_progress.h"
#include "io/gdal_source.h"
#include "io/gdal_warnings.h"
#include "stages/contour_survey.h"
#include "stages/conversion.h"
#include "stages/masking.h"
#include "stages/pipeline.h"
#include "stages/smoothing.h"

namespace tesk {
namespace {

// The run's progress: the stages' reports mapped onto one line; a stop
// signal cancels the run; the finished surface in internal units is kept in
// `keep` (the working grid, free by then), for outputs at any resolution.
class BatchObserver : public FractionObserver {
 public:
  BatchObserver(gdal::TermProgress& progress, int rows, int cols, IntGrid& keep)
      : FractionObserver(rows), progress_(progress), rows_(rows), cols_(cols), keep_(keep) {}

  bool cancel_requested() const override { return stop_signal() != 0; }
  void smoothing_skipped(int maille) override {
    progress_.warn("-m " + std::to_string(maille) + ": the smoothing window needs more than " +
                   std::to_string(maille) + " rows and columns, and the raster has " + std::to_string(rows_) + " x " +
                   std::to_string(cols_) + " pixels: the result is not smoothed");
  }
  void before_conversion_back(const IntGrid& itab1) override { copy_grid(itab1, keep_); }

 private:
  void fraction(double f) override { progress_.report(f); }

  gdal::TermProgress& progress_;
  int rows_;
  int cols_;
  IntGrid& keep_;
};

// The one report of a contour value that internal units cannot hold,
// whether the reading of a source that is not raw or the run meets it.
RunError value_too_large(const std::string& src, double value, int row, int col, int equid) {
  return RunError(src + ": " + too_large_text(value, row, col, equid));
}

// A source that is not raw, row by row as altitudes into internal units:
// no-data (and NaN) become the internal marker.  The contour values go into
// survey when one is given.
void read_internal(gdal::Source& src, IntGrid& itab, int equid, const std::string& name, ContourSurvey* survey) {
  std::vector<double> row(static_cast<std::size_t>(src.cols()));
  for (int i = 0; i < src.rows(); ++i) {
    src.read_altitudes(i, row.data());
    if (survey)
      for (const double v : row)
        if (!std::isnan(v)) survey->add(v, equid);
    if (auto j = convert_row_to_internal(row.data(), src.cols(), std::numeric_limits<double>::quiet_NaN(), equid,
                                         itab[i]))
      throw value_too_large(name, row[static_cast<std::size_t>(*j)], i, *j, equid);
  }
}

// What the contour values say about the interval: values that are not
// multiples of it come back lower, and a range of a few intervals gives a
// result of a few values.
void warn_about_interval(const ContourSurvey& s, int equid, const std::string& src, gdal::TermProgress& progress) {
  if (s.off_interval > 0)
    progress.warn(std::to_string(s.off_interval) + " contour pixels of " + src +
                  " hold values that are not multiples of -i " + std::to_string(equid) + " (for example " +
                  message_number(s.example) + "): such values come back lower, by up to one unit in whole units");
  constexpr double kFewIntervals = 3;
  if (s.pixels > 0 && s.intervals(equid) < kFewIntervals)
    progress.warn("the contour values of " + src + " run from " + message_number(s.lo) + " to " + message_number(s.hi) +
                  ", fewer than " + message_number(kFewIntervals) + " intervals of -i " + std::to_string(equid) +
                  ": the result holds few distinct values; give the spacing of the contours");
}

// The first reading seen as a whole: a source without a contour pixel is
// refused; what its contour values say about the interval is a warning.
// survey holds them already for a source that is not raw.
void look_at_contours(const IntGrid& itab, const RunParams& p, ContourSurvey survey, const std::string& src,
                      gdal::TermProgress& progress) {
  const std::int32_t off = p.internal_input ? kNoData : p.ival;
  if (std::find_if(itab.begin(), itab.end(), [&](std::int32_t v) { return v != off; }) == itab.end())
    throw RunError(src + " holds no contour pixel: every sample is the no-data value");
  if (!p.internal_input) survey = survey_raw(itab, p.ival, p.equid);
  warn_about_interval(survey, p.equid, src, progress);
}

// TESK_THREADS is read when --threads is 0: say when it is not a number of
// threads and so is left aside.
void warn_about_thread_variable(gdal::TermProgress& progress) {
  const char* env = std::getenv("TESK_THREADS");
  if (!env) return;
  char* end = nullptr;
  const long n = std::strtol(env, &end, 10);
  if (end == env || *end != '\0' || n < 1 || n > kMaxThreads)
    progress.warn("TESK_THREADS=" + std::string(env) + " left aside: it must be a whole number from 1 to " +
                  std::to_string(kMaxThreads) + "; every core is used");
}

// The grids of a run, refused with the figures when the memory cannot hold
// them.
void allocate(RunGrids& g, int rows, int cols, bool map_early, const std::string& src) {
  const MemoryCheck m = check_memory(rows, cols, RunGrids::bytes_per_pixel(false));
  if (!m.fits)
    throw RunError("not enough memory: a grid of " + std::to_string(rows) + " x " + std::to_string(cols) +
                   " pixels needs " + std::to_string(m.need_mib) + " MiB, " + std::to_string(m.avail_mib) +
                   " MiB available (" + src + ")");
  try {
    g.allocate(rows, cols, false, map_early);
  } catch (const std::bad_alloc&) {
    throw RunError("not enough memory for a grid of " + std::to_string(rows) + " x " + std::to_string(cols) +
                   " pixels (" + src + ")");
  }
}

void check_numbers(const Options& o) {
  if (o.interval == 0) throw RunError("-i/--interval must not be 0");
  if (o.window < 1 || o.window > kMaxMaille)
    throw RunError("-m/--window must lie between 1 and " + std::to_string(kMaxMaille));
  if (!(std::isfinite(o.hillshade_z) && o.hillshade_z > 0)) throw RunError("--hillshade-z must be a number above 0");
}

int run(const Options& o, const std::string& cmd, gdal::TermProgress& progress, std::vector<std::string>& notes) {
  check_numbers(o);
  const Destination dest = plan_destination(o);
  check_outputs(o, dest);
  if (dest.classic && o.mask) throw RunError("--mask does not apply to a classic output set, which has no no-data value");
  if (!dest.classic) gdal::check_creation_options(dest.format.driver, o.creation);
  if (o.threads == 0) warn_about_thread_variable(progress);

  gdal::SourceOptions so = o.source;
  so.nodata = o.nodata;
  so.run_bytes_per_pixel = RunGrids::bytes_per_pixel(false);
  so.threads = resolve_threads(o.threads);
  auto src = gdal::open_source(o.src, so);
  progress.report(0);

  RunParams p;
  p.equid = o.interval;
  p.maille = o.window;
  p.overlay = !o.no_overlay;
  p.threads = resolve_threads(o.threads);
  p.internal_input = !src->raw();
  p.ival = src->raw() ? static_cast<int>(src->nodata()) : kIval32;
  RunGrids g;
  allocate(g, src->rows(), src->cols(), p.threads > 1, o.src);
  std::optional<ByteGrid> inside;
  if (o.mask) inside = gdal::read_mask(*o.mask, src->rows(), src->cols(), src->georef());
  ContourSurvey survey;
  bool first_reading = true;
  auto read = [&](IntGrid& itab) {
    if (p.internal_input)
      read_internal(*src, itab, p.equid, o.src, first_reading ? &survey : nullptr);
    else
      src->read_raw(itab);
    first_reading = false;
  };
  read(g.itab);
  look_at_contours(g.itab, p, survey, o.src, progress);
  progress.report(0.05);

  BatchObserver observer(progress, src->rows(), src->cols(), g.itab);
  try {
    compute_dem(g, p, read, observer);
  } catch (const ConversionError& e) {
    throw value_too_large(o.src, e.fault.value, e.fault.row, e.fault.col, p.equid);
  }
  if (stop_signal()) throw Cancelled();
  progress.report(0.90);

  // Outside the area of interest the preview is 0, the inside stretched
  // over 1..255 on its own.
  if (inside) quantise_inside(g.itab1, *inside, g.tab);
  write_outputs(o, cmd, dest, *src, g, p, progress, notes, inside ? &*inside : nullptr);
  progress.report(1.0);
  return 0;
}

}  // namespace

int run_batch(int argc, char** argv) {
  Options o;
  if (auto status = parse_options(argc, argv, o)) return *status;
  catch_stop_signals();
  gdal::TermProgress progress(o.quiet ? nullptr : stderr);
  // Every warning, GDAL's included, goes through the progress line.
  gdal::set_warning_sink([&progress](const std::string& text) { progress.warn(text); });
  std::vector<std::string> notes;
  std::string failure;
  // Every failure ends here, the temporary files gone with the unwinding:
  // one line, and the exit status.
  try {
    const int status = run(o, command_line(argc, argv), progress, notes);
    gdal::set_warning_sink(nullptr);
    for (const auto& n : notes) std::fprintf(stderr, "%s\n", n.c_str());
    if (const int s = stop_signal()) {  // taken while the outputs were renamed, which it never cuts short
      std::fprintf(stderr, "tesk: signal %d (%s) arrived once every output was written\n", s, strsignal(s));
      return 128 + s;
    }
    return status;
  } catch (const RunError& e) {
    failure = e.what();
  } catch (const Cancelled&) {
    failure = "cancelled";
  } catch (const std::bad_alloc&) {
    failure = "not enough memory to turn " + o.src + " into " + o.dst;
  } catch (const std::filesystem::filesystem_error& e) {
    failure = e.what();
  } catch (const std::system_error& e) {  // from the start of a thread
    failure = "--threads " + std::to_string(o.threads) + ": cannot start the threads (" + e.what() + ")";
  } catch (const std::exception& e) {
    failure = std::string("unexpected failure: ") + e.what();
  } catch (...) {
    failure = "unexpected failure";
  }
  gdal::set_warning_sink(nullptr);
  const char* line = progress.open() ? "\n" : "";
  if (const int s = stop_signal()) {
    std::fprintf(stderr, "%stesk: stopped by signal %d (%s): no output written, existing files left as they were\n",
                 line, s, strsignal(s));
    return 128 + s;
  }
  std::fprintf(stderr, "%stesk: %s\n", line, failure.c_str());
  return 1;
}

}  // namespace tesk
