// The literal contour dilation, worked by hand: growth over the cross then
// the ring, each sweep reading the grid as it was before it, midpoints toward
// the last greater cross neighbour, passes until one writes nothing.
#include "stages/dilation.h"

#include <gtest/gtest.h>

#include <climits>
#include <vector>

#include "support/test_support.h"

namespace tesk {
namespace {

using testing::canon;
using testing::grid;
using testing::show;

struct Case {
  const char* start;
  const char* grown;                // itab2 after the first pass
  std::vector<const char*> passes;  // itab after each pass until one writes nothing
  std::vector<std::int64_t> modified;
};

const Case kCases[] = {
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
    {"99 U 101", "99 99 101", {"99 100 101"}, {1, 0}},
    {"-101 U -99", "-101 -101 -99", {"-101 -99 -99"}, {1, 0}},
    {"65400 U 65600", "65400 65400 65600", {"65400 65500 65600"}, {1, 0}},
    {"2000000000 U 2100000000", "2000000000 2000000000 2100000000", {"2000000000 2050000000 2100000000"}, {1, 0}},
    {"-2000000000 U -2100000000", "-2000000000 -2100000000 -2100000000", {"-2000000000 -2049999999 -2100000000"}, {1, 0}},
    {"-2147483647 U 2147483647", "-2147483647 -2147483647 2147483647", {"-2147483647 0 2147483647"}, {1, 0}},
    {"2147483647 U 2147483645", "2147483647 2147483645 2147483645", {"2147483647 2147483646 2147483645"}, {1, 0}},
    // Growth starts above every value: 123456789 grows as itself, nothing written.
    {"123456789 U", "123456789 123456789", {}, {0}},
    // Grids that end after one pass.
    {"1 2 / 3 4", "1 2 / 3 4", {}, {0}},
    {"U U U / U U U", "U U U / U U U", {}, {0}},
    {"U U U / U 7 U / U U U", "7 7 7 / 7 7 7 / 7 7 7", {}, {0}},
    {"5 U U 5 / U U U U", "5 5 5 5 / 5 5 5 5", {}, {0}},
    {"U", "U", {}, {0}},
};

IntGrid transpose(const IntGrid& g) {
  IntGrid t(g.cols(), g.rows());
  for (int i = 0; i < g.rows(); ++i)
    for (int j = 0; j < g.cols(); ++j) t[j][i] = g[i][j];
  return t;
}

TEST(Dilation, PassByPass) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.start);
    const IntGrid start = grid(c.start);
    for (const bool column : {false, true}) {  // as a column above and below play left and right
      if (column && start.rows() > 1) continue;
      IntGrid itab = column ? transpose(start) : testing::copy_of(start), itab1(itab.rows(), itab.cols()),
              itab2(itab.rows(), itab.cols());
      auto out = [&](const IntGrid& g) { return show(column ? transpose(g) : testing::copy_of(g)); };
      std::vector<std::int64_t> modified;
      for (std::size_t k = 0; k < c.modified.size(); ++k) {
        modified.push_back(tesklette(itab, itab1, itab2));
        if (k == 0) {
          EXPECT_EQ(out(itab2), canon(c.grown));
        }
        EXPECT_EQ(out(itab), canon(k < c.passes.size() ? c.passes[k] : c.passes.empty() ? c.start : c.passes.back()))
            << "pass " << k + 1;
      }
      EXPECT_EQ(modified, c.modified);

      // The whole loop: the last grid, and before each pass the pixels to
      // treat and those the pass before wrote.
      IntGrid whole = column ? transpose(start) : testing::copy_of(start);
      std::vector<std::vector<std::int64_t>> reports, expected;
      const DilationStats s = dilate_literal(whole, itab1, itab2, [&](const PassReport& r) {
        reports.push_back({r.degree, r.to_treat, r.previous_modified});
      });
      std::int64_t left = std::count(start.begin(), start.end(), kNoData);
      for (std::size_t k = 0; k < c.modified.size(); ++k) {
        expected.push_back({static_cast<std::int64_t>(k + 1), left, k ? c.modified[k - 1] : 0});
        left -= c.modified[k];
      }
      EXPECT_EQ(reports, expected);
      EXPECT_EQ(s.passes, static_cast<int>(c.modified.size()));
      EXPECT_EQ(out(whole), out(itab));
    }
  }
}

}  // namespace
}  // namespace tesk
