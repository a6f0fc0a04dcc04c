// The fast stages against the literal ones, on many random grids: the same
// bytes, the same counts, the same progress reports, at every thread count.
//
// The grids are drawn from a fixed seed (TESK_TEST_SEED overrides it), so a
// failure names the case and can be replayed.  The shapes include 1 x N and
// N x 1 strips and odd sizes up to a few hundred pixels a side; the values
// include negatives, values next to the no-data marker and next to the
// largest int, values around 99999999 and the file markers; the patterns
// range from no data pixel at all to no no-data pixel at all, through
// scattered points and the contour lines of a synthetic terrain.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "core/units.h"
#include "stages/conversion.h"
#include "stages/conversion_fast.h"
#include "stages/dilation.h"
#include "stages/dilation_fast.h"
#include "stages/gap_filling.h"
#include "stages/gap_filling_fast.h"
#include "core/thread_pool.h"
#include "stages/pipeline.h"
#include "stages/quantisation.h"
#include "stages/smoothing.h"
#include "stages/smoothing_fast.h"

namespace tesk {
namespace {

std::uint32_t base_seed() {
  if (const char* s = std::getenv("TESK_TEST_SEED")) return static_cast<std::uint32_t>(std::strtoul(s, nullptr, 10));
  return 20240611u;
}

using Rng = std::mt19937;

int uniform(Rng& rng, int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); }
bool chance(Rng& rng, double p) { return std::uniform_real_distribution<double>(0.0, 1.0)(rng) < p; }

struct Shape {
  int rows;
  int cols;
};

// Strips, small odd shapes, medium grids and a few long or large ones.
Shape random_shape(Rng& rng) {
  switch (uniform(rng, 0, 9)) {
    case 0: return {1, uniform(rng, 1, 300)};
    case 1: return {uniform(rng, 1, 300), 1};
    case 2: return {uniform(rng, 2, 3), uniform(rng, 2, 120)};
    case 3: return {uniform(rng, 2, 120), uniform(rng, 2, 3)};
    case 4:
    case 5: return {uniform(rng, 1, 9), uniform(rng, 1, 9)};
    case 6:
    case 7: return {uniform(rng, 5, 40), uniform(rng, 5, 40)};
    case 8: return {uniform(rng, 40, 90), uniform(rng, 40, 90)};
    default: return {uniform(rng, 150, 260), uniform(rng, 150, 260)};
  }
}

// Values of data pixels in internal units, by family.
std::int32_t random_internal_value(Rng& rng, int family) {
  switch (family) {
    case 0: return uniform(rng, -40, 40);
    case 1: return uniform(rng, -3000000, 3000000);
    case 2: return 99999999 + uniform(rng, -3, 3);
    case 3: return chance(rng, 0.5) ? INT_MIN + uniform(rng, 1, 4) : INT_MAX - uniform(rng, 0, 3);
    case 4: return (chance(rng, 0.5) ? 65500 : 10000000) + uniform(rng, -1, 1);
    default: {
      const int f = uniform(rng, 0, 4);
      return random_internal_value(rng, f);
    }
  }
}

// A pattern of data pixels: which pixels hold data, and the level of each
// (pixels of one level share a value).
struct Pattern {
  std::vector<char> data;
  std::vector<int> level;
};

Pattern random_pattern(Rng& rng, Shape s) {
  const std::size_t n = static_cast<std::size_t>(s.rows) * static_cast<std::size_t>(s.cols);
  Pattern p{std::vector<char>(n, 0), std::vector<int>(n, 0)};
  const bool large = s.rows * s.cols > 6000;
  int kind = uniform(rng, 0, 9);
  if (large && kind <= 2) kind = 5;  // sparse points on a large grid: too slow for the literal reference
  switch (kind) {
    case 0:  // no data pixel at all
      break;
    case 1:  // a single data pixel
      p.data[static_cast<std::size_t>(uniform(rng, 0, static_cast<int>(n) - 1))] = 1;
      break;
    case 2: {  // scattered points
      const double d = std::uniform_real_distribution<double>(0.01, 0.2)(rng);
      for (std::size_t x = 0; x < n; ++x) {
        p.data[x] = chance(rng, d);
        p.level[x] = uniform(rng, 0, 6);
      }
      break;
    }
    case 3:  // every pixel holds data
      for (std::size_t x = 0; x < n; ++x) {
        p.data[x] = 1;
        p.level[x] = uniform(rng, 0, 3);
      }
      break;
    case 4: {  // dense random
      for (std::size_t x = 0; x < n; ++x) {
        p.data[x] = chance(rng, 0.6);
        p.level[x] = uniform(rng, 0, 10);
      }
      break;
    }
    default: {  // contour lines of a synthetic terrain
      const double fx = std::uniform_real_distribution<double>(0.05, 0.6)(rng);
      const double fy = std::uniform_real_distribution<double>(0.05, 0.6)(rng);
      const double fz = std::uniform_real_distribution<double>(0.02, 0.3)(rng);
      const double px = std::uniform_real_distribution<double>(0.0, 6.0)(rng);
      const double py = std::uniform_real_distribution<double>(0.0, 6.0)(rng);
      const double interval = std::uniform_real_distribution<double>(0.3, 1.5)(rng);
      auto f = [&](int i, int j) {
        return 2.0 * std::sin(i * fy + py) + 2.0 * std::cos(j * fx + px) + 1.5 * std::sin((i - j) * fz);
      };
      auto lev = [&](int i, int j) { return static_cast<int>(std::floor(f(i, j) / interval)); };
      for (int i = 0; i < s.rows; ++i) {
        for (int j = 0; j < s.cols; ++j) {
          const int l = lev(i, j);
          const bool edge = (j + 1 < s.cols && lev(i, j + 1) != l) || (i + 1 < s.rows && lev(i + 1, j) != l);
          const std::size_t x = static_cast<std::size_t>(i) * static_cast<std::size_t>(s.cols) + static_cast<std::size_t>(j);
          p.data[x] = edge || chance(rng, 0.002);
          p.level[x] = l + 20;
        }
      }
      break;
    }
  }
  return p;
}

// An internal-unit grid: data pixels get per-level values of one family
// (ordered with the level or not), the others the no-data marker.
IntGrid random_internal_grid(Rng& rng, Shape s) {
  const Pattern p = random_pattern(rng, s);
  const int family = uniform(rng, 0, 5);
  const bool ordered = chance(rng, 0.5);
  const std::int32_t step = uniform(rng, -700, 700);
  std::vector<std::int32_t> by_level(64);
  for (auto& v : by_level) v = random_internal_value(rng, family);
  IntGrid g(s.rows, s.cols);
  for (std::size_t x = 0; x < g.size(); ++x) {
    if (!p.data[x]) {
      g.data()[x] = kNoData;
      continue;
    }
    const int l = std::clamp(p.level[x], 0, 63);
    std::int32_t v = ordered && family <= 1 ? static_cast<std::int32_t>(l * step) : by_level[static_cast<std::size_t>(l)];
    if (chance(rng, 0.03)) v = random_internal_value(rng, family);
    g.data()[x] = v;
  }
  return g;
}

std::string describe(std::uint32_t seed, int index, Shape s) {
  std::ostringstream o;
  o << "seed " << seed << " case " << index << " (" << s.rows << " x " << s.cols << ")";
  return o.str();
}

IntGrid copy_of(const IntGrid& g) {
  IntGrid c(g.rows(), g.cols());
  std::copy(g.begin(), g.end(), c.begin());
  return c;
}

bool same(const IntGrid& a, const IntGrid& b) { return a.same_shape(b) && std::equal(a.begin(), a.end(), b.begin()); }
bool same(const ByteGrid& a, const ByteGrid& b) {
  return a.rows() == b.rows() && a.cols() == b.cols() && std::equal(a.begin(), a.end(), b.begin());
}

std::string pass_line(const PassReport& r) {
  std::ostringstream o;
  o << r.degree << ":" << r.to_treat << ":" << r.previous_modified;
  return o.str();
}

// ---------------------------------------------------------------------------
// Dilation: grids, pass counts, growth sweep counts and pass reports.

TEST(FastVsLiteral, DilationMatchesOnRandomGrids) {
  const std::uint32_t seed = base_seed();
  Rng rng(seed);
  ThreadPool pools[3] = {ThreadPool(1), ThreadPool(2), ThreadPool(3)};
  for (int c = 0; c < 320; ++c) {
    const Shape s = random_shape(rng);
    const IntGrid start = random_internal_grid(rng, s);
    // A tiny frontier list now and then, so that layers overflow it and are
    // found by scanning instead, and the flood that drops final components
    // overflows its stack; the flood after every pass, after none, or only
    // near the end.
    FastDilationLimits limits;
    limits.stack_capacity = chance(rng, 0.3) ? static_cast<std::size_t>(uniform(rng, 1, 6)) : 0;
    switch (uniform(rng, 0, 3)) {
      case 0: limits.flood_limit = SIZE_MAX; break;
      case 1: limits.flood_limit = static_cast<std::size_t>(uniform(rng, 1, 40)); break;
      default: break;
    }
    // Every pass with the straight-line walks, none, or as chosen.
    switch (uniform(rng, 0, 2)) {
      case 0: limits.dense_share = 0.0; break;
      case 1: limits.dense_share = 2.0; break;
      default: break;
    }
    // Lanes of columns down to one tile each and blocks of rows (the
    // flood's) down to a single row each, so that their edges fall
    // everywhere: 1, 2 or 3 threads.
    limits.min_block_rows = chance(rng, 0.5) ? uniform(rng, 1, 3) : uniform(rng, 1, 40);
    limits.min_lane_tiles = chance(rng, 0.7) ? 1 : uniform(rng, 1, 4);
    limits.lane_row_tiles = chance(rng, 0.7) ? 1 : uniform(rng, 1, 12);
    limits.max_lanes = 3;  // as many lanes as threads, whatever the processors
    // Now and then the lanes merge, as when another process takes a
    // processor, a few rows into every walk.
    if (chance(rng, 0.25)) limits.merge_at_step = uniform(rng, 1, 12);
    ThreadPool& pool = pools[c % 3];

    IntGrid lit = copy_of(start), l1(s.rows, s.cols), l2(s.rows, s.cols);
    std::vector<std::string> lit_reports;
    const DilationStats ls = dilate_literal(lit, l1, l2, [&](const PassReport& r) { lit_reports.push_back(pass_line(r)); });

    IntGrid fast = copy_of(start), grown(s.rows, s.cols);
    ByteGrid state(s.rows, s.cols);
    std::vector<std::string> fast_reports;
    const FastDilationStats fs = dilate_fast(
        fast, grown, state, [&](const PassReport& r) { fast_reports.push_back(pass_line(r)); }, limits, &pool);

    const std::string what = describe(seed, c, s) + " stack " + std::to_string(limits.stack_capacity) +
                             " flood limit " + std::to_string(limits.flood_limit) + " dense share " +
                             std::to_string(limits.dense_share) + " block rows " +
                             std::to_string(limits.min_block_rows) + " lane tiles " +
                             std::to_string(limits.min_lane_tiles) + "/" + std::to_string(limits.lane_row_tiles) +
                             " merge " + std::to_string(limits.merge_at_step) +
                             " threads " + std::to_string(pool.size());
    ASSERT_TRUE(same(lit, fast)) << what;
    ASSERT_EQ(ls.passes, fs.passes) << what;
    ASSERT_EQ(ls.growth_sweeps, fs.growth_sweeps) << what;
    ASSERT_EQ(lit_reports, fast_reports) << what;
    // The work counted does not depend on the threads either, as long as
    // no flood stack can overflow (each holds at least 4096 entries by
    // default, and a pixel is stacked at most once).
    if (pool.size() > 1 && limits.stack_capacity == 0 && s.rows * s.cols <= 4096) {
      IntGrid one = copy_of(start);
      const FastDilationStats os = dilate_fast(one, grown, state, nullptr, limits);
      ASSERT_EQ(os.pixels_visited, fs.pixels_visited) << what;
      ASSERT_EQ(os.pixels_dropped, fs.pixels_dropped) << what;
    }
  }
}

// Grids without a pixel: nothing to grow, one pass as in the literal
// stage, with or without threads.
TEST(FastVsLiteral, DilationOfEmptyGrids) {
  ThreadPool pool(2);
  for (const auto& [rows, cols] : {std::pair{0, 5}, std::pair{5, 0}, std::pair{0, 0}}) {
    for (ThreadPool* p : {static_cast<ThreadPool*>(nullptr), &pool}) {
      IntGrid lit(rows, cols), l1(rows, cols), l2(rows, cols);
      const DilationStats ls = dilate_literal(lit, l1, l2, nullptr);
      IntGrid fast(rows, cols), grown(rows, cols);
      ByteGrid state(rows, cols);
      const FastDilationStats fs = dilate_fast(fast, grown, state, nullptr, {}, p);
      EXPECT_EQ(fs.passes, ls.passes) << rows << " x " << cols;
      EXPECT_EQ(fs.growth_sweeps, ls.growth_sweeps) << rows << " x " << cols;
    }
  }
}

// Grids built to make growth step diagonally between data pixels, into
// pockets that stay no-data for several passes, along the first and last
// rows and columns.
TEST(FastVsLiteral, DilationMatchesOnDiagonalAndBorderCases) {
  std::vector<IntGrid> grids;
  const std::int32_t U = kNoData;
  // A diagonal staircase of data with pockets on both sides.
  {
    IntGrid g(12, 12);
    std::fill(g.begin(), g.end(), U);
    for (int k = 0; k < 12; ++k) g[k][k] = 10 * k;
    for (int k = 0; k + 2 < 12; ++k) g[k][k + 2] = 500 - k;
    grids.push_back(std::move(g));
  }
  // Checkerboard of data: every no-data pixel has four data neighbours.
  {
    IntGrid g(7, 9);
    for (int i = 0; i < 7; ++i)
      for (int j = 0; j < 9; ++j) g[i][j] = (i + j) % 2 ? U : (i * 9 + j) % 5 - 2;
    grids.push_back(std::move(g));
  }
  // Data only on the diagonal corners of a frame: growth enters only
  // through diagonal steps.
  {
    IntGrid g(9, 9);
    std::fill(g.begin(), g.end(), U);
    g[0][0] = 1;
    g[0][8] = 900;
    g[8][0] = -900;
    g[8][8] = INT_MAX;
    g[4][4] = INT_MIN + 1;
    grids.push_back(std::move(g));
  }
  // A closed ring of one value around a pocket, next to a ramp.
  {
    IntGrid g(10, 14);
    std::fill(g.begin(), g.end(), U);
    for (int k = 1; k < 8; ++k) g[1][k] = g[7][k] = g[k][1] = g[k][7] = 300;
    for (int i = 0; i < 10; ++i) g[i][12] = 100 * i;
    grids.push_back(std::move(g));
  }
  // A pocket of one value that stops changing after the first pass, joined
  // only through a diagonal gap between two data pixels to a region that
  // keeps changing: the pixels on both sides of the gap take their values
  // from the two data pixels, and no growth may cross it either way.
  {
    IntGrid g(16, 24);
    std::fill(g.begin(), g.end(), U);
    for (int k = 0; k < 8; ++k) g[2][2 + k] = g[9][2 + k] = g[2 + k][2] = g[2 + k][9] = 700;
    g[9][9] = U;  // corner open diagonally: (9,9) touches (8,8) and (10,10)
    g[9][8] = g[8][9] = 700;
    for (int i = 0; i < 16; ++i) g[i][23] = -40 * i;
    for (int j = 12; j < 20; ++j) g[13][j] = 9000;
    grids.push_back(std::move(g));
  }
  // The same pocket shut (it dies), deeper than anything still changing.
  {
    IntGrid g(16, 24);
    std::fill(g.begin(), g.end(), U);
    for (int k = 0; k < 12; ++k) g[0][k] = g[11][k] = g[k][0] = g[k][11] = 250;
    for (int i = 0; i < 16; ++i) g[i][23] = 3 * i;
    g[15][12] = 90000;
    grids.push_back(std::move(g));
  }
  for (int n : {1, 2, 3, 31, 62}) {
    IntGrid row(1, n), col(n, 1);
    std::fill(row.begin(), row.end(), U);
    std::fill(col.begin(), col.end(), U);
    row[0][0] = col[0][0] = 5;
    row[0][n - 1] = col[n - 1][0] = 5 + 64 * n;
    grids.push_back(std::move(row));
    grids.push_back(std::move(col));
  }
  // Strips whose middle dies early while both ends keep changing.
  for (int n : {9, 40}) {
    IntGrid row(1, n), col(n, 1);
    std::fill(row.begin(), row.end(), U);
    std::fill(col.begin(), col.end(), U);
    row[0][0] = col[0][0] = -1000;
    row[0][n / 2 - 2] = row[0][n / 2 + 2] = col[n / 2 - 2][0] = col[n / 2 + 2][0] = 17;
    row[0][n - 1] = col[n - 1][0] = 1000000;
    grids.push_back(std::move(row));
    grids.push_back(std::move(col));
  }
  // Rows wider than 64 tiles of 16 pixels (the tile masks take more than
  // one word).  Mostly data, with a block of holes ending at the last column
  // of tile 63 or starting at the first of tile 64: the pixel at the block's
  // edge in the middle row has its only data neighbour across the word
  // boundary, so the data keys there must be built.  Then a row with holes
  // on both sides of the boundary, gaps of more than four tiles between
  // them, and holes at the first and last columns.
  {
    const std::pair<int, int> blocks[] = {{1012, 1024}, {1024, 1036}};
    for (const auto& [a, b] : blocks) {
      IntGrid g(3, 1100);
      for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 1100; ++j) g[i][j] = (j * 37 + i * 101) % 1000 - 300;
      for (int i = 0; i < 3; ++i)
        for (int j = a; j < b; ++j) g[i][j] = U;
      grids.push_back(std::move(g));
    }
    IntGrid g(2, 2100);
    for (int j = 0; j < 2100; ++j) g[0][j] = g[1][j] = (j * 53) % 900;
    const std::pair<int, int> holes[] = {{0, 5}, {500, 530}, {1000, 1016}, {1020, 1030}, {1090, 1098}, {2000, 2100}};
    for (const auto& [a, b] : holes)
      for (int j = a; j < b; ++j) g[(j / 3) % 2][j] = U;
    grids.push_back(std::move(g));
  }
  const FastDilationLimits variants[] = {{0, 0},         {1, 0},         {3, 0},         {0, SIZE_MAX},
                                         {1, SIZE_MAX},  {3, SIZE_MAX},  {0, 1},         {0, 0, 0.0},
                                         {0, 0, 2.0},    {1, SIZE_MAX, 0.0}, {3, 1, 2.0}};
  ThreadPool pools[3] = {ThreadPool(1), ThreadPool(2), ThreadPool(3)};
  for (const auto& start : grids) {
    for (FastDilationLimits limits : variants) {
     for (ThreadPool& pool : pools) {
      limits.min_block_rows = 1;
      limits.min_lane_tiles = 1;
      limits.lane_row_tiles = 1;
      limits.max_lanes = 3;
      IntGrid lit = copy_of(start), l1(start.rows(), start.cols()), l2(start.rows(), start.cols());
      std::vector<std::string> lr, fr;
      const DilationStats ls = dilate_literal(lit, l1, l2, [&](const PassReport& r) { lr.push_back(pass_line(r)); });
      IntGrid fast = copy_of(start), grown(start.rows(), start.cols());
      ByteGrid state(start.rows(), start.cols());
      const FastDilationStats fs =
          dilate_fast(fast, grown, state, [&](const PassReport& r) { fr.push_back(pass_line(r)); }, limits, &pool);
      const std::string what = std::to_string(start.rows()) + " x " + std::to_string(start.cols()) + " stack " +
                               std::to_string(limits.stack_capacity) + " flood limit " +
                               std::to_string(limits.flood_limit) + " dense share " +
                               std::to_string(limits.dense_share) + " threads " + std::to_string(pool.size());
      EXPECT_TRUE(same(lit, fast)) << what;
      EXPECT_EQ(ls.passes, fs.passes) << what;
      EXPECT_EQ(ls.growth_sweeps, fs.growth_sweeps) << what;
      EXPECT_EQ(lr, fr) << what;
     }
    }
  }
}

// A pocket inside a frame of one value grows to that value and never gets a
// midpoint: it is final after the first pass and is dropped once its depth
// is known, while a strip beside it changes for two passes.  Every figure
// below is worked out by hand.
//
//   cols 0..29: frame of 500 round a 28 x 28 pocket (14 layers deep: the
//               chessboard distance from its centre to the frame)
//   col 30, 31: no data;  col 32: data 0
//   pass 1: col 30 grows 500 (frame on its left), col 31 grows 0; col 31
//           gets the midpoint of 0 and 500, 250.
//   pass 2: col 30 grows min(500, 250) = 250 and gets the midpoint of 250
//           and 500, 375.
//   pass 3: only the pocket is left; it writes nothing.
// The literal passes sweep the grid 1 + 14 times each, the pocket's depth
// counting in the third pass too, when only the pocket is still grown.
TEST(FastDilation, FinalPocketIsDroppedButStillCountsInTheSweeps) {
  const std::int32_t U = kNoData;
  IntGrid g(30, 33);
  std::fill(g.begin(), g.end(), U);
  for (int k = 0; k < 30; ++k) g[0][k] = g[29][k] = g[k][0] = g[k][29] = 500;
  for (int i = 0; i < 30; ++i) g[i][32] = 0;

  for (const FastDilationLimits limits :
       {FastDilationLimits{}, FastDilationLimits{1, SIZE_MAX}, FastDilationLimits{0, 0, 0.0},
        FastDilationLimits{1, SIZE_MAX, 2.0}}) {
    IntGrid itab = copy_of(g), grown(30, 33);
    ByteGrid state(30, 33);
    std::vector<std::string> reports;
    const FastDilationStats fs =
        dilate_fast(itab, grown, state, [&](const PassReport& r) { reports.push_back(pass_line(r)); }, limits);
    EXPECT_EQ(fs.passes, 3);
    EXPECT_EQ(fs.growth_sweeps, 3 * 15);
    EXPECT_EQ(reports, (std::vector<std::string>{"1:844:0", "2:814:30", "3:784:30"}));
    EXPECT_EQ(fs.pixels_dropped, 28 * 28);
    for (int i = 0; i < 30; ++i) {
      EXPECT_EQ(itab[i][30], 375) << i;
      EXPECT_EQ(itab[i][31], 250) << i;
      EXPECT_EQ(itab[i][32], 0) << i;
    }
    for (int i = 1; i < 29; ++i)
      for (int j = 1; j < 29; ++j) ASSERT_EQ(itab[i][j], U) << i << "," << j;
  }
}

// ---------------------------------------------------------------------------
// Gap filling: grids and sweep counts, on raw random grids and on what the
// dilation leaves.

TEST(FastVsLiteral, GapFillingMatchesOnRandomGrids) {
  const std::uint32_t seed = base_seed() + 1;
  Rng rng(seed);
  ThreadPool pools[3] = {ThreadPool(1), ThreadPool(2), ThreadPool(3)};
  for (int c = 0; c < 320; ++c) {
    const Shape s = random_shape(rng);
    IntGrid start = random_internal_grid(rng, s);
    if (chance(rng, 0.5)) {
      IntGrid a(s.rows, s.cols), b(s.rows, s.cols);
      dilate_literal(start, a, b, nullptr);
    }
    IntGrid lit = copy_of(start);
    const int lsweeps = fill_gaps_literal(lit);
    IntGrid fast = copy_of(start);
    ByteGrid flags(s.rows, s.cols);
    std::fill(flags.begin(), flags.end(), std::uint8_t{0xff});  // stale scratch must not matter
    const FastGapStats fs = fill_gaps_fast(fast, flags, c % 4 == 3 ? nullptr : &pools[c % 4]);
    const std::string what = describe(seed, c, s) + " threads " + std::to_string(c % 4 == 3 ? 0 : c % 4 + 1);
    ASSERT_TRUE(same(lit, fast)) << what;
    ASSERT_EQ(lsweeps, fs.sweeps) << what;
  }
}

// ---------------------------------------------------------------------------
// Smoothing: every window from 2 to 6 (and a few larger ones), with and
// without no-data samples, at 1, 2 and 3 threads.

TEST(FastVsLiteral, SmoothingMatchesOnRandomGrids) {
  const std::uint32_t seed = base_seed() + 2;
  Rng rng(seed);
  ThreadPool pools[3] = {ThreadPool(1), ThreadPool(2), ThreadPool(3)};
  for (int c = 0; c < 240; ++c) {
    const int maille = c % 10 == 9 ? uniform(rng, 7, 12) : 2 + c % 5;
    Shape s = random_shape(rng);
    s.rows = std::max(s.rows, maille + 1 + (c % 3 == 0 ? 0 : uniform(rng, 0, 6)));
    s.cols = std::max(s.cols, maille + 1 + (c % 4 == 0 ? 0 : uniform(rng, 0, 6)));
    IntGrid itab = random_internal_grid(rng, s);
    if (chance(rng, 0.7)) fill_gaps_literal(itab);  // mostly complete surfaces, sometimes holes
    if (chance(rng, 0.1)) std::fill(itab.begin(), itab.end(), kNoData);
    IntGrid before(s.rows, s.cols);
    for (auto& v : before) v = uniform(rng, -5, 5);

    IntGrid lit = copy_of(before);
    std::vector<int> lrows;
    smooth_literal(itab, lit, maille, [&](int i) { lrows.push_back(i); });
    IntGrid fast = copy_of(before);
    std::vector<int> frows;
    smooth_fast(itab, fast, maille, [&](int i) { frows.push_back(i); }, pools[c % 3]);
    const std::string what = describe(seed, c, s) + " maille " + std::to_string(maille);
    ASSERT_TRUE(same(lit, fast)) << what;
    ASSERT_EQ(lrows, frows) << what;
  }
}

TEST(FastVsLiteral, SmoothingRefusesWhatTheLiteralRefuses) {
  ThreadPool pool(2);
  IntGrid itab(3, 8), out(3, 8);
  EXPECT_THROW(smooth_fast(itab, out, 3, nullptr, pool), std::invalid_argument);
  EXPECT_THROW(smooth_fast(itab, out, 1, nullptr, pool), std::invalid_argument);
  EXPECT_THROW(smooth_fast(IntGrid(40, 40), out, kMaxMaille + 1, nullptr, pool), std::invalid_argument);
}

// ---------------------------------------------------------------------------
// Conversions, overlay, Min_max and quantisation shared among threads.

IntGrid random_raw_grid(Rng& rng, Shape s, int itype) {
  const Pattern p = random_pattern(rng, s);
  const int ival = ival_for(itype);
  std::vector<std::int32_t> by_level(64);
  for (auto& v : by_level) {
    if (itype == 0) {
      const int k = uniform(rng, 0, 3);
      v = k == 0 ? uniform(rng, 0, 300) : k == 1 ? uniform(rng, 0, 65535) : k == 2 ? 65500 + uniform(rng, -1, 35) : 65535;
    } else {
      const int k = uniform(rng, 0, 4);
      v = k == 0   ? uniform(rng, -2000, 2000)
          : k == 1 ? 99999999 + uniform(rng, -2, 2)
          : k == 2 ? 10000000 + uniform(rng, -2, 2)
          : k == 3 ? uniform(rng, -5000000, 5000000)
                   : uniform(rng, INT_MIN, INT_MAX);
    }
  }
  IntGrid g(s.rows, s.cols);
  for (std::size_t x = 0; x < g.size(); ++x)
    g.data()[x] = p.data[x] ? by_level[static_cast<std::size_t>(std::clamp(p.level[x], 0, 63))] : ival;
  return g;
}

bool same_fault(const std::optional<ConversionFault>& a, const std::optional<ConversionFault>& b) {
  if (a.has_value() != b.has_value()) return false;
  return !a || (a->row == b->row && a->col == b->col && a->value == b->value);
}

TEST(FastVsLiteral, ConversionsMatchOnRandomGrids) {
  const std::uint32_t seed = base_seed() + 3;
  Rng rng(seed);
  const int equids[] = {1, 2, 5, 10, 7, 1000, -3, 40000};
  ThreadPool pools[3] = {ThreadPool(1), ThreadPool(2), ThreadPool(3)};
  for (int c = 0; c < 150; ++c) {
    ThreadPool& pool = pools[c % 3];
    const Shape s = random_shape(rng);
    const int itype = uniform(rng, 0, 1);
    const int ival = ival_for(itype);
    const int equid = equids[uniform(rng, 0, 7)];
    const IntGrid raw = random_raw_grid(rng, s, itype);
    const std::string what = describe(seed, c, s) + " equid " + std::to_string(equid);

    IntGrid a = copy_of(raw), b = copy_of(raw);
    const auto fa = convert_to_internal(a, ival, equid);
    const auto fb = convert_to_internal_fast(b, ival, equid, pool);
    ASSERT_TRUE(same_fault(fa, fb)) << what;
    if (!fa) {
      ASSERT_TRUE(same(a, b)) << what;
    }

    IntGrid base(s.rows, s.cols);
    for (auto& v : base) v = uniform(rng, -100000, 100000);
    IntGrid oa = copy_of(base), ob = copy_of(base);
    const auto ga = overlay_contours(raw, oa, ival, equid);
    const auto gb = overlay_contours_fast(raw, ob, ival, equid, pool);
    ASSERT_TRUE(same_fault(ga, gb)) << what;
    if (!ga) {
      ASSERT_TRUE(same(oa, ob)) << what;
    }

    IntGrid internal(s.rows, s.cols);
    for (auto& v : internal) v = chance(rng, 0.1) ? kNoData : uniform(rng, INT_MIN + 1, INT_MAX);
    if (chance(rng, 0.5))
      for (auto& v : internal)
        if (v != kNoData) v = v % 400000;
    IntGrid ba = copy_of(internal), bb = copy_of(internal);
    convert_to_altitude(ba, ival, equid);
    convert_to_altitude_fast(bb, ival, equid, pool);
    ASSERT_TRUE(same(ba, bb)) << what;

    int mina = ba[0][0], maxa = ba[0][0], minb = ba[0][0], maxb = ba[0][0];
    std::vector<int> ra, rb;
    Min_max(&mina, &maxa, ba, [&](int i) { ra.push_back(i); });
    min_max_fast(&minb, &maxb, ba, [&](int i) { rb.push_back(i); }, pool);
    ASSERT_EQ(mina, minb) << what;
    ASSERT_EQ(maxa, maxb) << what;
    ASSERT_EQ(ra, rb) << what;

    ByteGrid qa(s.rows, s.cols), qb(s.rows, s.cols);
    quantise(ba, qa, mina, maxa);
    quantise_fast(ba, qb, mina, maxa, pool);
    ASSERT_TRUE(same(qa, qb)) << what;

    IntGrid ca(s.rows, s.cols);
    copy_grid_fast(ba, ca, pool);
    ASSERT_TRUE(same(ba, ca)) << what;
  }
}

// The preview bytes on lines chosen to hit arrondi's halves (a slope of
// exactly 0.5), its negative side and its saturation (values far outside
// the line's range), and the flat line.
TEST(FastVsLiteral, QuantiseMatchesOnHalvesAndFarValues) {
  const std::uint32_t seed = base_seed() + 9;
  Rng rng(seed);
  ThreadPool pool(2);
  const std::pair<int, int> lines[] = {{0, 510},          {-510, 0},          {-1, 1},
                                       {1, 2},            {-1000, 3},         {INT_MIN, INT_MAX},
                                       {INT_MIN, INT_MIN + 1}, {INT_MAX - 1, INT_MAX}, {-7, 100000000},
                                       {5, 5}};
  int c = 0;
  for (const auto& [lo, hi] : lines) {
    for (int k = 0; k < 20; ++k, ++c) {
      const Shape s = random_shape(rng);
      IntGrid v(s.rows, s.cols);
      for (auto& x : v) {
        const int pick = uniform(rng, 0, 9);
        x = pick == 0   ? INT_MIN
            : pick == 1 ? INT_MAX
            : pick == 2 ? uniform(rng, INT_MIN, INT_MAX)
            : pick == 3 ? uniform(rng, -2000000, 2000000)
                        : uniform(rng, std::max(lo, INT_MIN + 3) - 3, std::min(hi, INT_MAX - 3) + 3);
      }
      ByteGrid qa(s.rows, s.cols), qb(s.rows, s.cols);
      quantise(v, qa, lo, hi);
      quantise_fast(v, qb, lo, hi, pool);
      ASSERT_TRUE(same(qa, qb)) << describe(seed, c, s) << " line " << lo << " " << hi;
    }
  }
}

// ---------------------------------------------------------------------------
// The whole computation: outputs, statistics and the complete sequence of
// reports, literal against fast at 1, 2 and 3 threads.

class Transcript : public RunObserver {
 public:
  void pass_starting(const PassReport& r) override { add("pass " + pass_line(r)); }
  void smoothing_stage() override { add("stage"); }
  void smoothing_skipped(int m) override { add("skipped " + std::to_string(m)); }
  void smoothing_starting(int m) override { add("smoothing " + std::to_string(m)); }
  void smoothing_row(int r) override { add("srow " + std::to_string(r)); }
  void saving_starting() override { add("saving"); }
  void minmax_row(int r) override { add("mrow " + std::to_string(r)); }
  void minmax_found(int lo, int hi) override { add("minmax " + std::to_string(lo) + " " + std::to_string(hi)); }
  std::vector<std::string> lines;

 private:
  void add(std::string s) { lines.push_back(std::move(s)); }
};

struct Outcome {
  ByteGrid tab;
  IntGrid itab1;
  RunStats stats;
  std::vector<std::string> transcript;
  std::optional<ConversionFault> fault;
};

Outcome run_pipeline(const IntGrid& raw, const RunParams& p) {
  Outcome o;
  RunGrids g;
  g.allocate(raw.rows(), raw.cols(), p.literal);
  std::copy(raw.begin(), raw.end(), g.itab.begin());
  Transcript t;
  try {
    o.stats = compute_dem(g, p, [&](IntGrid& itab) { std::copy(raw.begin(), raw.end(), itab.begin()); }, t);
  } catch (const ConversionError& e) {
    o.fault = e.fault;
  }
  o.tab = std::move(g.tab);
  o.itab1 = std::move(g.itab1);
  o.transcript = std::move(t.lines);
  return o;
}

TEST(FastVsLiteral, WholeComputationMatchesOnRandomRasters) {
  const std::uint32_t seed = base_seed() + 4;
  Rng rng(seed);
  const int equids[] = {1, 2, 5, 10, 20, 3, -4, 1000};
  for (int c = 0; c < 300; ++c) {
    const Shape s = random_shape(rng);
    const int itype = uniform(rng, 0, 1);
    RunParams p;
    p.ival = ival_for(itype);
    p.equid = equids[uniform(rng, 0, 7)];
    p.maille = c % 7;  // 0 and 1 leave the result unsmoothed, 2..6 smooth
    p.overlay = c % 2 == 0;
    const IntGrid raw = random_raw_grid(rng, s, itype);

    p.literal = true;
    p.threads = 1;
    const Outcome lit = run_pipeline(raw, p);
    p.literal = false;
    p.threads = 1 + c % 3;
    const Outcome fast = run_pipeline(raw, p);

    const std::string what = describe(seed, c, s) + " itype " + std::to_string(itype) + " equid " +
                             std::to_string(p.equid) + " maille " + std::to_string(p.maille) + " overlay " +
                             std::to_string(p.overlay) + " threads " + std::to_string(p.threads);
    ASSERT_TRUE(same_fault(lit.fault, fast.fault)) << what;
    ASSERT_EQ(lit.transcript, fast.transcript) << what;
    if (lit.fault) continue;
    ASSERT_TRUE(same(lit.itab1, fast.itab1)) << what;
    ASSERT_TRUE(same(lit.tab, fast.tab)) << what;
    ASSERT_EQ(lit.stats.passes, fast.stats.passes) << what;
    ASSERT_EQ(lit.stats.growth_sweeps, fast.stats.growth_sweeps) << what;
    ASSERT_EQ(lit.stats.gap_sweeps, fast.stats.gap_sweeps) << what;
    ASSERT_EQ(lit.stats.min_al, fast.stats.min_al) << what;
    ASSERT_EQ(lit.stats.max_al, fast.stats.max_al) << what;
  }
}

// The thread count never changes a byte, on a grid large enough for every
// thread to get several blocks of rows.
TEST(FastVsLiteral, ThreadCountNeverChangesTheResult) {
  Rng rng(base_seed() + 5);
  const IntGrid raw = [&] {
    IntGrid g;
    do g = random_raw_grid(rng, {331, 297}, 0);
    while (std::count(g.begin(), g.end(), kIval16) == static_cast<std::ptrdiff_t>(g.size()));
    return g;
  }();
  RunParams p;
  p.ival = kIval16;
  p.equid = 10;
  p.maille = 3;
  p.threads = 1;
  const Outcome one = run_pipeline(raw, p);
  for (int t : {2, 3, 5}) {
    p.threads = t;
    const Outcome other = run_pipeline(raw, p);
    EXPECT_TRUE(same(one.itab1, other.itab1)) << t;
    EXPECT_TRUE(same(one.tab, other.tab)) << t;
    EXPECT_EQ(one.transcript, other.transcript) << t;
  }
}

// ---------------------------------------------------------------------------
// Memory and work bounds that hostile inputs must not break.

TEST(FastStages, FastRunKeepsNoThirdIntGrid) {
  RunGrids g;
  g.allocate(20, 30, /*literal=*/false);
  EXPECT_TRUE(g.itab2.empty());
  EXPECT_LE(RunGrids::bytes_per_pixel(false), 10u);
  g.allocate(20, 30, /*literal=*/true);
  EXPECT_EQ(g.itab2.rows(), 20);
}

// The work of the fast dilation and gap filling follows the no-data pixels
// and their neighbours, whatever the shape: a bounded number of visits per
// pixel and pass (a frontier that grew without bound, or a growth that
// swept the grid once per layer, would exceed it by far on these grids).
TEST(FastStages, WorkStaysProportionalToThePixels) {
  struct Case {
    int rows, cols;
  };
  for (const Case cs : {Case{30, 62}, Case{1, 4000}, Case{4000, 1}, Case{200, 200}}) {
    IntGrid itab(cs.rows, cs.cols);
    std::fill(itab.begin(), itab.end(), kNoData);
    // One data pixel in a corner and one in the middle: deep growth, many
    // layers per pass, many gap-filling sweeps.
    itab[0][0] = 1000;
    itab[cs.rows / 2][cs.cols / 2] = 3;
    IntGrid grown(cs.rows, cs.cols);
    ByteGrid state(cs.rows, cs.cols);
    const FastDilationStats d = dilate_fast(itab, grown, state, nullptr);
    const auto pixels = static_cast<std::int64_t>(itab.size());
    EXPECT_LE(d.pixels_visited, 5 * pixels * d.passes) << cs.rows << " x " << cs.cols;
    // The literal growth would sweep the whole grid once per layer.
    EXPECT_GT(d.growth_sweeps * pixels, 4 * d.pixels_visited) << cs.rows << " x " << cs.cols;

    IntGrid holes(cs.rows, cs.cols);
    std::fill(holes.begin(), holes.end(), kNoData);
    holes[cs.rows - 1][cs.cols - 1] = 9;  // fills one pixel upward or leftward per sweep
    const FastGapStats gs = fill_gaps_fast(holes, state);
    EXPECT_EQ(std::count(holes.begin(), holes.end(), 9), pixels);
    EXPECT_LE(gs.pixels_visited, 4 * pixels) << cs.rows << " x " << cs.cols;
  }
}

}  // namespace
}  // namespace tesk
