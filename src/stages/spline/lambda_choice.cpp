#include "stages/spline/lambda_choice.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "stages/spline/solver.h"

namespace tesk::spline {
namespace {

constexpr int kWindow = 96;       // side of a window
constexpr int kLattice = 4;       // candidate windows: kLattice x kLattice spread evenly
constexpr int kMaxWindows = 4;    // windows kept
constexpr int kFolds = 3;
constexpr int kMinLevels = 4;     // a window is kept only with this many distinct levels
constexpr double kSmallest = 0.01;  // the first candidate
constexpr double kWiderGaps = 0.5;  // the chosen lambda, over the cross-validated one
constexpr int kCandidates = 9;      // half decades: 0.01 to 100
// The fits' tolerance, 1 % of the interval, and their cycles: a window
// whose few lines leave the fit nearly free may stop short of it, which
// the score can bear.
constexpr double kTolerance = 512 * 0.01;
constexpr int kMaxCycles = 30;
// The tensions choose_lambda_and_tension tries, in increasing order.
constexpr double kTensions[] = {0.0, 0.1};

struct Window {
  IntGrid contours;
  std::vector<std::int32_t> levels;  // distinct, increasing
};

std::vector<Window> pick_windows(int rows, int cols, const WindowReader& read) {
  const int h = std::min(rows, kWindow), w = std::min(cols, kWindow);
  std::vector<Window> found;
  std::vector<std::pair<int, int>> seen;
  for (int a = 0; a < kLattice; ++a)
    for (int b = 0; b < kLattice; ++b) {
      const int r0 = static_cast<int>((static_cast<std::int64_t>(rows - h) * (2 * a + 1)) / (2 * kLattice));
      const int c0 = static_cast<int>((static_cast<std::int64_t>(cols - w) * (2 * b + 1)) / (2 * kLattice));
      // On a raster that a window spans in one direction, the lattice
      // repeats its windows: each is read once.
      if (std::find(seen.begin(), seen.end(), std::pair{r0, c0}) != seen.end()) continue;
      seen.emplace_back(r0, c0);
      Window win{IntGrid(h, w), {}};
      read(r0, c0, win.contours);
      for (const std::int32_t v : win.contours)
        if (v != INT32_MIN) win.levels.push_back(v);
      std::sort(win.levels.begin(), win.levels.end());
      win.levels.erase(std::unique(win.levels.begin(), win.levels.end()), win.levels.end());
      if (static_cast<int>(win.levels.size()) >= kMinLevels) found.push_back(std::move(win));
    }
  // The windows with the most levels, ties in lattice order.
  std::stable_sort(found.begin(), found.end(),
                   [](const Window& x, const Window& y) { return x.levels.size() > y.levels.size(); });
  if (found.size() > static_cast<std::size_t>(kMaxWindows)) found.resize(kMaxWindows);
  return found;
}

struct Fold {
  const Window* win;
  IntGrid kept;
  Grid<double> last;  // the fit for the previous lambda: the next one starts from it
};

// The folds of every window, fitted and scored together for each lambda.
std::vector<Fold> make_folds(const std::vector<Window>& windows) {
  std::vector<Fold> folds;
  for (const Window& win : windows)
    for (int fold = 0; fold < kFolds; ++fold) {
      Fold f{&win, IntGrid(win.contours.rows(), win.contours.cols()), {}};
      std::int64_t held = 0;
      for (std::size_t k = 0; k < win.contours.size(); ++k) {
        const std::int32_t v = win.contours.data()[k];
        bool out = false;
        if (v != INT32_MIN) {
          const auto rank = std::lower_bound(win.levels.begin(), win.levels.end(), v) - win.levels.begin();
          out = rank % kFolds == fold;
        }
        f.kept.data()[k] = out ? INT32_MIN : v;
        held += out;
      }
      if (held > 0) folds.push_back(std::move(f));
    }
  return folds;
}

// The candidates for one tension, their scores, and the chosen lambda.
LambdaChoice scan(std::vector<Fold>& folds, double tension, ThreadPool& pool, CancelCheck cancel) {
  LambdaChoice c;
  c.tension = tension;
  for (Fold& f : folds) f.last = Grid<double>();
  auto score = [&](double lambda) {
    // The folds are fitted side by side, each on one thread (a window is too
    // small to share its rows out), and scored after in fold order.
    pool.for_range(0, static_cast<std::int64_t>(folds.size()), 1, [&](std::int64_t f0, std::int64_t f1, int) {
      ThreadPool alone(1);
      for (auto k = f0; k < f1; ++k) {
        Fold& f = folds[static_cast<std::size_t>(k)];
        Grid<double> u;
        solve(f.kept, lambda, tension, kTolerance, kMaxCycles, alone, cancel, nullptr, u, true, {},
              f.last.empty() ? nullptr : &f.last);
        f.last = std::move(u);
      }
    });
    double s = 0, n = 0;
    for (const Fold& f : folds) {
      const Grid<double>& u = f.last;
      for (std::size_t k = 0; k < u.size(); ++k) {
        const std::int32_t v = f.win->contours.data()[k];
        if (v != INT32_MIN && f.kept.data()[k] == INT32_MIN) {
          const double e = u.data()[k] - v;
          s += e * e;
          n += 1;
        }
      }
    }
    return s / std::max(1.0, n);
  };
  // Half decades upwards from the smallest candidate, until the score has
  // risen twice in a row past its least value.
  std::size_t best = 0;
  for (int k = 0; k < kCandidates; ++k) {
    c.lambdas.push_back(kSmallest * std::pow(10.0, 0.5 * k));
    c.scores.push_back(score(c.lambdas.back()));
    if (c.scores.back() < c.scores[best]) best = c.scores.size() - 1;
    if (c.scores.size() >= best + 3) break;
  }
  c.score = c.scores[best];
  double e = std::log10(c.lambdas[best]);
  if (best > 0 && best + 1 < c.lambdas.size()) {
    const double s0 = c.scores[best - 1], s1 = c.scores[best], s2 = c.scores[best + 1];
    const double den = s0 - 2 * s1 + s2;
    if (den > 0) e += 0.5 * 0.5 * (s0 - s2) / den;
  }
  // The held-out lines are predicted across gaps twice as wide as the ones
  // the fit of the whole raster bridges, which want a stiffer plate: the
  // best lambda for the whole raster came out at about half the
  // cross-validated one on the shared sets and generated terrain
  // (docs/spline.md).
  c.lambda = std::pow(10.0, e) * kWiderGaps;
  return c;
}

}  // namespace

LambdaChoice choose_lambda(int rows, int cols, const WindowReader& read, double tension, ThreadPool& pool,
                           CancelCheck cancel) {
  const std::vector<Window> windows = pick_windows(rows, cols, read);
  LambdaChoice c;
  c.tension = tension;
  if (windows.empty()) return c;  // too few levels anywhere to learn from: lambda 1
  std::vector<Fold> folds = make_folds(windows);
  c = scan(folds, tension, pool, cancel);
  c.windows = static_cast<int>(windows.size());
  return c;
}

LambdaChoice choose_lambda_and_tension(int rows, int cols, const WindowReader& read, ThreadPool& pool,
                                       CancelCheck cancel) {
  const std::vector<Window> windows = pick_windows(rows, cols, read);
  if (windows.empty()) return {};  // lambda 1, tension 0
  std::vector<Fold> folds = make_folds(windows);
  LambdaChoice best;
  for (const double t : kTensions) {
    LambdaChoice c = scan(folds, t, pool, cancel);
    // The least score wins; a tie keeps the smaller tension.
    if (best.lambdas.empty() || c.score < best.score) best = std::move(c);
  }
  best.windows = static_cast<int>(windows.size());
  return best;
}

}  // namespace tesk::spline
