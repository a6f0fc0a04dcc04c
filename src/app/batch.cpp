#include "app/batch.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/batch_options.h"
#include "app/batch_outputs.h"
#include "app/stop_signals.h"
#include "core/memory.h"
#include "core/run_error.h"
#include "core/threads.h"
#include "core/units.h"
#include "io/gdal_progress.h"
#include "io/gdal_source.h"
#include "stages/conversion.h"
#include "stages/pipeline.h"
#include "stages/smoothing.h"

namespace tesk {
namespace {

// The run's progress: the stages' reports mapped onto one line; a stop
// signal cancels the run; the finished surface in internal units is kept in
// `keep` (the working grid, free by then), for outputs at any resolution.
class BatchObserver : public RunObserver {
 public:
  BatchObserver(gdal::TermProgress& progress, int rows, IntGrid& keep)
      : progress_(progress), rows_(rows), keep_(keep) {}

  bool cancel_requested() const override { return stop_signal() != 0; }
  void pass_starting(const PassReport& r) override {
    if (r.degree == 1) first_ = r.to_treat;
    if (first_ > 0) progress_.report(0.05 + 0.45 * (1.0 - static_cast<double>(r.to_treat) / first_));
  }
  void smoothing_row(int i) override { progress_.report(0.50 + 0.35 * i / rows_); }
  void saving_starting() override { progress_.report(0.85); }
  void minmax_row(int i) override { progress_.report(0.85 + 0.05 * i / rows_); }
  void before_conversion_back(const IntGrid& itab1) override { copy_grid(itab1, keep_); }

 private:
  gdal::TermProgress& progress_;
  int rows_;
  IntGrid& keep_;
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

// A source that is not raw, row by row into internal units: no-data (and
// NaN) become the internal marker.
void read_internal(gdal::Source& src, IntGrid& itab, int equid, const std::string& name) {
  std::vector<double> row(static_cast<std::size_t>(src.cols()));
  for (int i = 0; i < src.rows(); ++i) {
    src.read_row(i, row.data());
    if (auto j = convert_row_to_internal(row.data(), src.cols(), src.nodata(), equid, itab[i]))
      throw value_too_large(name, row[static_cast<std::size_t>(*j)], i, *j, equid);
  }
}

// The grids of a run, refused with the figures when the memory cannot hold
// them.
void allocate(RunGrids& g, int rows, int cols, bool map_early) {
  const MemoryCheck m = check_memory(rows, cols, RunGrids::bytes_per_pixel(false));
  if (!m.fits)
    throw RunError("not enough memory: a grid of " + std::to_string(rows) + " x " + std::to_string(cols) +
                   " pixels needs " + std::to_string(m.need_mib) + " MiB, " + std::to_string(m.avail_mib) +
                   " MiB available");
  try {
    g.allocate(rows, cols, false, map_early);
  } catch (const std::bad_alloc&) {
    throw RunError("not enough memory for a grid of " + std::to_string(rows) + " x " + std::to_string(cols) +
                   " pixels");
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
  check_outputs(o);
  const Destination dest = plan_destination(o);

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
  allocate(g, src->rows(), src->cols(), p.threads > 1);
  auto read = [&](IntGrid& itab) {
    if (p.internal_input)
      read_internal(*src, itab, p.equid, o.src);
    else
      src->read_raw(itab);
  };
  read(g.itab);
  const std::int32_t off = p.internal_input ? kNoData : p.ival;
  if (std::find_if(g.itab.begin(), g.itab.end(), [&](std::int32_t v) { return v != off; }) == g.itab.end())
    throw RunError(o.src + " holds no contour pixel: every sample is the no-data value");
  progress.report(0.05);

  BatchObserver observer(progress, src->rows(), g.itab);
  try {
    compute_dem(g, p, read, observer);
  } catch (const ConversionError& e) {
    throw value_too_large(o.src, e.fault.value, e.fault.row, e.fault.col, p.equid);
  }
  if (stop_signal()) throw Cancelled();
  progress.report(0.90);

  write_outputs(o, cmd, dest, *src, g, p, progress, notes);
  progress.report(1.0);
  return 0;
}

}  // namespace

int run_batch(int argc, char** argv) {
  Options o;
  if (auto status = parse_options(argc, argv, o)) return *status;
  catch_stop_signals();
  gdal::TermProgress progress(o.quiet ? nullptr : stderr);
  std::vector<std::string> notes;
  std::string failure;
  try {
    const int status = run(o, command_line(argc, argv), progress, notes);
    for (const auto& n : notes) std::fprintf(stderr, "%s\n", n.c_str());
    return status;
  } catch (const RunError& e) {
    failure = e.what();
  } catch (const Cancelled&) {
    failure = "cancelled";
  } catch (const std::bad_alloc&) {
    failure = "not enough memory";
  }
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
