#include "run/file_run.h"

#include <cmath>
#include <cstdlib>
#include <limits>
#include <optional>

#include "core/run_error.h"
#include "core/threads.h"
#include "core/units.h"
#include "io/gdal_mask.h"
#include "io/gdal_output.h"
#include "io/gdal_warnings.h"
#include "run/outputs.h"
#include "run/reading.h"
#include "run/tiled_run.h"
#include "io/staged_output.h"
#include "stages/conversion.h"
#include "stages/masking.h"
#include "stages/smoothing.h"

namespace tesk {
namespace {

// The run's progress: the stages' reports mapped onto one fraction; the
// finished surface in internal units is kept in `keep` (the working grid,
// free by then), for outputs at any resolution.
class FileObserver : public FractionObserver {
 public:
  FileObserver(const RunHooks& hooks, int rows, int cols, IntGrid& keep)
      : FractionObserver(rows), hooks_(hooks), rows_(rows), cols_(cols), keep_(keep) {}

  bool cancel_requested() const override { return hooks_.cancelled(); }
  void smoothing_skipped(int maille) override { warn_smoothing_skipped(maille, rows_, cols_, hooks_); }
  void before_conversion_back(const IntGrid& itab1) override { copy_grid(itab1, keep_); }

 private:
  void fraction(double f) override { hooks_.report(f); }

  const RunHooks& hooks_;
  int rows_;
  int cols_;
  IntGrid& keep_;
};

void check_numbers(const RunOptions& o) {
  if (o.interval == 0) throw RunError("-i/--interval must not be 0");
  if (o.window < 1 || o.window > kMaxMaille)
    throw RunError("-m/--window must lie between 1 and " + std::to_string(kMaxMaille));
  if (!(std::isfinite(o.hillshade_z) && o.hillshade_z > 0)) throw RunError("--hillshade-z must be a number above 0");
  if (o.threads < 0 || o.threads > kMaxThreads)
    throw RunError("--threads must lie between 0 and " + std::to_string(kMaxThreads));
  constexpr int kLargest = 1 << 20;  // a side beyond any raster a run can hold
  if (o.tile_size && (*o.tile_size < 64 || *o.tile_size > kLargest))
    throw RunError("--tile-size must lie between 64 and " + std::to_string(kLargest) + " pixels");
  if (o.halo && (*o.halo < 0 || *o.halo > kLargest))
    throw RunError("--halo must lie between 0 and " + std::to_string(kLargest) + " pixels");
}

FileRunResult run(const RunOptions& o, const RunHooks& hooks) {
  check_numbers(o);
  const Destination dest = plan_destination(o, hooks);
  check_outputs(o, dest);
  if (dest.classic && o.mask) throw RunError("--mask does not apply to a classic output set, which has no no-data value");
  if (!dest.classic) gdal::check_creation_options(dest.format.driver, o.creation);
  if (o.threads == 0)
    if (auto fault = thread_variable_fault()) hooks.remark(*fault);

  const int threads = resolve_threads(o.threads);
  Staging staging(o.overwrite);
  gdal::SourceOptions so = o.source;
  so.burn_dir = [&staging, &o] { return staging.scratch(o.dst); };
  so.nodata = o.nodata;
  so.run_bytes_per_pixel = RunGrids::bytes_per_pixel(false);
  so.threads = threads;
  auto src = gdal::open_source(o.src, so);
  hooks.report(0);

  RunParams p;
  p.equid = o.interval;
  p.maille = o.window;
  p.overlay = !o.no_overlay;
  p.threads = threads;
  p.internal_input = !src->raw();
  p.ival = src->raw() ? static_cast<int>(src->nodata()) : kIval32;
  if (runs_by_tiles(o, *src, p.threads)) return run_tiled(o, dest, *src, p, hooks, staging);
  RunGrids g;
  allocate_run(g, src->rows(), src->cols(), p.threads, o.src, gdal::cache_bytes() + run_overhead_bytes(p.threads));
  std::optional<ByteGrid> inside;
  if (o.mask) inside = gdal::read_mask(*o.mask, src->rows(), src->cols(), src->georef());
  const auto stop = [&hooks] { return hooks.cancelled(); };
  const CancelCheck cancel(stop);
  ContourSurvey survey;
  bool first_reading = true;
  auto read = [&](IntGrid& itab) {
    if (p.internal_input)
      read_into_internal(itab, [&](int i, double* row) { src->read_altitudes(i, row); },
                         std::numeric_limits<double>::quiet_NaN(), p.equid, o.src,
                         first_reading ? &survey : nullptr, cancel);
    else
      src->read_raw(itab);
    first_reading = false;
  };
  read(g.itab);
  refuse_without_contours(g.itab, p.internal_input ? kNoData : p.ival, o.src);
  if (!p.internal_input) survey = survey_raw(g.itab, p.ival, p.equid);
  warn_about_interval(survey, p.equid, o.src, hooks);
  hooks.report(0.05);

  FileObserver observer(hooks, src->rows(), src->cols(), g.itab);
  FileRunResult result;
  try {
    result.stats.run = compute_dem(g, p, read, observer);
  } catch (const ConversionError& e) {
    throw RunError(too_large_message(o.src, e.fault.value, e.fault.row, e.fault.col, p.equid));
  }
  if (hooks.cancelled()) throw Cancelled();
  hooks.report(0.90);

  // Outside the area of interest the preview is 0, the inside stretched
  // over 1..255 on its own.
  if (inside) quantise_inside(g.itab1, *inside, g.tab);
  Finished f;
  f.internal = gdal::ResultRows::of(g.itab);
  f.equid = p.equid;
  f.threads = p.threads;
  f.inside = inside ? &*inside : nullptr;
  if (!dest.classic)
    f.summary = gdal::summarise(g.itab, {p.equid, dest.type.whole}, src->nodata(), dest.type.type == "Float32",
                                f.inside);
  f.preview = [&g](int i, int n, std::uint8_t* out) {
    std::copy(g.tab[i], g.tab[i] + static_cast<std::ptrdiff_t>(n) * g.tab.cols(), out);
  };
  f.classic = &g.itab1;
  f.classic_preview = &g.tab;
  const Written w = write_outputs(o, dest, *src, f, hooks, result.notes, staging);
  result.stats.minimum = w.minimum;
  result.stats.maximum = w.maximum;
  result.stats.whole = w.whole;
  hooks.report(1.0);
  return result;
}

}  // namespace

FileRunResult run_file(const RunOptions& o, const RunHooks& hooks) {
  gdal::Session session(hooks.warn);
  return run(o, hooks);
}

std::string equivalent_command(const RunOptions& o) {
  std::vector<std::string> a = {"tesk", o.src, o.dst, "-i", std::to_string(o.interval)};
  auto add = [&](std::initializer_list<std::string> words) { a.insert(a.end(), words); };
  auto number = [](double v) { return message_number(v); };
  if (o.window != 1) add({"-m", std::to_string(o.window)});
  if (o.no_overlay) add({"--no-overlay"});
  if (o.nodata) add({"--nodata", number(*o.nodata)});
  if (o.source.band) add({"-b", std::to_string(*o.source.band)});
  if (!o.source.field.empty()) add({"-a", o.source.field});
  if (!o.source.layer.empty()) add({"-l", o.source.layer});
  if (o.source.tr) add({"-tr", number((*o.source.tr)[0]), number((*o.source.tr)[1])});
  if (o.source.ts) add({"-ts", std::to_string((*o.source.ts)[0]), std::to_string((*o.source.ts)[1])});
  if (o.source.te)
    add({"-te", number((*o.source.te)[0]), number((*o.source.te)[1]), number((*o.source.te)[2]),
         number((*o.source.te)[3])});
  if (o.mask) add({"--mask", *o.mask});
  if (o.format) add({"-of", *o.format});
  if (o.type) add({"-ot", *o.type});
  for (const auto& c : o.creation) add({"-co", c});
  if (o.preview) add({"--preview", *o.preview});
  if (o.hillshade) add({"--hillshade", *o.hillshade});
  if (o.hillshade_z != 1) add({"--hillshade-z", number(o.hillshade_z)});
  if (o.overwrite) add({"--overwrite"});
  if (o.threads != 0) add({"--threads", std::to_string(o.threads)});
  return shell_quoted(a);
}

std::string shell_quoted(const std::vector<std::string>& words) {
  std::string s;
  for (std::size_t k = 0; k < words.size(); ++k) {
    std::string w = words[k];
    if (w.empty() || w.find_first_of(" \t\n'\"\\$`*?;&|<>()") != std::string::npos) {
      std::string q = "'";
      for (char c : w) q += (c == '\'') ? std::string("'\\''") : std::string(1, c);
      w = q + "'";
    }
    s += (k ? " " : "") + w;
  }
  return s;
}

}  // namespace tesk
