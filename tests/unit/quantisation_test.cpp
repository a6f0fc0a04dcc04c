// Byte quantisation: arrondi, the smallest and largest value, the stretching
// line held in single precision, the low 8 bits.
#include "stages/quantisation.h"

#include <gtest/gtest.h>

#include <climits>
#include <vector>

#include "support/test_support.h"

namespace tesk {
namespace {

using testing::make_grid;

std::vector<int> bytes_of(const ByteGrid& g) { return std::vector<int>(g.begin(), g.end()); }

TEST(Quantisation, ArrondiRoundsHalvesAwayFromZero) {
  struct Case {
    double v;
    int r;
  } cases[] = {
      {2.5, 3},   {2.49, 2},   {0.5, 1},      {-0.5, -1},  {-2.49, -2},  {-2.5, -3},
      {0.0, 0},   {-0.0, 0},   {127.5, 128},  {-127.5, -128}, {3.0, 3},  {-3.0, -3},
      // The largest double below one half: adding 0.5 first would give 1.
      {0.49999999999999994, 0}, {-0.49999999999999994, 0},
      {254.99999046325684, 255}, {-4.76837158203125e-06, 0},
      {1e10, INT_MAX}, {-1e10, INT_MIN},  // saturated
  };
  for (const Case& c : cases) EXPECT_EQ(arrondi(c.v), c.r) << c.v;
}

TEST(Quantisation, SmallestAndLargestFromTheStartValues) {
  const IntGrid g = make_grid({{5, -3, 9}, {65500, 0, -2147483647}});
  int mn = g[0][0], mx = g[0][0];
  std::vector<int> rows;
  Min_max(&mn, &mx, g, [&](int i) { rows.push_back(i); });
  EXPECT_EQ(mn, -2147483647);
  EXPECT_EQ(mx, 65500);
  EXPECT_EQ(rows, (std::vector<int>{0, 1}));

  // Start values beyond every element are kept.
  mn = -100000;
  mx = 100000;
  Min_max(&mn, &mx, g, nullptr);
  EXPECT_EQ(mn, -2147483647);
  EXPECT_EQ(mx, 100000);

  // Both tests are made for every element: one element can be both.
  const IntGrid one = make_grid({{7}});
  mn = 10;
  mx = 0;
  Min_max(&mn, &mx, one, nullptr);
  EXPECT_EQ(mn, 7);
  EXPECT_EQ(mx, 7);

  // One report before each row, in order (450 rows: the classic dialogue
  // shows rows 200 and 400 from these).
  IntGrid tall(450, 2);
  rows.clear();
  mn = mx = 0;
  Min_max(&mn, &mx, tall, [&](int i) { rows.push_back(i); });
  ASSERT_EQ(rows.size(), 450u);
  for (int i = 0; i < 450; ++i) EXPECT_EQ(rows[i], i);
}

TEST(Quantisation, StretchOntoTheBytes) {
  struct Case {
    const char* name;
    IntGrid grid;
    float a, b;
    std::vector<int> bytes;
  } cases[] = {
      {"100..355: a = 1, b = -100", make_grid({{100, 227, 355}}), 1.0f, -100.0f, {0, 127, 255}},
      {"0..2: 127.5 rounds to 128", make_grid({{0, 1, 2}}), 127.5f, 0.0f, {0, 128, 255}},
      {"-10..0: -127.5 + 255 = 127.5 -> 128", make_grid({{-5, -10, 0}}), 25.5f, 255.0f, {128, 0, 255}},
      // a = 2.55 held in single precision (2.5499999523...): 150 gives
      // 127.4999928 -> 127, where 2.55 in double would give 127.5 -> 128.
      {"100..200: a in single precision",
       make_grid({{100, 113, 125, 138, 150, 163, 175, 188, 200}}),
       2.55f,
       -255.0f,
       {0, 33, 64, 97, 127, 161, 191, 224, 255}},
  };
  for (auto& c : cases) {
    int mn = c.grid[0][0], mx = c.grid[0][0];
    Min_max(&mn, &mx, c.grid, nullptr);
    const Stretch s = stretch_line(mn, mx);
    EXPECT_FALSE(s.flat) << c.name;
    EXPECT_EQ(s.a, c.a) << c.name;
    EXPECT_EQ(s.b, c.b) << c.name;
    ByteGrid tab(c.grid.rows(), c.grid.cols());
    quantise(c.grid, tab, mn, mx);
    EXPECT_EQ(bytes_of(tab), c.bytes) << c.name;
  }
}

TEST(Quantisation, FlatGridAndLowBits) {
  // All values equal: no line, every byte 0.
  const IntGrid flat = make_grid({{65500, 65500}, {65500, 65500}});
  ByteGrid tab(2, 2);
  for (auto& b : tab) b = 9;
  quantise(flat, tab, 65500, 65500);
  EXPECT_EQ(bytes_of(tab), (std::vector<int>{0, 0, 0, 0}));
  EXPECT_TRUE(stretch_line(-4, -4).flat);

  // The byte is the low 8 bits of the rounded value: with the line of 0..255
  // (a = 1, b = 0), 256 -> 0, 300 -> 44 and -1 -> 255.
  const IntGrid wide = make_grid({{0, 255, 256, 300, -1}});
  ByteGrid out(1, 5);
  quantise(wide, out, 0, 255);
  EXPECT_EQ(bytes_of(out), (std::vector<int>{0, 255, 0, 44, 255}));
}

}  // namespace
}  // namespace tesk
