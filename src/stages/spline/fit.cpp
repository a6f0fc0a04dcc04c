#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "core/mention.h"
#include "core/run_error.h"
#include "core/thread_pool.h"
#include "stages/spline/holes.h"
#include "stages/spline/lambda_choice.h"
#include "stages/spline/solver.h"
#include "stages/spline/spline.h"

namespace tesk {

void check_spline_params(const SplineParams& p) {
  if (p.lambda && !(*p.lambda >= kSmallestLambda && *p.lambda <= kLargestLambda))
    throw std::invalid_argument("--smoothing must lie between 1e-6 and 1e6, not " + message_number(*p.lambda));
  if (p.tension && !(*p.tension >= 0 && *p.tension < 1))
    throw std::invalid_argument("--tension must lie in [0, 1), not " + message_number(*p.tension));
  if (!(std::isfinite(p.tolerance) && p.tolerance > 0))
    throw std::invalid_argument("the spline's tolerance must be a positive finite number, not " +
                                message_number(p.tolerance));
  if (p.threads < 1) throw std::invalid_argument("the thread count must be at least 1, not " + std::to_string(p.threads));
  if (p.max_cycles < 1)
    throw std::invalid_argument("the spline's cycle limit must be at least 1, not " + std::to_string(p.max_cycles));
}

std::uint64_t spline_bytes_per_pixel() {
  return static_cast<std::uint64_t>(std::ceil(spline::solve_bytes_per_pixel()));
}

SplineParams choose_params(int rows, int cols, const ContourWindows& read, const SplineParams& p, SplineStats& stats,
                           CancelCheck cancel) {
  check_spline_params(p);
  SplineParams chosen = p;
  chosen.tension = stats.tension = p.tension.value_or(0.0);
  if (p.lambda) {
    stats.lambda = *p.lambda;
    return chosen;
  }
  ThreadPool pool(p.threads);
  const spline::LambdaChoice c = p.tension ? spline::choose_lambda(rows, cols, read, *p.tension, pool, cancel)
                                           : spline::choose_lambda_and_tension(rows, cols, read, pool, cancel);
  chosen.lambda = stats.lambda = c.lambda;
  chosen.tension = stats.tension = c.tension;
  stats.lambda_chosen = true;
  stats.tension_chosen = !p.tension;
  stats.windows = c.windows;
  return chosen;
}

ContourSpread contour_spread(const IntGrid& contours) {
  // The first contour pixel, the first one of another value, and the first
  // one off the line through the first two pixels (of any values).
  const int cols = contours.cols();
  std::int64_t r0 = -1, c0 = 0, dr = 0, dc = 0;
  bool several = false, off_line = false;
  std::int32_t first = 0;
  for (std::size_t k = 0; k < contours.size() && !(several && off_line); ++k) {
    const std::int32_t v = contours.data()[k];
    if (v == INT32_MIN) continue;
    const std::int64_t r = static_cast<std::int64_t>(k / cols), c = static_cast<std::int64_t>(k % cols);
    if (r0 < 0) {
      r0 = r, c0 = c, first = v;
      continue;
    }
    several = several || v != first;
    if (dr == 0 && dc == 0)
      dr = r - r0, dc = c - c0;
    else
      off_line = off_line || dr * (c - c0) != dc * (r - r0);
  }
  if (r0 < 0) return ContourSpread::kNone;
  if (!several) return ContourSpread::kOneValue;
  return off_line || contours.rows() == 1 || cols == 1 ? ContourSpread::kSurface : ContourSpread::kOneLine;
}

SplineStats fit_spline(const IntGrid& contours, const SplineParams& p, Grid<double>& out,
                       const std::function<void(double)>& progress, CancelCheck cancel) {
  check_spline_params(p);
  const ContourSpread spread = contour_spread(contours);
  if (spread == ContourSpread::kNone) throw std::invalid_argument("the spline needs at least one contour pixel");
  ThreadPool pool(p.threads);
  SplineStats s;
  double reported = -1;
  auto report = [&](double f) {  // fractions only ever grow
    if (progress && f > reported) progress(reported = f);
  };
  report(0);
  const SplineParams chosen = choose_params(
      contours.rows(), contours.cols(),
      [&](int r0, int c0, IntGrid& w) {
        for (int i = 0; i < w.rows(); ++i) std::copy(contours[r0 + i] + c0, contours[r0 + i] + c0 + w.cols(), w[i]);
      },
      p, s, cancel);
  if (s.lambda_chosen) report(0.2);
  if (spread == ContourSpread::kOneLine && *chosen.tension == 0)
    throw RunError("the contour pixels lie on one straight line, which leaves the slope across it free: a spline "
                   "without tension needs contours that do not (give " + mention(Opt::tension, Form::usage) +
                   ", or use the classic method)");
  if (spread == ContourSpread::kOneValue) {  // the flat surface fits exactly, with no curvature or slope
    const auto v = *std::find_if(contours.begin(), contours.end(), [](std::int32_t x) { return x != INT32_MIN; });
    out = Grid<double>(contours.rows(), contours.cols());
    std::fill(out.begin(), out.end(), static_cast<double>(v));
    report(1);
    return s;
  }
  const double start = s.lambda_chosen ? 0.2 : 0.0;
  const spline::SolveReport r =
      spline::solve(contours, s.lambda, *chosen.tension, p.tolerance, p.max_cycles, pool, cancel,
                    [&](double f) { report(start + (0.95 - start) * f); }, out);
  s.iterations = r.cycles;
  s.last_change = r.last_change;
  s.residual_rms = r.residual_rms;
  if (p.bound_holes) s.bounded_pixels = spline::bound_holes(contours, out, 512.0, pool, cancel);
  report(1);
  return s;
}

}  // namespace tesk
