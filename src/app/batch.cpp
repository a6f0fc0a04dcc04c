#include "app/batch.h"

#include <algorithm>
#include <csignal>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "app/batch_options.h"
#include "app/stop_signals.h"
#include "core/memory.h"
#include "core/run_error.h"
#include "core/threads.h"
#include "core/units.h"
#include "io/gdal_output.h"
#include "io/gdal_progress.h"
#include "io/gdal_source.h"
#include "io/staged_output.h"
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

// TESK_FAULT=NAME makes the run fail at a chosen point, so that the tests
// can check what a failure leaves behind without racing the program:
// "signal-while-writing" sends the process a SIGINT while it writes the
// destination, "fail-before-rename" fails once every output is written.
bool fault(const char* name) {
  const char* f = std::getenv("TESK_FAULT");
  return f && std::strcmp(f, name) == 0;
}

// Polled while the outputs are written: true once the run must stop.
bool stop_requested() {
  static bool raised = false;
  if (!raised && fault("signal-while-writing")) raised = true, std::raise(SIGINT);
  return stop_signal() != 0;
}

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

// Checked before anything is computed, with or without --overwrite: no
// output is the source or another output; every output's directory
// exists; and no output exists unless --overwrite.
void check_outputs(const std::string& src, const std::vector<std::pair<std::string, std::string>>& outputs,
                   bool overwrite) {
  for (std::size_t k = 0; k < outputs.size(); ++k) {
    const auto& [what, f] = outputs[k];
    if (same_file(f, src)) throw RunError(what + " " + f + " is the source: an output never replaces its source");
    for (std::size_t l = 0; l < k; ++l)
      if (same_file(f, outputs[l].second))
        throw RunError(what + " " + f + " is also " + outputs[l].first + ": give each output a name of its own");
  }
  for (const auto& [what, f] : outputs) {
    const auto dir = std::filesystem::path(f).parent_path();
    if (!dir.empty() && !std::filesystem::is_directory(dir))
      throw RunError("cannot write " + f + ": the directory " + dir.string() + " does not exist");
    if (!overwrite && std::filesystem::exists(f)) throw RunError(f + " already exists: add --overwrite to replace it");
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

// What is decided about the destination before the computation.
struct Destination {
  bool classic = false;
  gdal::Format format;
  gdal::TypePlan type;
};

Destination plan_destination(const Options& o) {
  Destination d;
  d.classic = !o.format && gdal::is_classic_destination(o.dst);
  if (d.classic) {
    if (o.type || !o.creation.empty()) throw RunError("-ot and -co do not apply to a classic output set");
    return d;
  }
  d.format = gdal::format_for(o.format, o.dst);
  d.type = gdal::plan_type(d.format, o.type);
  if (d.type.fallback) {
    std::string types;
    for (const auto& t : d.format.types) types += (types.empty() ? "" : ", ") + t;
    std::fprintf(stderr, "Warning: the format %s stores no floating-point values: the DEM is written in whole "
                         "units, in the narrowest of its types (%s) that holds them\n",
                 d.format.driver.c_str(), types.c_str());
  }
  return d;
}

// The GDAL destination under its temporary name: its type settled on the
// result's range, its no-data value moved off the result's values.
void write_raster(const Options& o, const std::string& cmd, const Destination& d, const gdal::Source& src,
                  const IntGrid& internal, const gdal::Resolution& res, int threads, const std::string& path,
                  gdal::TermProgress& progress, std::optional<double>& nodata, std::vector<std::string>& notes) {
  const gdal::ValueSummary sum = gdal::summarise(internal, res, src.nodata(), d.type.type == "Float32");
  const std::string type = gdal::settle_type(d.type, d.format, sum.min, sum.max);
  nodata = gdal::choose_nodata(type, src.nodata(), sum);
  if (sum.nodata_hits > 0 && gdal::type_holds(type, src.nodata())) {
    char text[300];
    std::snprintf(text, sizeof text, "Warning: %lld pixel%s of the result equal%s the no-data value %.17g: ",
                  static_cast<long long>(sum.nodata_hits), sum.nodata_hits == 1 ? "" : "s",
                  sum.nodata_hits == 1 ? "s" : "", src.nodata());
    char moved[80];
    std::snprintf(moved, sizeof moved, "the output's no-data value is %.17g instead", nodata.value_or(0));
    notes.push_back(text + (nodata ? std::string(moved) : std::string("the output has no no-data value")));
  }
  gdal::RasterDestination rd{path, d.format, o.creation, type, nodata, cmd, threads};
  gdal::write_raster(rd, internal, res, src.georef(), gdal::StepProgress{&progress, 0.90, 0.96, stop_requested});
}

void write_staged(const Options& o, const std::string& cmd, const Destination& d, const gdal::Source& src,
                  const RunGrids& g, const RunParams& p, gdal::TermProgress& progress, std::vector<std::string>& notes,
                  Staging& staging) {
  gdal::Resolution res{p.equid, true};
  std::optional<double> nodata;
  if (d.classic) {
    Header h{src.rows(), src.cols(), 0, 0, 0, 0};
    if (src.classic_header())
      h = *src.classic_header();
    else if (src.georef().has_transform)
      h.taille_pix = static_cast<int>(std::lround(std::fabs(src.georef().transform[1])));
    gdal::write_classic_set(staging.add(o.dst), h, g.tab, g.itab1);
  } else {
    res.whole = d.type.whole;
    write_raster(o, cmd, d, src, g.itab, res, p.threads, staging.add(o.dst), progress, nodata, notes);
  }
  progress.report(0.96);
  if (o.preview) gdal::write_png(staging.add(*o.preview), g.tab);
  if (o.hillshade) gdal::write_hillshade(staging.add(*o.hillshade), g.itab, res, src.georef(), nodata, o.hillshade_z);
}

// Every output under a temporary name, then, the run complete, renamed
// into place: the destination (a classic set or a GDAL raster), the
// preview and the shaded relief.
void write_outputs(const Options& o, const std::string& cmd, const Destination& d, const gdal::Source& src,
                   const RunGrids& g, const RunParams& p, gdal::TermProgress& progress,
                   std::vector<std::string>& notes) {
  Staging staging(o.overwrite);
  try {
    write_staged(o, cmd, d, src, g, p, progress, notes, staging);
  } catch (const RunError& e) {
    throw RunError(staging.final_names(e.what()));  // messages name the outputs, not their temporary files
  }
  if (fault("fail-before-rename")) throw RunError("a failure injected before the renaming (TESK_FAULT)");
  if (stop_signal()) throw Cancelled();
  staging.commit();
}

void check_numbers(const Options& o) {
  if (o.interval == 0) throw RunError("-i/--interval must not be 0");
  if (o.window < 1 || o.window > kMaxMaille)
    throw RunError("-m/--window must lie between 1 and " + std::to_string(kMaxMaille));
  if (!(std::isfinite(o.hillshade_z) && o.hillshade_z > 0)) throw RunError("--hillshade-z must be a number above 0");
}

int run(const Options& o, const std::string& cmd, gdal::TermProgress& progress, std::vector<std::string>& notes) {
  check_numbers(o);
  const bool classic_out = !o.format && gdal::is_classic_destination(o.dst);
  std::vector<std::pair<std::string, std::string>> outputs;
  for (const auto& f : classic_out ? gdal::classic_set_files(o.dst) : std::vector{o.dst})
    outputs.emplace_back("the destination", f);
  if (o.preview) outputs.emplace_back("--preview", *o.preview);
  if (o.hillshade) outputs.emplace_back("--hillshade", *o.hillshade);
  check_outputs(o.src, outputs, o.overwrite);
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
