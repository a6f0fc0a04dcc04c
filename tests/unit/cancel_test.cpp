#include <gtest/gtest.h>

#include <atomic>

#include "stages/pipeline.h"
#include "support/test_support.h"

using namespace tesk;
using tesk::testing::copy_of;

namespace {

// Counts the polls, notes in which stage each came (the stage known from the
// reports), and asks the run to stop from poll number stop_at on.
struct Stopper : RunObserver {
  explicit Stopper(long stop) : stop_at(stop) {}
  bool cancel_requested() const override {
    seen.fetch_or(1 << stage.load());
    return polls.fetch_add(1) >= stop_at;
  }
  void pass_starting(const PassReport&) override { stage = 1; }
  void smoothing_starting(int) override { stage = 2; }
  void before_conversion_back(const IntGrid&) override { stage = 3; }
  void saving_starting() override { stage = 4; }
  void minmax_found(int, int) override { stage = 5; }
  long stop_at;
  mutable std::atomic<long> polls{0};
  mutable std::atomic<int> seen{0};
  std::atomic<int> stage{0};
};

// Sloping contour lines over a raster wide enough for lanes of columns.
long run(bool literal, int threads, int rows, int cols, Stopper& s) {
  RunParams p;
  std::tie(p.ival, p.equid, p.maille, p.literal, p.threads) = std::tuple(65500, 10, 3, literal, threads);
  RunGrids g;
  g.allocate(rows, cols, literal);
  for (int i = 0; i < rows; ++i)
    for (int j = 0; j < cols; ++j) g.itab[i][j] = (i + j / 7) % 23 == 0 ? (i + j / 7) * 3 : 65500;
  const IntGrid raw = copy_of(g.itab);
  compute_dem(g, p, [&](IntGrid& itab) { std::copy(raw.begin(), raw.end(), itab.begin()); }, s);
  return s.polls;
}

}  // namespace

// Every stage polls; from any poll on, the run ends in Cancelled, whichever
// stage and thread (a lane waiting for another included) sees it.  Rows
// of 2100 pixels poll every 124 rows: 160 rows make lanes stop mid-walk.
TEST(Cancel, EveryStagePollsAndAnyPollStopsTheRun) {
  const struct { bool literal; int threads, rows, cols; } table[] = {{true, 1, 40, 300}, {false, 1, 40, 300},
                                                                    {false, 2, 160, 2100}};
  for (const auto& [literal, threads, rows, cols] : table) {
    SCOPED_TRACE(std::to_string(literal) + " " + std::to_string(threads));
    Stopper never(1L << 60);
    const long total = run(literal, threads, rows, cols, never);
    EXPECT_EQ(never.seen, 0b111111);
    for (long k = 0; k < 18; ++k) {  // up to 3/4: the lanes poll more or less often as they merge
      Stopper s(total * k / 24);
      EXPECT_THROW(run(literal, threads, rows, cols, s), Cancelled) << s.stop_at << " of " << total;
    }
  }
}
