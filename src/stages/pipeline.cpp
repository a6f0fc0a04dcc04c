#include "stages/pipeline.h"

#include <optional>

#include "core/memory.h"

#include "stages/conversion_fast.h"
#include "stages/dilation_literal.h"
#include "stages/dilation/dilation_fast.h"
#include "stages/gap_filling.h"
#include "stages/gap_filling_fast.h"
#include "core/thread_pool.h"
#include "stages/quantisation.h"
#include "stages/smoothing.h"
#include "stages/smoothing_fast.h"

namespace tesk {
namespace {

// The record of the passes, when the caller asked for one.
IntGrid* record(RunGrids& g) { return g.written_at.same_shape(g.itab) ? &g.written_at : nullptr; }

// The literal stages: one sweep over the grid after another, one thread,
// the dilation's own scratch grid itab2.
struct LiteralStages {
  RunGrids& g;
  CancelCheck cancel;
  std::optional<ConversionFault> to_internal(int ival, int equid) {
    return convert_to_internal(g.itab, ival, equid, cancel);
  }
  void dilate(const PassCallback& on_pass, RunStats& stats) {
    const DilationStats d = dilate_literal(g.itab, g.itab1, g.itab2, on_pass, cancel, record(g));
    stats.passes = d.passes;
    stats.growth_sweeps = d.growth_sweeps;
    // Every growth sweep, plus the midpoint and commit sweeps of each pass.
    stats.dilation_visits = static_cast<std::int64_t>(g.itab.size()) * (d.growth_sweeps + 2 * d.passes);
  }
  void fill_gaps(RunStats& stats) {
    stats.gap_sweeps = fill_gaps_literal(g.itab, cancel);
    stats.gap_visits = static_cast<std::int64_t>(g.itab.size()) * stats.gap_sweeps;
  }
  void copy() { copy_grid(g.itab, g.itab1, cancel); }
  void smooth(int maille, const RowCallback& on_row) { smooth_literal(g.itab, g.itab1, maille, on_row, cancel); }
  std::optional<ConversionFault> overlay(int ival, int equid) {
    return overlay_contours(g.itab, g.itab1, ival, equid, cancel);
  }
  void overlay_internal() { tesk::overlay_internal(g.itab, g.itab1, cancel); }
  void to_altitude(int ival, int equid) { convert_to_altitude(g.itab1, ival, equid, cancel); }
  void min_max(int* lo, int* hi, const RowCallback& on_row) { Min_max(lo, hi, g.itab1, on_row, cancel); }
  void quantise(int lo, int hi) { tesk::quantise(g.itab1, g.tab, lo, hi, cancel); }
};

// The fast stages: the same values, reports and counts.  The dilation and
// the gap filling use tab as their scratch byte grid and the dilation itab1
// as its grown surface, both overwritten later.
struct FastStages {
  RunGrids& g;
  ThreadPool pool;
  CancelCheck cancel;
  std::optional<ConversionFault> to_internal(int ival, int equid) {
    return convert_to_internal_fast(g.itab, ival, equid, pool, cancel);
  }
  void dilate(const PassCallback& on_pass, RunStats& stats) {
    const FastDilationStats d = dilate_fast(g.itab, g.itab1, g.tab, on_pass, {}, &pool, cancel, record(g));
    stats.passes = d.passes;
    stats.growth_sweeps = d.growth_sweeps;
    stats.dilation_visits = d.pixels_visited;
  }
  void fill_gaps(RunStats& stats) {
    const FastGapStats gs = fill_gaps_fast(g.itab, g.tab, &pool, cancel);
    stats.gap_sweeps = gs.sweeps;
    stats.gap_visits = gs.pixels_visited;
  }
  void copy() { copy_grid_fast(g.itab, g.itab1, pool, cancel); }
  void smooth(int maille, const RowCallback& on_row) { smooth_fast(g.itab, g.itab1, maille, on_row, pool, cancel); }
  std::optional<ConversionFault> overlay(int ival, int equid) {
    return overlay_contours_fast(g.itab, g.itab1, ival, equid, pool, cancel);
  }
  void overlay_internal() { tesk::overlay_internal(g.itab, g.itab1, cancel); }
  void to_altitude(int ival, int equid) { convert_to_altitude_fast(g.itab1, ival, equid, pool, cancel); }
  void min_max(int* lo, int* hi, const RowCallback& on_row) { min_max_fast(lo, hi, g.itab1, on_row, pool, cancel); }
  void quantise(int lo, int hi) { quantise_fast(g.itab1, g.tab, lo, hi, pool, cancel); }
};

// The run order, whichever stages compute it.
template <class Stages>
RunStats run_stages(Stages& s, RunGrids& g, const RunParams& p, const std::function<void(IntGrid&)>& reread,
                    RunObserver& obs) {
  RunStats stats;

  // Into internal units (unless the front end has done it).
  if (!p.internal_input) {
    if (auto fault = s.to_internal(p.ival, p.equid)) throw ConversionError(*fault);
  }

  // Dilation passes until one writes nothing, residual gap filling, copy.
  s.dilate([&](const PassReport& r) { obs.pass_starting(r); }, stats);
  s.fill_gaps(stats);
  s.copy();

  // Smoothing.
  obs.smoothing_stage();
  if (p.maille > 1) {
    if (!window_fits(g.itab.rows(), g.itab.cols(), p.maille)) {
      obs.smoothing_skipped(p.maille);
    } else {
      obs.smoothing_starting(p.maille);
      s.smooth(p.maille, [&](int i) { obs.smoothing_row(i); });
    }
  }

  // Contour overlay from a second reading of the input.
  if (p.overlay) {
    reread(g.itab);
    if (p.internal_input) {
      s.overlay_internal();
    } else if (auto fault = s.overlay(p.ival, p.equid)) {
      throw ConversionError(*fault);
    }
  }
  obs.before_conversion_back(g.itab1);

  // Back into altitude units, then the preview.
  s.to_altitude(p.ival, p.equid);
  obs.saving_starting();
  stats.min_al = g.itab1[0][0];
  stats.max_al = g.itab1[0][0];
  s.min_max(&stats.min_al, &stats.max_al, [&](int i) { obs.minmax_row(i); });
  obs.minmax_found(stats.min_al, stats.max_al);
  s.quantise(stats.min_al, stats.max_al);
  return stats;
}

}  // namespace

// tab (1 byte) and two int grids; the fast path counts one byte a pixel
// more for the fast dilation's scratch (its search stacks, at most a
// sixteenth of the pixels at 4 bytes an entry, and its lists of rows and
// tiles), the literal path a third int grid.
std::uint64_t RunGrids::bytes_per_pixel(bool literal) { return literal ? 1 + 3 * 4 : 1 + 2 * 4 + 1; }

void RunGrids::allocate(int nb_lig, int nb_col, bool literal, bool map_early) {
  mapped();
  tab = ByteGrid(nb_lig, nb_col);
  itab = IntGrid(nb_lig, nb_col);
  itab1 = IntGrid(nb_lig, nb_col);
  itab2 = literal ? IntGrid(nb_lig, nb_col) : IntGrid();
  // Below a few megabytes a thread costs more than it saves.
  constexpr std::size_t kWorthIt = std::size_t{4} << 20;
  if (!map_early || itab1.size() * sizeof(std::int32_t) < kWorthIt) return;
  mapping_ = std::jthread([this] {
    populate_pages(itab1.data(), itab1.size() * sizeof(std::int32_t));
    populate_pages(tab.data(), tab.size());
    populate_pages(itab2.data(), itab2.size() * sizeof(std::int32_t));
  });
}

void RunGrids::mapped() {
  if (mapping_.joinable()) mapping_.join();
}

RunStats compute_dem(RunGrids& g, const RunParams& p, const std::function<void(IntGrid&)>& reread,
                     RunObserver& observer) {
  g.mapped();
  if (g.itab.empty()) throw std::invalid_argument("compute_dem needs at least one pixel");
  const auto stop = [&observer] { return observer.cancel_requested(); };
  const CancelCheck cancel(stop);
  if (p.literal) {
    if (!g.itab2.same_shape(g.itab)) g.itab2 = IntGrid(g.itab.rows(), g.itab.cols());
    LiteralStages stages{g, cancel};
    return run_stages(stages, g, p, reread, observer);
  }
  if (g.tab.rows() != g.itab.rows() || g.tab.cols() != g.itab.cols()) g.tab = ByteGrid(g.itab.rows(), g.itab.cols());
  if (!g.itab1.same_shape(g.itab)) g.itab1 = IntGrid(g.itab.rows(), g.itab.cols());
  FastStages stages{g, ThreadPool(p.threads), cancel};
  return run_stages(stages, g, p, reread, observer);
}

}  // namespace tesk
