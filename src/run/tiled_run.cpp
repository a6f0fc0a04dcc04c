#include "run/tiled_run.h"

#include <sys/statvfs.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <limits>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "core/cancelled.h"
#include "core/memory.h"
#include "core/mention.h"
#include "core/run_error.h"
#include "io/gdal_mask.h"
#include "io/gdal_output.h"
#include "io/tile_store.h"
#include "run/method.h"
#include "run/reading.h"
#include "run/source_reader.h"
#include "run/source_survey.h"
#include "run/fitted_run.h"
#include "run/tile_budget.h"
#include "run/tile_flight.h"
#include "stages/masking.h"
#include "stages/quantisation.h"
#include "tiles/plan.h"

namespace tesk {
namespace {

// Bytes a pixel of a tile's extent needs: the run's grids, the record of
// the passes, the certificate's grids at their peak and the tile's results.
constexpr std::uint64_t kTileBytesPerPixel = 64;
std::uint64_t tile_bytes(std::int64_t tile, std::int64_t halo) { return extent_bytes(tile, halo, kTileBytesPerPixel); }
// Bytes of a tile's result while it waits to be taken: its internal and
// altitude values and its proven flags (9 bytes a pixel), a grid of 2 MiB
// or more with 2 MiB besides (core/grid.cpp aligns it to huge pages).
std::uint64_t result_bytes(std::int64_t tile) {
  const auto grid = [](std::uint64_t bytes) { return bytes < (2u << 20) ? bytes : bytes + (2u << 20); };
  return 2 * grid(extent_bytes(tile, 0, 4)) + grid(extent_bytes(tile, 0, 1));
}
int largest_halo(int side, std::uint64_t budget) { return tesk::largest_halo(side, budget, kTileBytesPerPixel); }

// A run by tiles: its plan, then every tile proven and stored, then the
// outputs from the stored results.
class TiledRun {
 public:
  TiledRun(const RunOptions& o, gdal::Source& src, int threads, const RunHooks& hooks)
      : o_(o), src_(src), hooks_(hooks), budget_(tile_budget(o, src, threads)),
        params_(stage_params(o.surface, threads, src.raw() ? std::optional<std::int32_t>(static_cast<std::int32_t>(
                                                                                      src.nodata()))
                                                           : std::nullopt)),
        read_(source_windows(src, o.surface.interval, o.src)), threads_(threads) {}

  // The refusals before any work, the survey, the tile size and the first
  // halo.
  void plan(const CancelCheck& cancel) {
    if (tile_bytes(kTileStep, 0) > budget_)
      throw MemoryRefusal("not enough memory even for tiles: a tile of " + std::to_string(kTileStep) + " x " +
                          std::to_string(kTileStep) + " pixels needs " + mib(tile_bytes(kTileStep, 0)) + ", " +
                          mib(budget_) + " available (" + o_.src + ")");
    check_disk(o_, src_, 8);  // the tiles' results and the holes' values, 4 bytes each
    survey_ = survey_source(src_, params_.equid, budget_, threads_, cancel);
    const RasterSurvey& survey = survey_.raster;
    settle_survey(survey, src_.rows(), src_.cols(), o_.surface, o_.src, hooks_);
    // A tile larger than the raster is the raster: no more is asked of the memory.
    tile_ = o_.tiles.tile_size ? std::min(*o_.tiles.tile_size, std::max(src_.rows(), src_.cols())) : kTileStep;
    if (tile_bytes(tile_, 0) > budget_)
      throw MemoryRefusal(mention(Opt::tile_size, std::to_string(tile_)) + ": a tile of that size needs " +
                          mib(tile_bytes(tile_, 0)) + ", " + mib(budget_) + " available (" + o_.src + ")");
    halo_ = first_halo(survey, o_.tiles.halo, largest_halo(tile_, budget_));
    if (!o_.tiles.tile_size)
      tile_ = tile_by_itself(src_.rows(), src_.cols(), halo_, threads_, budget_, kTileBytesPerPixel);
    // As many tiles at once as the threads, each on its share of them, when
    // the memory holds them with the first halo.
    const std::uint64_t fits = budget_ / tile_bytes(tile_, halo_);
    const TileGrid grid{src_.rows(), src_.cols(), tile_};
    flight_ = static_cast<int>(std::min<std::uint64_t>({static_cast<std::uint64_t>(std::max(1, threads_)), fits,
                                                         static_cast<std::uint64_t>(grid.count())}));
    flight_ = std::max(1, flight_);
    if (!o_.tiles.tile_size)
      hooks_.tell(o_.src + " does not fit the memory whole (" + std::to_string(src_.rows()) + " x " +
                  std::to_string(src_.cols()) + " pixels): it runs by tiles of " + std::to_string(tile_) +
                  " pixels, with the same result");
  }

  // The second pass over the source: the values of the holes of one value,
  // into a temporary raster from which every tile takes them.
  void find_holes(const std::string& scratch, const CancelCheck& cancel) {
    holes_.emplace(scratch + "/holes.tif", src_.rows(), src_.cols(), false, params_.threads);
    if (!write_hole_values(src_, params_.equid, survey_, *holes_, threads_, cancel)) return holes_.reset();
    holes_->finish();
    survey_ = {};
  }

  // Every tile, proven (or, with accept_uncertain, kept unproven), into the
  // store; what the outputs need from all of them into the totals.
  // Several tiles at once (run/tile_flight.h): each computed on its share
  // of the threads within the memory they share, and taken in the tiles'
  // order.
  void run(gdal::TileStore& store, const Destination& dest, const ByteGrid* inside) {
    const TileGrid grid{src_.rows(), src_.cols(), tile_};
    // While a tile tries larger halos, the other threads go on with the
    // tiles after it, whose results then wait to be taken: up to three
    // flights ahead, their bytes kept from the attempts' budget, when the
    // largest attempt any tile may make still fits beside them.  Otherwise
    // one flight ahead, as many as compute at once.
    const std::uint64_t waiting = 2 * static_cast<std::uint64_t>(flight_) * result_bytes(tile_);
    const std::uint64_t largest = flight_ > 1 ? largest_attempt(grid) : budget_;
    const bool ahead = flight_ > 1 && largest <= budget_ && budget_ - largest >= waiting;
    MemoryGate gate(ahead ? budget_ - waiting : budget_);
    RunParams p = params_;
    p.threads = std::max(1, threads_ / flight_);
    const auto compute = [&](int k) { return prove(grid.core(k), p, flight_ > 1 ? &gate : nullptr); };
    const auto take = [&](int k, Proven& t) {
      const TileResult& r = t.result;
      if (t.unproven) unproven_.push_back({r.core, r.uncertain});
      largest_needed_ = std::max(largest_needed_, t.halo);
      first_sufficed_ += t.halo <= halo_;
      add(r, dest, inside);
      store.put(r.core.row0, r.core.col0, r.internal);
      hooks_.report(0.05 + 0.80 * (k + 1) / grid.count());
    };
    in_flight<Proven>(grid.count(), flight_, stop_, compute, take, [&gate] { gate.stop(); },
                      ahead ? 3 * flight_ : flight_);
    hooks_.tell(std::to_string(grid.count()) + " tiles of " + std::to_string(tile_) + " pixels; the first halo, " +
                std::to_string(halo_) + " pixels, sufficed for " + std::to_string(first_sufficed_) +
                ", the largest needed was " + std::to_string(largest_needed_));
  }

  // The remark on the pixels kept unproven, if any.
  std::optional<std::string> note() const {
    if (unproven_.empty()) return std::nullopt;
    return uncertain_note(unproven_);
  }

  const gdal::ValueSummary& summary() const { return summary_; }
  int lowest() const { return lo_; }
  int highest() const { return hi_; }
  const RunStats& stats() const { return stats_; }
  int ival() const { return params_.ival; }

 private:
  // A tile's result, the halo that proved it and whether it is kept
  // unproven.
  struct Proven {
    TileResult result;
    int halo = 0;
    bool unproven = false;
  };

  // The tile of core, its halo enlarged until it is proven (or no larger
  // halo may help or be held); with other tiles in flight, each attempt
  // holds its grids' bytes from the gate.  The halos tried depend on the
  // tile alone, never on the tiles beside it.
  //
  // Before each larger halo is tried on the whole core, the box of the
  // pixels not yet proven tries it alone where that holds (Retries,
  // tiles/plan.h), with the result kept meanwhile, no more memory; the
  // pixels it proves are taken in.  When the boxes reach the largest halo
  // with pixels left, the whole core resumes where it stopped: a tile is
  // refused only where it would be without the boxes.
  Proven prove(const Window& core, const RunParams& p, MemoryGate* gate) {
    const RunObserver& watch = watch_;
    TileRequest request{src_.rows(), src_.cols(), core, halo_};
    const int side = std::max(core.rows, core.cols);
    const int largest = largest_halo(side, budget_);
    // One tile reads the source (and the holes' values) at a time.
    const WindowReader read = [this](const Window& w, IntGrid& out) {
      const std::lock_guard lock(reading_);
      read_(w, out);
    };
    WindowReader holes;
    if (holes_)
      holes = [this](const Window& w, IntGrid& out) {
        const std::lock_guard lock(reading_);
        holes_->get(w.row0, w.col0, out);
      };
    // An attempt, holding its grids' bytes and `kept` more (a result kept
    // meanwhile) from the gate.
    const auto attempt = [&](const TileRequest& q, std::uint64_t kept) {
      const std::uint64_t bytes = tile_bytes(std::max(q.core.rows, q.core.cols), q.halo) + kept;
      if (gate && !gate->acquire(bytes)) throw Cancelled();
      try {
        TileResult r = compute_tile(o_.surface.method, q, p, read, &watch, holes);
        if (gate) gate->release(bytes);
        return r;
      } catch (...) {
        if (gate) gate->release(bytes);
        throw;
      }
    };
    TileResult r = attempt(request, 0);
    Retries retries(request.halo);
    while (!r.certified) {
      const Window box = unproven_box(r);
      const int box_side = std::max(box.rows, box.cols);
      // The box beside the result kept, within the whole core's attempt.
      const auto held = [&](int h) { return tile_bytes(box_side, h) + result_bytes(side) <= tile_bytes(side, h); };
      const auto next = retries.next(side, box_side, src_.rows(), src_.cols(), largest, held);
      if (!next) break;
      request.halo = retries.halo;
      if (*next == Retries::Try::box) {
        take_proven(r, attempt({src_.rows(), src_.cols(), box, request.halo}, result_bytes(side)));
        continue;
      }
      r = TileResult();  // its grids freed before the next attempt's
      r = attempt(request, 0);
    }
    if (!r.certified && !o_.tiles.accept_uncertain)
      throw RunError(unproven_message(core, r.uncertain, request.halo, "the most the memory allows",
                                      "give the run more memory"));
    const bool unproven = !r.certified;
    return {std::move(r), request.halo, unproven};
  }

  // The bytes of the largest attempt any tile of the grid may make: its
  // halos doubled from the first until next_halo stops (prove).
  std::uint64_t largest_attempt(const TileGrid& grid) const {
    std::uint64_t most = 0;
    for (int k = 0; k < grid.count(); ++k) {
      const Window core = grid.core(k);
      const int side = std::max(core.rows, core.cols), largest = largest_halo(side, budget_);
      int halo = halo_;
      while (const auto next = next_halo(halo, src_.rows(), src_.cols(), largest)) halo = *next;
      most = std::max(most, tile_bytes(side, halo));
    }
    return most;
  }

  // A proven tile's share of what the whole raster decides after the
  // tiles: the DEM's range and no-data hits in its type, the extremes of the
  // preview (inside the mask), the stages' counts.
  void add(const TileResult& r, const Destination& dest, const ByteGrid* inside) {
    std::optional<ByteGrid> m;
    if (inside) {
      m = ByteGrid(r.core.rows, r.core.cols);
      for (int i = 0; i < r.core.rows; ++i)
        std::copy((*inside)[r.core.row0 + i] + r.core.col0, (*inside)[r.core.row0 + i] + r.core.col0 + r.core.cols,
                  (*m)[i]);
    }
    const gdal::Resolution res{params_.equid, dest.type.whole};
    const gdal::ValueSummary s =
        gdal::summarise(r.internal, res, src_.nodata(), dest.type.type == "Float32", m ? &*m : nullptr);
    summary_.merge(s);
    for (int i = 0; i < r.core.rows; ++i)
      for (int j = 0; j < r.core.cols; ++j)
        if (!m || (*m)[i][j]) lo_ = std::min(lo_, r.altitude[i][j]), hi_ = std::max(hi_, r.altitude[i][j]);
    stats_.passes = std::max(stats_.passes, r.stats.passes);
    stats_.growth_sweeps += r.stats.growth_sweeps;
    stats_.gap_sweeps = std::max(stats_.gap_sweeps, r.stats.gap_sweeps);
  }

  // Asks the hooks whether to stop, for the stages of a tile; a tile in
  // flight stops too when another's error ends the run.
  class Watch : public RunObserver {
   public:
    Watch(const RunHooks& h, const std::atomic<bool>& stop) : h_(h), stop_(stop) {}
    bool cancel_requested() const override { return stop_.load(std::memory_order_relaxed) || h_.cancelled(); }

   private:
    const RunHooks& h_;
    const std::atomic<bool>& stop_;
  };

  const RunOptions& o_;
  gdal::Source& src_;
  const RunHooks& hooks_;
  const std::uint64_t budget_;
  const RunParams params_;
  const WindowReader read_;
  const int threads_;
  std::atomic<bool> stop_{false};
  const Watch watch_{hooks_, stop_};
  std::mutex reading_;
  int flight_ = 1;  // tiles computed at once
  SourceSurvey survey_;
  std::optional<gdal::TileStore> holes_;  // the values of the holes of one value, when there are any
  int tile_ = kTileStep, halo_ = 0;
  gdal::ValueSummary summary_;
  int lo_ = std::numeric_limits<int>::max(), hi_ = std::numeric_limits<int>::min();  // the preview's extremes
  std::vector<Unproven> unproven_;
  int largest_needed_ = 0, first_sufficed_ = 0;
  RunStats stats_;
};

}  // namespace

bool runs_by_tiles(const RunOptions& o, const gdal::Source& src, int threads) {
  if (o.tiles.tile_size) return true;
  const std::uint64_t mask = o.mask ? 1 : 0;
  return !check_memory(src.rows(), src.cols(), bytes_per_pixel(o.surface.method) + mask,
                       gdal::cache_bytes() + run_overhead_bytes(threads))
              .fits;
}

FileRunResult run_tiled(const RunOptions& o, const Destination& dest, gdal::Source& src, int threads,
                        const RunHooks& hooks, Staging& staging) {
  if (o.tiles.tile_size)
    check_tiles(o.surface.method, mention(Opt::tile_size) + " is given", "leave it out");
  else
    check_tiles(o.surface.method, "the raster does not fit the memory (" + std::to_string(src.rows()) + " x " +
                std::to_string(src.cols()) + " pixels)", "give the run more memory");
  if (dest.classic)
    throw RunError("a classic output set is written whole, which a run by tiles cannot do: name a GeoTIFF "
                   "destination (.tif)");
  if (!dest.format.create)
    throw RunError(mention(Opt::format, dest.format.driver) + ": GDAL writes this format only whole, which a run by " +
                   "tiles cannot do: write a GeoTIFF (" + mention(Opt::format, "GTiff") + ")");
  const gdal::CacheCap cache(tiled_cache_bytes(src.cols()));
  // The mask is read, or refused, before any work (it is held whole).
  std::optional<ByteGrid> inside;
  if (o.mask) inside = gdal::read_mask(*o.mask, src.rows(), src.cols(), src.georef());
  if (o.surface.method == Method::spline)
    return run_fitted_tiles(o, dest, src, threads, hooks, staging, inside ? &*inside : nullptr);
  const auto stop = [&hooks] { return hooks.cancelled(); };
  TiledRun run(o, src, threads, hooks);
  run.plan(CancelCheck(stop));
  hooks.report(0.05);

  const std::string scratch = staging.scratch(o.dst);
  run.find_holes(scratch, CancelCheck(stop));
  gdal::TileStore store(scratch + "/result.tif", src.rows(), src.cols(), false, 0);
  run.run(store, dest, inside ? &*inside : nullptr);
  store.finish();

  FileRunResult result;
  result.stats.run = run.stats();
  if (const auto note = run.note()) result.notes.push_back(*note);
  Finished f = tiled_finished(store, o.surface.interval, threads, run.summary(), inside ? &*inside : nullptr, scratch);
  // The preview over the whole raster's extremes, as quantise forms it (or
  // over the mask's inside, as quantise_inside).
  const Stretch line = inside ? inside_line(run.lowest(), run.highest()) : stretch_line(run.lowest(), run.highest());
  gdal::ResultRows rows = store.rows();
  f.preview = [&, rows](int i, int n, std::uint8_t* out) {
    const double* w = rows.at(i, n);
    // n whole rows from row i: a grid's rows follow each other, in the
    // mask as in the block of results.
    const std::uint8_t* in = inside ? (*inside)[i] : nullptr;
    const std::size_t count = static_cast<std::size_t>(n) * static_cast<std::size_t>(src.cols());
    for (std::size_t k = 0; k < count; ++k) {
      const std::int32_t v = altitude_value(static_cast<std::int32_t>(w[k]), run.ival(), o.surface.interval);
      out[k] = in ? inside_byte(v, in[k], line) : stretch_byte(v, line);
    }
  };
  write_outputs(o, dest, src, f, hooks, staging, result);
  return result;
}

}  // namespace tesk
