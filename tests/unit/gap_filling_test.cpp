// Residual gap filling: in-place sweeps over the cross, the sum held in single
// precision, the mean plus one half truncated toward zero.
#include "stages/gap_filling.h"

#include <gtest/gtest.h>

#include <vector>

#include "core/units.h"
#include "support/test_support.h"

namespace tesk {
namespace {

using testing::make_grid;
using testing::rows_of;
using testing::U;

using Rows = std::vector<std::vector<std::int32_t>>;

TEST(GapFilling, SweepsInPlaceUntilOneWritesNothing) {
  struct Case {
    const char* name;
    IntGrid start;
    Rows expected;
    int sweeps;
  } cases[] = {
      // Sweep 1 writes columns 1, 3 and 4 (column 4 from column 3, written
      // just before); sweep 2 column 0; sweep 3 nothing.
      {"U U 100 U U", make_grid({{U, U, 100, U, U}}), {{100, 100, 100, 100, 100}}, 3},
      // Values travel any distance rightward in one sweep, one pixel leftward.
      {"rightward", make_grid({{7, U, U, U}}), {{7, 7, 7, 7}}, 2},
      {"leftward", make_grid({{U, U, U, 7}}), {{7, 7, 7, 7}}, 4},
      {"downward", make_grid({{7}, {U}, {U}, {U}}), {{7}, {7}, {7}, {7}}, 2},
      {"upward", make_grid({{U}, {U}, {U}, {7}}), {{7}, {7}, {7}, {7}}, 4},
      // Column 3 sees column 2 as written in this sweep: (10 + 30) / 2.
      {"a pixel written this sweep counts", make_grid({{U, 10, U, U, 30}}), {{10, 10, 10, 20, 30}}, 2},
      {"100 U 201", make_grid({{100, U, 201}}), {{100, 151, 201}}, 2},
      // -3 + 0.5 -> -2, -2 + 0.5 -> -1, -1 + 0.5 -> 0 (toward zero), 0.5 -> 0.
      {"-3 U U U U U", make_grid({{-3, U, U, U, U, U}}), {{-3, -2, -1, 0, 0, 0}}, 2},
      // Sweeps write 2, 3, 2 and 1 pixels; the fifth writes nothing.
      {"3 x 3, 9 at the bottom right", make_grid({{U, U, U}, {U, U, U}, {U, U, 9}}), {{9, 9, 9}, {9, 9, 9}, {9, 9, 9}},
       5},
      {"no data pixel", make_grid({{U, U}, {U, U}}), {{U, U}, {U, U}}, 1},
      {"no no-data pixel", make_grid({{1, -2}, {3, 4}}), {{1, -2}, {3, 4}}, 1},
      {"single pixel of 0", make_grid({{U, U}, {U, 0}}), {{0, 0}, {0, 0}}, 3},
      // A mean equal to the file marker is an ordinary value.
      {"65499 U 65501", make_grid({{65499, U, 65501}}), {{65499, 65500, 65501}}, 2},
      // single(123456789) is 123456792.
      {"123456789 U", make_grid({{123456789, U}}), {{123456789, 123456792}}, 2},
  };
  for (auto& c : cases) {
    EXPECT_EQ(fill_gaps_literal(c.start), c.sweeps) << c.name;
    EXPECT_EQ(rows_of(c.start), c.expected) << c.name;
  }
}

TEST(GapFilling, CornersAndEdgesUseOnlyTheirInGridNeighbours) {
  // (0,0): right 10 and below 20 -> 15.5 -> 15.  (0,2): left 10, below 40 ->
  // 25.5 -> 25.  (1,1): above 10, left 20, right 40, below 60 -> 33 -> 33.
  // (2,0): above 20, right 60 -> 40.5 -> 40.  (2,2): above 40, left 60 -> 50.5 -> 50.
  IntGrid g = make_grid({
      {U, 10, U},
      {20, U, 40},
      {U, 60, U},
  });
  EXPECT_EQ(fill_gaps_literal(g), 2);
  EXPECT_EQ(rows_of(g), (Rows{{15, 10, 25}, {20, 33, 40}, {40, 60, 50}}));
}

TEST(GapFilling, MeanOfTheCross) {
  struct Case {
    std::vector<std::int32_t> vals;  // above, left, right, below as present
    std::int32_t mean;
  } cases[] = {
      {{-3, -3, -2, -3}, -2},  // -2.75 + 0.5 -> -2.25 -> -2
      {{-3}, -2},              // -3 + 0.5 -> -2.5 -> -2
      {{-2, -4}, -2},          // -3 + 0.5 -> -2
      {{2, 3}, 3},             // 2.5 + 0.5 -> 3
      {{1, 2, 2}, 2},          // 1.67 + 0.5 -> 2.17 -> 2
      {{1, 1, 2}, 1},          // 1.33 + 0.5 -> 1
      // Single precision: 16777217 is held as 16777216, and so is the sum
      // 33554432 + 1 of the second addition.
      {{16777217, 16777217}, 16777216},
      // The order of the additions matters: 16777216 + 1 stays 16777216 in
      // single precision, twice (16777216 / 3 + 0.5 -> 5592405) ...
      {{16777216, 1, 1}, 5592405},
      // ... while 1 + 1 + 16777216 is 16777218 (16777218 / 3 = 5592406).
      {{1, 1, 16777216}, 5592406},
      {{-16777217, -16777217, -16777217, -16777217}, -16777215},  // -16777216 + 0.5 -> -16777215
  };
  for (const Case& c : cases) {
    EXPECT_EQ(gap_mean(c.vals.data(), static_cast<int>(c.vals.size())), c.mean) << c.vals.size() << " " << c.vals[0];
  }

  // The same order inside the sweep: above, left, right, below.
  IntGrid a = make_grid({{0, 16777216, 0}, {1, U, 1}});
  IntGrid b = make_grid({{0, 1, 0}, {1, U, 16777216}});
  fill_gaps_literal(a);
  fill_gaps_literal(b);
  EXPECT_EQ(a[1][1], 5592405);
  EXPECT_EQ(b[1][1], 5592406);
}

}  // namespace
}  // namespace tesk
