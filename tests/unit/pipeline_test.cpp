// The whole computation on small grids, through the literal stages and the
// fast ones on one and on several threads: the internal no-data marker
// never meets a real altitude, whatever value that altitude takes inside.
// (Transcripts and files of whole runs are checked end to end; the paths
// against each other on random grids.)
#include "stages/pipeline.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "core/units.h"
#include "support/test_support.h"

namespace tesk {
namespace {

using testing::make_grid;
using testing::rows_of;

using Rows = std::vector<std::vector<std::int32_t>>;

struct Path {
  bool literal;
  int threads;
};

class PipelineTest : public ::testing::TestWithParam<Path> {};

constexpr int N = kIval16;  // a 16-bit no-data sample

TEST_P(PipelineTest, NoDataMarkerAcrossTheRun) {
  struct Case {
    const char* what;
    IntGrid raw;
    int equid, maille;
    bool overlay;
    Rows result;
    std::vector<int> preview;
  } cases[] = {
      // Interval 29: altitude 3710 becomes 65500 internal units and stays a
      // contour; the no-data pixel between two of them is filled with 65500
      // too, and everything comes back as 3709.
      {"3710 at 29, overlay", make_grid({{3710, N, 3710}}), 29, 1, true, {{3709, 3709, 3709}}, {0, 0, 0}},
      {"3710 at 29", make_grid({{3710, N, 3710}}), 29, 1, false, {{3709, 3709, 3709}}, {0, 0, 0}},
      // No contour at all: the file marker everywhere, a flat preview, with
      // or without a smoothing window that fits.
      {"no contour", make_grid({{N, N}, {N, N}}), 10, 1, true, {{N, N}, {N, N}}, {0, 0, 0, 0}},
      {"no contour, smoothed", make_grid({{N, N, N}, {N, N, N}, {N, N, N}}), 10, 2, false,
       {{N, N, N}, {N, N, N}, {N, N, N}}, std::vector<int>(9, 0)},
  };
  for (const Case& c : cases) {
    RunParams p;
    p.ival = kIval16;
    p.equid = c.equid;
    p.maille = c.maille;
    p.overlay = c.overlay;
    p.literal = GetParam().literal;
    p.threads = GetParam().threads;
    RunGrids g;
    g.allocate(c.raw.rows(), c.raw.cols(), p.literal);
    std::copy(c.raw.begin(), c.raw.end(), g.itab.begin());
    RunObserver quiet;
    compute_dem(g, p, [&](IntGrid& itab) { std::copy(c.raw.begin(), c.raw.end(), itab.begin()); }, quiet);
    EXPECT_EQ(rows_of(g.itab1), c.result) << c.what;
    EXPECT_EQ(std::vector<int>(g.tab.begin(), g.tab.end()), c.preview) << c.what;
  }
}

// Grids mapped early on their own thread: the input written meanwhile stays,
// the other grids stay zero, and a second allocation waits for the first
// mapping before it frees the grids.
TEST(RunGridsTest, EarlyMappingChangesNothing) {
  RunGrids g;
  g.allocate(1500, 1000, true, true);
  g.allocate(1200, 1100, true, true);
  for (int i = 0; i < 1200; ++i) g.itab[i][(i * 7) % 1100] = i - 600;
  g.mapped();
  g.mapped();
  for (int i = 0; i < 1200; ++i)
    for (int j = 0; j < 1100; ++j) ASSERT_EQ(g.itab[i][j], j == (i * 7) % 1100 ? i - 600 : 0) << i << " " << j;
  for (const IntGrid* z : {&g.itab1, &g.itab2})
    EXPECT_EQ(std::count(z->begin(), z->end(), 0), static_cast<std::ptrdiff_t>(z->size()));
  EXPECT_EQ(std::count(g.tab.begin(), g.tab.end(), 0), static_cast<std::ptrdiff_t>(g.tab.size()));
}

INSTANTIATE_TEST_SUITE_P(Paths, PipelineTest, ::testing::Values(Path{true, 1}, Path{false, 1}, Path{false, 3}),
                         [](const ::testing::TestParamInfo<Path>& info) {
                           return info.param.literal ? std::string("literal")
                                                     : "fast_" + std::to_string(info.param.threads) + "_threads";
                         });

}  // namespace
}  // namespace tesk
