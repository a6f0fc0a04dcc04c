#include "app/batch.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "app/batch_options.h"
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

// The run's progress: the stages' reports mapped onto one line.
class BatchObserver : public RunObserver {
 public:
  BatchObserver(gdal::TermProgress& progress, int rows, int cols, bool keep_real, int equid)
      : progress_(progress), rows_(rows), cols_(cols), keep_real_(keep_real), equid_(equid) {}

  void pass_starting(const PassReport& r) override {
    if (r.degree == 1) first_ = r.to_treat;
    if (first_ > 0) progress_.report(0.05 + 0.45 * (1.0 - static_cast<double>(r.to_treat) / first_));
  }
  void smoothing_skipped(int maille) override {
    progress_.warn("-m " + std::to_string(maille) + ": the smoothing window needs more than " +
                   std::to_string(maille) + " rows and columns, and the raster has " + std::to_string(rows_) + " x " +
                   std::to_string(cols_) + " pixels: the result is not smoothed");
  }
  void smoothing_row(int i) override { progress_.report(0.50 + 0.35 * i / rows_); }
  void saving_starting() override { progress_.report(0.85); }
  void minmax_row(int i) override { progress_.report(0.85 + 0.05 * i / rows_); }
  // Full resolution for real output types: w x equid / 512, in double.
  void before_conversion_back(const IntGrid& itab1) override {
    if (!keep_real_) return;
    real = gdal::RealGrid(itab1.rows(), itab1.cols());
    for (std::size_t k = 0; k < itab1.size(); ++k)
      real.data()[k] = static_cast<double>(itab1.data()[k]) * equid_ / 512.0;
  }

  gdal::RealGrid real;

 private:
  gdal::TermProgress& progress_;
  int rows_;
  int cols_;
  bool keep_real_;
  int equid_;
  std::int64_t first_ = 0;
};

// The one report of a contour value that internal units cannot hold,
// whether the reading of a source that is not raw or the run meets it.
RunError value_too_large(const std::string& src, double value, int row, int col, int equid) {
  char text[200];
  std::snprintf(text, sizeof text,
                ": the value %.17g at row %d, column %d is too large for the interval %d "
                "(its magnitude must stay below 4194304 intervals)",
                value, row, col, equid);
  return RunError(src + text);
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

std::string text(double v) {
  char t[40];
  std::snprintf(t, sizeof t, "%.15g", v);
  return t;
}

// What the contour values say about the interval: values that are not
// multiples of it come back lower, and a range of a few intervals gives a
// result of a few values.
void warn_about_interval(const ContourSurvey& s, int equid, const std::string& src, gdal::TermProgress& progress) {
  if (s.off_interval > 0)
    progress.warn(std::to_string(s.off_interval) + " contour pixels of " + src +
                  " hold values that are not multiples of -i " + std::to_string(equid) + " (for example " +
                  text(s.example) + "): such values come back lower, by up to one unit in whole units");
  constexpr double kFewIntervals = 3;
  if (s.pixels > 0 && s.intervals(equid) < kFewIntervals)
    progress.warn("the contour values of " + src + " run from " + text(s.lo) + " to " + text(s.hi) +
                  ", fewer than " + text(kFewIntervals) + " intervals of -i " + std::to_string(equid) +
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

// Checked before anything is computed: every output's directory exists, and
// no output exists unless --overwrite.
void check_outputs(const std::vector<std::string>& files, bool overwrite) {
  for (const auto& f : files) {
    const auto dir = std::filesystem::path(f).parent_path();
    if (!dir.empty() && !std::filesystem::is_directory(dir))
      throw RunError("cannot write " + f + ": the directory " + dir.string() + " does not exist");
    if (!overwrite && std::filesystem::exists(f)) throw RunError(f + " already exists: add --overwrite to replace it");
  }
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

// The destination (a classic set or a GDAL raster), then the preview and
// the shaded relief.
void write_outputs(const Options& o, const std::string& cmd, const std::string& driver, bool classic_out,
                   const gdal::Source& src, const RunGrids& g, const gdal::RealGrid* real, const RunStats& stats,
                   gdal::TermProgress& progress, const ByteGrid* inside) {
  std::optional<double> out_nodata;
  if (classic_out) {
    Header h{src.rows(), src.cols(), 0, 0, 0, 0};
    if (src.classic_header())
      h = *src.classic_header();
    else if (src.georef().has_transform)
      h.taille_pix = static_cast<int>(std::lround(std::fabs(src.georef().transform[1])));
    gdal::write_classic_set(o.dst, h, g.tab, g.itab1);
  } else {
    gdal::RasterDestination d{o.dst, driver, o.creation, "", src.nodata(), cmd};
    d.type = gdal::choose_type(o.type, src.type_name(), stats.min_al, stats.max_al);
    gdal::write_raster(d, g.itab1, real, src.georef(), inside);
    out_nodata = src.nodata();
  }
  progress.report(0.97);
  if (o.preview) gdal::write_png(*o.preview, g.tab);
  if (o.hillshade) gdal::write_hillshade(*o.hillshade, g.itab1, real, src.georef(), out_nodata, inside);
}

int run(const Options& o, const std::string& cmd, gdal::TermProgress& progress) {
  if (o.interval == 0) throw RunError("-i/--interval must not be 0");
  if (o.window < 1 || o.window > kMaxMaille)
    throw RunError("-m/--window must lie between 1 and " + std::to_string(kMaxMaille));
  const bool classic_out = !o.format && gdal::is_classic_destination(o.dst);
  std::vector<std::string> outputs = classic_out ? gdal::classic_set_files(o.dst) : std::vector{o.dst};
  if (o.preview) outputs.push_back(*o.preview);
  if (o.hillshade) outputs.push_back(*o.hillshade);
  check_outputs(outputs, o.overwrite);
  if (classic_out && (o.type || !o.creation.empty())) throw RunError("-ot and -co do not apply to a classic output set");
  if (classic_out && o.mask) throw RunError("--mask does not apply to a classic output set, which has no no-data value");
  const std::string driver = o.format ? *o.format : gdal::driver_for(o.dst);
  if (!classic_out) gdal::check_creation_options(driver, o.creation);
  if (o.threads == 0) warn_about_thread_variable(progress);

  gdal::SourceOptions so = o.source;
  so.nodata = o.nodata;
  so.run_bytes_per_pixel = RunGrids::bytes_per_pixel(false);
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

  const bool real_out = !classic_out && o.type && gdal::is_real_type(*o.type);
  BatchObserver observer(progress, src->rows(), src->cols(), real_out, p.equid);
  RunStats stats;
  try {
    stats = compute_dem(g, p, read, observer);
  } catch (const ConversionError& e) {
    throw value_too_large(o.src, e.fault.value, e.fault.row, e.fault.col, p.equid);
  }
  progress.report(0.90);

  // Outside the area of interest the preview is 0, the inside stretched
  // over 1..255 on its own.
  if (inside) quantise_inside(g.itab1, *inside, g.tab);
  write_outputs(o, cmd, driver, classic_out, *src, g, real_out ? &observer.real : nullptr, stats, progress,
                inside ? &*inside : nullptr);
  progress.report(1.0);
  return 0;
}

}  // namespace

int run_batch(int argc, char** argv) {
  Options o;
  if (auto status = parse_options(argc, argv, o)) return *status;
  gdal::TermProgress progress(o.quiet ? nullptr : stderr);
  // Every warning, GDAL's included, goes through the progress line.
  gdal::set_warning_sink([&progress](const std::string& text) { progress.warn(text); });
  std::string failure;
  try {
    const int status = run(o, command_line(argc, argv), progress);
    gdal::set_warning_sink(nullptr);
    return status;
  } catch (const RunError& e) {
    failure = e.what();
  } catch (const std::bad_alloc&) {
    failure = "not enough memory to turn " + o.src + " into " + o.dst;
  } catch (const std::filesystem::filesystem_error& e) {
    failure = e.what();
  } catch (const std::system_error& e) {  // from the start of a thread
    failure = "--threads " + std::to_string(o.threads) + ": cannot start the threads (" + e.what() + ")";
  }
  gdal::set_warning_sink(nullptr);
  std::fprintf(stderr, "%stesk: %s\n", progress.open() ? "\n" : "", failure.c_str());
  return 1;
}

}  // namespace tesk
