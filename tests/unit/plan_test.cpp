// The plan of a run by tiles: a survey made block by block, in any order,
// says what the survey of the whole raster says; the halo rules; which tile
// requests are valid; a certificate of a cut tile, pixel for pixel.
#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>

#include "core/units.h"
#include "run/tile_budget.h"
#include "support/test_support.h"
#include "stages/contour_survey.h"
#include "tiles/plan.h"
#include "tiles/tile_run.h"

namespace tesk {
namespace {

using namespace testing;

// A block of a raw raster as the survey reads it.
BlockRows rows_of(const IntGrid& g, int ival, const Window& w) {
  BlockRows b;
  b.rows = w.rows;
  b.cols = w.cols;
  b.row0 = w.row0;
  b.col0 = w.col0;
  b.raw_nodata = ival;
  b.read_raw = [&g, w](int i, std::int32_t* row) { std::copy(g[w.row0 + i] + w.col0, g[w.row0 + i] + w.col0 + w.cols, row); };
  return b;
}

void expect_same(const RasterSurvey& a, const RasterSurvey& b, const std::string& what) {
  EXPECT_EQ(a.any, b.any) << what;
  EXPECT_EQ(a.contours.pixels, b.contours.pixels) << what;
  EXPECT_EQ(a.contours.off_interval, b.contours.off_interval) << what;
  if (a.contours.off_interval > 0) {
    EXPECT_EQ(a.contours.example, b.contours.example) << what;
    EXPECT_EQ(a.example.row, b.example.row) << what;
    EXPECT_EQ(a.example.col, b.example.col) << what;
  }
  EXPECT_EQ(a.contours.lo, b.contours.lo) << what;
  EXPECT_EQ(a.contours.hi, b.contours.hi) << what;
  ASSERT_EQ(a.fault.has_value(), b.fault.has_value()) << what;
  if (a.fault) {
    EXPECT_TRUE(a.fault->at.row == b.fault->at.row && a.fault->at.col == b.fault->at.col) << what;
  }
}

TEST(TilePlan, BlocksSurveyedInAnyOrderSayWhatTheWholeRasterSays) {
  const std::uint32_t seed = base_seed() + 40;
  Rng rng(seed);
  for (int c = 0; c < 300 && !HasFailure(); ++c) {
    const Shape s{uniform(rng, 1, 60), uniform(rng, 1, 60)};
    const int itype = uniform(rng, 0, 1), ival = ival_for(itype);
    const int equid = c % 4 == 0 ? 1 : uniform(rng, 2, 40);  // 1 in 32-bit rasters: faults
    const IntGrid g = random_raw_grid(rng, s, itype);
    const std::string what = describe(seed, c, s);
    const RasterSurvey whole = survey_block(rows_of(g, ival, {0, 0, s.rows, s.cols}), equid);
    // Blocks of any size, surveyed in a shuffled order.
    const int br = uniform(rng, 1, s.rows), bc = uniform(rng, 1, s.cols);
    std::vector<Window> blocks;
    for (int i = 0; i < s.rows; i += br)
      for (int j = 0; j < s.cols; j += bc) blocks.push_back({i, j, std::min(br, s.rows - i), std::min(bc, s.cols - j)});
    std::shuffle(blocks.begin(), blocks.end(), rng);
    RasterSurvey merged;
    for (const Window& w : blocks) merged.merge(survey_block(rows_of(g, ival, w), equid));
    if (whole.fault) {  // a block stops at its own first fault: only the fault's place is the whole raster's
      ASSERT_TRUE(merged.fault) << what;
      EXPECT_TRUE(merged.fault->at.row == whole.fault->at.row && merged.fault->at.col == whole.fault->at.col) << what;
      continue;
    }
    expect_same(merged, whole, what);
    // The contours as a whole run surveys them.
    const ContourSurvey direct = survey_raw(g, ival, equid);
    EXPECT_TRUE(whole.contours.pixels == direct.pixels && whole.contours.off_interval == direct.off_interval &&
                whole.contours.example == direct.example && whole.contours.lo == direct.lo &&
                whole.contours.hi == direct.hi) << what;
    EXPECT_LE(merged.longest_gap, whole.longest_gap) << what;  // runs cut by the blocks' edges
    // Strips of whole rows in order, with the columns' runs carried: the
    // longest gap too.
    std::vector<int> runs;
    RasterSurvey strips;
    for (int i = 0; i < s.rows; i += br) strips.merge(survey_block(rows_of(g, ival, {i, 0, std::min(br, s.rows - i), s.cols}), equid, &runs));
    expect_same(strips, whole, what);
    EXPECT_EQ(strips.longest_gap, whole.longest_gap) << what;
  }
}

TEST(TilePlan, HalosStartFromTheWidestGapAndDoubleWithinTheLimit) {
  RasterSurvey s;
  struct Case {
    int gap;
    std::optional<int> given;
    int largest, first;
  };
  for (const Case& c : {Case{0, {}, 4096, 16}, Case{84, {}, 4096, 16}, Case{85, {}, 4096, 32}, Case{160, {}, 4096, 32},
                        Case{165, {}, 4096, 48}, Case{5119, {}, 4096, 1024}, Case{6000, {}, 4096, 1024}, Case{5000, {}, 100, 100}, Case{10, 7, 4096, 7}, Case{10, 9000, 64, 64},
                        Case{10, {}, 0, 0}}) {
    s.longest_gap = c.gap;
    EXPECT_EQ(first_halo(s, c.given, c.largest), c.first) << "gap " << c.gap << " largest " << c.largest;
  }
  // Doubling, cut at the limit, ending where the halo reaches every edge.
  std::vector<int> seen;
  for (std::optional<int> h = 0; h; h = next_halo(*h, 300, 200, 250)) seen.push_back(*h);
  EXPECT_EQ(seen, (std::vector<int>{0, 1, 2, 4, 8, 16, 32, 64, 128, 250}));
  seen.clear();
  for (std::optional<int> h = 24; h; h = next_halo(*h, 100, 40, 1 << 20)) seen.push_back(*h);
  EXPECT_EQ(seen, (std::vector<int>{24, 48, 96, 192}));
}

// By itself, a run takes as many tiles at once as its threads while the
// tile stays 4 halos wide or more, else the largest tile the memory holds;
// then the smallest tile giving as many (3328 would hold two at once at 1800
// MiB, leaving a last column 32 pixels wide; 3072 cuts 20000 into 7 too).
TEST(TilePlan, TheTileTheMemoryChooses) {
  struct Case {
    int rows, cols, halo, threads;
    std::uint64_t mib;
    int tile;
  };
  for (const Case& c : {Case{20000, 20000, 144, 2, 1800, 3072}, Case{20000, 20000, 144, 1, 1800, 5120},
                        Case{20000, 20000, 144, 4, 1800, 2304}, Case{20000, 20000, 144, 2, 1300, 2560},
                        Case{20000, 20000, 144, 2, 1100, 2560}, Case{20000, 20000, 300, 2, 1800, 3072},
                        Case{20000, 20000, 600, 2, 1800, 2560}, Case{20000, 20000, 700, 2, 1800, 3584},
                        Case{3000, 3000, 16, 2, 30, 256}, Case{3000, 3000, 60, 2, 30, 256}, Case{3000, 3000, 70, 2, 30, 512},
                        Case{3000, 3000, 16, 2, 4, 256}, Case{600, 300, 16, 2, 1 << 10, 768}}) {
    EXPECT_EQ(tile_by_itself(c.rows, c.cols, c.halo, c.threads, c.mib << 20, 64), c.tile)
        << c.rows << " x " << c.cols << ", halo " << c.halo << ", " << c.threads << " threads, " << c.mib << " MiB";
  }
}

// A tile of 1024 never proven, in a raster of 3000 with the largest halo
// 512: the attempts after its first (halo 32), given the side of its
// unproven box after each and whether the box can be held from a halo on.
TEST(TilePlan, RetriesTryBoxesToTheLargestHaloThenTheWholeCoreFromItsLast) {
  struct Case {
    std::vector<int> box_sides;  // after each attempt (the last repeats)
    int held_below;              // the box can be held below this halo
    std::string attempts;
  };
  for (const Case& c : {Case{{50}, 1 << 20, "b64 b128 b256 b512 c64 c128 c256 c512"},
                        Case{{1000}, 1 << 20, "c64 c128 c256 c512"},
                        Case{{50}, 256, "b64 b128 c256 c512"},
                        Case{{50, 900, 50}, 1 << 20, "b64 c128 b256 b512 c256 c512"},
                        Case{{0}, 1 << 20, "c64 c128 c256 c512"}}) {
    Retries r(32);
    std::string seen;
    for (std::size_t k = 0;; ++k) {
      const int box = c.box_sides[std::min(k, c.box_sides.size() - 1)];
      const auto next = r.next(1024, box, 3000, 3000, 512, [&](int h) { return h < c.held_below; });
      if (!next) break;
      if (!seen.empty()) seen += ' ';
      seen += *next == Retries::Try::box ? 'b' : 'c';
      seen += std::to_string(r.halo);
      ASSERT_LT(k, 20u) << "the retries never end";
    }
    EXPECT_EQ(seen, c.attempts) << c.attempts;
  }
}

TEST(TilePlan, OnlyRequestsInsideTheRasterRun) {
  const IntGrid g = grid("100 U U / U U 200");
  RunParams p;
  p.ival = kNoData;
  p.internal_input = true;
  struct Case {
    TileRequest r;
    bool ok;
  };
  for (const Case& c : {Case{{2, 3, {0, 0, 2, 3}, 0}, true}, Case{{2, 3, {1, 2, 1, 1}, 5}, true},
                        Case{{2, 3, {0, 0, 2, 3}, -1}, false}, Case{{2, 3, {0, 0, 0, 3}, 0}, false},
                        Case{{2, 3, {0, 0, 2, 0}, 0}, false}, Case{{2, 3, {-1, 0, 1, 1}, 0}, false},
                        Case{{2, 3, {0, -1, 1, 1}, 0}, false}, Case{{2, 3, {1, 0, 2, 3}, 0}, false},
                        Case{{2, 3, {0, 1, 2, 3}, 0}, false}}) {
    EXPECT_EQ(valid(c.r), c.ok) << c.r.core.row0 << "," << c.r.core.col0 << " " << c.r.core.rows << "x" << c.r.core.cols
                                << " halo " << c.r.halo;
    if (!c.ok) {
      EXPECT_THROW(run_tile(c.r, p, window_reader(g)), std::invalid_argument);
    }
  }
}

// A tile cut on its right, whose passes carry the cut's doubt inwards: its
// certificate pixel for pixel (each proven pixel checked against the whole
// run by tile_run_test.cpp; here the mask itself, so that a certificate
// that proves less, or more, is seen).
TEST(TilePlan, TheCertificateOfACutTile) {
  const IntGrid g = grid("100 U U U U U U U 140 U U U / 100 U U U U U U U U 140 U U / "
                         "100 U U U U U U U U U 140 U / 100 U U U 120 U U U U U U 140 / "
                         "100 U U U U U U U U U U U / 100 U U U U U U 130 U U U U");
  RunParams p;
  p.ival = kNoData;
  p.equid = 20;
  p.internal_input = true;
  const TileResult r = run_tile({6, 12, {0, 0, 6, 6}, 2}, p, window_reader(g));
  std::string text;
  for (int i = 0; i < r.certain.rows(); ++i)
    for (int j = 0; j < r.certain.cols(); ++j) text += static_cast<char>('0' + r.certain[i][j]) + std::string(j + 1 < r.certain.cols() ? "" : "/");
  EXPECT_EQ(text, "110100/111000/111000/111010/111000/111000/");
}

}  // namespace
}  // namespace tesk
