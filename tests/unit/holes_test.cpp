// Holes found block by block against a plain flood fill of the whole grid:
// random grids cut into random blocks and strips, every pixel's border and
// hole value as the flood fill finds them, the summaries through their flat
// coding.  Then the rule the hole values rest on, against whole runs: a hole
// bordered by v alone ends with v exactly when mean_keeps(v), and every
// hole value of a random grid is the whole run's value there.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "stages/pipeline.h"
#include "support/test_support.h"
#include "tiles/hole_stitch.h"
#include "tiles/holes.h"

namespace tesk {
namespace {

using namespace testing;

// The border of each pixel's hole (kNone at data pixels), by a flood fill.
std::vector<HoleBorder> flood_borders(const IntGrid& g) {
  const int rows = g.rows(), cols = g.cols();
  std::vector<HoleBorder> out(g.size());
  std::vector<char> seen(g.size(), 0);
  for (std::size_t start = 0; start < g.size(); ++start) {
    if (g.data()[start] != kNoData || seen[start]) continue;
    std::vector<std::size_t> hole = {start};
    seen[start] = 1;
    HoleBorder b;
    for (std::size_t n = 0; n < hole.size(); ++n) {
      const int i = static_cast<int>(hole[n] / cols), j = static_cast<int>(hole[n] % cols);
      for (const auto& [k, l] : {std::pair{i - 1, j}, {i + 1, j}, {i, j - 1}, {i, j + 1}}) {
        if (k < 0 || k >= rows || l < 0 || l >= cols) continue;
        const std::size_t y = static_cast<std::size_t>(k) * cols + l;
        if (g.data()[y] != kNoData) {
          b.add(g.data()[y]);
        } else if (!seen[y]) {
          seen[y] = 1;
          hole.push_back(y);
        }
      }
    }
    for (const std::size_t x : hole) out[x] = b;
  }
  return out;
}

// Data at a random density, from one to three values (one of them often
// negative), so that holes of one value and of several are both common.
IntGrid few_valued(Rng& rng, Shape s) {
  const std::int32_t values[3] = {512 * uniform(rng, 0, 3), 512 * uniform(rng, -2, 3), uniform(rng, -9, 9)};
  const int n = uniform(rng, 1, 3);
  const double density = std::uniform_real_distribution<double>(0.02, 0.7)(rng);
  IntGrid g(s.rows, s.cols);
  for (auto& v : g) v = chance(rng, density) ? values[uniform(rng, 0, n - 1)] : kNoData;
  return g;
}

// 0, then random rising cuts, then n.
std::vector<int> random_starts(Rng& rng, int n) {
  std::vector<int> s = {0};
  while (s.back() < n) s.push_back(std::min(n, s.back() + uniform(rng, 1, std::max(1, n / uniform(rng, 1, 5)))));
  return s;
}

TEST(Holes, BlocksStitchedEqualAFloodFillOfTheWholeGrid) {
  const std::uint32_t seed = base_seed() + 31;
  Rng rng(seed);
  std::int64_t stitched = 0, single = 0, several = 0, crossing[2] = {0, 0};
  for (int c = 0; c < 400 && !HasFailure(); ++c) {
    const Shape s = c % 5 == 0 ? random_shape(rng) : Shape{uniform(rng, 1, 40), uniform(rng, 1, 40)};
    const IntGrid g = c % 3 == 0 ? random_internal_grid(rng, s) : few_valued(rng, s);
    // Strips of full rows as the command line's survey reads them, or blocks.
    BlockLayout layout{random_starts(rng, s.rows), c % 4 == 0 ? std::vector<int>{0, s.cols} : random_starts(rng, s.cols)};
    // Every other case labels into a grid of stale labels, as a strip's
    // grid taken back from the strip before: every pixel must be written.
    const auto into = [&](const IntGrid& b) {
      IntGrid stale(c % 2 ? b.rows() : 0, b.cols());
      for (std::int32_t& x : stale) x = uniform(rng, -3, 50);
      return stale;
    };
    std::vector<BlockLabels> labels;
    std::vector<IntGrid> blocks;
    std::vector<BlockSummary> summaries;
    for (std::size_t bi = 0; bi + 1 < layout.row_starts.size(); ++bi)
      for (std::size_t bj = 0; bj + 1 < layout.col_starts.size(); ++bj) {
        const Window w{layout.row_starts[bi], layout.col_starts[bj], layout.row_starts[bi + 1] - layout.row_starts[bi],
                       layout.col_starts[bj + 1] - layout.col_starts[bj]};
        IntGrid block(w.rows, w.cols);
        for (int i = 0; i < w.rows; ++i) std::copy(g[w.row0 + i] + w.col0, g[w.row0 + i] + w.col0 + w.cols, block[i]);
        labels.push_back(label_block(block, into(block)));
        blocks.push_back(copy_of(block));
        const std::vector<std::int32_t> flat = encode(summarise(w, block, labels.back()));
        summaries.push_back(decode(flat.data(), flat.size()));
        ASSERT_EQ(encode(summaries.back()), flat);
      }
    const auto table = stitch(layout, summaries);
    const std::vector<HoleBorder> expected = flood_borders(g);
    // A hole a tile may fill, with two pixels facing each other across a seam.
    bool across = false;
    const auto fillable = [&](int i, int j) { return hole_value(expected[static_cast<std::size_t>(i) * s.cols + j]) != kNoData; };
    for (std::size_t r = 1; r + 1 < layout.row_starts.size(); ++r)
      for (int i = layout.row_starts[r], j = 0; j < s.cols; ++j) across |= g[i - 1][j] == kNoData && fillable(i, j);
    for (std::size_t c2 = 1; c2 + 1 < layout.col_starts.size(); ++c2)
      for (int j = layout.col_starts[c2], i = 0; i < s.rows; ++i) across |= g[i][j - 1] == kNoData && fillable(i, j);
    ASSERT_EQ(fillable_across_seams(layout, summaries, table), across) << describe(seed, c, s);
    ++crossing[across];
    for (std::size_t k = 0; k < summaries.size() && !HasFailure(); ++k) {
      const Window& w = summaries[k].where;
      const BlockLabels& b = labels[k];
      const IntGrid values = hole_values(blocks[k], table[k], into(blocks[k]));
      const HoleRanges ranges = hole_ranges(blocks[k], table[k]);
      for (int i = 0; i < w.rows; ++i)
        for (int j = 0; j < w.cols; ++j) {
          const std::int32_t l = b.label[i][j];
          const HoleBorder& want = expected[static_cast<std::size_t>(w.row0 + i) * s.cols + w.col0 + j];
          const HoleBorder got = l == 0 ? HoleBorder{} : l <= b.edge_labels ? table[k][l - 1] : b.borders[l - 1];
          ASSERT_EQ(l == 0, g[w.row0 + i][w.col0 + j] != kNoData);
          const bool bordered = want.kind != HoleBorder::Kind::kNone;
          ASSERT_TRUE(got == want && values[i][j] == hole_value(want) &&
                      ranges.lo[i][j] == (bordered ? want.lo : kNoData) && ranges.hi[i][j] == (bordered ? want.hi : kNoData))
              << describe(seed, c, s) << ": pixel " << w.row0 + i << "," << w.col0 + j << " of block " << k
              << ": kind " << int(got.kind) << " value " << got.value << ", the flood fill's kind " << int(want.kind)
              << " value " << want.value;
          stitched += l > 0 && l <= b.edge_labels && !(b.borders[l - 1] == got);
          single += want.kind == HoleBorder::Kind::kSingle;
          several += want.kind == HoleBorder::Kind::kSeveral;
        }
    }
    // The whole grid as one block is the same labelling.
    EXPECT_TRUE(same(raster_hole_values(g), [&] {
      IntGrid v(s.rows, s.cols);
      for (std::size_t x = 0; x < v.size(); ++x) v.data()[x] = hole_value(expected[x]);
      return v;
    }())) << describe(seed, c, s);
  }
  // Holes whose border the stitching changed, and both kinds, are common.
  EXPECT_GT(stitched, 5000);
  EXPECT_GT(single, 20000);
  EXPECT_GT(several, 20000);
  EXPECT_GT(std::min(crossing[0], crossing[1]), 50);
}

TEST(Holes, SummariesThatDoNotFitTheLayoutAreRefused) {
  const IntGrid g = grid("U 5 U / U 5 U");
  const BlockLabels l = label_block(g);
  const BlockSummary s = summarise({0, 0, 2, 3}, g, l);
  EXPECT_EQ(l.edge_labels, 2);
  EXPECT_NO_THROW(stitch({{0, 2}, {0, 3}}, {s}));
  BlockSummary bad = s;
  bad.left[0].label = 3;  // no border for it
  for (const auto& [layout, summary] : std::vector<std::pair<BlockLayout, BlockSummary>>{
           {{{0, 2}, {0, 4}}, s}, {{{0, 1, 2}, {0, 3}}, s}, {{{0, 2}, {0, 3}}, bad}, {{{0, 0, 2}, {0, 3}}, s},
           {{{1, 3}, {0, 3}}, summarise({1, 0, 2, 3}, g, l)}})  // the starts must rise from 0
    EXPECT_THROW(stitch(layout, {summary}), std::invalid_argument);
  // The borders of other blocks than the summaries'.
  EXPECT_THROW(fillable_across_seams({{0, 2}, {0, 3}}, {s}, {}), std::invalid_argument);
  std::vector<std::int32_t> flat = encode(s);
  flat.push_back(0);
  EXPECT_THROW(decode(flat.data(), flat.size()), std::invalid_argument);
  EXPECT_THROW(decode(flat.data(), 9), std::invalid_argument);
  EXPECT_THROW(hole_values(g, {}), std::invalid_argument);
}

// The internal surface of a whole run before its conversion back.
IntGrid whole_run(const IntGrid& internal, int maille, bool literal) {
  struct Keep : RunObserver {
    IntGrid internal;
    void before_conversion_back(const IntGrid& g) override { internal = copy_of(g); }
  } keep;
  RunParams p;
  p.internal_input = true;
  p.maille = maille;
  p.overlay = false;
  p.literal = literal;
  RunGrids g;
  g.allocate(internal.rows(), internal.cols(), literal);
  std::copy(internal.begin(), internal.end(), g.itab.begin());
  compute_dem(g, p, [&](IntGrid& a) { std::copy(internal.begin(), internal.end(), a.begin()); }, keep);
  return std::move(keep.internal);
}

// Holes bordered by v whose first write reads 1 (the corner pair), 2 (a
// corner), 3 (the top edge) and 4 (inside) copies of v.
TEST(Holes, AHoleOfOneValueEndsAtItExactlyWhenTheMeanKeepsIt) {
  const std::int32_t values[] = {0,       1,           511,         512,         10240,          1 << 22,
                                 8388609, 16777214,    16777215,    16777216,    16777217,       16777218,
                                 50331650, 99999999,   2147483136,  INT32_MAX,   -1,             -512,
                                 -3072,    INT32_MIN + 1};
  int kept = 0;
  for (const std::int32_t v : values) {
    IntGrid g(5, 7);
    std::fill(g.begin(), g.end(), v);
    for (const auto& [i, j] : {std::pair{0, 0}, {0, 1}, {0, 6}, {0, 3}, {2, 3}}) g[i][j] = kNoData;
    const IntGrid out = whole_run(g, 1, false);
    EXPECT_EQ(std::all_of(out.begin(), out.end(), [v](std::int32_t x) { return x == v; }), mean_keeps(v)) << v;
    kept += mean_keeps(v);
  }
  EXPECT_EQ(kept, 12);  // both sides of the rule are met
}

TEST(Holes, HoleValuesAreTheWholeRunsValues) {
  const std::uint32_t seed = base_seed() + 32;
  Rng rng(seed);
  std::int64_t checked = 0;
  for (int c = 0; c < 200 && !HasFailure(); ++c) {
    const Shape s{uniform(rng, 1, 48), uniform(rng, 1, 48)};
    const IntGrid g = c % 2 ? random_internal_grid(rng, s) : few_valued(rng, s);
    const IntGrid values = raster_hole_values(g);
    const IntGrid out = whole_run(g, 1, c % 4 == 0);
    for (std::size_t x = 0; x < g.size(); ++x) {
      if (values.data()[x] == kNoData) continue;
      ++checked;
      ASSERT_EQ(out.data()[x], values.data()[x]) << describe(seed, c, s) << " pixel " << x;
    }
  }
  EXPECT_GT(checked, 5000);
}

}  // namespace
}  // namespace tesk
