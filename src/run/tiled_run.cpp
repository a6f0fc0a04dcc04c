#include "run/tiled_run.h"

#include <sys/statvfs.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "core/memory.h"
#include "core/run_error.h"
#include "io/gdal_mask.h"
#include "io/gdal_output.h"
#include "io/gdal_pictures.h"
#include "io/staged_output.h"
#include "io/tile_store.h"
#include "run/reading.h"
#include "stages/contour_survey.h"
#include "stages/conversion.h"
#include "stages/masking.h"
#include "stages/quantisation.h"
#include "stages/smoothing.h"
#include "tiles/tile_run.h"

namespace tesk {
namespace {

// Bytes a pixel of a tile's extent needs: the run's grids, the record of
// the passes, the certificate's grids at their peak and the tile's results.
constexpr std::uint64_t kTileBytesPerPixel = 64;
// The smallest tile, and the step of tile sizes (GeoTIFF blocks).
constexpr int kTileStep = 256;

std::string mib(std::uint64_t bytes) { return std::to_string(bytes >> 20) + " MiB"; }

std::uint64_t tile_bytes(std::int64_t tile, std::int64_t halo) {
  const double side = static_cast<double>(tile) + 2.0 * static_cast<double>(halo);
  const double bytes = side * side * static_cast<double>(kTileBytesPerPixel);
  return bytes >= 1.8e19 ? std::numeric_limits<std::uint64_t>::max() : static_cast<std::uint64_t>(bytes);
}

// The memory the tiles may use: what the run may use, less GDAL's block
// cache, the run's overhead, the mask (held whole, a byte a pixel) and the
// writers' buffers (a row of GeoTIFF blocks across the raster, read from the
// tiles' results and converted for the DEM: 12 bytes a pixel).
std::uint64_t tile_budget(const RunOptions& o, const gdal::Source& src, int threads) {
  const auto avail = available_memory().value_or(std::uint64_t{1} << 40);
  std::uint64_t reserved = gdal::cache_bytes() + run_overhead_bytes(threads) +
                           std::uint64_t{kTileStep} * static_cast<std::uint64_t>(src.cols()) * 12;
  if (o.mask) reserved += static_cast<std::uint64_t>(src.rows()) * static_cast<std::uint64_t>(src.cols());
  return avail > reserved ? avail - reserved : 0;
}

// What the pass over the whole source finds before the tiles.
struct Survey {
  ContourSurvey contours;
  bool any = false;          // a contour pixel
  int longest_gap = 0;       // the longest run of no-data pixels along a row or a column
};

// Reads rows [i, i + n) of the source into block, in internal units, as
// compute_dem would convert them; a value internal units cannot hold is
// refused with its row and column.
void read_block(gdal::Source& src, const RunParams& p, const std::string& name, int i, IntGrid& block,
                ContourSurvey& survey, CancelCheck cancel) {
  if (!p.internal_input) {
    src.read_raw_window(i, 0, block);
    survey.merge(survey_raw(block, p.ival, p.equid));
    if (const auto fault = convert_to_internal(block, p.ival, p.equid, cancel))
      throw RunError(too_large_message(name, fault->value, i + fault->row, fault->col, p.equid));
    return;
  }
  ContourSurvey part;
  read_into_internal(block, [&](int k, double* row) { src.read_altitudes(i + k, row); },
                     std::numeric_limits<double>::quiet_NaN(), p.equid, name, &part, cancel);
  survey.merge(part);
}

Survey survey_source(gdal::Source& src, const RunParams& p, const std::string& name, CancelCheck cancel) {
  Survey s;
  const int rows = src.rows(), cols = src.cols();
  const int chunk = std::max(1, std::min(rows, (1 << 20) / std::max(cols, 1)));
  std::vector<int> column_gap(static_cast<std::size_t>(cols), 0);
  IntGrid block(chunk, cols);
  for (int i = 0; i < rows; i += chunk) {
    const int n = std::min(chunk, rows - i);
    if (n != block.rows()) block = IntGrid(n, cols);
    read_block(src, p, name, i, block, s.contours, cancel);
    for (int k = 0; k < n; ++k) {
      int gap = 0;
      for (int j = 0; j < cols; ++j) {
        const bool hole = block[k][j] == kNoData;
        s.any |= !hole;
        gap = hole ? gap + 1 : 0;
        column_gap[static_cast<std::size_t>(j)] = hole ? column_gap[static_cast<std::size_t>(j)] + 1 : 0;
        s.longest_gap = std::max({s.longest_gap, gap, column_gap[static_cast<std::size_t>(j)]});
      }
    }
  }
  return s;
}

// Refuses, before any work, a run whose temporary raster and outputs would
// not fit the free space beside the destination.
void check_disk(const RunOptions& o, const gdal::Source& src) {
  const auto pixels = static_cast<std::uint64_t>(src.rows()) * static_cast<std::uint64_t>(src.cols());
  // The tiles' results (4 bytes, uncompressed at worst), the DEM (8 at
  // worst), the pictures and their intermediate rasters.
  std::uint64_t need = pixels * 12;
  if (o.preview) need += pixels;
  if (o.hillshade) need += pixels * 6;
  const std::string dir = std::filesystem::path(o.dst).parent_path().string();
  struct statvfs fs {};
  if (::statvfs(dir.empty() ? "." : dir.c_str(), &fs) != 0) return;
  const std::uint64_t free = static_cast<std::uint64_t>(fs.f_bavail) * fs.f_frsize;
  if (need > free)
    throw FileSystemFault("not enough disk space: a run of " + std::to_string(src.rows()) + " x " +
                          std::to_string(src.cols()) + " pixels by tiles writes up to " + mib(need) + " beside " +
                          o.dst + ", and " + mib(free) + " are free (" + o.src + ")");
}

// Fills out with the samples of window w as compute_dem takes them.
void read_window(gdal::Source& src, const RunParams& p, const std::string& name, const Window& w, IntGrid& out) {
  if (!p.internal_input) return src.read_raw_window(w.row0, w.col0, out);
  read_into_internal(out, [&](int i, double* row) { src.read_altitudes(w.row0 + i, w.col0, w.cols, row); },
                     std::numeric_limits<double>::quiet_NaN(), p.equid, name, nullptr, {});
}

// Asks the hooks whether to stop, for the stages of a tile.
class TileWatch : public RunObserver {
 public:
  explicit TileWatch(const RunHooks& h) : h_(h) {}
  bool cancel_requested() const override { return h_.cancelled(); }

 private:
  const RunHooks& h_;
};

// What the tiles found, for the decisions made once for the whole raster.
struct Totals {
  gdal::ValueSummary dem;
  int lo = std::numeric_limits<int>::max(), hi = std::numeric_limits<int>::min();  // the result grid's extremes (the preview's)
  std::int64_t uncertain = 0;
  std::vector<std::string> uncertain_tiles;
  int largest_halo = 0, first_sufficed = 0;
  RunStats stats;
};

std::string where(const Window& c) {
  return "rows " + std::to_string(c.row0) + " to " + std::to_string(c.row0 + c.rows - 1) + ", columns " +
         std::to_string(c.col0) + " to " + std::to_string(c.col0 + c.cols - 1);
}

// The core of a mask over window c.
std::optional<ByteGrid> mask_of(const std::optional<ByteGrid>& inside, const Window& c) {
  if (!inside) return std::nullopt;
  ByteGrid m(c.rows, c.cols);
  for (int i = 0; i < c.rows; ++i) std::copy((*inside)[c.row0 + i] + c.col0, (*inside)[c.row0 + i] + c.col0 + c.cols, m[i]);
  return m;
}

// One tile, its halo doubled until its core is proven (or the memory ends
// the doubling); its results go into the store and the totals.  Returns
// the halo it needed.
int run_one(const RunOptions& o, gdal::Source& src, const RunParams& p, const TileRequest& first,
            std::uint64_t budget, const Destination& dest, const std::optional<ByteGrid>& inside,
            gdal::TileStore& store, Totals& t, const RunHooks& hooks) {
  TileRequest request = first;
  const TileWatch watch(hooks);
  const int largest = std::max(src.rows(), src.cols());
  for (;;) {
    TileResult r = run_tile(request, p, [&](const Window& w, IntGrid& out) { read_window(src, p, o.src, w, out); }, &watch);
    const bool whole = request.halo >= largest;
    const bool room = tile_bytes(std::max(request.core.rows, request.core.cols), 2 * std::int64_t{request.halo}) <= budget;
    if (!r.certified && !whole && room) {
      request.halo = std::max(1, request.halo * 2);
      continue;
    }
    if (!r.certified) {
      if (!o.accept_uncertain)
        throw RunError("the tile of " + where(request.core) + " cannot be proven equal to a whole run, even with a halo " +
                       "of " + std::to_string(request.halo) + " pixels, the most the memory allows: " +
                       std::to_string(r.uncertain) + " of its pixels depend on more of the raster (a hole larger " +
                       "than the tile, such as a sea beyond the outermost contour); add --accept-uncertain to keep " +
                       "them as the tile computes them, or give the run more memory");
      t.uncertain += r.uncertain;
      t.uncertain_tiles.push_back(where(request.core) + " (" + std::to_string(r.uncertain) + ")");
    }
    const auto m = mask_of(inside, r.core);
    const gdal::Resolution res{p.equid, dest.type.whole};
    const gdal::ValueSummary s =
        gdal::summarise(r.internal, res, src.nodata(), dest.type.type == "Float32", m ? &*m : nullptr);
    t.dem.merge(s);
    for (int i = 0; i < r.core.rows; ++i)
      for (int j = 0; j < r.core.cols; ++j)
        if (!m || (*m)[i][j]) t.lo = std::min(t.lo, r.altitude[i][j]), t.hi = std::max(t.hi, r.altitude[i][j]);
    t.stats.passes = std::max(t.stats.passes, r.stats.passes);
    t.stats.growth_sweeps += r.stats.growth_sweeps;
    t.stats.gap_sweeps = std::max(t.stats.gap_sweeps, r.stats.gap_sweeps);
    store.put(r.core.row0, r.core.col0, r.internal);
    return request.halo;
  }
}

}  // namespace

bool runs_by_tiles(const RunOptions& o, const gdal::Source& src, int threads) {
  if (o.tile_size) return true;
  const std::uint64_t mask = o.mask ? 1 : 0;
  return !check_memory(src.rows(), src.cols(), RunGrids::bytes_per_pixel(false) + mask,
                       gdal::cache_bytes() + run_overhead_bytes(threads))
              .fits;
}

FileRunResult run_tiled(const RunOptions& o, const Destination& dest, gdal::Source& src, const RunParams& p,
                        const RunHooks& hooks, Staging& staging) {
  if (dest.classic)
    throw RunError("a classic output set is written whole, which a run by tiles cannot do: name a GeoTIFF "
                   "destination (.tif)");
  if (!dest.format.create)
    throw RunError("-of " + dest.format.driver + ": GDAL writes this format only whole, which a run by tiles cannot "
                   "do: write a GeoTIFF (-of GTiff)");
  const std::uint64_t budget = tile_budget(o, src, p.threads);
  if (tile_bytes(kTileStep, 0) > budget)
    throw MemoryRefusal("not enough memory even for tiles: a tile of " + std::to_string(kTileStep) + " x " +
                        std::to_string(kTileStep) + " pixels needs " + mib(tile_bytes(kTileStep, 0)) + ", " +
                        mib(budget) + " available (" + o.src + ")");
  check_disk(o, src);
  const auto stop = [&hooks] { return hooks.cancelled(); };
  const CancelCheck cancel(stop);

  const Survey survey = survey_source(src, p, o.src, cancel);
  if (!survey.any) throw RunError(o.src + " holds no contour pixel: every sample is the no-data value");
  warn_about_interval(survey.contours, p.equid, o.src, hooks);
  if (p.maille > 1 && !window_fits(src.rows(), src.cols(), p.maille))
    warn_smoothing_skipped(p.maille, src.rows(), src.cols(), hooks);
  int tile = o.tile_size.value_or(kTileStep);
  if (tile_bytes(tile, 0) > budget)
    throw MemoryRefusal("--tile-size " + std::to_string(tile) + ": a tile of that size needs " +
                        mib(tile_bytes(tile, 0)) + ", " + mib(budget) + " available (" + o.src + ")");
  // A first halo on the scale of the distance from a pixel to the nearest
  // contour: half the widest gap between contour pixels along a row or a
  // column, as much of it as the memory allows; a tile that needs more
  // gets it doubled.
  int halo = o.halo.value_or(std::clamp((survey.longest_gap / 2 + 15) / 16 * 16, 16, 1024));
  while (halo > 0 && tile_bytes(tile, halo) > budget) halo /= 2;
  if (!o.tile_size)  // the largest tile the memory holds with that halo
    while (tile < std::max(src.rows(), src.cols()) && tile_bytes(2 * tile, halo) <= budget) tile *= 2;
  if (!o.tile_size)
    hooks.tell(o.src + " does not fit the memory whole (" + std::to_string(src.rows()) + " x " +
                 std::to_string(src.cols()) + " pixels): it runs by tiles of " + std::to_string(tile) +
                 " pixels, with the same result");
  hooks.report(0.05);

  std::optional<ByteGrid> inside;
  if (o.mask) inside = gdal::read_mask(*o.mask, src.rows(), src.cols(), src.georef());
  const std::string scratch = staging.scratch(o.dst);
  gdal::TileStore store(scratch + "/result.tif", src.rows(), src.cols(), p.threads);
  Totals totals;
  const int down = (src.rows() + tile - 1) / tile, across = (src.cols() + tile - 1) / tile;
  for (int ti = 0; ti < down; ++ti)
    for (int tj = 0; tj < across; ++tj) {
      const Window core{ti * tile, tj * tile, std::min(tile, src.rows() - ti * tile), std::min(tile, src.cols() - tj * tile)};
      const int needed = run_one(o, src, p, {src.rows(), src.cols(), core, halo}, budget, dest, inside, store,
                                 totals, hooks);
      totals.largest_halo = std::max(totals.largest_halo, needed);
      totals.first_sufficed += needed <= halo;
      hooks.report(0.05 + 0.80 * (ti * across + tj + 1) / (down * across));
    }
  store.finish();
  hooks.tell(std::to_string(down * across) + " tiles of " + std::to_string(tile) + " pixels; the first halo, " +
             std::to_string(halo) + " pixels, sufficed for " + std::to_string(totals.first_sufficed) +
             ", the largest needed was " + std::to_string(totals.largest_halo));

  FileRunResult result;
  result.stats.run = totals.stats;
  if (totals.uncertain > 0) {
    std::string list;
    for (std::size_t k = 0; k < totals.uncertain_tiles.size() && k < 5; ++k) list += (k ? "; " : "") + totals.uncertain_tiles[k];
    if (totals.uncertain_tiles.size() > 5) list += "; ...";
    result.notes.push_back(std::to_string(totals.uncertain) + " pixels in " +
                           std::to_string(totals.uncertain_tiles.size()) + " tiles are kept as the tiles computed " +
                           "them, not proven equal to a whole run (--accept-uncertain): " + list);
  }
  Finished f;
  f.internal = store.rows();
  f.equid = p.equid;
  f.threads = p.threads;
  f.summary = totals.dem;
  f.inside = inside ? &*inside : nullptr;
  f.scratch = scratch;
  f.from = 0.85;
  // The preview over the whole raster's extremes, as quantise forms it (or
  // over the mask's inside, as quantise_inside).
  const Stretch line = inside ? inside_line(totals.lo, totals.hi) : stretch_line(totals.lo, totals.hi);
  gdal::ResultRows again = store.rows();
  f.preview = [&](int i, int n, std::uint8_t* out) {
    const std::int32_t* w = again.at(i, n);
    const std::size_t cols = static_cast<std::size_t>(src.cols());
    for (std::size_t k = 0; k < static_cast<std::size_t>(n) * cols; ++k) {
      const std::int32_t v = altitude_value(w[k], p.ival, p.equid);
      out[k] = inside ? inside_byte(v, (*inside)[i][k], line) : stretch_byte(v, line);
    }
  };
  const Written w = write_outputs(o, dest, src, f, hooks, result.notes, staging);
  result.stats.minimum = w.minimum;
  result.stats.maximum = w.maximum;
  result.stats.whole = w.whole;
  hooks.report(1.0);
  return result;
}

}  // namespace tesk
