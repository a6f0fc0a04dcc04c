// Contour dilation: growth over the cross then the ring, midpoints toward the
// last greater cross neighbour, passes until one writes nothing.
#include "stages/dilation.h"

#include <gtest/gtest.h>

#include <climits>
#include <vector>

#include "core/units.h"
#include "support/test_support.h"

namespace tesk {
namespace {

using testing::make_grid;
using testing::rows_of;
using testing::U;

using Rows = std::vector<std::vector<std::int32_t>>;

struct Report {
  int degree;
  std::int64_t to_treat;
  std::int64_t previous_modified;
  bool operator==(const Report&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Report& r) {
  return os << "{degree " << r.degree << ", to_treat " << r.to_treat << ", previous " << r.previous_modified << "}";
}

// Runs single passes on a copy of `start`: the grid after each pass and the
// pixels each pass wrote.
struct Passes {
  std::vector<Rows> grids;
  std::vector<std::int64_t> modif;
  Rows last_grown;  // itab2 after the first pass: the grown surface
};
Passes run_passes(const IntGrid& start, int count) {
  IntGrid itab(start.rows(), start.cols());
  std::copy(start.begin(), start.end(), itab.begin());
  IntGrid itab1(start.rows(), start.cols());
  IntGrid itab2(start.rows(), start.cols());
  Passes p;
  for (int k = 0; k < count; ++k) {
    p.modif.push_back(tesklette(itab, itab1, itab2));
    p.grids.push_back(rows_of(itab));
    if (k == 0) p.last_grown = rows_of(itab2);
  }
  return p;
}

// Runs the whole loop on a copy of `start`: the final grid and the reports.
struct Loop {
  Rows grid;
  std::vector<Report> reports;
  int passes;
};
Loop run_loop(const IntGrid& start) {
  IntGrid itab(start.rows(), start.cols());
  std::copy(start.begin(), start.end(), itab.begin());
  IntGrid itab1(start.rows(), start.cols());
  IntGrid itab2(start.rows(), start.cols());
  Loop l;
  const DilationStats s = dilate_literal(itab, itab1, itab2, [&](const PassReport& r) {
    l.reports.push_back({r.degree, r.to_treat, r.previous_modified});
  });
  l.grid = rows_of(itab);
  l.passes = s.passes;
  return l;
}

IntGrid transpose(const IntGrid& g) {
  IntGrid t(g.cols(), g.rows());
  for (int i = 0; i < g.rows(); ++i)
    for (int j = 0; j < g.cols(); ++j) t[j][i] = g[i][j];
  return t;
}

TEST(Dilation, NinePixelRowPassByPass) {
  const IntGrid start = make_grid({{100, U, U, U, U, U, U, U, 200}});
  const Passes p = run_passes(start, 4);
  // Column 4 is reached from both sides in the same sweep and takes 100.
  EXPECT_EQ(p.last_grown, (Rows{{100, 100, 100, 100, 100, 200, 200, 200, 200}}));
  EXPECT_EQ(p.grids[0], (Rows{{100, U, U, U, 150, U, U, U, 200}}));
  EXPECT_EQ(p.grids[1], (Rows{{100, U, 125, U, 150, U, 175, U, 200}}));
  EXPECT_EQ(p.grids[2], (Rows{{100, 113, 125, 138, 150, 163, 175, 188, 200}}));
  EXPECT_EQ(p.grids[3], p.grids[2]);
  EXPECT_EQ(p.modif, (std::vector<std::int64_t>{1, 2, 4, 0}));

  const Loop l = run_loop(start);
  EXPECT_EQ(l.grid, p.grids[2]);
  EXPECT_EQ(l.passes, 4);
  EXPECT_EQ(l.reports, (std::vector<Report>{{1, 7, 0}, {2, 6, 1}, {3, 4, 2}, {4, 0, 4}}));

  // The same as one column: above/below play the part of left/right.
  const Loop c = run_loop(transpose(start));
  EXPECT_EQ(rows_of(transpose(make_grid({{100, 113, 125, 138, 150, 163, 175, 188, 200}}))), c.grid);
  EXPECT_EQ(c.reports, l.reports);
}

TEST(Dilation, LastGreaterCrossNeighbourWins) {
  // The centre grows to 100 with 400 above, 100 left, 300 right, 100 below:
  // the right neighbour comes last, so 200 and not 250.
  const IntGrid start = make_grid({
      {U, 400, U},
      {U, U, 300},
      {U, 100, U},
  });
  const Passes p = run_passes(start, 3);
  EXPECT_EQ(p.last_grown, (Rows{{400, 400, 300}, {100, 100, 300}, {100, 100, 100}}));
  EXPECT_EQ(p.grids[0], (Rows{{U, 400, 350}, {250, 200, 300}, {U, 100, 200}}));
  EXPECT_EQ(p.grids[1], (Rows{{325, 400, 350}, {250, 200, 300}, {175, 100, 200}}));
  EXPECT_EQ(p.grids[2], p.grids[1]);
  EXPECT_EQ(p.modif, (std::vector<std::int64_t>{4, 2, 0}));
  EXPECT_EQ(run_loop(start).reports, (std::vector<Report>{{1, 6, 0}, {2, 2, 4}, {3, 0, 2}}));
}

TEST(Dilation, EachGrowthSweepReadsTheGridAsItWasBeforeIt) {
  // 100 U U U 50: the first sweep reaches columns 1 and 3 only; column 2
  // then meets 100 and 50 in the same ring sweep and takes 50, so the first
  // midpoint lands on column 2.  Growing in place would have put 100 in
  // column 2 and the midpoint on column 3.
  const Passes p = run_passes(make_grid({{100, U, U, U, 50}}), 3);
  EXPECT_EQ(p.last_grown, (Rows{{100, 100, 50, 50, 50}}));
  EXPECT_EQ(p.grids[0], (Rows{{100, U, 75, U, 50}}));
  EXPECT_EQ(p.grids[1], (Rows{{100, 88, 75, 63, 50}}));
  EXPECT_EQ(p.modif, (std::vector<std::int64_t>{1, 2, 0}));

  // The first layer grows over the cross only: the diagonal 50 does not
  // reach (0, 1) in the first sweep, so it grows to 100.
  const Passes d = run_passes(make_grid({{100, U, U}, {U, U, 50}}), 3);
  EXPECT_EQ(d.last_grown, (Rows{{100, 100, 50}, {100, 50, 50}}));
  EXPECT_EQ(d.grids[0], (Rows{{100, U, 75}, {U, 75, 50}}));
  EXPECT_EQ(d.grids[1], (Rows{{100, 88, 75}, {88, 75, 50}}));
  EXPECT_EQ(d.modif, (std::vector<std::int64_t>{2, 2, 0}));
}

TEST(Dilation, MidpointArithmetic) {
  struct Case {
    const char* name;
    std::int32_t left, right, middle;
  } cases[] = {
      {"100 U 200", 100, 200, 150},
      {"200 U 100: the smaller value grows, the same midpoint", 200, 100, 150},
      {"99 U 101: 100.5 truncated", 99, 101, 100},
      {"-101 U -99: -99.5 truncated toward zero", -101, -99, -99},
      {"a midpoint equal to the file marker is an ordinary value", 65400, 65600, 65500},
      {"values above the file marker are ordinary", 65500, 65601, 65551},
      {"the sum does not overflow", 2000000000, 2100000000, 2050000000},
      {"nor on the negative side", -2000000000, -2100000000, -2049999999},
      {"extremes", INT_MIN + 1, INT_MAX, 0},
  };
  for (const Case& c : cases) {
    const Loop l = run_loop(make_grid({{c.left, U, c.right}}));
    EXPECT_EQ(l.grid, (Rows{{c.left, c.middle, c.right}})) << c.name;
    EXPECT_EQ(l.passes, 2) << c.name;
  }
  // Two data pixels side by side keep their values.
  EXPECT_EQ(run_loop(make_grid({{100, 200}})).grid, (Rows{{100, 200}}));
}

TEST(Dilation, GrowthStartsAboveEveryValue) {
  // 123456789 grows as itself: nothing is greater, the pass writes nothing.
  const Loop big = run_loop(make_grid({{123456789, U}}));
  EXPECT_EQ(big.grid, (Rows{{123456789, U}}));
  EXPECT_EQ(big.reports, (std::vector<Report>{{1, 1, 0}}));

  const Loop top = run_loop(make_grid({{INT_MAX, U, INT_MAX - 2}}));
  EXPECT_EQ(top.grid, (Rows{{INT_MAX, INT_MAX - 1, INT_MAX - 2}}));
}

TEST(Dilation, GridsThatEndAfterOnePass) {
  struct Case {
    const char* name;
    IntGrid start;
    std::int64_t to_treat;
  } cases[] = {
      {"no no-data pixel", make_grid({{1, 2}, {3, 4}}), 0},
      {"no data pixel", make_grid({{U, U, U}, {U, U, U}}), 6},
      {"a single data pixel", make_grid({{U, U, U}, {U, 7, U}, {U, U, U}}), 8},
      {"data pixels of one value", make_grid({{5, U, U, 5}, {U, U, U, U}}), 6},
      {"one pixel", make_grid({{U}}), 1},
  };
  for (const Case& c : cases) {
    const Loop l = run_loop(c.start);
    EXPECT_EQ(l.grid, rows_of(c.start)) << c.name;
    EXPECT_EQ(l.passes, 1) << c.name;
    EXPECT_EQ(l.reports, (std::vector<Report>{{1, c.to_treat, 0}})) << c.name;
  }
}

TEST(Dilation, BordersDoNotWrap) {
  // In a row the first and last pixels are not neighbours: 300 at the end
  // does not reach column 0 through the edge.
  const Passes row = run_passes(make_grid({{U, 100, U, 300}}), 1);
  EXPECT_EQ(row.last_grown, (Rows{{100, 100, 100, 300}}));
  EXPECT_EQ(row.grids[0], (Rows{{U, 100, 200, 300}}));

  // Across rows: the last pixel of row 0 is not the neighbour of the first
  // pixel of row 1.
  const Passes two = run_passes(make_grid({{U, 300}, {100, U}}), 1);
  EXPECT_EQ(two.last_grown, (Rows{{100, 300}, {100, 100}}));
  EXPECT_EQ(two.grids[0], (Rows{{200, 300}, {100, 200}}));
}

}  // namespace
}  // namespace tesk
