// Bernstein window smoothing: factorials and binomials, the weights held in
// single precision, the window placement and its shift at the borders.
#include "stages/smoothing.h"

#include <gtest/gtest.h>

#include <climits>
#include <stdexcept>
#include <vector>

#include "core/units.h"
#include "support/test_support.h"

namespace tesk {
namespace {

using testing::make_grid;
using testing::rows_of;
using testing::U;

using Rows = std::vector<std::vector<std::int32_t>>;

IntGrid filled(int rows, int cols, std::int32_t v) {
  IntGrid g(rows, cols);
  for (auto& x : g) x = v;
  return g;
}

float w(double num, double den) { return static_cast<float>(num / den); }

TEST(Smoothing, FactorialsAndBinomials) {
  EXPECT_EQ(Fact(0), 1.0L);
  EXPECT_EQ(Fact(1), 1.0L);
  EXPECT_EQ(Fact(-3), 0.0L);
  EXPECT_EQ(Fact(5), 120.0L);
  EXPECT_EQ(Fact(20), 2432902008176640000.0L);

  struct Case {
    int p, n;
    std::int32_t c;
  } cases[] = {
      {0, 5, 1}, {5, 5, 1}, {2, 5, 10}, {3, 5, 10}, {1, 2, 2}, {2, 4, 6}, {1, 3, 3}, {0, 0, 1},
      {10, 20, 184756}, {16, 33, 1166803110}, {17, 33, 1166803110}, {1, 33, 33},
  };
  for (const Case& c : cases) EXPECT_EQ(Comb(c.p, c.n), c.c) << "C(" << c.n << ", " << c.p << ")";
}

// Weights of a window, first to last, for the parameter t of one axis.
struct Weights {
  int n;
  int num_t, den_t;  // t = num_t / den_t
  std::vector<float> expected;
};

const Weights kWeights[] = {
    // Interior pixels.
    {2, 1, 2, {w(1, 4), w(1, 2), w(1, 4)}},
    {3, 1, 3, {w(8, 27), w(12, 27), w(6, 27), w(1, 27)}},
    {4, 2, 4, {w(1, 16), w(4, 16), w(6, 16), w(4, 16), w(1, 16)}},
    {5, 2, 5, {w(243, 3125), w(810, 3125), w(1080, 3125), w(720, 3125), w(240, 3125), w(32, 3125)}},
    // Near the borders the window is shifted and t changes.
    {3, 0, 3, {1, 0, 0, 0}},
    {3, 2, 3, {w(1, 27), w(6, 27), w(12, 27), w(8, 27)}},
    {3, 3, 3, {0, 0, 0, 1}},
    {5, 0, 5, {1, 0, 0, 0, 0, 0}},
    {5, 1, 5, {w(1024, 3125), w(1280, 3125), w(640, 3125), w(160, 3125), w(20, 3125), w(1, 3125)}},
    {5, 3, 5, {w(32, 3125), w(240, 3125), w(720, 3125), w(1080, 3125), w(810, 3125), w(243, 3125)}},
    {5, 4, 5, {w(1, 3125), w(20, 3125), w(160, 3125), w(640, 3125), w(1280, 3125), w(1024, 3125)}},
    {5, 5, 5, {0, 0, 0, 0, 0, 1}},
};

// A grid of zeros with one sample of 1.  Smoothing a point of row 0 (y
// weights 1, 0, ...: exactly) gives the x weight of the column holding the
// 1; a point of column 0 gives the y weight of its row.  So the weights (from
// bernstein_weight, which the fast smoothing shares) can be read off pixel by
// pixel, with the window's placement.
TEST(Smoothing, WindowPlacementAndBorderParameters) {
  for (const Weights& c : kWeights) {
    const int n = c.n;
    const int size = 2 * n + 4;
    const int half = n >> 1;
    // The pixel whose t is num_t/den_t: a border pixel for t < half/n, the
    // interior pixel `size / 2` for t = half/n, the far border otherwise.
    int pos;
    if (c.num_t * n < half * c.den_t) pos = c.num_t * n / c.den_t;
    else if (c.num_t * n == half * c.den_t) pos = size / 2;
    else pos = size - 1 - n + c.num_t * n / c.den_t;
    const int first = pos - c.num_t * n / c.den_t;
    for (int k = -1; k <= n + 1; ++k) {
      const int col = first + k;
      if (col < 0 || col >= size) continue;
      const float expected = (k < 0 || k > n) ? 0.0f : c.expected[k];
      IntGrid gx(n + 1, size);
      gx[0][col] = 1;
      EXPECT_EQ(InterpolePointSpline(gx, pos, 0, n), static_cast<double>(expected))
          << "x: n " << n << " pixel " << pos << " sample " << col;
      IntGrid gy(size, n + 1);
      gy[col][0] = 1;
      EXPECT_EQ(InterpolePointSpline(gy, 0, pos, n), static_cast<double>(expected))
          << "y: n " << n << " pixel " << pos << " sample " << col;
    }
  }

  // The window start along one axis: offsets -1..+2 for n = 3, -2..+3 for
  // n = 5, shifted at the borders, never shrunk.
  const int first3[8] = {0, 0, 1, 2, 3, 4, 4, 4};
  for (int pos = 0; pos < 8; ++pos) EXPECT_EQ(window_first(pos, 3, 8), first3[pos]) << pos;
  const int first5[12] = {0, 0, 0, 1, 2, 3, 4, 5, 6, 6, 6, 6};
  for (int pos = 0; pos < 12; ++pos) EXPECT_EQ(window_first(pos, 5, 12), first5[pos]) << pos;
  const int first2[5] = {0, 0, 1, 2, 2};
  for (int pos = 0; pos < 5; ++pos) EXPECT_EQ(window_first(pos, 2, 5), first2[pos]) << pos;
  EXPECT_EQ(window_first(2, 4, 5), 0);  // the window fills the axis
}

TEST(Smoothing, InteriorWeightsTakePartAsProducts) {
  // A 1 at the pixel itself, n = 3: y weight 12/27 times x weight 12/27,
  // each in single precision, multiplied in double.
  IntGrid g(8, 8);
  g[3][3] = 1;
  EXPECT_EQ(InterpolePointSpline(g, 3, 3, 3), static_cast<double>(w(12, 27)) * static_cast<double>(w(12, 27)));
  // A 1 one row above and two columns right: window index 0 along y, 3 along x.
  EXPECT_EQ(InterpolePointSpline(g, 1, 4, 3), static_cast<double>(w(8, 27)) * static_cast<double>(w(1, 27)));
}

TEST(Smoothing, ConstantWindows) {
  struct Case {
    std::int32_t value;
    int maille;
    std::int32_t result;
  } cases[] = {
      {7, 3, 6},    // the weights and row sums in single precision fall just short
      {23, 3, 23},
      {23, 5, 22},
      {7, 5, 7},
      {7, 2, 7},    // the weights of even windows are exact
      {23, 4, 23},
  };
  for (const Case& c : cases) {
    const IntGrid g = filled(12, 12, c.value);
    EXPECT_EQ(smoothed_to_int(InterpolePointSpline(g, 5, 5, c.maille)), c.result)
        << c.value << " with maille " << c.maille;
  }
}

TEST(Smoothing, CornersKeepTheirValue) {
  // The corner weights are exactly 1, 0, ..., 0 on both axes.
  const IntGrid g = make_grid({
      {16777215, 5, -9, 1000, 77},
      {3, -8, 400, 2, 1},
      {9, 9, 9, 9, 9},
      {-16777215, 0, 12, 8, 123456},
  });
  for (int n : {2, 3}) {
    EXPECT_EQ(InterpolePointSpline(g, 0, 0, n), 16777215.0) << n;
    EXPECT_EQ(InterpolePointSpline(g, 4, 0, n), 77.0) << n;
    EXPECT_EQ(InterpolePointSpline(g, 0, 3, n), -16777215.0) << n;
    EXPECT_EQ(InterpolePointSpline(g, 4, 3, n), 123456.0) << n;
  }
  // The samples are held in single precision: beyond 2^24 a corner loses
  // its low bits.
  const IntGrid big = make_grid({{16777217, 0, 0}, {0, 0, 0}, {0, 0, 0}});
  EXPECT_EQ(InterpolePointSpline(big, 0, 0, 2), 16777216.0);
}

TEST(Smoothing, StoredValueIsTruncatedTowardZero) {
  struct Case {
    double z;
    std::int32_t stored;
  } cases[] = {
      {12.9, 12}, {-12.9, -12}, {0.999, 0}, {-0.999, 0}, {6.999999575316902, 6},
      {3e9, INT_MAX}, {-3e9, INT_MIN + 1},  // saturated, and never the no-data marker
      {-2147483648.0, INT_MIN + 1}, {2147483647.0, INT_MAX},
  };
  for (const Case& c : cases) EXPECT_EQ(smoothed_to_int(c.z), c.stored) << c.z;
}

TEST(Smoothing, WholeStage) {
  // A window holding a no-data sample leaves its pixel as it was.  With
  // n = 3 on 6 x 6, the windows of pixels 0 and 1 of each axis start at 0, so
  // the no-data sample at (0, 0) is in the windows of the pixels (0..1, 0..1).
  IntGrid itab = filled(6, 6, 0);
  itab[0][0] = U;
  IntGrid itab1 = filled(6, 6, 42);
  std::vector<int> rows;
  smooth_literal(itab, itab1, 3, [&](int i) { rows.push_back(i); });
  Rows expected(6, std::vector<std::int32_t>(6, 0));
  expected[0][0] = expected[0][1] = expected[1][0] = expected[1][1] = 42;
  EXPECT_EQ(rows_of(itab1), expected);
  EXPECT_EQ(rows, (std::vector<int>{0, 1, 2, 3, 4, 5}));

  // A surface without any data: nothing changes.
  const IntGrid none = filled(4, 4, U);
  IntGrid out = filled(4, 4, U);
  smooth_literal(none, out, 3, nullptr);
  EXPECT_EQ(rows_of(out), rows_of(none));

  // Windows that do not fit are refused.
  EXPECT_TRUE(window_fits(4, 4, 3));
  EXPECT_FALSE(window_fits(3, 4, 3));
  EXPECT_FALSE(window_fits(4, 3, 3));
  IntGrid small = filled(3, 9, 1);
  IntGrid small1 = filled(3, 9, 1);
  EXPECT_THROW(smooth_literal(small, small1, 3, nullptr), std::invalid_argument);
  const IntGrid large = filled(40, 40, 1);
  IntGrid large1 = filled(40, 40, 1);
  EXPECT_THROW(smooth_literal(large, large1, kMaxMaille + 1, nullptr), std::invalid_argument);
  EXPECT_THROW(smooth_literal(large, large1, 1, nullptr), std::invalid_argument);
}

}  // namespace
}  // namespace tesk
