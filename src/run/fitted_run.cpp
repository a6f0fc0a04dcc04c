#include "run/fitted_run.h"

#include <algorithm>
#include <climits>
#include <optional>
#include <string>
#include <vector>

#include "core/mention.h"
#include "core/run_error.h"
#include "io/gdal_mask.h"
#include "io/tile_store.h"
#include "run/method.h"
#include "run/preview.h"
#include "run/reading.h"
#include "run/source_reader.h"
#include "run/source_survey.h"
#include "run/tile_budget.h"
#include "run/whole_run.h"
#include "tiles/fitted_tile.h"
#include "tiles/plan.h"

namespace tesk {
namespace {

// Bytes a pixel of a fitted extent needs: the fit's grids, the extent's
// contours and hole ranges, and the core kept from the wider fit (counted
// over the extent, which is larger).
std::uint64_t fitted_bytes_per_pixel() { return spline_bytes_per_pixel() + 3 * sizeof(std::int32_t) + 8; }
std::uint64_t fitted_bytes(std::int64_t tile, std::int64_t halo) {
  return extent_bytes(tile, halo, fitted_bytes_per_pixel());
}
int largest_halo(int side, std::uint64_t budget) { return tesk::largest_halo(side, budget, fitted_bytes_per_pixel()); }

class FittedRun {
 public:
  FittedRun(const RunOptions& o, gdal::Source& src, int threads, const RunHooks& hooks)
      : o_(o), src_(src), hooks_(hooks), threads_(threads), budget_(tile_budget(o, src, threads)),
        contours_(contour_windows(src, o.surface.interval, o.src)) {}

  // The refusals before any work, the survey, the tile size, the first
  // halo and the smoothing.
  void plan(const CancelCheck& cancel) {
    if (fitted_bytes(kTileStep, 0) > budget_)
      throw MemoryRefusal("not enough memory even for tiles: a tile of " + std::to_string(kTileStep) + " x " +
                          std::to_string(kTileStep) + " pixels needs " + mib(fitted_bytes(kTileStep, 0)) + ", " +
                          mib(budget_) + " available (" + o_.src + ")");
    check_disk(o_, src_, 16);  // the fitted results and the holes' ranges, 8 bytes each
    survey_ = survey_source(src_, o_.surface.interval, budget_, threads_, cancel);
    settle_survey(survey_.raster, src_.rows(), src_.cols(), o_.surface, o_.src, hooks_);
    // A tile larger than the raster is the raster: no more is asked of the memory.
    tile_ = o_.tiles.tile_size ? std::min(*o_.tiles.tile_size, std::max(src_.rows(), src_.cols())) : kTileStep;
    if (fitted_bytes(tile_, 0) > budget_)
      throw MemoryRefusal(mention(Opt::tile_size, std::to_string(tile_)) + ": a tile of that size needs " +
                          mib(fitted_bytes(tile_, 0)) + ", " + mib(budget_) + " available (" + o_.src + ")");
    // Each tile is fitted with its halo and with twice it: the first halo
    // leaves room for the second.
    halo_ = first_halo(survey_.raster, o_.tiles.halo, std::max(1, largest_halo(tile_, budget_) / 2));
    if (!o_.tiles.tile_size) {  // the largest tile the memory holds with that halo
      while (tile_ < std::max(src_.rows(), src_.cols()) && fitted_bytes(2 * tile_, 2 * halo_) <= budget_) tile_ *= 2;
      hooks_.tell(o_.src + " does not fit the memory whole (" + std::to_string(src_.rows()) + " x " +
                  std::to_string(src_.cols()) + " pixels): it is fitted by tiles of " + std::to_string(tile_) +
                  " pixels, each within a thousandth of an interval of a fit with twice its halo");
    }
    params_ = fitted_params(
        o_.surface, threads_, src_.rows(), src_.cols(),
        [this](int row, int col, IntGrid& w) { contours_({row, col, w.rows(), w.cols()}, w); }, stats_, cancel);
  }

  // The second pass over the source: the range of every hole's border,
  // into two temporary rasters from which every tile takes its windows.
  void find_holes(const std::string& scratch, const CancelCheck& cancel) {
    lo_.emplace(scratch + "/holes_lo.tif", src_.rows(), src_.cols(), false, threads_);
    hi_.emplace(scratch + "/holes_hi.tif", src_.rows(), src_.cols(), false, threads_);
    write_hole_ranges(src_, o_.surface.interval, survey_, *lo_, *hi_, threads_, cancel);
    lo_->finish();
    hi_->finish();
    survey_ = {};
  }

  // Every tile, checked (or, with accept_uncertain, kept unchecked), into
  // the store; what the outputs need from all of them into the totals.
  void run(gdal::TileStore& store, const Destination& dest, const ByteGrid* inside, const CancelCheck& cancel) {
    const TileGrid grid{src_.rows(), src_.cols(), tile_};
    for (int k = 0; k < grid.count(); ++k) {
      const FittedTile t = fit(grid.core(k), cancel);
      add(t, dest, inside);
      store.put(t.core.row0, t.core.col0, t.values);
      hooks_.report(0.10 + 0.75 * (k + 1) / grid.count());
    }
    hooks_.tell(std::to_string(grid.count()) + " tiles of " + std::to_string(tile_) + " pixels; the first halo, " +
                std::to_string(halo_) + " pixels, sufficed for " + std::to_string(first_sufficed_) +
                ", the largest needed was " + std::to_string(largest_needed_));
    hooks_.tell(fit_note(stats_));
  }

  std::optional<std::string> note() const {
    if (unproven_.empty()) return std::nullopt;
    return uncertain_note(unproven_, true);
  }
  const gdal::ValueSummary& summary() const { return summary_; }
  int lowest() const { return low_; }
  int highest() const { return high_; }
  const SplineStats& stats() const { return stats_; }

 private:
  // The tile of core, its halo doubled until its two fits agree (or no
  // larger halo may help or be held).
  FittedTile fit(const Window& core, const CancelCheck& cancel) {
    const FittedTileInput input{
        contours_, [this](const Window& w, IntGrid& out) { lo_->get(w.row0, w.col0, out); },
        [this](const Window& w, IntGrid& out) { hi_->get(w.row0, w.col0, out); }};
    const int largest = largest_halo(std::max(core.rows, core.cols), budget_);
    TileRequest request{src_.rows(), src_.cols(), core, halo_};
    for (;;) {
      const int wider = next_halo(request.halo, src_.rows(), src_.cols(), largest).value_or(request.halo);
      FittedTile t = fit_tile(request, wider, params_, kFittedTolerance, lays_back(o_.surface), input, cancel);
      if (!t.certified && wider > request.halo) {
        request.halo = wider;
        continue;
      }
      if (!t.certified) {
        if (!o_.tiles.accept_uncertain) throw RunError(unproven_message(core, t.uncertain, wider, "the most the memory allows",
                                          "give the run more memory", true));
        unproven_.push_back({core, t.uncertain});
      }
      largest_needed_ = std::max(largest_needed_, request.halo);
      first_sufficed_ += request.halo <= halo_;
      stats_.iterations = std::max(stats_.iterations, t.stats.iterations);
      stats_.last_change = std::max(stats_.last_change, t.stats.last_change);
      stats_.residual_rms = std::max(stats_.residual_rms, t.stats.residual_rms);
      return t;
    }
  }

  // A tile's share of what the whole raster decides after the tiles: the
  // DEM's range and no-data hits in its type, the preview's extremes (both
  // inside the mask).
  void add(const FittedTile& t, const Destination& dest, const ByteGrid* inside) {
    const Window& c = t.core;
    std::optional<ByteGrid> m;
    if (inside) {
      m = ByteGrid(c.rows, c.cols);
      for (int i = 0; i < c.rows; ++i)
        std::copy((*inside)[c.row0 + i] + c.col0, (*inside)[c.row0 + i] + c.col0 + c.cols, (*m)[i]);
    }
    const gdal::Resolution res{o_.surface.interval, dest.type.whole, true};
    summary_.merge(gdal::summarise(t.values, res, src_.nodata(), dest.type.type == "Float32", m ? &*m : nullptr));
    for (int i = 0; i < c.rows; ++i)
      for (int j = 0; j < c.cols; ++j)
        if (!m || (*m)[i][j]) {
          const int v = whole_units(t.values[i][j], o_.surface.interval);
          low_ = std::min(low_, v), high_ = std::max(high_, v);
        }
  }

  const RunOptions& o_;
  gdal::Source& src_;
  const RunHooks& hooks_;
  const int threads_;
  const std::uint64_t budget_;
  const WindowReader contours_;
  SourceSurvey survey_;
  SplineParams params_;
  SplineStats stats_;
  std::optional<gdal::TileStore> lo_, hi_;
  int tile_ = kTileStep, halo_ = 0;
  gdal::ValueSummary summary_;
  int low_ = INT_MAX, high_ = INT_MIN;
  std::vector<Unproven> unproven_;
  int largest_needed_ = 0, first_sufficed_ = 0;
};

}  // namespace

FileRunResult run_fitted_tiles(const RunOptions& o, const Destination& dest, gdal::Source& src, int threads,
                               const RunHooks& hooks, Staging& staging, const ByteGrid* inside) {
  const auto stop = [&hooks] { return hooks.cancelled(); };
  const CancelCheck cancel(stop);
  FittedRun run(o, src, threads, hooks);
  run.plan(cancel);
  hooks.report(0.05);
  const std::string scratch = staging.scratch(o.dst);
  run.find_holes(scratch, cancel);
  hooks.report(0.10);
  gdal::TileStore store(scratch + "/result.tif", src.rows(), src.cols(), true, 0);
  run.run(store, dest, inside, cancel);
  store.finish();

  FileRunResult result;
  result.stats.spline = run.stats();
  if (const auto note = run.note()) result.notes.push_back(*note);
  Finished f = tiled_finished(store, o.surface.interval, threads, run.summary(), inside, scratch);
  f.nearest = true;
  f.preview = surface_preview(store.rows(), o.surface.interval, f.inside, run.lowest(), run.highest());
  write_outputs(o, dest, src, f, hooks, staging, result);
  return result;
}

}  // namespace tesk
