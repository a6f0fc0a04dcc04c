#include "stages/spline/lambda_choice.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "stages/spline/solver.h"

namespace tesk::spline {
namespace {

constexpr int kWindow = 128;      // side of a window
constexpr int kLattice = 4;       // candidate windows: kLattice x kLattice spread evenly
constexpr int kMaxWindows = 6;    // windows kept
constexpr int kFolds = 3;
constexpr int kMinLevels = 4;     // a window is kept only with this many distinct levels

struct Window {
  IntGrid contours;
  std::vector<std::int32_t> levels;  // distinct, increasing
};

std::vector<Window> pick_windows(int rows, int cols, const WindowReader& read) {
  const int h = std::min(rows, kWindow), w = std::min(cols, kWindow);
  std::vector<Window> found;
  for (int a = 0; a < kLattice; ++a)
    for (int b = 0; b < kLattice; ++b) {
      const int r0 = static_cast<int>((static_cast<std::int64_t>(rows - h) * (2 * a + 1)) / (2 * kLattice));
      const int c0 = static_cast<int>((static_cast<std::int64_t>(cols - w) * (2 * b + 1)) / (2 * kLattice));
      bool seen = false;
      for (const Window& f : found) (void)f;
      Window win{IntGrid(h, w), {}};
      read(r0, c0, win.contours);
      for (const std::int32_t v : win.contours)
        if (v != INT32_MIN) win.levels.push_back(v);
      std::sort(win.levels.begin(), win.levels.end());
      win.levels.erase(std::unique(win.levels.begin(), win.levels.end()), win.levels.end());
      if (static_cast<int>(win.levels.size()) >= kMinLevels && !seen) found.push_back(std::move(win));
      if (h == rows && w == cols) return found;  // one window holds the raster
    }
  // The windows with the most levels, ties in lattice order.
  std::stable_sort(found.begin(), found.end(),
                   [](const Window& x, const Window& y) { return x.levels.size() > y.levels.size(); });
  if (found.size() > static_cast<std::size_t>(kMaxWindows)) found.resize(kMaxWindows);
  return found;
}

}  // namespace

LambdaChoice choose_lambda(int rows, int cols, const WindowReader& read, double tension, ThreadPool& pool,
                           CancelCheck cancel) {
  LambdaChoice c;
  const std::vector<Window> windows = pick_windows(rows, cols, read);
  c.windows = static_cast<int>(windows.size());
  if (windows.empty()) return c;  // too few levels anywhere to learn from: lambda 1
  for (double e = -2; e <= 1.5 + 1e-9; e += 0.25) c.lambdas.push_back(std::pow(10.0, e));
  c.scores.assign(c.lambdas.size(), 0.0);
  double count = 0;
  for (const Window& win : windows) {
    for (int fold = 0; fold < kFolds; ++fold) {
      IntGrid kept(win.contours.rows(), win.contours.cols());
      std::int64_t held = 0;
      for (std::size_t k = 0; k < win.contours.size(); ++k) {
        const std::int32_t v = win.contours.data()[k];
        bool out = false;
        if (v != INT32_MIN) {
          const auto rank = std::lower_bound(win.levels.begin(), win.levels.end(), v) - win.levels.begin();
          out = rank % kFolds == fold;
        }
        kept.data()[k] = out ? INT32_MIN : v;
        held += out;
      }
      if (held == 0) continue;
      count += static_cast<double>(held);
      for (std::size_t l = 0; l < c.lambdas.size(); ++l) {
        Grid<double> u;
        solve(kept, c.lambdas[l], tension, 512 * 0.01, 200, pool, cancel, nullptr, u);
        double s = 0;
        for (std::size_t k = 0; k < u.size(); ++k) {
          const std::int32_t v = win.contours.data()[k];
          if (v != INT32_MIN && kept.data()[k] == INT32_MIN) {
            const double e = u.data()[k] - v;
            s += e * e;
          }
        }
        c.scores[l] += s;
      }
    }
  }
  for (double& s : c.scores) s /= std::max(1.0, count);
  const std::size_t best = static_cast<std::size_t>(std::min_element(c.scores.begin(), c.scores.end()) - c.scores.begin());
  double e = std::log10(c.lambdas[best]);
  if (best > 0 && best + 1 < c.lambdas.size()) {
    const double s0 = c.scores[best - 1], s1 = c.scores[best], s2 = c.scores[best + 1];
    const double den = s0 - 2 * s1 + s2;
    if (den > 0) e += 0.25 * 0.5 * (s0 - s2) / den;
  }
  c.lambda = std::pow(10.0, e);
  if (std::getenv("SPL_TRACE")) {
    for (std::size_t l = 0; l < c.lambdas.size(); ++l) std::fprintf(stderr, "cv %g %g\n", c.lambdas[l], c.scores[l]);
    std::fprintf(stderr, "windows %d chosen %g\n", c.windows, c.lambda);
  }
  return c;
}

}  // namespace tesk::spline
