// The solve of the spline's normal equations for one lambda:
//   (W + lambda ((1 - tension) L'L + tension G)) u = W c
// by full multigrid, then V-cycles until no pixel moves by more than the
// tolerance in a cycle.
#pragma once

#include <functional>

#include "core/grid.h"
#include "core/thread_pool.h"
#include "stages/progress.h"

namespace tesk::spline {

struct SolveReport {
  int cycles = 0;
  double last_change = 0;
  double residual_rms = 0;
  int edge_bands = 0;  // the bands' depth (0: none)
};

// The speed mechanisms, each of which can be left out to measure it: the
// conjugate gradients around the cycle (without them, plain cycles), the
// full multigrid start (without it, the solve starts from zero), the
// second coarse cycle of each visit (without it, V-cycles; multigrid.h),
// the smoothing scaled by the rows' l1 norms (without it, by the diagonal),
// and the finest level's passes fused (the cycle's first smoothing step
// taken in the update of the residual, and r'z in its last one; without
// them, passes of their own: the same bytes), and exact solves on bands
// along the edges (edge_bands.h), as deep as their pockets within the
// bytes a pixel given (0: none).
inline constexpr double kEdgeBandBytesPerPixel = 3.75;
struct SolveMechanisms {
  bool conjugate_gradients = true;
  bool full_multigrid_start = true;
  bool second_coarse_cycle = true;
  bool l1_smoothing = true;
  bool fused_passes = true;
  double edge_band_bytes = kEdgeBandBytesPerPixel;
};

// out receives u (internal units).  With start, the iteration starts from it
// rather than from the full multigrid pass.  Throws RunError when the tolerance is
// not reached within max_cycles (unless `approximate`: the last iterate is
// then the result), Cancelled.
SolveReport solve(const IntGrid& contours, double lambda, double tension, double tolerance, int max_cycles,
                  ThreadPool& pool, CancelCheck cancel, const std::function<void(double)>& progress,
                  Grid<double>& out, bool approximate = false, SolveMechanisms mechanisms = {},
                  const Grid<double>* start = nullptr);

// Bytes per pixel of the raster solve() holds at most, out included.
double solve_bytes_per_pixel();

}  // namespace tesk::spline
