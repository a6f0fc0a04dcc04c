// The whole computation on small grids: the order of its reports and the
// finished result and preview.
#include "stages/pipeline.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/units.h"
#include "support/test_support.h"

namespace tesk {
namespace {

using testing::make_grid;
using testing::rows_of;

using Rows = std::vector<std::vector<std::int32_t>>;

class Recorder : public RunObserver {
 public:
  std::vector<std::string> log;
  void pass_starting(const PassReport& r) override {
    log.push_back("pass " + std::to_string(r.degree) + " treat " + std::to_string(r.to_treat) + " modified " +
                  std::to_string(r.previous_modified));
  }
  void smoothing_stage() override { log.push_back("smoothing stage"); }
  void smoothing_skipped(int m) override { log.push_back("smoothing skipped " + std::to_string(m)); }
  void smoothing_starting(int m) override { log.push_back("smoothing " + std::to_string(m)); }
  void smoothing_row(int i) override { log.push_back("smoothing row " + std::to_string(i)); }
  void saving_starting() override { log.push_back("saving"); }
  void minmax_row(int i) override { log.push_back("minmax row " + std::to_string(i)); }
  void minmax_found(int mn, int mx) override {
    log.push_back("min " + std::to_string(mn) + " max " + std::to_string(mx));
  }
};

// Runs compute_dem on `raw`; the overlay reads `raw` again.
struct Outcome {
  Rows result;
  std::vector<int> preview;
  std::vector<std::string> log;
  RunStats stats;
  int rereads = 0;
};
Outcome run(const IntGrid& raw, const RunParams& p) {
  RunGrids g;
  g.allocate(raw.rows(), raw.cols(), p.literal);
  std::copy(raw.begin(), raw.end(), g.itab.begin());
  Recorder rec;
  Outcome o;
  o.stats = compute_dem(
      g, p,
      [&](IntGrid& itab) {
        ++o.rereads;
        std::copy(raw.begin(), raw.end(), itab.begin());
      },
      rec);
  o.result = rows_of(g.itab1);
  o.preview.assign(g.tab.begin(), g.tab.end());
  o.log = rec.log;
  return o;
}

// Each case runs with the literal stages and with the fast ones (on one and
// on several threads): the expectations are the same for all.
struct Path {
  bool literal;
  int threads;
};
const Path kPaths[] = {{true, 1}, {false, 1}, {false, 3}};

class PipelineTest : public ::testing::TestWithParam<Path> {
 protected:
  RunParams params(int ival, int equid, int maille, bool overlay) const {
    RunParams p;
    p.ival = ival;
    p.equid = equid;
    p.maille = maille;
    p.overlay = overlay;
    p.literal = GetParam().literal;
    p.threads = GetParam().threads;
    return p;
  }
};

constexpr int N = kIval16;  // a 16-bit no-data sample

TEST_P(PipelineTest, NinePixelRowFromContoursToPreview) {
  // At interval 512 an internal unit is one altitude unit.
  const IntGrid raw = make_grid({{100, N, N, N, N, N, N, N, 200}});
  for (bool overlay : {true, false}) {
    const Outcome o = run(raw, params(kIval16, 512, 1, overlay));
    EXPECT_EQ(o.result, (Rows{{100, 113, 125, 138, 150, 163, 175, 188, 200}}));
    EXPECT_EQ(o.preview, (std::vector<int>{0, 33, 64, 97, 127, 161, 191, 224, 255}));
    EXPECT_EQ(o.log, (std::vector<std::string>{
                         "pass 1 treat 7 modified 0",
                         "pass 2 treat 6 modified 1",
                         "pass 3 treat 4 modified 2",
                         "pass 4 treat 0 modified 4",
                         "smoothing stage",
                         "saving",
                         "minmax row 0",
                         "min 100 max 200",
                     }));
    EXPECT_EQ(o.stats.passes, 4);
    EXPECT_EQ(o.stats.min_al, 100);
    EXPECT_EQ(o.stats.max_al, 200);
    EXPECT_EQ(o.rereads, overlay ? 1 : 0);
  }
}

TEST_P(PipelineTest, WindowLargerThanTheImageSkipsTheSmoothing) {
  const IntGrid raw = make_grid({{100, N, N, N, N, N, N, N, 200}});
  const Outcome o = run(raw, params(kIval16, 512, 3, false));
  EXPECT_EQ(o.result, (Rows{{100, 113, 125, 138, 150, 163, 175, 188, 200}}));
  ASSERT_GE(o.log.size(), 7u);
  EXPECT_EQ(std::vector<std::string>(o.log.begin() + 4, o.log.end()),
            (std::vector<std::string>{"smoothing stage", "smoothing skipped 3", "saving", "minmax row 0",
                                      "min 100 max 200"}));
}

TEST_P(PipelineTest, SmoothingThenOverlay) {
  // A 4 x 4 grid of contour 7s: the smoothing window is the whole grid.  The
  // pixel (1, 1) smooths to 6, the corners keep 7; the overlay puts every
  // contour back.
  const IntGrid raw = make_grid({{7, 7, 7, 7}, {7, 7, 7, 7}, {7, 7, 7, 7}, {7, 7, 7, 7}});
  const std::vector<std::string> head = {
      "pass 1 treat 0 modified 0", "smoothing stage", "smoothing 3",   "smoothing row 0",
      "smoothing row 1",           "smoothing row 2", "smoothing row 3", "saving",
      "minmax row 0",              "minmax row 1",    "minmax row 2",  "minmax row 3",
  };

  const Outcome with = run(raw, params(kIval16, 512, 3, true));
  EXPECT_EQ(with.result, rows_of(raw));
  EXPECT_EQ(with.preview, std::vector<int>(16, 0));  // flat
  std::vector<std::string> log = head;
  log.push_back("min 7 max 7");
  EXPECT_EQ(with.log, log);

  const Outcome without = run(raw, params(kIval16, 512, 3, false));
  EXPECT_EQ(without.result[0][0], 7);
  EXPECT_EQ(without.result[3][3], 7);
  EXPECT_EQ(without.result[1][1], 6);
  EXPECT_EQ(without.stats.min_al, 6);
  EXPECT_EQ(without.stats.max_al, 7);
  EXPECT_EQ(without.preview[0], 255);       // 7
  EXPECT_EQ(without.preview[1 * 4 + 1], 0);  // 6
}

TEST_P(PipelineTest, NoDataMarkerAcrossTheRun) {
  // Interval 29: altitude 3710 becomes 65500 internal units and stays a
  // contour; the no-data pixel between two of them is filled with 65500 too,
  // and everything comes back as 3709.
  for (bool overlay : {true, false}) {
    const Outcome o = run(make_grid({{3710, N, 3710}}), params(kIval16, 29, 1, overlay));
    EXPECT_EQ(o.result, (Rows{{3709, 3709, 3709}})) << overlay;
  }

  // No contour at all: the result holds the file marker everywhere, the
  // preview is flat.
  const Outcome none = run(make_grid({{N, N}, {N, N}}), params(kIval16, 10, 1, true));
  EXPECT_EQ(none.result, (Rows{{N, N}, {N, N}}));
  EXPECT_EQ(none.preview, std::vector<int>(4, 0));
  EXPECT_EQ(none.log.front(), "pass 1 treat 4 modified 0");
  EXPECT_EQ(none.log.back(), "min 65500 max 65500");

  // ... and with a window that fits: the stage is announced, nothing changes.
  const Outcome smooth_none = run(make_grid({{N, N, N}, {N, N, N}, {N, N, N}}), params(kIval16, 10, 2, false));
  EXPECT_EQ(smooth_none.result, (Rows{{N, N, N}, {N, N, N}, {N, N, N}}));
  EXPECT_EQ(smooth_none.log[2], "smoothing 2");

  // 32-bit: a contour value past the internal range stops the run.
  const IntGrid big = make_grid({{kIval32, 4194304}});
  try {
    run(big, params(kIval32, 1, 1, true));
    ADD_FAILURE() << "no ConversionError";
  } catch (const ConversionError& e) {
    EXPECT_EQ(e.fault.row, 0);
    EXPECT_EQ(e.fault.col, 1);
    EXPECT_EQ(e.fault.value, 4194304);
  }
}

INSTANTIATE_TEST_SUITE_P(Paths, PipelineTest, ::testing::ValuesIn(kPaths),
                         [](const ::testing::TestParamInfo<Path>& info) {
                           return info.param.literal ? std::string("literal")
                                                     : "fast_" + std::to_string(info.param.threads) + "_threads";
                         });

}  // namespace
}  // namespace tesk
