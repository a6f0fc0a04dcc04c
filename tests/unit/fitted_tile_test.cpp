// Tiles of a fitted surface: a tile whose halo reaches every edge is the
// whole fit, byte for byte; a tile proven by its wider halo lies within the
// tolerance of the whole fit; a tile in a sea wider than its halo is not
// proven, nor one whose contours leave the surface undecided.  The bound
// and the overlay of a window, case by case.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "core/run_error.h"
#include "support/test_support.h"
#include "tiles/fitted_tile.h"
#include "tiles/holes.h"

namespace tesk {
namespace {

using namespace testing;

// The whole raster's ranges of hole borders, as the tiles read them.
HoleRanges ranges_of(const IntGrid& raster) {
  const BlockLabels l = label_block(raster);
  return hole_ranges(raster, {l.borders.begin(), l.borders.begin() + l.edge_labels});
}

TEST(FittedTile, BoundAndOverlayCaseByCase) {
  // A hole bordered by 0 and 512, values beyond and within an interval of
  // them; a hole without border left as it is; contour pixels laid back or
  // not.
  const IntGrid c = grid("0 U U 512 / 0 U U 512");
  const HoleRanges r = ranges_of(c);
  for (const bool overlay : {false, true}) {
    Grid<double> s(2, 4);
    const double v[] = {3.5, -600, 1100, 7.25, 2, 10, 1024, 600};
    std::copy(std::begin(v), std::end(v), s.begin());
    bound_and_overlay(s, c, r.lo, r.hi, overlay);
    const double want[] = {overlay ? 0.0 : 3.5, -512, 1024, overlay ? 512.0 : 7.25,
                           overlay ? 0.0 : 2, 10, 1024, overlay ? 512.0 : 600};
    EXPECT_TRUE(std::equal(s.begin(), s.end(), std::begin(want))) << "overlay " << overlay;
  }
  const IntGrid none = grid("U U / U U");
  const HoleRanges n = ranges_of(none);
  Grid<double> s(2, 2);
  s[0][0] = 1e9;
  bound_and_overlay(s, none, n.lo, n.hi, false);
  EXPECT_EQ(s[0][0], 1e9);
}

// Contour lines every few pixels, as on a digitised map, of waves whose
// phase the seed sets; with a sea, none below level 0 but the coastline.
IntGrid waves(Rng& rng, int rows, int cols, bool sea) {
  const double a = uniform(rng, 0, 99) / 10.0, b = uniform(rng, 0, 99) / 10.0;
  const auto z = [&](int i, int j) {
    return 3000 * std::sin(i / 15.0 + a) + 2500 * std::cos(j / 19.0 + b) + 2000 * std::sin((i + j) / 23.0);
  };
  IntGrid g(rows, cols);
  for (int i = 0; i < rows; ++i)
    for (int j = 0; j < cols; ++j) {
      const double u = z(i, j), v = std::max(z(i, j + 1), z(i + 1, j));
      const double level = std::floor(std::max(u, v) / 512) * 512;
      g[i][j] = level > std::min(u, v) && !(sea && level < 0) ? static_cast<std::int32_t>(level) : kNoData;
    }
  return g;
}

// Each tile's halo doubled until its check passes, as a run by tiles does:
// every tile ends within the tolerance of the whole fit (beyond the check's
// own words, which compare two halos), most of them before their halo
// reaches the whole raster.
TEST(FittedTile, ProvenTilesLieWithinTheToleranceOfTheWholeFit) {
  Rng rng(base_seed() + 50);
  const double tolerance = 0.512;  // a thousandth of the interval
  int early = 0, tiles = 0;
  for (const bool sea : {false, true}) {
    const int rows = 144, cols = 168;
    const IntGrid c = waves(rng, rows, cols, sea);
    const HoleRanges r = ranges_of(c);
    SplineParams p;
    p.lambda = 0.3;
    Grid<double> whole;
    fit_spline(c, p, whole, {}, {});
    const FittedTileInput in{window_reader(c), window_reader(r.lo), window_reader(r.hi)};
    for (int r0 = 0; r0 < rows; r0 += 48)
      for (int c0 = 0; c0 < cols; c0 += 56) {
        TileRequest q{rows, cols, {r0, c0, 48, 56}, 8};
        FittedTile t = fit_tile(q, 16, p, tolerance, false, in, {});
        while (!t.certified) q.halo *= 2, t = fit_tile(q, 2 * q.halo, p, tolerance, false, in, {});
        ++tiles;
        early += q.halo < 64;
        double off = 0;
        for (int i = 0; i < 48; ++i)
          for (int j = 0; j < 56; ++j) off = std::max(off, std::fabs(t.values[i][j] - whole[r0 + i][c0 + j]));
        EXPECT_LE(off, tolerance) << "sea " << sea << " tile " << r0 << "," << c0 << " halo " << q.halo;
      }
    // A halo that reaches every edge gives the whole fit itself.
    const FittedTile all = fit_tile({rows, cols, {48, 56, 48, 56}, 60}, rows, p, tolerance, false, in, {});
    EXPECT_TRUE(all.certified);
    for (int i = 0; i < 48; ++i) EXPECT_TRUE(std::equal(all.values[i], all.values[i] + 56, whole[48 + i] + 56));
  }
  EXPECT_GE(early, tiles / 2);  // a check that proves nothing short of the whole raster is no check
}

TEST(FittedTile, ASeaWiderThanTheHaloIsNotProven) {
  // Contours in the top left corner only; the tile in the far corner sees
  // none within its halo, and its wider fit pulls it another way.
  IntGrid c(80, 80);
  std::fill(c.begin(), c.end(), kNoData);
  for (int k = 0; k < 20; ++k) c[k][19 - k] = 0, c[k][9 - std::min(k, 9)] = 512;
  const HoleRanges r = ranges_of(c);
  SplineParams p;
  p.lambda = 1;
  const FittedTileInput in{window_reader(c), window_reader(r.lo), window_reader(r.hi)};
  const FittedTile t = fit_tile({80, 80, {60, 60, 20, 20}, 4}, 8, p, 0.512, false, in, {});
  EXPECT_FALSE(t.certified);
  EXPECT_GT(t.uncertain, 0);
}

// Contours of one value, or on one straight line, leave planes free: the
// whole fit of one value is flat, of several on a line refused without
// tension; a tile
// whose extents see such contours only is not proven, however well its two
// fits agree, and its halo grows to the contours that decide it.
TEST(FittedTile, ContoursThatLeaveTheSurfaceUndecided) {
  const struct {
    const char* grid;
    ContourSpread spread;
  } table[] = {
      {"U U / U U", ContourSpread::kNone},
      {"U U U / U 7 U", ContourSpread::kOneValue},
      {"7 7 7 / U U U / 7 U U", ContourSpread::kOneValue},
      {"U 0 U U / U U 512 U / U U U 9", ContourSpread::kOneLine},
      {"U 0 U U / U U U U / U 512 U U", ContourSpread::kOneLine},
      {"0 U U / U 512 U / 9 U U", ContourSpread::kSurface},
      {"0 U 512 / U U U / 9 U 0", ContourSpread::kSurface},
      {"0 U 512 U 9", ContourSpread::kSurface},  // one row: nothing across it is left free
      {"0 / U / 512", ContourSpread::kSurface},
  };
  for (const auto& row : table) {
    const IntGrid c = grid(row.grid);
    EXPECT_EQ(contour_spread(c), row.spread) << row.grid;
    Grid<double> out;
    SplineParams p;
    p.lambda = 1;
    if (row.spread == ContourSpread::kOneValue) {
      EXPECT_EQ(fit_spline(c, p, out, {}, {}).iterations, 0) << row.grid;
      EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](double v) { return v == 7; })) << row.grid;
    }
    if (row.spread == ContourSpread::kOneLine) {  // refused without tension; with it, decided
      EXPECT_THROW(fit_spline(c, p, out, {}, {}), RunError) << row.grid;
      p.tension = 0.5;
      EXPECT_GT(fit_spline(c, p, out, {}, {}).iterations, 0) << row.grid;
      p.lambda.reset();  // the smoothing chosen (here from no window at all) keeps the tension given
      EXPECT_EQ(fit_spline(c, p, out, {}, {}).tension, 0.5) << row.grid;
      p.lambda = 1;
      EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](double v) { return v > -512 && v < 1024; })) << row.grid;
    }
    if (row.spread == ContourSpread::kSurface) {
      EXPECT_GT(fit_spline(c, p, out, {}, {}).iterations, 0) << row.grid;
    }
  }

  // Two straight contours; the tile beyond the second sees it alone with
  // both halos, flat there, while the whole fit rises on past it.
  IntGrid c(100, 70);
  std::fill(c.begin(), c.end(), kNoData);
  std::fill(c[25], c[26], 0);
  std::fill(c[75], c[76], 512);
  const HoleRanges r = ranges_of(c);
  SplineParams p;
  p.lambda = 1;
  Grid<double> whole;
  fit_spline(c, p, whole, {}, {});
  const FittedTileInput in{window_reader(c), window_reader(r.lo), window_reader(r.hi)};
  TileRequest q{100, 70, {64, 0, 36, 70}, 4};
  FittedTile t = fit_tile(q, 8, p, 0.512, false, in, {});
  EXPECT_FALSE(t.certified);
  EXPECT_EQ(t.uncertain, 36 * 70);
  while (!t.certified) q.halo *= 2, t = fit_tile(q, 2 * q.halo, p, 0.512, false, in, {});
  EXPECT_GE(q.halo, 32);  // the first contour lies 39 rows above the core
  for (int i = 0; i < 36; ++i)
    for (int j = 0; j < 70; ++j) ASSERT_NEAR(t.values[i][j], whole[64 + i][j], 0.512) << i << "," << j;
}

}  // namespace
}  // namespace tesk
