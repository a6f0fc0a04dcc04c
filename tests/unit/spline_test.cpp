// The contour-fitting spline: planes reproduced, holes bounded, the same
// bytes at every thread count, convergence reported, bad parameters and
// stops refused.
#include <gtest/gtest.h>

#include <cmath>
#include <algorithm>
#include <cstring>
#include <limits>
#include <random>
#include <stdexcept>
#include <vector>

#include "core/run_error.h"
#include "core/thread_pool.h"
#include "stages/spline/lambda_choice.h"
#include "stages/spline/banded.h"
#include "stages/spline/block_factor.h"
#include "stages/spline/edge_bands.h"
#include "stages/spline/holes.h"
#include "stages/spline/kernels.h"
#include "stages/spline/level.h"
#include "stages/spline/multigrid.h"
#include "stages/spline/solver.h"
#include "stages/spline/spline.h"
#include "support/test_support.h"

namespace tesk {
namespace {

using testing::Rng;

using testing::terrain_contours;

SplineStats fit(const IntGrid& c, SplineParams p, Grid<double>& out) {
  return fit_spline(c, p, out, nullptr, {});
}

TEST(Spline, ReproducesPlanesSampledOnContourLines) {
  struct Case {
    int rows, cols;
    double a, b;  // slope per row and per column, internal units
    double lambda, tension;
  };
  for (const Case& k : {Case{7, 9, 40, -25, 1, 0}, Case{33, 40, 300, 120, 0.01, 0}, Case{64, 65, -90, 210, 30, 0},
                        Case{50, 3, 12, 500, 1, 0}, Case{120, 97, 35, 18, 0.3, 0}}) {
    IntGrid c(k.rows, k.cols);
    for (int i = 0; i < k.rows; ++i)
      for (int j = 0; j < k.cols; ++j) {
        const double v = 1000 + k.a * i + k.b * j;
        // Lines where the plane crosses a multiple of 512, and the plane's
        // own value on them, which is whole.
        const bool line = std::floor(v / 512) != std::floor((v + std::fabs(k.a) + std::fabs(k.b)) / 512);
        c[i][j] = line ? static_cast<std::int32_t>(v) : kNoData;
      }
    SplineParams p;
    p.lambda = k.lambda;
    p.tension = k.tension;
    p.tolerance = 1e-9;
    p.max_cycles = 400;
    Grid<double> u;
    fit(c, p, u);
    double worst = 0;
    for (int i = 0; i < k.rows; ++i)
      for (int j = 0; j < k.cols; ++j) worst = std::max(worst, std::fabs(u[i][j] - (1000 + k.a * i + k.b * j)));
    EXPECT_LT(worst, 1e-6) << k.rows << " x " << k.cols << " lambda " << k.lambda;
  }
}

// The surface u with every value of a hole (4-connected pixels without a
// contour) brought within an interval of the levels bordering it, found by
// a flood fill; changed counts the values brought back.
Grid<double> bounded(const IntGrid& c, const Grid<double>& u, std::int64_t& changed) {
  const int rows = c.rows(), cols = c.cols();
  Grid<double> out(rows, cols);
  std::copy(u.begin(), u.end(), out.begin());
  IntGrid seen(rows, cols);
  changed = 0;
  for (int i0 = 0; i0 < rows; ++i0)
    for (int j0 = 0; j0 < cols; ++j0) {
      if (c[i0][j0] != kNoData || seen[i0][j0]) continue;
      std::vector<std::pair<int, int>> hole{{i0, j0}}, todo{{i0, j0}};
      seen[i0][j0] = 1;
      double lo = 1e300, hi = -1e300;
      while (!todo.empty()) {
        auto [i, j] = todo.back();
        todo.pop_back();
        for (auto [di, dj] : {std::pair{-1, 0}, std::pair{1, 0}, std::pair{0, -1}, std::pair{0, 1}}) {
          const int a = i + di, b = j + dj;
          if (a < 0 || a >= rows || b < 0 || b >= cols) continue;
          if (c[a][b] != kNoData) {
            lo = std::min<double>(lo, c[a][b]);
            hi = std::max<double>(hi, c[a][b]);
          } else if (!seen[a][b]) {
            seen[a][b] = 1;
            hole.push_back({a, b});
            todo.push_back({a, b});
          }
        }
      }
      for (auto [i, j] : hole) {
        out[i][j] = std::clamp(u[i][j], lo - 512, hi + 512);
        changed += out[i][j] != u[i][j];
      }
    }
  return out;
}

// The bounded fit is the free fit with each hole clamped to its own border's
// levels, value for value, on grids with summits, pits and seas.
TEST(Spline, HolesStayWithinAnIntervalOfTheirBorderOnRandomTerrain) {
  Rng rng(testing::base_seed());
  int broken_without = 0;
  for (int n = 0; n < 12; ++n) {
    const int rows = testing::uniform(rng, 20, 90), cols = testing::uniform(rng, 20, 90);
    const bool sea = n % 2 == 0;
    const IntGrid c = terrain_contours(rng, rows, cols, sea);
    if (std::all_of(c.begin(), c.end(), [](std::int32_t v) { return v == kNoData; })) continue;
    SplineParams p;
    p.lambda = std::pow(10.0, testing::uniform(rng, -2, 2));
    Grid<double> u;
    const SplineStats s = fit(c, p, u);
    p.bound_holes = false;
    Grid<double> free;
    fit(c, p, free);
    std::int64_t changed = 0;
    const Grid<double> want = bounded(c, free, changed);
    EXPECT_EQ(0, std::memcmp(want.data(), u.data(), u.size() * sizeof(double)))
        << testing::describe(testing::base_seed(), n, {rows, cols});
    EXPECT_EQ(s.bounded_pixels, changed);
    broken_without += changed > 0;
  }
  // The bound alone against the flood fill, on random masks whose holes'
  // runs join in every order, with values far outside their borders' levels.
  ThreadPool pool(2);
  for (int n = 0; n < 40; ++n) {
    const int rows = testing::uniform(rng, 3, 70), cols = testing::uniform(rng, 3, 70);
    const int percent = testing::uniform(rng, 20, 60);
    IntGrid c(rows, cols);
    Grid<double> u(rows, cols);
    for (std::size_t k = 0; k < c.size(); ++k) {
      c.data()[k] = testing::uniform(rng, 0, 99) < percent ? 512 * testing::uniform(rng, 0, 20) : kNoData;
      u.data()[k] = 16.0 * testing::uniform(rng, -1000, 2000);
    }
    std::int64_t changed = 0;
    const Grid<double> want = bounded(c, u, changed);
    EXPECT_EQ(changed, spline::bound_holes(c, u, 512.0, pool, {}));
    EXPECT_EQ(0, std::memcmp(want.data(), u.data(), u.size() * sizeof(double)))
        << testing::describe(testing::base_seed(), n, {rows, cols});
  }
  EXPECT_GT(broken_without, 0) << "no grid needed the bound: the test is not sharp";
}

TEST(Spline, SameBytesAtOneTwoAndThreeThreads) {
  Rng rng(testing::base_seed() + 1);
  for (int n = 0; n < 5; ++n) {
    // The first raster is large enough for the passes over its two finest
    // levels to be shared out to the threads.
    const int rows = n == 0 ? 530 : testing::uniform(rng, 24, 72), cols = n == 0 ? 517 : testing::uniform(rng, 24, 72);
    const IntGrid c = terrain_contours(rng, rows, cols, n % 3 == 0);
    if (std::all_of(c.begin(), c.end(), [](std::int32_t v) { return v == kNoData; })) continue;
    SplineParams p;
    if (n % 2) p.lambda = 0.5;  // else chosen from the data, on the threads too
    p.tension = n % 3 == 1 ? 0.3 : 0.0;
    Grid<double> first;
    SplineStats s1;
    for (int threads : {1, 2, 3}) {
      p.threads = threads;
      Grid<double> u;
      const SplineStats s = fit(c, p, u);
      if (threads == 1) {
        first = std::move(u);
        s1 = s;
        continue;
      }
      EXPECT_EQ(0, std::memcmp(first.data(), u.data(), u.size() * sizeof(double))) << rows << " x " << cols;
      EXPECT_EQ(s1.lambda, s.lambda);
      EXPECT_EQ(s1.iterations, s.iterations);
    }
  }
}

// The passes fused (each residual with the smoothing step after it, the
// cycle's first step in the update of the conjugate gradients' residual,
// r'z in the last step) against passes of their own, under each smoothing
// and with plain cycles: the same bytes and cycles.  The first raster is
// large enough for its finest level to be shared out to the threads.
TEST(Spline, FusedPassesGiveTheSameBytes) {
  Rng rng(testing::base_seed() + 2);
  ThreadPool pool(3);
  for (int n = 0; n < 12; ++n) {
    const int rows = n == 0 ? 300 : testing::uniform(rng, 20, 80), cols = testing::uniform(rng, n == 0 ? 240 : 20, 300);
    const IntGrid c = terrain_contours(rng, rows, cols, n % 3 == 0);
    if (std::all_of(c.begin(), c.end(), [](std::int32_t v) { return v == kNoData; })) continue;
    spline::SolveMechanisms m;
    m.l1_smoothing = n % 4 != 1;
    m.conjugate_gradients = n % 4 != 2;
    Grid<double> u[2];
    spline::SolveReport rep[2];
    for (int fused = 0; fused < 2; ++fused) {
      m.fused_passes = fused;
      rep[fused] = spline::solve(c, 0.3, n % 3 == 2 ? 0.2 : 0.0, 0.0512, 2000, pool, {}, nullptr, u[fused], true, m);
    }
    EXPECT_EQ(rep[0].cycles, rep[1].cycles) << rows << " x " << cols;
    EXPECT_EQ(0, std::memcmp(u[0].data(), u[1].data(), u[0].size() * sizeof(double))) << rows << " x " << cols;
  }
}

// A block's exact solve zeroes the residual on its pixels, the pixels
// around it held, wherever it lies: a band along each edge, a rectangle
// inside, on the finest level (13-point stencil) and a coarse one (25
// points, sixteenths); its factor in double, or rounded to single precision
// as the edge bands store it.  The whole level without a contour (the
// penalty's null space free) gives the free directions nothing.
TEST(Spline, BlockSolvesZeroTheResidualOnTheirPixels) {
  Rng rng(testing::base_seed() + 11);
  std::uniform_real_distribution<double> value(-1000.0, 1000.0);
  ThreadPool one(1);
  for (int n = 0; n < 8; ++n) {
    const bool coarse = n % 2, free = n == 7;
    const int fine_rows = testing::uniform(rng, 12, 40) * (coarse ? 2 : 1),
              fine_cols = testing::uniform(rng, 12, 40) * (coarse ? 2 : 1);
    IntGrid c = terrain_contours(rng, fine_rows, fine_cols, n % 4 == 0);
    if (free) std::fill(c.begin(), c.end(), kNoData);
    spline::Level fine = spline::finest_level(c, n % 3 == 0 ? 0.05 : 2.0, n % 3 == 2 ? 0.2 : 0.0);
    const spline::Level L = coarse ? spline::coarse_level(fine, one) : std::move(fine);
    const int rows = L.rows, cols = L.cols;
    Grid<float> u(rows, cols);
    Grid<double> g(rows, cols), r(rows, cols);
    for (float& x : u) x = static_cast<float>(value(rng));
    for (double& x : g) x = value(rng);
    // r = g - A u, the literal sum, on rect.
    const auto residual = [&](const spline::Rect& rect, const auto& v) {
      double worst = 0;
      for (int i = rect.i0; i < rect.i1; ++i)
        for (int j = rect.j0; j < rect.j1; ++j) {
          double s = g[i][j];
          for (int a = -2; a <= 2; ++a)
            for (int b = -2; b <= 2; ++b)
              if (i + a >= 0 && i + a < rows && j + b >= 0 && j + b < cols)
                s -= (L.coefficient(i, j, a, b) + (std::abs(a) <= 1 && std::abs(b) <= 1 ? L.data_entry(i, j, a, b) : 0.0)) *
                     static_cast<double>(v[i + a][j + b]);
          r[i][j] = s;
          worst = std::max(worst, std::fabs(s));
        }
      return worst;
    };
    if (free) {
      // A right-hand side the level can reach (A v): solved with no residual
      // left, and finite.
      Grid<float> v(rows, cols);
      std::copy(u.begin(), u.end(), v.begin());
      std::fill(u.begin(), u.end(), 0.0f);
      const spline::Rect all{0, rows, 0, cols};
      std::fill(g.begin(), g.end(), 0.0);
      residual(all, v);
      for (std::size_t k = 0; k < g.size(); ++k) g.data()[k] = -r.data()[k];
      const double before = residual(all, u);
      const spline::BlockFactor<double> f(L, all);
      std::vector<double> y(static_cast<std::size_t>(f.size()));
      for (int i = 0; i < rows; ++i)
        for (int j = 0; j < cols; ++j) y[f.index(i, j)] = r[i][j];
      f.solve(y);
      Grid<double> w(rows, cols);
      for (int i = 0; i < rows; ++i)
        for (int j = 0; j < cols; ++j) w[i][j] = y[f.index(i, j)];
      EXPECT_LT(residual(all, w), 1e-6 * before) << rows << " x " << cols;
      continue;
    }
    for (const spline::Rect rect : {spline::Rect{0, 3, 0, cols},
                                    spline::Rect{rows - 4, rows, 0, cols}, spline::Rect{3, rows - 3, 0, 5},
                                    spline::Rect{2, rows - 2, cols - 2, cols}, spline::Rect{3, rows - 4, 5, cols - 3}}) {
      // Single precision: u += the correction, rounded.
      Grid<float> v(rows, cols);
      std::copy(u.begin(), u.end(), v.begin());
      const double before = residual(rect, v);
      std::vector<double> scratch;
      spline::EdgeBands::correct(spline::BlockFactor<float>(L, rect), r, v, scratch);
      EXPECT_LT(residual(rect, v), 1e-3 * before) << rows << " x " << cols << " at " << rect.i0 << ", " << rect.j0 << " to " << rect.i1 << ", " << rect.j1;
      // Double: the correction itself, exact to rounding.
      Grid<double> w(rows, cols);
      std::copy(u.begin(), u.end(), w.begin());
      residual(rect, w);
      const spline::BlockFactor<double> f(L, rect);
      std::vector<double> y(static_cast<std::size_t>(f.size()));
      for (int i = rect.i0; i < rect.i1; ++i)
        for (int j = rect.j0; j < rect.j1; ++j) y[f.index(i, j)] = r[i][j];
      f.solve(y);
      for (int i = rect.i0; i < rect.i1; ++i)
        for (int j = rect.j0; j < rect.j1; ++j) w[i][j] += y[f.index(i, j)];
      EXPECT_LT(residual(rect, w), 1e-9 * before) << rows << " x " << cols << " at " << rect.i0 << ", " << rect.j0 << " to " << rect.i1 << ", " << rect.j1;
    }
  }
}

// The bands are as deep as the pockets along nine tenths of the edges,
// at most kMaxEdgeBand, within the bytes given; on a raster with pockets
// they take the solve to the same surface within its tolerance in fewer
// iterations, with the same bytes at 1, 2 and 3 threads.
TEST(Spline, EdgeBandsAsDeepAsThePocketsAndTheSameSurface) {
  struct Case {
    int rows, cols, depth;  // contour lines across the raster, depth pixels in from each edge
    std::uint64_t spare;    // bytes; 0: as many as the band wants
    int want;
  };
  const auto bytes = [](int rows, int cols, int w) { return spline::EdgeBands::bytes(rows, cols, w); };
  for (const Case& k : {Case{120, 120, 4, 0, 4}, Case{120, 130, 10, 0, 10}, Case{200, 150, 40, 0, spline::kMaxEdgeBand},
                        Case{60, 70, 0, 0, 0}, Case{300, 200, 20, bytes(300, 200, 12), 12},
                        Case{300, 200, 20, bytes(300, 200, 12) - 1, 11}, Case{300, 200, 20, 1, 0}}) {
    IntGrid c(k.rows, k.cols);
    for (int i = 0; i < k.rows; ++i)
      for (int j = 0; j < k.cols; ++j) {
        const bool line = i == k.depth || i == k.rows - 1 - k.depth || j == k.depth || j == k.cols - 1 - k.depth;
        c[i][j] = line ? 512 * (1 + (i + j) % 3) : kNoData;
      }
    EXPECT_EQ(k.want, spline::edge_band_width(c, k.spare ? k.spare : UINT64_MAX)) << k.rows << " x " << k.cols;
  }
  // Pockets deeper than the raster holds: bands that leave two rows between
  // them, not none.
  IntGrid blob(40, 50);
  std::fill(blob.begin(), blob.end(), kNoData);
  blob[20][25] = 512;
  EXPECT_EQ(19, spline::edge_band_width(blob, UINT64_MAX));
  EXPECT_EQ(UINT64_MAX, spline::EdgeBands::bytes(40, 50, 20));
  // Terrain whose contours stop 14 pixels short of every edge.
  Rng rng(testing::base_seed() + 12);
  IntGrid c = terrain_contours(rng, 150, 170, false);
  for (int i = 0; i < c.rows(); ++i)
    for (int j = 0; j < c.cols(); ++j)
      if (std::min({i, j, c.rows() - 1 - i, c.cols() - 1 - j}) < 14) c[i][j] = kNoData;
  spline::SolveMechanisms none, banded;
  none.edge_band_bytes = 0;
  banded.edge_band_bytes = 60;
  Grid<double> plain, first;
  ThreadPool one(1);
  const double tolerance = 0.0512;
  const spline::SolveReport without = spline::solve(c, 0.3, 0.0, tolerance, 500, one, {}, nullptr, plain, false, none);
  EXPECT_EQ(0, without.edge_bands);
  for (const int threads : {1, 2, 3}) {
    ThreadPool pool(threads);
    Grid<double> u;
    const spline::SolveReport with = spline::solve(c, 0.3, 0.0, tolerance, 500, pool, {}, nullptr, u, false, banded);
    EXPECT_GE(with.edge_bands, 14);
    EXPECT_LT(with.cycles, without.cycles);
    double worst = 0;
    for (std::size_t k = 0; k < u.size(); ++k) worst = std::max(worst, std::fabs(u.data()[k] - plain.data()[k]));
    EXPECT_LT(worst, 20 * tolerance);
    if (threads == 1) first = std::move(u);
    else EXPECT_EQ(0, std::memcmp(first.data(), u.data(), u.size() * sizeof(double))) << threads;
  }
}

// The edge bands cover the pixels within their depth of an edge, each once;
// and the cycle with them stays a symmetric preconditioner, b'M a = a'M b
// (to the rounding of its single-precision parts), as the conjugate
// gradients need.
TEST(Spline, EdgeBandsCoverTheEdgesAndKeepTheCycleSymmetric) {
  Rng rng(testing::base_seed() + 13);
  std::uniform_real_distribution<double> value(-1000.0, 1000.0);
  IntGrid c = terrain_contours(rng, 90, 111, false);
  for (int i = 0; i < c.rows(); ++i)
    for (int j = 0; j < c.cols(); ++j)
      if (std::min({i, j, c.rows() - 1 - i, c.cols() - 1 - j}) < 10) c[i][j] = kNoData;
  ThreadPool pool(2);
  for (const int depth : {0, 3, 12}) {
    spline::Hierarchy h;
    h.levels.push_back(spline::finest_level(c, 0.3, 0.0));
    while (spline::worth_coarsening(h.levels.back().rows, h.levels.back().cols))
      h.levels.push_back(spline::coarse_level(h.levels.back(), pool));
    h.coarsest.emplace_back(h.levels.back());
    h.second_weight = 2;
    spline::Level& top = h.levels.front();
    const int rows = top.rows, cols = top.cols;
    if (depth) {
      h.edges = spline::EdgeBands(top, depth, pool);
      ASSERT_EQ(depth, h.edges.width());
      Grid<int> covered(rows, cols);
      for (const int k : {0, 1})
        for (const auto& b : h.edges.pair(k))
          for (int i = b.rect().i0; i < b.rect().i1; ++i)
            for (int j = b.rect().j0; j < b.rect().j1; ++j) ++covered[i][j];
      for (int i = 0; i < rows; ++i)
        for (int j = 0; j < cols; ++j)
          ASSERT_EQ(std::min({i, j, rows - 1 - i, cols - 1 - j}) < depth ? 1 : 0, covered[i][j]) << i << ", " << j;
    }
    spline::Cycles cycles(h, pool, {});
    Grid<double> q(rows, cols), a(rows, cols), b(rows, cols), za(rows, cols);
    top.r = &q;
    for (double& x : a) x = value(rng);
    for (double& x : b) x = value(rng);
    cycles.precondition(a);
    std::copy(top.u.begin(), top.u.end(), za.begin());
    cycles.precondition(b);
    double azb = 0, bza = 0, scale = 0;
    for (std::size_t k = 0; k < a.size(); ++k) {
      azb += a.data()[k] * static_cast<double>(top.u.data()[k]);
      bza += b.data()[k] * za.data()[k];
      scale += std::fabs(a.data()[k] * static_cast<double>(top.u.data()[k]));
    }
    EXPECT_LT(std::fabs(azb - bza), 1e-7 * scale) << depth;
  }
}

// The operator's rows as computed (interior stencil kernel, stored edge
// stencils) against the literal sum of coefficient() over every level of
// random hierarchies, shapes without an interior and odd sides included;
// the finest level's product fused with its dot product against the two
// passes, and its smoothing's stored inverse row sums against those
// computed; the coarse smoothing step in one pass against its two.
TEST(Spline, OperatorRowsMatchTheLiteralSumOnEveryLevel) {
  Rng rng(testing::base_seed() + 7);
  std::uniform_real_distribution<float> value(-1000.0f, 1000.0f);
  for (int n = 0; n < 40; ++n) {
    const int rows = testing::uniform(rng, 1, 60), cols = testing::uniform(rng, 1, 60);
    IntGrid c(rows, cols);
    for (auto& v : c) v = testing::chance(rng, 0.2) ? testing::uniform(rng, 0, 5000) : kNoData;
    spline::Level level = spline::finest_level(c, std::pow(10.0, testing::uniform(rng, -2, 2)),
                                               n % 3 == 0 ? 0.25 : 0.0);
    for (int depth = 0;; ++depth) {
      const spline::Level& L = level;
      Grid<float> u(L.rows, L.cols);
      for (auto& v : u) v = value(rng);
      std::vector<double> got(static_cast<std::size_t>(L.cols)), edges(got.size());
      for (int i = 0; i < L.rows; ++i) {
        spline::apply_products_row(L, u, i, got.data());
        const bool interior_row = i >= L.ilo && i < L.ihi;
        if (interior_row) spline::apply_products_row_edges(L, u, i, edges.data());
        for (int j = 0; j < L.cols; ++j) {
          double want = 0;
          for (int a = -2; a <= 2; ++a)
            for (int b = -2; b <= 2; ++b) {
              const double k = L.coefficient(i, j, a, b);
              if (k != 0.0) want += k * static_cast<double>(u[i + a][j + b]);
            }
          ASSERT_EQ(want, got[static_cast<std::size_t>(j)]) << rows << " x " << cols << " level " << depth;
          if (interior_row && (j < L.jlo || j >= L.jhi)) {
            ASSERT_EQ(want, edges[static_cast<std::size_t>(j)]);
          }
        }
      }
      if (L.data_neighbours()) {
        // The coarse data term's row against the literal sum in single
        // precision over its nine neighbours, in the kernel's order.
        const int order[9][2] = {{0, 0}, {0, 1}, {0, -1}, {1, 0}, {1, 1}, {1, -1}, {-1, 0}, {-1, -1}, {-1, 1}};
        for (int i = 0; i < L.rows; ++i) {
          std::fill(got.begin(), got.end(), 0.5);
          L.apply_data_row(u, i, got.data());
          for (int j = 0; j < L.cols; ++j) {
            float want = 0;
            for (const auto& [a, b] : order)
              if (i + a >= 0 && i + a < L.rows && j + b >= 0 && j + b < L.cols)
                want += static_cast<float>(L.data_entry(i, j, a, b)) * u[i + a][j + b];
            ASSERT_EQ(0.5 + static_cast<double>(want), got[static_cast<std::size_t>(j)]) << depth;
          }
        }
        // The coarse smoothing step in one pass against its two.
        std::vector<double> inv(static_cast<std::size_t>(L.cols));
        const std::vector<float> ones(inv.size(), 1.0f);
        std::vector<float> r(inv.size()), want(inv.size()), got(inv.size());
        for (int i = 0; i < L.rows; ++i) {
          for (std::size_t j = 0; j < r.size(); ++j) {
            r[j] = value(rng);
            want[j] = got[j] = value(rng);
          }
          L.inverse_l1_row(i, inv.data(), ones.data());
          spline::damped_step(inv.data(), r.data(), 1.7, L.cols, want.data());
          L.with_data_rows(i, [&](auto... planes) {
            spline::l1_step_coarse(L.penalty_l1_row(i), planes..., r.data(), 1.7, L.cols, got.data());
          });
          ASSERT_EQ(0, std::memcmp(want.data(), got.data(), want.size() * sizeof(float))) << depth;
        }
      }
      if (depth == 0) {
        // The smoothing's stored inverse row sums against those computed.
        std::vector<double> inv(static_cast<std::size_t>(L.cols));
        const std::vector<float> ones(inv.size(), 1.0f);
        for (int i = 0; i < L.rows; ++i) {
          L.inverse_l1_row(i, inv.data(), ones.data());
          const double* stored = L.finest_inverse_l1_row(i);
          for (int j = 0; j < L.cols; ++j)
            ASSERT_EQ(inv[static_cast<std::size_t>(j)], stored[j + (c[i][j] != kNoData ? L.cols : 0)]);
        }
        // The conjugate gradients' p'Ap summed in the operator's pass, as
        // dot() sums it apart.
        spline::Hierarchy h;
        h.levels.push_back(std::move(level));
        ThreadPool pool(2);
        spline::Cycles cycles(h, pool, {});
        Grid<double> q(h.levels.front().rows, h.levels.front().cols);
        double fused = 0;
        cycles.apply_finest(u, q, &fused);
        ASSERT_EQ(cycles.dot(q, u), fused);
        level = std::move(h.levels.front());
      }
      if (!spline::worth_coarsening(L.rows, L.cols)) break;
      ThreadPool pool(1);
      spline::Level coarse = spline::coarse_level(L, pool);
      // The coarse data term against the literal scatter of every coupled
      // pair of fine pixels onto the pairs of coarse points, in that order.
      const spline::Transfer tr(L.rows), tc(L.cols);
      const auto size = static_cast<std::size_t>(coarse.rows) * static_cast<std::size_t>(coarse.cols);
      std::vector<double> want(5 * size);
      const std::pair<int, int> forward[5] = {{0, 0}, {0, 1}, {1, 0}, {1, 1}, {1, -1}};
      for (int i = 0; i < L.rows; ++i)
        for (int j = 0; j < L.cols; ++j)
          for (int a = -1; a <= 1; ++a)
            for (int b = -1; b <= 1; ++b) {
              const double v = L.data_entry(i, j, a, b);
              if (v == 0.0 || (L.contours && (a != 0 || b != 0))) continue;
              auto at = [](const spline::Transfer& t, int x, int k) {
                const auto xs = static_cast<std::size_t>(x);
                return std::pair{k ? t.c1[xs] : t.c0[xs], k ? t.w1[xs] : t.w0[xs]};
              };
              for (int p1 = 0; p1 < 4; ++p1) {
                const auto [I, wi] = at(tr, i, p1 / 2);
                const auto [J, wj] = at(tc, j, p1 % 2);
                for (int q = 0; q < 4 && I >= 0 && J >= 0; ++q) {
                  const auto [K, wk] = at(tr, i + a, q / 2);
                  const auto [M, wm] = at(tc, j + b, q % 2);
                  for (int f = 0; f < 5; ++f)
                    if (K >= 0 && M >= 0 && std::pair{K - I, M - J} == forward[f])
                      want[f * size + static_cast<std::size_t>(I * coarse.cols + J)] += wi * wj * v * wk * wm;
                }
              }
            }
      // The first coarse level keeps them in sixteenths, the same values.
      ASSERT_EQ(depth == 0, coarse.sixteenths());
      for (int f = 0; f < 5; ++f)
        for (int I = 0; I < coarse.rows; ++I)
          for (int J = 0; J < coarse.cols; ++J) {
            const auto [a, b] = forward[f];
            const double v = want[f * size + static_cast<std::size_t>(I * coarse.cols + J)];
            ASSERT_EQ(static_cast<float>(v), I + a < coarse.rows && J + b >= 0 && J + b < coarse.cols
                                                 ? coarse.data_entry(I, J, a, b)
                                                 : 0.0)
                << depth << " plane " << f;
          }
      level = std::move(coarse);
    }
  }
}

// The transfers' row kernels against the literal sums over Transfer's
// weights, on rows of every length up to 40.
TEST(Spline, TransferRowsMatchTheLiteralSums) {
  Rng rng(testing::base_seed() + 8);
  std::uniform_real_distribution<double> value(-1000.0, 1000.0);
  for (int n = 2; n <= 40; ++n) {
    const spline::Transfer t(n);
    std::vector<double> coarse(static_cast<std::size_t>(t.nc)), fine(static_cast<std::size_t>(n));
    for (auto& v : coarse) v = value(rng);
    for (auto& v : fine) v = value(rng);
    for (const bool add : {false, true}) {
      std::vector<float> got(fine.size());
      for (auto& v : got) v = static_cast<float>(value(rng));
      std::vector<float> want = got;
      spline::interpolate_row(coarse.data(), n, add, got.data());
      for (int y = 0; y + 1 < n; ++y) {
        const auto ys = static_cast<std::size_t>(y);
        double v = 0;
        for (int k = 0; k < t.count[ys]; ++k) v += t.wt[4 * ys + static_cast<std::size_t>(k)] * coarse[static_cast<std::size_t>(t.start[ys] + k)];
        want[ys] = static_cast<float>(add ? static_cast<double>(want[ys]) + v : v);
      }
      ASSERT_EQ(0, std::memcmp(want.data(), got.data(), want.size() * sizeof(float))) << n;
    }
    std::vector<float> got(coarse.size(), -1.0f), want(coarse.size(), -1.0f);
    spline::restrict_row(fine.data(), n, got.data());
    for (int J = 1; J < (n - 1) / 2; ++J) {
      double s = 0;
      for (int y = t.first(J); y <= t.last(J); ++y) s += t.weight(y, J) * fine[static_cast<std::size_t>(y)];
      want[static_cast<std::size_t>(J)] = static_cast<float>(s);
    }
    ASSERT_EQ(0, std::memcmp(want.data(), got.data(), want.size() * sizeof(float))) << n;
  }
}

TEST(Spline, ReportsConvergenceAndRefusesASolveThatDoesNotConverge) {
  Rng rng(testing::base_seed() + 2);
  const IntGrid c = terrain_contours(rng, 80, 70, false);
  SplineParams p;
  p.lambda = 1;
  Grid<double> u;
  const SplineStats s = fit(c, p, u);
  EXPECT_GT(s.iterations, 0);
  EXPECT_LE(s.last_change, p.tolerance);
  EXPECT_LT(s.residual_rms, 1.0);  // internal units; the values run to thousands
  EXPECT_FALSE(s.lambda_chosen);
  p.tolerance = 1e-12;
  p.max_cycles = 2;
  try {
    fit(c, p, u);
    ADD_FAILURE() << "a solve stopped short was taken as a result";
  } catch (const RunError& e) {
    EXPECT_NE(std::string(e.what()).find("did not converge"), std::string::npos) << e.what();
  }
  // The ends of the accepted range converge to finite surfaces.
  for (const double lambda : {kSmallestLambda, kLargestLambda}) {
    SplineParams q;
    q.lambda = lambda;
    Grid<double> v;
    EXPECT_NO_THROW(fit(c, q, v)) << lambda;
    EXPECT_TRUE(std::all_of(v.begin(), v.end(), [](double x) { return std::isfinite(x); })) << lambda;
  }
  // Lambdas far below the accepted range, which the arithmetic no longer
  // resolves, break the iteration down: an error, not a surface of NaN nor
  // a first step of nothing taken for convergence.
  ThreadPool pool(1);
  for (const double lambda : {1e-308, 1e-320}) {
    Grid<double> v;
    EXPECT_THROW(spline::solve(c, lambda, 0.0, 0.0512, 500, pool, {}, nullptr, v), RunError) << lambda;
  }
}

TEST(Spline, RefusesBadParametersInOneLine) {
  const IntGrid c = testing::grid("0 U U / U 512 U / U U 1024");
  const double nan = std::numeric_limits<double>::quiet_NaN(), inf = std::numeric_limits<double>::infinity();
  struct Case {
    std::optional<double> lambda;
    double tension;
    int threads;
    const char* words;
  };
  for (const Case& k : {Case{0.0, 0, 1, "--smoothing"}, Case{-1.0, 0, 1, "--smoothing"},
                        Case{9e-7, 0, 1, "--smoothing"}, Case{1.1e6, 0, 1, "--smoothing"},
                        Case{nan, 0, 1, "--smoothing"}, Case{inf, 0, 1, "--smoothing"},
                        Case{1.0, -0.1, 1, "--tension"}, Case{1.0, 1, 1, "--tension"},
                        Case{1.0, nan, 1, "--tension"}, Case{1.0, 0, 0, "thread"}}) {
    SplineParams p;
    p.lambda = k.lambda;
    p.tension = k.tension;
    p.threads = k.threads;
    Grid<double> u;
    try {
      fit(c, p, u);
      ADD_FAILURE() << k.words;
    } catch (const std::invalid_argument& e) {
      const std::string m = e.what();
      EXPECT_NE(m.find(k.words), std::string::npos) << m;
      EXPECT_EQ(m.find('\n'), std::string::npos) << m;
    }
  }
  Grid<double> u;
  EXPECT_THROW(fit(testing::grid("U U / U U"), SplineParams{}, u), std::invalid_argument);
}

TEST(Spline, StopsWhenAskedAndChoosesLambdaFromBoundedWindows) {
  Rng rng(testing::base_seed() + 3);
  const IntGrid c = terrain_contours(rng, 70, 90, false);
  bool stop = true;
  auto ask = [&] { return stop; };
  Grid<double> u;
  EXPECT_THROW(fit_spline(c, SplineParams{}, u, nullptr, CancelCheck(ask)), Cancelled);
  stop = false;
  std::vector<double> fractions;
  const SplineStats s = fit_spline(c, SplineParams{}, u, [&](double f) { fractions.push_back(f); }, CancelCheck(ask));
  EXPECT_TRUE(s.lambda_chosen);
  EXPECT_GT(s.windows, 0);
  // The choice sees the raster only through the windows it reads: any
  // reader of the same pixels (a tile store, say) gives the same lambda.
  ThreadPool pool(1);
  // The edge bands' factorisation (seconds on a large raster) stops too.
  stop = true;
  const spline::Level level = spline::finest_level(c, 0.3, 0.0);
  EXPECT_THROW(spline::EdgeBands(level, 8, pool, CancelCheck(ask)), Cancelled);
  stop = false;
  auto copy_window = [&](int r0, int c0, IntGrid& w) {
    for (int i = 0; i < w.rows(); ++i) std::copy(c[r0 + i] + c0, c[r0 + i] + c0 + w.cols(), w[i]);
  };
  const spline::LambdaChoice both = spline::choose_lambda_and_tension(c.rows(), c.cols(), copy_window, pool, {});
  EXPECT_EQ(s.lambda, both.lambda);
  EXPECT_EQ(s.tension, both.tension);
  EXPECT_TRUE(s.tension_chosen);
  // The tension chosen is the one whose own scan scores least, with that
  // scan's lambda; a fit given the pair is the same surface.
  const spline::LambdaChoice plate = spline::choose_lambda(c.rows(), c.cols(), copy_window, 0.0, pool, {});
  const spline::LambdaChoice tense = spline::choose_lambda(c.rows(), c.cols(), copy_window, 0.1, pool, {});
  const spline::LambdaChoice& least = tense.score < plate.score ? tense : plate;
  EXPECT_EQ(both.tension, least.tension);
  EXPECT_EQ(both.lambda, least.lambda);
  EXPECT_EQ(both.score, std::min(plate.score, tense.score));
  SplineParams given;
  given.lambda = s.lambda;
  given.tension = s.tension;
  Grid<double> v;
  const SplineStats g = fit_spline(c, given, v, nullptr, {});
  EXPECT_FALSE(g.lambda_chosen || g.tension_chosen);
  EXPECT_TRUE(std::equal(u.begin(), u.end(), v.begin(), v.end()));
  // A given lambda without a tension fits the thin plate.
  given.tension.reset();
  EXPECT_EQ(fit_spline(c, given, v, nullptr, {}).tension, 0.0);
  EXPECT_TRUE(std::is_sorted(fractions.begin(), fractions.end()));
  EXPECT_EQ(fractions.back(), 1.0);
  // On a large raster the choice reads a bounded number of fixed windows,
  // and only through its reader: here a gentle slope whose windows hold
  // too few levels to learn from, which leaves lambda at 1.
  const int rows = 1500, cols = 2000;
  std::int64_t read = 0;
  const spline::LambdaChoice choice = spline::choose_lambda(
      rows, cols,
      [&](int r0, int, IntGrid& w) {
        read += static_cast<std::int64_t>(w.size());
        for (int i = 0; i < w.rows(); ++i)
          for (int j = 0; j < w.cols(); ++j) w[i][j] = (r0 + i) % 500 == 0 ? (r0 + i) / 500 * 512 : kNoData;
      },
      0.0, pool, {});
  EXPECT_LE(read, 16 * 96 * 96);
  EXPECT_EQ(choice.windows, 0);
  EXPECT_EQ(choice.lambda, 1.0);
}

}  // namespace
}  // namespace tesk
