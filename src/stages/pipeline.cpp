#include "stages/pipeline.h"

#include "stages/dilation.h"
#include "stages/gap_filling.h"
#include "stages/quantisation.h"
#include "stages/smoothing.h"

namespace tesk {

std::uint64_t RunGrids::bytes_per_pixel(bool /*literal*/) { return 1 + 3 * 4; }

void RunGrids::allocate(int nb_lig, int nb_col, bool /*literal*/) {
  tab = ByteGrid(nb_lig, nb_col);
  itab = IntGrid(nb_lig, nb_col);
  itab1 = IntGrid(nb_lig, nb_col);
  itab2 = IntGrid(nb_lig, nb_col);
}

RunStats compute_dem(RunGrids& g, const RunParams& p, const std::function<void(IntGrid&)>& reread,
                     RunObserver& obs) {
  if (g.itab.empty()) throw std::invalid_argument("compute_dem needs at least one pixel");
  RunStats stats;

  // Into internal units.
  if (auto fault = convert_to_internal(g.itab, p.ival, p.equid)) throw ConversionError(*fault);

  // Dilation passes until one writes nothing.
  const DilationStats d =
      dilate_literal(g.itab, g.itab1, g.itab2, [&](const PassReport& r) { obs.pass_starting(r); });
  stats.passes = d.passes;
  stats.growth_sweeps = d.growth_sweeps;

  // Residual gap filling, then the result copy.
  stats.gap_sweeps = fill_gaps_literal(g.itab);
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
    if (auto fault = overlay_contours(g.itab, g.itab1, p.ival, p.equid)) throw ConversionError(*fault);
  }

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

}  // namespace tesk
