// The fast stages against the literal ones on many random grids: the same
// bytes, the same counts, the same progress reports, at every thread count
// and under limits that force each path of the fast dilation.  A failure
// names its seed and case (TESK_TEST_SEED replays another seed).
#include <gtest/gtest.h>

#include <climits>
#include <sstream>
#include <string>
#include <vector>

#include "core/thread_pool.h"
#include "stages/conversion.h"
#include "stages/dilation_literal.h"
#include "stages/dilation/dilation_fast.h"
#include "stages/gap_filling.h"
#include "stages/gap_filling_fast.h"
#include "stages/pipeline.h"
#include "stages/smoothing.h"
#include "stages/smoothing_fast.h"
#include "support/test_support.h"

namespace tesk {
namespace {

using namespace testing;
constexpr std::int32_t U = kNoData;

std::string pass_line(const PassReport& r) {
  return std::to_string(r.degree) + ":" + std::to_string(r.to_treat) + ":" + std::to_string(r.previous_modified);
}

std::string show(const FastDilationLimits& l) {
  std::ostringstream s;
  s << " limits " << l.stack_capacity << ' ' << l.flood_limit << ' ' << l.dense_share << ' ' << l.min_block_rows << ' '
    << l.min_lane_tiles << ' ' << l.lane_row_tiles << ' ' << l.max_lanes << ' ' << l.merge_at_step << ' ' << l.late_lane_us;
  return s.str();
}

// Literal and fast dilation of `start`: grids, passes, sweeps and reports.
void expect_same_dilation(const IntGrid& start, const FastDilationLimits& limits, ThreadPool& pool,
                          const std::string& what) {
  const int r = start.rows(), c = start.cols();
  IntGrid lit = copy_of(start), l1(r, c), l2(r, c), fast = copy_of(start), grown(r, c), lw(r, c), fw(r, c);
  ByteGrid state(r, c);
  std::vector<std::string> lr, fr;
  const DilationStats ls =
      dilate_literal(lit, l1, l2, [&](const PassReport& p) { lr.push_back(pass_line(p)); }, {}, &lw);
  const FastDilationStats fs = dilate_fast(
      fast, grown, state, [&](const PassReport& p) { fr.push_back(pass_line(p)); }, limits, &pool, {}, &fw);
  const std::string w = what + show(limits) + " threads " + std::to_string(pool.size());
  ASSERT_TRUE(same(lit, fast)) << w;
  ASSERT_TRUE(same(lw, fw)) << w << ": the records of the passes differ";
  ASSERT_EQ(std::tuple(ls.passes, ls.growth_sweeps, lr), std::tuple(fs.passes, fs.growth_sweeps, fr)) << w;
  if (pool.size() > 1 && limits.stack_capacity == 0 && start.size() <= 4096) {  // the work does not depend on threads
    IntGrid one = copy_of(start);
    const FastDilationStats os = dilate_fast(one, grown, state, nullptr, limits);
    ASSERT_EQ(std::pair(os.pixels_visited, os.pixels_dropped), std::pair(fs.pixels_visited, fs.pixels_dropped)) << w;
  }
}

TEST(FastVsLiteral, DilationMatchesOnRandomGrids) {
  const std::uint32_t seed = base_seed();
  Rng rng(seed);
  ThreadPool pools[4] = {ThreadPool(1), ThreadPool(2), ThreadPool(3), ThreadPool(4)};
  for (int c = 0; c < 360; ++c) {
    const Shape s = random_shape(rng);
    const IntGrid start = random_internal_grid(rng, s);
    // Tiny flood stacks that overflow, floods after every pass or none, the
    // straight-line walks always or never, lanes and blocks down to one
    // tile or row, lanes merging a few rows into every walk.
    FastDilationLimits l;
    l.stack_capacity = chance(rng, 0.3) ? static_cast<std::size_t>(uniform(rng, 1, 6)) : 0;
    const int flood = uniform(rng, 0, 3);
    l.flood_limit = flood == 0 ? SIZE_MAX : flood == 1 ? static_cast<std::size_t>(uniform(rng, 1, 40)) : 0;
    const int dense = uniform(rng, 0, 2);
    l.dense_share = dense == 0 ? 0.0 : dense == 1 ? 2.0 : l.dense_share;
    l.min_block_rows = chance(rng, 0.5) ? uniform(rng, 1, 3) : uniform(rng, 1, 40);
    l.min_lane_tiles = chance(rng, 0.7) ? 1 : uniform(rng, 1, 4);
    l.lane_row_tiles = chance(rng, 0.7) ? 1 : uniform(rng, 1, 12);
    l.max_lanes = uniform(rng, 2, 4);
    if (chance(rng, 0.25)) l.merge_at_step = uniform(rng, 1, 12);
    expect_same_dilation(start, l, pools[c % 4], describe(seed, c, s));
    if (HasFatalFailure()) return;
  }
}

// A 28 x 28 pocket inside a frame of 500: it grows to 500 and is final
// after the first pass, while the two columns beside it change for two
// passes (col 31: midpoint of 0 and 500, then col 30: of 250 and 500).
IntGrid pocket() {
  IntGrid g(30, 33);
  for (int i = 0; i < 30; ++i)
    for (int j = 0; j < 33; ++j) g[i][j] = j == 32 ? 0 : j < 30 && (i % 29 == 0 || j % 29 == 0) ? 500 : U;
  return g;
}

// Grids built for the edges of the fast dilation: pockets final after one
// pass, alone or joined to changing regions by a diagonal gap or shut, rows
// of more than 64 tiles, and empty grids; each under limits that force every path, at 1 to 3 threads.
TEST(FastVsLiteral, DilationMatchesOnDiagonalAndBorderCases) {
  auto blank = [](int r, int c) {
    IntGrid g(r, c);
    std::fill(g.begin(), g.end(), U);
    return g;
  };
  std::vector<IntGrid> grids;
  grids.push_back(pocket());
  grids.push_back(grid("1 U U U U / U U U U U / U U -7 U U / U U U U U / 900 U U U 2147483647"));
  grids.push_back(grid("0 U 1 U -2 U / U 3 U -1 U 0 / 2 U -2 U 1 U / U 0 U 4 U -3"));  // four data neighbours each
  for (const bool open : {true, false}) {
    IntGrid g = blank(16, 24);
    for (int k = 0; k < 8; ++k) g[2][2 + k] = g[9][2 + k] = g[2 + k][2] = g[2 + k][9] = 700;
    if (open) g[9][9] = U;  // (9,9) touches (8,8) and (10,10) diagonally
    for (int i = 0; i < 16; ++i) g[i][23] = open ? -40 * i : 3 * i;
    for (int j = 12; j < 20; ++j) g[13][j] = 9000;
    grids.push_back(std::move(g));
  }
  for (const auto& [a, b] : {std::pair{1012, 1024}, std::pair{1024, 1036}, std::pair{1020, 1030}}) {
    IntGrid g(3, 1100);  // rows of more than 64 tiles, holes on either side of a mask word's boundary
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 1100; ++j) g[i][j] = j >= a && j < b ? U : (j * 37 + i * 101) % 1000 - 300;
    g[1][0] = g[2][1099] = U;
    grids.push_back(std::move(g));
  }
  for (const auto& [r, c] : {std::pair{0, 5}, std::pair{5, 0}, std::pair{0, 0}}) grids.push_back(IntGrid(r, c));
  const FastDilationLimits variants[] = {{0, 0}, {3, 0}, {1, SIZE_MAX}, {0, 1}, {0, 0, 0.0}, {0, 0, 2.0}, {3, 1, 2.0}};
  ThreadPool pools[3] = {ThreadPool(1), ThreadPool(2), ThreadPool(3)};
  for (std::size_t k = 0; k < grids.size(); ++k)
    for (FastDilationLimits l : variants)
      for (ThreadPool& pool : pools) {
        l.min_block_rows = l.min_lane_tiles = l.lane_row_tiles = 1;
        l.max_lanes = 3;
        expect_same_dilation(grids[k], l, pool, "grid " + std::to_string(k));
        if (HasFatalFailure()) return;
      }
}

// Lanes forced to merge at every step a walk can reach (a walk has at most
// rows + 2), then a last lane starting 2 ms late, on rows of up to 12 tiles
// with one tile a lane: the bytes and counts of the literal dilation.
TEST(FastDilation, ForcedMergesAndLateLanesNeverChangeTheBytes) {
  const std::uint32_t seed = base_seed() + 5;
  Rng rng(seed);
  ThreadPool pool(4);
  for (int c = 0; c < 3; ++c) {
    const Shape s{uniform(rng, 38, 42), uniform(rng, 180, 192)};
    const IntGrid start = random_internal_grid(rng, s);
    IntGrid lit = copy_of(start), a(s.rows, s.cols), b(s.rows, s.cols);
    const DilationStats ls = dilate_literal(lit, a, b, nullptr);
    for (int lanes = 2; lanes <= 4; ++lanes)
      for (int k = 1; k <= s.rows + 4; ++k) {
        FastDilationLimits l;
        l.dense_share = 0.0;  // straight-line walks, over lanes
        l.min_lane_tiles = l.lane_row_tiles = 1;
        l.max_lanes = lanes;
        (k <= s.rows + 3 ? l.merge_at_step : l.late_lane_us) = k <= s.rows + 3 ? k : 2000;
        IntGrid fast = copy_of(start), grown(s.rows, s.cols);
        ByteGrid state(s.rows, s.cols);
        const FastDilationStats fs = dilate_fast(fast, grown, state, nullptr, l, &pool);
        ASSERT_TRUE(same(lit, fast) && ls.passes == fs.passes && ls.growth_sweeps == fs.growth_sweeps)
            << describe(seed, c, s) << show(l);
      }
  }
}

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
    IntGrid lit = copy_of(start), fast = copy_of(start);
    const int lsweeps = fill_gaps_literal(lit);
    ByteGrid flags(s.rows, s.cols);
    std::fill(flags.begin(), flags.end(), std::uint8_t{0xff});  // stale scratch must not matter
    const FastGapStats fs = fill_gaps_fast(fast, flags, c % 4 == 3 ? nullptr : &pools[c % 4]);
    const std::string what = describe(seed, c, s) + " pool " + std::to_string(c % 4);
    ASSERT_TRUE(same(lit, fast) && lsweeps == fs.sweeps) << what;
  }
}

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
    if (chance(rng, 0.7)) fill_gaps_literal(itab);  // mostly whole surfaces, sometimes holes
    if (chance(rng, 0.1)) std::fill(itab.begin(), itab.end(), U);
    IntGrid lit(s.rows, s.cols);
    for (auto& v : lit) v = uniform(rng, -5, 5);
    IntGrid fast = copy_of(lit);
    std::vector<int> lrows, frows;
    smooth_literal(itab, lit, maille, [&](int i) { lrows.push_back(i); });
    smooth_fast(itab, fast, maille, [&](int i) { frows.push_back(i); }, pools[c % 3]);
    ASSERT_TRUE(same(lit, fast) && lrows == frows) << describe(seed, c, s) << " maille " << maille;
  }
  IntGrid small(3, 8), big(40, 40), out(3, 8);
  for (const auto& [g, m] : {std::pair{&small, 3}, std::pair{&small, 1}, std::pair{&big, kMaxMaille + 1}}) {
    EXPECT_THROW(smooth_fast(*g, out, m, nullptr, pools[1]), std::invalid_argument) << m;
    EXPECT_THROW(smooth_literal(*g, out, m, nullptr), std::invalid_argument) << m;
  }
}

bool same_fault(const std::optional<ConversionFault>& a, const std::optional<ConversionFault>& b) {
  return a.has_value() == b.has_value() && (!a || (a->row == b->row && a->col == b->col && a->value == b->value));
}

// The whole computation: outputs, statistics and every report, literal
// against fast at 1 to 4 threads.
struct Transcript : RunObserver {
  void pass_starting(const PassReport& r) override { add("pass " + pass_line(r)); }
  void smoothing_stage() override { add("stage"); }
  void smoothing_skipped(int m) override { add("skipped " + std::to_string(m)); }
  void smoothing_starting(int m) override { add("smoothing " + std::to_string(m)); }
  void smoothing_row(int r) override { add("srow " + std::to_string(r)); }
  void saving_starting() override { add("saving"); }
  void minmax_row(int r) override { add("mrow " + std::to_string(r)); }
  void minmax_found(int lo, int hi) override { add("minmax " + std::to_string(lo) + " " + std::to_string(hi)); }
  void before_conversion_back(const IntGrid& g) override { add("back " + std::to_string(g.size())); }
  void add(const std::string& s) { lines += s + "\n"; }
  std::string lines;
};

struct Outcome {
  RunGrids g;
  RunStats stats;
  std::string transcript;
  std::optional<ConversionFault> fault;
};

void run_pipeline(const IntGrid& raw, const RunParams& p, Outcome& o) {
  o.g.allocate(raw.rows(), raw.cols(), p.literal);
  std::copy(raw.begin(), raw.end(), o.g.itab.begin());
  Transcript t;
  try {
    o.stats = compute_dem(o.g, p, [&](IntGrid& itab) { std::copy(raw.begin(), raw.end(), itab.begin()); }, t);
  } catch (const ConversionError& e) {
    o.fault = e.fault;
  }
  o.transcript = t.lines;
}

TEST(FastVsLiteral, WholeComputationMatchesOnRandomRasters) {
  const std::uint32_t seed = base_seed() + 4;
  Rng rng(seed);
  const int equids[] = {1, 2, 5, 10, 20, 3, -4, 1000};
  for (int c = 0; c < 300; ++c) {
    const Shape s = c == 0 ? Shape{331, 297} : random_shape(rng);
    const int itype = uniform(rng, 0, 1);
    RunParams p;
    p.ival = ival_for(itype);
    p.equid = equids[uniform(rng, 0, 7)];
    p.maille = c % 7;  // 0 and 1 leave the result unsmoothed
    p.overlay = c % 2 == 0;
    const IntGrid raw = random_raw_grid(rng, s, itype);
    p.literal = true;
    Outcome lit, fast;
    run_pipeline(raw, p, lit);
    p.literal = false;
    p.threads = 1 + c % 4;
    run_pipeline(raw, p, fast);
    const std::string what = describe(seed, c, s) + " itype, equid, threads " + std::to_string(itype) + " " +
                             std::to_string(p.equid) + " " + std::to_string(p.threads);  // maille, overlay from c
    ASSERT_TRUE(same_fault(lit.fault, fast.fault) && lit.transcript == fast.transcript) << what;
    if (lit.fault) continue;
    ASSERT_TRUE(same(lit.g.itab1, fast.g.itab1) && same(lit.g.tab, fast.g.tab)) << what;
    const RunStats &a = lit.stats, &b = fast.stats;
    ASSERT_EQ(std::tuple(a.passes, a.growth_sweeps, a.gap_sweeps, a.min_al, a.max_al),
              std::tuple(b.passes, b.growth_sweeps, b.gap_sweeps, b.min_al, b.max_al)) << what;
  }
}

// The work of the fast dilation and gap filling follows the no-data pixels
// and their neighbours: a bounded number of visits a pixel and pass, where
// the literal growth sweeps the grid once per layer; settled areas are
// dropped.
TEST(FastStages, WorkStaysProportionalToThePixels) {
  for (const Shape s : {Shape{30, 62}, Shape{1, 4000}, Shape{4000, 1}, Shape{200, 200}}) {
    SCOPED_TRACE(describe(0, 0, s));
    IntGrid itab(s.rows, s.cols), holes(s.rows, s.cols), grown(s.rows, s.cols);
    std::fill(itab.begin(), itab.end(), U);
    std::fill(holes.begin(), holes.end(), U);
    itab[0][0] = 1000;
    itab[s.rows / 2][s.cols / 2] = 3;
    ByteGrid state(s.rows, s.cols);
    const FastDilationStats d = dilate_fast(itab, grown, state, nullptr);
    const auto pixels = static_cast<std::int64_t>(itab.size());
    EXPECT_TRUE(d.pixels_visited <= 5 * pixels * d.passes && d.growth_sweeps * pixels > 4 * d.pixels_visited);
    holes[s.rows - 1][s.cols - 1] = 9;  // one pixel upward or leftward a sweep
    const FastGapStats gs = fill_gaps_fast(holes, state);
    EXPECT_TRUE(std::count(holes.begin(), holes.end(), 9) == pixels && gs.pixels_visited <= 4 * pixels);
  }
  // The pocket is dropped once final, whichever way its pass went.
  for (const FastDilationLimits l : {FastDilationLimits{}, FastDilationLimits{1, SIZE_MAX},
                                     FastDilationLimits{0, 0, 0.0}, FastDilationLimits{1, SIZE_MAX, 2.0}}) {
    IntGrid itab = pocket(), grown(30, 33);
    ByteGrid state(30, 33);
    EXPECT_EQ(dilate_fast(itab, grown, state, nullptr, l).pixels_dropped, 28 * 28);
  }
}

}  // namespace
}  // namespace tesk
