#include "stages/pipeline.h"

#include "stages/conversion_fast.h"
#include "stages/dilation.h"
#include "stages/dilation_fast.h"
#include "stages/gap_filling.h"
#include "stages/gap_filling_fast.h"
#include "stages/parallel.h"
#include "stages/quantisation.h"
#include "stages/smoothing.h"
#include "stages/smoothing_fast.h"

namespace tesk {
namespace {

// The literal stages, one sweep over the grid after another, one thread.
RunStats compute_literal(RunGrids& g, const RunParams& p, const std::function<void(IntGrid&)>& reread,
                         RunObserver& obs) {
  RunStats stats;
  const auto pixels = static_cast<std::int64_t>(g.itab.size());

  // Into internal units (unless the front end has done it).
  if (!p.internal_input) {
    if (auto fault = convert_to_internal(g.itab, p.ival, p.equid)) throw ConversionError(*fault);
  }

  // Dilation passes until one writes nothing.
  const DilationStats d =
      dilate_literal(g.itab, g.itab1, g.itab2, [&](const PassReport& r) { obs.pass_starting(r); });
  stats.passes = d.passes;
  stats.growth_sweeps = d.growth_sweeps;
  // Every growth sweep, plus the midpoint and commit sweeps of each pass.
  stats.dilation_visits = pixels * (d.growth_sweeps + 2 * d.passes);

  // Residual gap filling, then the result copy.
  stats.gap_sweeps = fill_gaps_literal(g.itab);
  stats.gap_visits = pixels * stats.gap_sweeps;
  copy_grid(g.itab, g.itab1);

  // Smoothing.
  obs.smoothing_stage();
  if (p.maille > 1) {
    if (!window_fits(g.itab.rows(), g.itab.cols(), p.maille)) {
      obs.smoothing_skipped(p.maille);
    } else {
      obs.smoothing_starting(p.maille);
      smooth_literal(g.itab, g.itab1, p.maille, [&](int i) { obs.smoothing_row(i); });
    }
  }

  // Contour overlay from a second reading of the input.
  if (p.overlay) {
    reread(g.itab);
    if (p.internal_input) {
      overlay_internal(g.itab, g.itab1);
    } else if (auto fault = overlay_contours(g.itab, g.itab1, p.ival, p.equid)) {
      throw ConversionError(*fault);
    }
  }
  obs.before_conversion_back(g.itab1);

  // Back into altitude units, then the preview.
  convert_to_altitude(g.itab1, p.ival, p.equid);
  obs.saving_starting();
  stats.min_al = g.itab1[0][0];
  stats.max_al = g.itab1[0][0];
  Min_max(&stats.min_al, &stats.max_al, g.itab1, [&](int i) { obs.minmax_row(i); });
  obs.minmax_found(stats.min_al, stats.max_al);
  quantise(g.itab1, g.tab, stats.min_al, stats.max_al);
  return stats;
}

// The same computation with the fast stages: the same values, reports and
// counts.  The dilation and the gap filling use tab as their scratch byte
// grid and the dilation itab1 as its grown surface, both overwritten later.
RunStats compute_fast(RunGrids& g, const RunParams& p, const std::function<void(IntGrid&)>& reread,
                      RunObserver& obs) {
  RunStats stats;
  ThreadPool pool(p.threads);

  if (!p.internal_input) {
    if (auto fault = convert_to_internal_fast(g.itab, p.ival, p.equid, pool)) throw ConversionError(*fault);
  }

  const FastDilationStats d =
      dilate_fast(g.itab, g.itab1, g.tab, [&](const PassReport& r) { obs.pass_starting(r); });
  stats.passes = d.passes;
  stats.growth_sweeps = d.growth_sweeps;
  stats.dilation_visits = d.pixels_visited;

  const FastGapStats gs = fill_gaps_fast(g.itab, g.tab);
  stats.gap_sweeps = gs.sweeps;
  stats.gap_visits = gs.pixels_visited;
  copy_grid_fast(g.itab, g.itab1, pool);

  obs.smoothing_stage();
  if (p.maille > 1) {
    if (!window_fits(g.itab.rows(), g.itab.cols(), p.maille)) {
      obs.smoothing_skipped(p.maille);
    } else {
      obs.smoothing_starting(p.maille);
      smooth_fast(g.itab, g.itab1, p.maille, [&](int i) { obs.smoothing_row(i); }, pool);
    }
  }

  if (p.overlay) {
    reread(g.itab);
    if (p.internal_input) {
      overlay_internal(g.itab, g.itab1);
    } else if (auto fault = overlay_contours_fast(g.itab, g.itab1, p.ival, p.equid, pool)) {
      throw ConversionError(*fault);
    }
  }
  obs.before_conversion_back(g.itab1);

  convert_to_altitude_fast(g.itab1, p.ival, p.equid, pool);
  obs.saving_starting();
  stats.min_al = g.itab1[0][0];
  stats.max_al = g.itab1[0][0];
  min_max_fast(&stats.min_al, &stats.max_al, g.itab1, [&](int i) { obs.minmax_row(i); }, pool);
  obs.minmax_found(stats.min_al, stats.max_al);
  quantise_fast(g.itab1, g.tab, stats.min_al, stats.max_al, pool);
  return stats;
}

}  // namespace

// tab (1 byte) and two int grids; the fast path adds at most one byte a
// pixel of frontier lists (two lists of a sixteenth of the pixels, 4 bytes
// an entry), the literal path a third int grid.
std::uint64_t RunGrids::bytes_per_pixel(bool literal) { return literal ? 1 + 3 * 4 : 1 + 2 * 4 + 1; }

void RunGrids::allocate(int nb_lig, int nb_col, bool literal) {
  tab = ByteGrid(nb_lig, nb_col);
  itab = IntGrid(nb_lig, nb_col);
  itab1 = IntGrid(nb_lig, nb_col);
  itab2 = literal ? IntGrid(nb_lig, nb_col) : IntGrid();
}

RunStats compute_dem(RunGrids& g, const RunParams& p, const std::function<void(IntGrid&)>& reread,
                     RunObserver& observer) {
  if (g.itab.empty()) throw std::invalid_argument("compute_dem needs at least one pixel");
  if (p.literal) {
    if (!g.itab2.same_shape(g.itab)) g.itab2 = IntGrid(g.itab.rows(), g.itab.cols());
    return compute_literal(g, p, reread, observer);
  }
  if (g.tab.rows() != g.itab.rows() || g.tab.cols() != g.itab.cols()) g.tab = ByteGrid(g.itab.rows(), g.itab.cols());
  if (!g.itab1.same_shape(g.itab)) g.itab1 = IntGrid(g.itab.rows(), g.itab.cols());
  return compute_fast(g, p, reread, observer);
}

}  // namespace tesk
