#include "stages/spline/solver.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "core/run_error.h"
#include "stages/spline/multigrid.h"

namespace tesk::spline {
double solve_bytes_per_pixel() {
  // Finest level: x (the result), r and q of the conjugate gradients in
  // double, their search direction p and the preconditioner's output z in
  // float: 32 bytes.  Each coarser level has about a quarter of the pixels
  // of the one above and holds f, u and r in float and the five planes of
  // the data term, in bytes on the first (17 bytes, 4.25 a pixel of the
  // finest level), in float below (32 bytes, 2.67 over all of them): 6.92,
  // 7.25 with the half rows and columns of odd sides.  The edge bands take
  // the 3.75 bytes the first level's planes in bytes save.
  return 3 * 8 + 2 * 4 + 7.25 + kEdgeBandBytesPerPixel;
}

SolveReport solve(const IntGrid& contours, double lambda, double tension, double tolerance, int max_cycles,
                  ThreadPool& pool, CancelCheck cancel, const std::function<void(double)>& progress,
                  Grid<double>& out, bool approximate, SolveMechanisms mechanisms, const Grid<double>* start) {
  Hierarchy h;
  h.levels.push_back(finest_level(contours, lambda, tension));
  while (worth_coarsening(h.levels.back().rows, h.levels.back().cols)) {
    cancel.poll();
    h.levels.push_back(coarse_level(h.levels.back(), pool));
  }
  h.coarsest.emplace_back(h.levels.back());
  h.second_weight = mechanisms.second_coarse_cycle ? 2.0 : 0.0;
  h.l1_smoothing = mechanisms.l1_smoothing;
  h.fused_passes = mechanisms.fused_passes;
  if (mechanisms.edge_band_bytes > 0 && h.levels.size() > 1) {
    const Level& top = h.levels.front();
    const auto spare = static_cast<std::uint64_t>(mechanisms.edge_band_bytes * static_cast<double>(contours.size()));
    const int width = edge_band_width(contours, spare);
    if (EdgeBands::fits(top, width)) h.edges = EdgeBands(top, width, pool, cancel);
  }
  Cycles cycles(h, pool, cancel);
  Level& top = h.levels.front();
  const int rows = top.rows, cols = top.cols;
  // Conjugate gradients preconditioned by one V-cycle, from the full
  // multigrid's start.  q (A p) is also the finest level's residual inside
  // the preconditioner, and the preconditioned residual z its u.  The
  // search direction p is kept in single precision: any direction serves,
  // as long as q is A applied to the one stored, which it is (in double),
  // so x and r stay exact to double rounding and the solve converges to the
  // same system's solution.
  Grid<double> x(rows, cols), r(rows, cols), q(rows, cols);
  Grid<float> p(rows, cols);
  top.r = &q;
  if (start && start->same_shape(x)) std::copy(start->begin(), start->end(), x.begin());
  else if (mechanisms.full_multigrid_start) cycles.full_multigrid(x);
  cycles.apply_finest(x, q);
  cycles.for_rows(rows, cols, [&](int i) {
    for (int j = 0; j < cols; ++j) {
      const std::int32_t c = contours[i][j];
      r[i][j] = (c != INT32_MIN ? static_cast<double>(c) : 0.0) - q[i][j];
    }
  });
  // z = the cycle applied to r, and r'z: taken in the cycle's last pass,
  // or in a pass of its own.
  const auto precondition = [&](bool started) {
    if (mechanisms.fused_passes) return cycles.precondition(r, started);
    cycles.precondition(r);
    return cycles.dot(r, top.u);
  };
  double rz = precondition(false);
  std::copy(top.u.begin(), top.u.end(), p.begin());
  SolveReport rep;
  rep.edge_bands = h.edges.width();
  double first = 0;
  std::vector<double> row_worst(static_cast<std::size_t>(rows));
  for (;;) {
    if (rep.cycles >= max_cycles && approximate) break;
    if (rep.cycles >= max_cycles)
      throw RunError("the spline's solve did not converge: after " + std::to_string(rep.cycles) +
                     " cycles a pixel still moved by " + message_number(rep.last_change / 512) +
                     " of the interval (tolerance " + message_number(tolerance / 512) + ")");
    double pq = 0;
    cycles.apply_finest(p, q, &pq);
    if (!std::isfinite(pq) && !approximate)
      throw RunError("the spline's solve diverged (lambda " + message_number(lambda) + ")");
    const double alpha = !mechanisms.conjugate_gradients ? 1.0 : pq > 0 ? rz / pq : 0.0;
    cycles.for_rows(rows, cols, [&](int i) {
      double w = 0;
      double* xr = x[i];
      double* rr = r[i];
      const float* pr = p[i];
      const double* qr = q[i];
      for (int j = 0; j < cols; ++j) {
        const double step = alpha * static_cast<double>(pr[j]);
        xr[j] += step;
        rr[j] -= alpha * qr[j];
        if (!(std::fabs(step) <= w)) w = std::fabs(step);  // a NaN step too
      }
      row_worst[static_cast<std::size_t>(i)] = w;
      // The next cycle's first smoothing step, while the row of r is at hand.
      if (mechanisms.fused_passes) cycles.first_step_row(i, r);
    });
    ++rep.cycles;
    rep.last_change = *std::max_element(row_worst.begin(), row_worst.end());
    if (!std::isfinite(rep.last_change))
      throw RunError("the spline's solve diverged (lambda " + message_number(lambda) + ")");
    if (rep.cycles == 1) first = rep.last_change;
    if (progress && first > tolerance && rep.last_change > 0)
      progress(std::clamp(std::log(first / rep.last_change) / std::log(first / tolerance), 0.0, 1.0));
    // p'Ap not positive with a residual left (r'z not 0): the data leave a
    // direction free that the residual still points along, and the step,
    // 0, says nothing of convergence.  Not a result.
    if (!(pq > 0) && rz != 0 && mechanisms.conjugate_gradients) {
      if (approximate) break;
      throw RunError("the spline's solve broke down (lambda " + message_number(lambda) +
                     "): the contours leave the surface undetermined");
    }
    if (rep.last_change <= tolerance) break;
    const double rz_next = precondition(true);
    const double beta = mechanisms.conjugate_gradients ? rz_next / rz : 0.0;
    rz = rz_next;
    cycles.for_rows(rows, cols, [&](int i) {
      const float* z = top.u[i];
      float* pr = p[i];
      for (int j = 0; j < cols; ++j)
        pr[j] = static_cast<float>(static_cast<double>(z[j]) + beta * static_cast<double>(pr[j]));
    });
  }
  // The residual of the result itself (not the recurrence's).
  cycles.apply_finest(x, q);
  std::vector<double> sums(static_cast<std::size_t>(rows));
  cycles.for_rows(rows, cols, [&](int i) {
    double s2 = 0;
    for (int j = 0; j < cols; ++j) {
      const std::int32_t c = contours[i][j];
      const double e = (c != INT32_MIN ? static_cast<double>(c) : 0.0) - q[i][j];
      s2 += e * e;
    }
    sums[static_cast<std::size_t>(i)] = s2;
  });
  double squares = 0;
  for (const double v : sums) squares += v;
  rep.residual_rms = std::sqrt(squares / static_cast<double>(std::max<std::size_t>(1, x.size())));
  // A value that is not finite anywhere in the result shows here.
  if (!std::isfinite(rep.residual_rms) && !approximate)
    throw RunError("the spline's solve diverged (lambda " + message_number(lambda) + ")");
  out = std::move(x);
  return rep;
}

}  // namespace tesk::spline
