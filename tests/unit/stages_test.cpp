// The literal stages worked by hand: the contour dilation (growth over the
// cross then the ring, each sweep reading the grid as it was before it,
// midpoints toward the last greater cross neighbour, passes until one writes
// nothing), gap filling, Bernstein smoothing, the conversions and the
// quantisation; the chains of the fast dilation's keys against their
// pixel-by-pixel form; the early mapping of a run's grids.
#include <gtest/gtest.h>

#include <climits>
#include <random>
#include <vector>

#include "stages/conversion.h"
#include "stages/dilation_literal.h"
#include "stages/dilation/keys.h"
#include "stages/gap_filling.h"
#include "stages/pipeline.h"
#include "stages/quantisation.h"
#include "stages/smoothing.h"
#include "support/test_support.h"

namespace tesk {
namespace {

using testing::canon;
using testing::grid;
using testing::show;
constexpr std::int32_t U = kNoData;

struct DilationCase {
  const char* start;
  const char* grown;                // itab2 after the first pass
  std::vector<const char*> passes;  // itab after each pass until one writes nothing
  std::vector<std::int64_t> modified;
};

const DilationCase kCases[] = {
    // Column 4 is reached from both sides in the same sweep and takes 100.
    {"100 U U U U U U U 200", "100 100 100 100 100 200 200 200 200",
     {"100 U U U 150 U U U 200", "100 U 125 U 150 U 175 U 200", "100 113 125 138 150 163 175 188 200"}, {1, 2, 4, 0}},
    // The centre grows 100 (400 above, 300 right): the right neighbour comes
    // last among the greater ones, so 200 and not 250.
    {"U 400 U / U U 300 / U 100 U", "400 400 300 / 100 100 300 / 100 100 100",
     {"U 400 350 / 250 200 300 / U 100 200", "325 400 350 / 250 200 300 / 175 100 200"}, {4, 2, 0}},
    // The first sweep reaches columns 1 and 3 only; column 2 meets 100 and 50
    // in the same ring sweep and takes 50 (growing in place would give 100).
    {"100 U U U 50", "100 100 50 50 50", {"100 U 75 U 50", "100 88 75 63 50"}, {1, 2, 0}},
    // The first layer grows over the cross only: the diagonal 50 does not reach (0, 1).
    {"100 U U / U U 50", "100 100 50 / 100 50 50", {"100 U 75 / U 75 50", "100 88 75 / 88 75 50"}, {2, 2, 0}},
    // Borders do not wrap, neither along a row nor from one row to the next.
    {"U 100 U 300", "100 100 100 300", {"U 100 200 300"}, {1, 0}},
    {"U 300 / 100 U", "100 300 / 100 100", {"200 300 / 100 200"}, {2, 0}},
    // Midpoints: truncated toward zero, no overflow, the file marker ordinary.
    {"200 U 100", "200 100 100", {"200 150 100"}, {1, 0}},
    {"-101 U -99", "-101 -101 -99", {"-101 -99 -99"}, {1, 0}},
    {"65400 U 65600", "65400 65400 65600", {"65400 65500 65600"}, {1, 0}},
    {"-2000000000 U -2100000000", "-2000000000 -2100000000 -2100000000", {"-2000000000 -2049999999 -2100000000"}, {1, 0}},
    {"-2147483647 U 2147483647", "-2147483647 -2147483647 2147483647", {"-2147483647 0 2147483647"}, {1, 0}},
    // Growth starts above every value: 123456789 grows as itself, nothing written.
    {"123456789 U", "123456789 123456789", {}, {0}},
    // Grids that end after one pass.
    {"U U U / U 7 U / U U U", "7 7 7 / 7 7 7 / 7 7 7", {}, {0}},
};

TEST(Dilation, PassByPass) {
  for (const DilationCase& c : kCases) {
    SCOPED_TRACE(c.start);
    const IntGrid start = grid(c.start);
    IntGrid itab = testing::copy_of(start), itab1(itab.rows(), itab.cols()), itab2(itab.rows(), itab.cols());
    std::vector<std::int64_t> modified;
    for (std::size_t k = 0; k < c.modified.size(); ++k) {
      modified.push_back(tesklette(itab, itab1, itab2));
      if (k == 0) {
        EXPECT_EQ(show(itab2), canon(c.grown));
      }
      EXPECT_EQ(show(itab), canon(k < c.passes.size() ? c.passes[k] : c.passes.empty() ? c.start : c.passes.back()))
          << "pass " << k + 1;
    }
    EXPECT_EQ(modified, c.modified);
  }
}

TEST(GapFilling, SweepsInPlaceUntilOneWritesNothing) {
  struct Case { const char *start, *filled; int sweeps; } cases[] = {
      // Sweep 1 writes columns 1, 3 and 4 (4 from 3, written just before),
      // sweep 2 column 0: values travel any distance rightward or downward
      // in a sweep, one pixel leftward or upward.
      {"U U 100 U U", "100 100 100 100 100", 3},
      {"U 10 U U 30", "10 10 10 20 30", 2},  // column 3 sees column 2 as written in this sweep
      {"-3 U U U U U", "-3 -2 -1 0 0 0", 2},  // the mean plus one half, truncated toward zero
      {"U U U / U U U / U U 9", "9 9 9 / 9 9 9 / 9 9 9", 5},
      {"U U / U 0", "0 0 / 0 0", 3},
      {"65499 U 65501", "65499 65500 65501", 2},    // a mean equal to the file marker is ordinary
      {"123456789 U", "123456789 123456792", 2},  // the sum in single precision
      // Corners and edges use their in-grid neighbours only: 15.5, 25.5,
      // 33.5, 40.5, 50.5.
      {"U 10 U / 20 U 40 / U 60 U", "15 10 25 / 20 33 40 / 40 60 50", 2},
      // Above, left, right, below: 16777216 + 1 + 1 stays 16777216 in single
      // precision, 1 + 1 + 16777216 gives 16777218.
      {"0 16777216 0 / 1 U 1", "0 16777216 0 / 1 5592405 1", 2},
      {"0 1 0 / 1 U 16777216", "0 1 0 / 1 5592406 16777216", 2},
  };
  for (const auto& c : cases) {
    IntGrid g = grid(c.start);
    EXPECT_EQ(fill_gaps_literal(g), c.sweeps) << c.start;
    EXPECT_EQ(show(g), canon(c.filled)) << c.start;
  }
  const std::vector<std::pair<std::vector<std::int32_t>, std::int32_t>> means = {
      {{-3, -3, -2, -3}, -2}, {{-3}, -2}, {{-2, -4}, -2}, {{2, 3}, 3}, {{1, 2, 2}, 2}, {{1, 1, 2}, 1},
      {{16777217, 16777217}, 16777216}, {{-16777217, -16777217, -16777217, -16777217}, -16777215}};
  for (const auto& [vals, mean] : means)
    EXPECT_EQ(gap_mean(vals.data(), static_cast<int>(vals.size())), mean) << vals.size() << " " << vals[0];
}

TEST(Smoothing, Binomials) {
  const int cases[][3] = {{0, 5, 1}, {5, 5, 1}, {2, 5, 10}, {0, 0, 1}, {10, 20, 184756}, {16, 33, 1166803110}, {1, 33, 33}};
  for (const auto& c : cases) EXPECT_EQ(Comb(c[0], c[1]), c[2]) << "C(" << c[1] << ", " << c[0] << ")";
}

float w(double num, double den) { return static_cast<float>(num / den); }

// A grid of zeros with one 1: smoothing a point of row 0 (y weights 1, 0,
// ...) gives the x weight of the column holding the 1, and the other way
// round, so the weights and the window's placement read off pixel by pixel.
// t = num / den is the parameter of the pixel along the axis: at a border
// the window shifts and t changes.
TEST(Smoothing, WindowPlacementAndBorderParameters) {
  struct Weights { int n, num, den; std::vector<float> expected; } const cases[] = {
      {2, 1, 2, {w(1, 4), w(1, 2), w(1, 4)}},
      {3, 1, 3, {w(8, 27), w(12, 27), w(6, 27), w(1, 27)}},
      {4, 2, 4, {w(1, 16), w(4, 16), w(6, 16), w(4, 16), w(1, 16)}},
      {5, 2, 5, {w(243, 3125), w(810, 3125), w(1080, 3125), w(720, 3125), w(240, 3125), w(32, 3125)}},
      {3, 0, 3, {1, 0, 0, 0}},
      {5, 0, 5, {1, 0, 0, 0, 0, 0}},
      {5, 1, 5, {w(1024, 3125), w(1280, 3125), w(640, 3125), w(160, 3125), w(20, 3125), w(1, 3125)}},
      {5, 4, 5, {w(1, 3125), w(20, 3125), w(160, 3125), w(640, 3125), w(1280, 3125), w(1024, 3125)}},
  };
  for (const auto& c : cases) {
    const int n = c.n, size = 2 * n + 4, half = n >> 1, at = c.num * n / c.den;
    const int pos = c.num * n < half * c.den ? at : c.num * n == half * c.den ? size / 2 : size - 1 - n + at;
    for (int k = -1; k <= n + 1; ++k) {
      const int col = pos - at + k;
      if (col < 0 || col >= size) continue;
      const double expected = k < 0 || k > n ? 0.0 : c.expected[k];
      IntGrid gx(n + 1, size), gy(size, n + 1);
      gx[0][col] = gy[col][0] = 1;
      EXPECT_EQ(InterpolePointSpline(gx, pos, 0, n), expected) << "x: n " << n << " pixel " << pos << " sample " << col;
      EXPECT_EQ(InterpolePointSpline(gy, 0, pos, n), expected) << "y: n " << n << " pixel " << pos << " sample " << col;
    }
  }
  const std::vector<std::pair<int, std::vector<int>>> firsts = {
      {3, {0, 0, 1, 2, 3, 4, 4, 4}}, {5, {0, 0, 0, 1, 2, 3, 4, 5, 6, 6, 6, 6}}, {2, {0, 0, 1, 2, 2}}};
  for (const auto& [n, first] : firsts)
    for (int pos = 0; pos < static_cast<int>(first.size()); ++pos)
      EXPECT_EQ(window_first(pos, n, static_cast<int>(first.size())), first[pos]) << n << " " << pos;
  EXPECT_EQ(window_first(2, 4, 5), 0);  // the window fills the axis
}

TEST(Smoothing, SinglePrecisionSumsAndTruncation) {
  // Constant windows: the single-precision weights and row sums fall just
  // short at odd degrees; even windows are exact.
  const int constants[][3] = {{7, 3, 6}, {23, 3, 23}, {23, 5, 22}, {7, 5, 7}, {7, 2, 7}, {23, 4, 23}};
  for (const auto& c : constants) {
    IntGrid g(12, 12);
    std::fill(g.begin(), g.end(), c[0]);
    EXPECT_EQ(smoothed_to_int(InterpolePointSpline(g, 5, 5, c[1])), c[2]) << c[0] << " with maille " << c[1];
  }
  // A corner keeps its value (weights exactly 1, 0, ...), in single precision.
  EXPECT_EQ(InterpolePointSpline(grid("16777217 0 0 / 0 0 0 / 0 0 0"), 0, 0, 2), 16777216.0);
  const std::pair<double, std::int32_t> stored[] = {
      {12.9, 12}, {-12.9, -12}, {0.999, 0}, {-0.999, 0}, {6.999999575316902, 6}, {3e9, INT_MAX},
      {-3e9, INT_MIN + 1}, {-2147483648.0, INT_MIN + 1}, {2147483647.0, INT_MAX}};  // never the marker
  for (const auto& [z, v] : stored) EXPECT_EQ(smoothed_to_int(z), v) << z;
}

TEST(Smoothing, WholeStage) {
  // A window holding a no-data sample leaves its pixel as it was: with n = 3
  // on 6 x 6 the windows of pixels 0 and 1 of each axis start at 0.
  IntGrid itab(6, 6), itab1(6, 6);
  itab[0][0] = U;
  std::fill(itab1.begin(), itab1.end(), 42);
  std::vector<int> rows;
  smooth_literal(itab, itab1, 3, [&](int i) { rows.push_back(i); });
  EXPECT_EQ(show(itab1), canon("42 42 0 0 0 0 / 42 42 0 0 0 0 / 0 0 0 0 0 0 / 0 0 0 0 0 0 / 0 0 0 0 0 0 / 0 0 0 0 0 0"));
  EXPECT_EQ(rows, (std::vector<int>{0, 1, 2, 3, 4, 5}));
  EXPECT_EQ(std::tuple(window_fits(4, 4, 3), window_fits(3, 4, 3), window_fits(4, 3, 3)), std::tuple(true, false, false));
}

TEST(Conversion, ThereAndBackThroughSinglePrecision) {
  const int cases[][4] = {  // altitude, interval, internal, back
      {1000, 10, 51200, 1000},   {1001, 3, 170837, 1000},       {1, 3, 170, 0},   {2, 3, 341, 1},
      {3, 3, 512, 3},            {-1001, 3, -170837, -1000},    {100000, 3, 17066666, 100000},  // back: a tie, to even
      {3710, 29, 65500, 3709},   {1000, -10, -51200, 1000},     {0, 7, 0, 0},     {65535, 1, 33553920, 65535},
      {4194303, 1, 2147483136, 4194303}, {-4194303, 1, -2147483136, -4194303}};
  for (const auto& c : cases) {
    ASSERT_EQ(to_internal(c[0], c[1]), std::optional<std::int32_t>(c[2])) << c[0] << " / " << c[1];
    EXPECT_EQ(to_altitude(c[2], c[1]), c[3]) << c[2] << " * " << c[1];
  }
  // 2^31 or more in magnitude after the rounding cannot be held.
  for (const auto& [v, e] : {std::pair{4194304, 1}, std::pair{-4194304, 1}, std::pair{INT_MAX, 512},
                             std::pair{INT_MIN, 512}, std::pair{INT_MAX, 1}, std::pair{-5000000, -1}})
    EXPECT_FALSE(to_internal(v, e)) << v << " / " << e;
  EXPECT_EQ(std::tuple(to_altitude(2000000000, 3000), to_altitude(-2000000000, 3000), to_altitude(2000000000, -3000)),
            std::tuple(INT_MAX, INT_MIN, INT_MIN));
}

TEST(Conversion, MarkerOverlayAndFaults) {
  struct Case { const char *raw, *internal, *back; int ival, equid; } cases[] = {
      {"65500 1001 65500 / 3 65499 -1001", "U 170837 U / 512 11178496 -170837", "65500 1000 65500 / 3 65499 -1000",
       kIval16, 3},
      {"3710 65500", "65500 U", "3709 65500", kIval16, 29},  // 65500 inside is still a contour
      {"10000000 65500 -10000000", "U 3353600 -512000000", "10000000 65500 -10000000", kIval32, 10},
  };
  for (const auto& c : cases) {
    IntGrid g = grid(c.raw);
    EXPECT_FALSE(convert_to_internal(g, c.ival, c.equid));
    EXPECT_EQ(show(g), canon(c.internal));
    convert_to_altitude(g, c.ival, c.equid);
    EXPECT_EQ(show(g), canon(c.back));
  }
  IntGrid g = grid("10000000 5 / 7 4194304"), r = grid("1 2");
  const auto fault = convert_to_internal(g, kIval32, 1), ofault = overlay_contours(grid("-4194304 10000000"), r, kIval32, 1);
  ASSERT_TRUE(fault && ofault);
  EXPECT_EQ(std::tuple(fault->row, fault->col, fault->value), std::tuple(1, 1, 4194304));
  EXPECT_EQ(std::tuple(ofault->row, ofault->col, ofault->value), std::tuple(0, 0, -4194304));
  // The overlay writes contours only, a converted 65500 like any other.
  const IntGrid raw = grid("3710 65500 29 / 65500 0 -29");
  IntGrid result = grid("1 2 3 / 4 5 6"), to(2, 3);
  EXPECT_FALSE(overlay_contours(raw, result, kIval16, 29));
  EXPECT_EQ(show(result), canon("65500 2 512 / 4 0 -512"));
  copy_grid(raw, to);
  EXPECT_EQ(show(to), show(raw));
}

TEST(Quantisation, ArrondiAndStretch) {
  const std::pair<double, int> rounded[] = {
      {2.5, 3}, {2.49, 2}, {0.5, 1}, {-0.5, -1}, {-2.49, -2}, {-2.5, -3}, {0.0, 0}, {-0.0, 0}, {127.5, 128},
      {-127.5, -128}, {0.49999999999999994, 0}, {-0.49999999999999994, 0}, {254.99999046325684, 255},
      {-4.76837158203125e-06, 0}, {1e10, INT_MAX}, {-1e10, INT_MIN}};
  for (const auto& [v, r] : rounded) EXPECT_EQ(arrondi(v), r) << v;

  struct Case { const char* values; int lo, hi; std::vector<int> bytes; } cases[] = {
      {"100 227 355", 100, 355, {0, 127, 255}},
      {"0 1 2", 0, 2, {0, 128, 255}},       // 127.5 rounds up
      {"-5 -10 0", -10, 0, {128, 0, 255}},  // -127.5 + 255
      // a = single(2.55) = 2.5499999523: 150 gives 127.4999928 -> 127.
      {"100 113 125 138 150 163 175 188 200", 100, 200, {0, 33, 64, 97, 127, 161, 191, 224, 255}},
      {"65500 65500", 65500, 65500, {0, 0}},            // flat: all 0
      {"0 255 256 300 -1", 0, 255, {0, 255, 0, 44, 255}},  // the low 8 bits
  };
  for (const auto& c : cases) {
    const IntGrid v = grid(c.values);
    ByteGrid tab(v.rows(), v.cols());
    std::fill(tab.begin(), tab.end(), 9);
    quantise(v, tab, c.lo, c.hi);
    EXPECT_EQ(std::vector<int>(tab.begin(), tab.end()), c.bytes) << c.values;
  }
}

// The key chains of the fast dilation: every way (4 and 8 keys at a time)
// against the pixel-by-pixel one, on random rows with layers near one
// another, far keys and unreached labels.
TEST(DilationKeys, EveryWayGivesThePixelByPixelKeys) {
  using namespace dilation_keys;
  std::mt19937_64 rng(20261206);
  for (int t = 0; t < 4000; ++t) {
    const int nc = static_cast<int>(rng() % (t < 3000 ? 70 : 3000));
    std::vector<Key> keys(static_cast<std::size_t>(nc) + 2);  // a cell on each side to leave alone
    for (Key& k : keys) {
      const auto kind = rng() % 8;
      const auto v = static_cast<std::int32_t>(rng() % 7 == 0 ? (rng() % 2 ? INT_MIN : INT_MAX)
                                                               : static_cast<std::int32_t>(rng() % 2001) - 1000);
      k = kind == 0 ? kFarKey : kind == 1 ? make_key(kFarD, v) : make_key(1 + static_cast<std::uint32_t>(rng() % 30), v);
    }
    const Key carry = rng() % 2 ? kFarKey : make_key(1 + static_cast<std::uint32_t>(rng() % 30), -7);
    for (const bool forward : {true, false}) {
      auto chain = [&](ChainWay way, std::vector<Key> k) {
        forward ? chain_forward_with(way, nc, k.data(), carry) : chain_backward_with(way, nc, k.data(), carry);
        return k;
      };
      const std::vector<Key> expected = chain(ChainWay::kScalar, keys);
      for (const ChainWay way : {ChainWay::kVector4, ChainWay::kVector8}) {
        ASSERT_EQ(chain(way, keys), expected) << "case " << t << " width " << nc << " forward " << forward;
      }
      std::vector<Key> chosen = keys;
      forward ? chain_forward(nc, chosen.data(), carry) : chain_backward(nc, chosen.data(), carry);
      ASSERT_EQ(chosen, expected) << "case " << t;
    }
  }
}

// Grids mapped early on their own thread: the input written meanwhile stays,
// the other grids stay zero, a second allocation waits for the first mapping.
TEST(Pipeline, EarlyMappingChangesNothing) {
  RunGrids g;
  g.allocate(1500, 1000, true, true);
  g.allocate(1200, 1100, true, true);
  for (int i = 0; i < 1200; ++i) g.itab[i][(i * 7) % 1100] = i - 600;
  g.mapped();
  g.mapped();
  for (int i = 0; i < 1200; ++i)
    for (int j = 0; j < 1100; ++j) ASSERT_EQ(g.itab[i][j], j == (i * 7) % 1100 ? i - 600 : 0) << i << " " << j;
  for (const IntGrid* z : {&g.itab1, &g.itab2}) EXPECT_EQ(std::count(z->begin(), z->end(), 0), static_cast<long>(z->size()));
  EXPECT_EQ(std::count(g.tab.begin(), g.tab.end(), 0), static_cast<long>(g.tab.size()));
}

}  // namespace
}  // namespace tesk
