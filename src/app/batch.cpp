#include "app/batch.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "app/batch_options.h"
#include "core/memory.h"
#include "core/run_error.h"
#include "core/threads.h"
#include "core/units.h"
#include "io/gdal_output.h"
#include "io/gdal_progress.h"
#include "io/gdal_source.h"
#include "stages/conversion.h"
#include "stages/pipeline.h"
#include "stages/smoothing.h"

namespace tesk {
namespace {

// The run's progress: the stages' reports mapped onto one line.
class BatchObserver : public RunObserver {
 public:
  BatchObserver(gdal::TermProgress& progress, int rows, bool keep_real, int equid)
      : progress_(progress), rows_(rows), keep_real_(keep_real), equid_(equid) {}

  void pass_starting(const PassReport& r) override {
    if (r.degree == 1) first_ = r.to_treat;
    if (first_ > 0) progress_.report(0.05 + 0.45 * (1.0 - static_cast<double>(r.to_treat) / first_));
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
// no-data (and NaN) become the internal marker.
void read_internal(gdal::Source& src, IntGrid& itab, int equid, const std::string& name) {
  std::vector<double> row(static_cast<std::size_t>(src.cols()));
  for (int i = 0; i < src.rows(); ++i) {
    src.read_altitudes(i, row.data());
    if (auto j = convert_row_to_internal(row.data(), src.cols(), std::numeric_limits<double>::quiet_NaN(), equid,
                                         itab[i]))
      throw value_too_large(name, row[static_cast<std::size_t>(*j)], i, *j, equid);
  }
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

// The destination (a classic set or a GDAL raster), then the preview and
// the shaded relief.
void write_outputs(const Options& o, const std::string& cmd, const std::string& driver, bool classic_out,
                   const gdal::Source& src, const RunGrids& g, const gdal::RealGrid* real, const RunStats& stats,
                   gdal::TermProgress& progress) {
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
    gdal::write_raster(d, g.itab1, real, src.georef());
    out_nodata = src.nodata();
  }
  progress.report(0.97);
  if (o.preview) gdal::write_png(*o.preview, g.tab);
  if (o.hillshade) gdal::write_hillshade(*o.hillshade, g.itab1, real, src.georef(), out_nodata);
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
  const std::string driver = o.format ? *o.format : gdal::driver_for(o.dst);

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

  const bool real_out = !classic_out && o.type && gdal::is_real_type(*o.type);
  BatchObserver observer(progress, src->rows(), real_out, p.equid);
  RunStats stats;
  try {
    stats = compute_dem(g, p, read, observer);
  } catch (const ConversionError& e) {
    throw value_too_large(o.src, e.fault.value, e.fault.row, e.fault.col, p.equid);
  }
  progress.report(0.90);

  write_outputs(o, cmd, driver, classic_out, *src, g, real_out ? &observer.real : nullptr, stats, progress);
  progress.report(1.0);
  return 0;
}

}  // namespace

int run_batch(int argc, char** argv) {
  Options o;
  if (auto status = parse_options(argc, argv, o)) return *status;
  gdal::TermProgress progress(o.quiet ? nullptr : stderr);
  std::string failure;
  try {
    return run(o, command_line(argc, argv), progress);
  } catch (const RunError& e) {
    failure = e.what();
  } catch (const std::bad_alloc&) {
    failure = "not enough memory";
  }
  std::fprintf(stderr, "%stesk: %s\n", progress.open() ? "\n" : "", failure.c_str());
  return 1;
}

}  // namespace tesk
