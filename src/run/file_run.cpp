#include "run/file_run.h"

#include <optional>

#include "core/mention.h"
#include "core/run_error.h"
#include "core/threads.h"
#include "io/gdal_mask.h"
#include "io/gdal_output.h"
#include "io/gdal_warnings.h"
#include "io/staged_output.h"
#include "run/command_line.h"
#include "run/method.h"
#include "run/outputs.h"
#include "run/preview.h"
#include "run/reading.h"
#include "run/source_reader.h"
#include "run/tiled_run.h"
#include "stages/masking.h"

namespace tesk {
namespace {

// The source's options as the reading takes them: the user's, and where a
// vector source too large for the memory is burnt.
gdal::SourceOptions source_options(const RunOptions& o, int threads, Staging& staging) {
  gdal::SourceOptions so;
  so.band = o.source.band;
  so.field = o.source.attribute;
  so.layer = o.source.layer;
  so.tr = o.source.pixel_size;
  so.ts = o.source.size;
  so.te = o.source.extent;
  so.nodata = o.nodata;
  so.burn_dir = [&staging, &o] { return staging.scratch(o.dst); };
  so.run_bytes_per_pixel = bytes_per_pixel(o.surface.method);
  so.threads = threads;
  return so;
}

FileRunResult run(const RunOptions& o, const RunHooks& hooks) {
  check_options(o);
  const Destination dest = plan_destination(o, hooks);
  check_outputs(o, dest);
  if (dest.classic && !traits(o.surface.method).classic_set)
    throw RunError(mention(Opt::method, traits(o.surface.method).name) + " writes no classic output set: name a " +
                   "GeoTIFF destination (.tif)");
  if (dest.classic && o.mask)
    throw RunError(mention(Opt::mask) + " does not apply to a classic output set, which has no no-data value");
  if (!dest.classic) gdal::check_creation_options(dest.format.driver, o.creation_options);
  if (o.threads == 0)
    if (auto fault = thread_variable_fault()) hooks.remark(*fault);

  const int threads = resolve_threads(o.threads);
  Staging staging(o.overwrite);
  auto src = gdal::open_source(o.src, source_options(o, threads, staging));
  hooks.report(0);
  if (runs_by_tiles(o, *src, threads)) return run_tiled(o, dest, *src, threads, hooks, staging);

  // The mask is read, or refused, before any work.
  std::optional<ByteGrid> inside;
  if (o.mask) inside = gdal::read_mask(*o.mask, src->rows(), src->cols(), src->georef());
  Surface surface;
  FileRunResult result;
  run_whole(surface, source_reader(*src, o.surface.interval, o.src), o.surface, threads, hooks,
            {gdal::cache_bytes() + run_overhead_bytes(threads), 0});
  result.stats.run = surface.stats;
  result.stats.spline = surface.spline;
  RunGrids& g = surface.grids;
  Finished f;
  f.internal = surface.rows();
  f.equid = o.surface.interval;
  f.nearest = o.surface.method == Method::spline;
  f.threads = threads;
  f.inside = inside ? &*inside : nullptr;
  const gdal::Resolution res{o.surface.interval, dest.type.whole, f.nearest};
  const bool single = dest.type.type == "Float32";
  if (!dest.classic)
    f.summary = f.nearest ? gdal::summarise(surface.fitted, res, src->nodata(), single, f.inside)
                          : gdal::summarise(g.itab, res, src->nodata(), single, f.inside);
  if (f.nearest) {
    f.preview = surface_preview(surface.fitted, o.surface.interval, f.inside);
  } else {
    // Outside the area of interest the preview is 0, the inside stretched
    // over 1..255 on its own.
    if (inside) quantise_inside(g.itab1, *inside, g.tab);
    f.preview = [&g](int i, int n, std::uint8_t* out) {  // n whole rows: a grid's rows follow each other
      std::copy(g.tab[i], g.tab[i] + static_cast<std::ptrdiff_t>(n) * g.tab.cols(), out);
    };
    f.classic = &g.itab1;
    f.classic_preview = &g.tab;
  }
  write_outputs(o, dest, *src, f, hooks, staging, result);
  return result;
}

}  // namespace

FileRunResult run_file(const RunOptions& o, const RunHooks& hooks) {
  gdal::Session session(hooks.warn);
  return run(o, hooks);
}

}  // namespace tesk
