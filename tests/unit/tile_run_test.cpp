// Tile runs against the whole run: every pixel a tile proves must hold the
// whole run's bytes, on random grids cut into small tiles with small halos,
// on tiny tiles, holes and summits across tile borders, the largest
// smoothing window, a channel whose passes outlast the tile's, and the demo
// raster; every tile left unproven takes in what the box of its unproven
// pixels proves with a wider halo, checked the same way.  A certificate
// that (almost) never says yes fails too.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <numeric>
#include <string>
#include <vector>

#include "stages/conversion.h"
#include "stages/dilation_literal.h"
#include "stages/pipeline.h"
#include "stages/smoothing.h"
#include "support/test_support.h"
#include "tiles/certificate.h"
#include "tiles/distances.h"
#include "tiles/holes.h"
#include "tiles/tile_run.h"

namespace tesk {
namespace {

using namespace testing;

struct Whole : RunObserver {
  IntGrid internal, altitude;
  void before_conversion_back(const IntGrid& g) override { internal = copy_of(g); }
};

struct Tally {
  int tiles = 0, certified = 0;
  std::int64_t pixels = 0, proven = 0, taken = 0;
};

// Whether every pixel r proves holds the whole run's internal and altitude
// values (failing the test at the first that does not); counts into t.
bool proven_hold(const TileResult& r, const IntGrid& internal, const IntGrid& altitude, Tally& t,
                 const std::string& what) {
  for (int i = 0; i < r.core.rows; ++i)
    for (int j = 0; j < r.core.cols; ++j) {
      ++t.pixels;
      if (!r.certain[i][j]) continue;
      ++t.proven;
      const int ri = r.core.row0 + i, rj = r.core.col0 + j;
      const bool same = r.internal[i][j] == internal[ri][rj] && r.altitude[i][j] == altitude[ri][rj];
      EXPECT_TRUE(same) << what << ": tile at " << r.core.row0 << "," << r.core.col0 << " proves pixel " << ri << ","
                        << rj;
      if (!same) return false;
    }
  return true;
}

// Cuts raster into cores of tr x tc with the given halo and checks every
// proven pixel against the whole run; false when the whole run refuses it.
bool check_tiles(const IntGrid& raster, const RunParams& p, int tr, int tc, int halo, Tally& t,
                 const std::string& what, const IntGrid* holes = nullptr) {
  Whole w;
  RunGrids g;
  g.allocate(raster.rows(), raster.cols(), p.literal);
  std::copy(raster.begin(), raster.end(), g.itab.begin());
  try {
    compute_dem(g, p, [&](IntGrid& a) { std::copy(raster.begin(), raster.end(), a.begin()); }, w);
  } catch (const ConversionError&) {
    return false;
  }
  for (int r0 = 0; r0 < raster.rows(); r0 += tr)
    for (int c0 = 0; c0 < raster.cols(); c0 += tc) {
      const TileRequest s{raster.rows(), raster.cols(),
                       {r0, c0, std::min(tr, raster.rows() - r0), std::min(tc, raster.cols() - c0)}, halo};
      const TileResult res = run_tile(s, p, window_reader(raster), nullptr, holes ? window_reader(*holes) : nullptr);
      // The certificate's checks and counts shared by threads prove the same pixels.
      RunParams shared = p;
      shared.threads = p.threads == 1 ? 3 : 1;
      const TileResult other =
          run_tile(s, shared, window_reader(raster), nullptr, holes ? window_reader(*holes) : nullptr);
      EXPECT_TRUE(std::equal(res.certain.begin(), res.certain.end(), other.certain.begin())) << what << ": tile at " << r0 << "," << c0 << " halo " << halo
                                                << ", threads " << p.threads << " and " << shared.threads;
      ++t.tiles;
      t.certified += res.certified;
      if (!proven_hold(res, w.internal, g.itab1, t, what + " halo " + std::to_string(halo))) return true;
      if (res.certified) continue;
      // The box of the pixels not proven holds them all; with a wider
      // halo it proves some of them, which the tile takes in.
      const Window box = unproven_box(res);
      TileResult merged;
      merged.core = res.core, merged.uncertain = res.uncertain;
      merged.internal = copy_of(res.internal), merged.altitude = copy_of(res.altitude);
      merged.certain = ByteGrid(res.core.rows, res.core.cols);
      std::copy(res.certain.begin(), res.certain.end(), merged.certain.begin());
      std::int64_t outside = 0;
      for (int i = 0; i < s.core.rows; ++i)
        for (int j = 0; j < s.core.cols; ++j)
          outside += !res.certain[i][j] && (r0 + i < box.row0 || r0 + i >= box.row0 + box.rows ||
                                             c0 + j < box.col0 || c0 + j >= box.col0 + box.cols);
      EXPECT_EQ(outside, 0) << what;
      const TileRequest wider{raster.rows(), raster.cols(), box, 2 * halo + 1};
      take_proven(merged, run_tile(wider, p, window_reader(raster), nullptr, holes ? window_reader(*holes) : nullptr));
      EXPECT_LE(merged.uncertain, res.uncertain) << what;
      EXPECT_EQ(merged.certified, merged.uncertain == 0) << what;
      Tally boxes;
      if (!proven_hold(merged, w.internal, g.itab1, boxes, what + " with the box's pixels")) return true;
      t.taken += boxes.proven - (res.core.rows * res.core.cols - res.uncertain);
      EXPECT_EQ(boxes.proven, res.core.rows * res.core.cols - merged.uncertain) << what;
    }
  return true;
}

RunParams params(int equid, int maille, bool overlay, int itype = 0) {
  RunParams p;
  p.ival = ival_for(itype);
  p.equid = equid;
  p.maille = maille;
  p.overlay = overlay;
  return p;
}

TEST(TileRun, ProvenPixelsOfRandomGridsHoldTheWholeRunsBytes) {
  const std::uint32_t seed = base_seed() + 20;
  Rng rng(seed);
  const int equids[] = {1, 3, 20, -7, 512};
  Tally t;
  for (int c = 0; c < 400 && !HasFailure(); ++c) {
    const Shape s{uniform(rng, 1, 48), uniform(rng, 1, 48)};
    const int itype = uniform(rng, 0, 1);
    RunParams p = params(equids[uniform(rng, 0, 4)], c % 3 == 0 ? 1 : uniform(rng, 2, 6), c % 2 == 0, itype);
    p.literal = c % 5 == 0;
    const IntGrid raster = random_raw_grid(rng, s, itype);
    // Every other grid with the hole values of the whole raster.
    IntGrid internal = copy_of(raster);
    const bool holes = c % 2 && !convert_to_internal(internal, p.ival, p.equid);
    if (holes) internal = raster_hole_values(internal);
    check_tiles(raster, p, uniform(rng, 1, 20), uniform(rng, 1, 20), uniform(rng, 0, 12), t, describe(seed, c, s),
                holes ? &internal : nullptr);
  }
  // A certificate that says no to nearly everything proves nothing.
  EXPECT_GT(t.certified, t.tiles / 5) << t.certified << " of " << t.tiles << " tiles certified";
  EXPECT_GT(t.proven, t.pixels / 2) << t.proven << " of " << t.pixels << " pixels proven";
  EXPECT_GT(t.taken, 0) << "no box of unproven pixels proved any";
  // A patch must lie within the tile it goes into.
  TileResult a, b;
  a.core = {0, 0, 4, 4}, b.core = {2, 2, 4, 4};
  EXPECT_THROW(take_proven(a, b), std::invalid_argument);
}

// The certificate grows layers and checks pixels only near enough a cut
// side: it proves what growing and checking every no-data pixel proves, on
// random grids and terrains with single-valued rings (holes that settle
// early and keep wide layers) with every combination of cut sides, at 1
// and 3 threads.
TEST(TileRun, TheCutSidesBandProvesWhatEveryPixelProves) {
  const std::uint32_t seed = base_seed() + 21;
  Rng rng(seed);
  for (int c = 0; c < 160 && !HasFailure(); ++c) {
    Shape s = random_shape(rng);
    IntGrid start;
    if (c % 4 == 3) {  // rings of one value on a terrain, some touching its sides
      s = {30 + static_cast<int>(rng() % 60), 30 + static_cast<int>(rng() % 90)};
      start = terrain_contours(rng, s.rows, s.cols, c % 8 == 3);
      for (int r = 1 + static_cast<int>(rng() % 3); r > 0; --r) {
        const int R = 3 + static_cast<int>(rng() % 15), ci = static_cast<int>(rng() % s.rows),
                  cj = static_cast<int>(rng() % s.cols);
        for (int i = 0; i < s.rows; ++i)
          for (int j = 0; j < s.cols; ++j) {
            const int d2 = (i - ci) * (i - ci) + (j - cj) * (j - cj);
            if (d2 < R * R) start[i][j] = d2 >= (R - 1) * (R - 1) ? 1024 : kNoData;
          }
      }
    } else {
      start = random_internal_grid(rng, s);
    }
    IntGrid l1(s.rows, s.cols), l2(s.rows, s.cols), record(s.rows, s.cols);
    std::vector<std::int64_t> sweeps;  // before each pass, then of each pass
    const DilationStats d =
        dilate_literal(start, l1, l2, [&](const PassReport& r) { sweeps.push_back(r.growth_sweeps); }, {}, &record);
    sweeps.push_back(d.growth_sweeps);
    std::adjacent_difference(sweeps.begin(), sweeps.end(), sweeps.begin());
    sweeps.erase(sweeps.begin());
    for (int sides = 0; sides < 16; ++sides) {
      const CutSides cut{(sides & 1) != 0, (sides & 2) != 0, (sides & 4) != 0, (sides & 8) != 0};
      const int threads = 1 + 2 * (sides % 2);
      const ByteGrid band = certain_after_gap_filling(record, d.passes, sweeps, cut, {}, threads);
      const ByteGrid every = certain_after_gap_filling(record, d.passes, {}, cut, {}, threads, true);
      ASSERT_TRUE(std::equal(band.begin(), band.end(), every.begin())) << describe(seed, c, s) << " sides " << sides;
    }
  }
}

// After the smoothing a pixel is proven exactly when every pixel of its
// window, placed as the whole raster places it, was proven before: random
// tiles of random rasters, sparse and dense flags, windows of 1 to 9.
TEST(TileRun, ProvenAfterSmoothingIsEveryPixelOfTheWindowProven) {
  const std::uint32_t seed = base_seed() + 22;
  Rng rng(seed);
  for (int c = 0; c < 300 && !HasFailure(); ++c) {
    const int n = 1 + static_cast<int>(rng() % 9);
    const int R = n + 1 + static_cast<int>(rng() % 40), C = n + 1 + static_cast<int>(rng() % 40);
    const int rows = 1 + static_cast<int>(rng() % R), cols = 1 + static_cast<int>(rng() % C);
    const Window tile{static_cast<int>(rng() % (R - rows + 1)), static_cast<int>(rng() % (C - cols + 1)), rows, cols};
    const unsigned holes = 2 + rng() % 60;  // one pixel in `holes` not proven
    ByteGrid before(rows, cols);
    for (std::uint8_t& b : before) b = rng() % holes != 0;
    const ByteGrid after = certain_after_smoothing(before, tile, R, C, n);
    for (int i = 0; i < rows; ++i)
      for (int j = 0; j < cols; ++j) {
        const int r = window_first(tile.row0 + i, n, R) - tile.row0, q = window_first(tile.col0 + j, n, C) - tile.col0;
        bool all = r >= 0 && q >= 0 && r + n < rows && q + n < cols;
        for (int k = 0; all && k <= n; ++k)
          for (int l = 0; all && l <= n; ++l) all = before[r + k][q + l] != 0;
        ASSERT_EQ(after[i][j] != 0, all) << "seed " << seed << " case " << c << " pixel " << i << ", " << j;
      }
  }
}

// A terrain with a summit and a wide flat hole, each crossing the borders of
// 17 x 23 tiles; halos from 0 to a few pixels, the largest window.
IntGrid summits_and_holes(int rows, int cols) {
  IntGrid g(rows, cols);
  for (int i = 0; i < rows; ++i)
    for (int j = 0; j < cols; ++j) {
      const double hill = 900.0 / (1 + ((i - 20) * (i - 20) + (j - 30) * (j - 30)) / 200.0);
      const double flat = (i - 50) * (i - 50) + (j - 60) * (j - 60) < 400 ? 300.0 : 0.0;
      const int l = static_cast<int>((hill + flat) / 20), r = static_cast<int>((hill + flat) / 20 + 0.6);
      g[i][j] = l != r && (i + j) % 5 ? l * 20 : 65500;
    }
  g[20][30] = 920;  // the summit
  return g;
}

TEST(TileRun, TinyTilesAcrossSummitsAndFlatHoles) {
  const IntGrid raster = summits_and_holes(75, 90);
  Tally t;
  for (const int maille : {1, 3, 33})
    for (int halo = 0; halo <= 5; ++halo)
      check_tiles(raster, params(20, maille, maille != 3), 17, 23, halo, t, "maille " + std::to_string(maille));
  EXPECT_GT(t.proven, t.pixels / 3) << t.proven << " of " << t.pixels;
  for (const int maille : {3, 33}) {  // halos that hold every hole certify every tile
    Tally wide;
    check_tiles(raster, params(20, maille, false), 17, 23, 40, wide, "halo 40");
    EXPECT_EQ(wide.certified, wide.tiles) << "maille " << maille;
  }
}

// Walls of 0 left of column 10 and of 1024 right of it along a channel: the
// tile of columns 0 to 9 stops after one pass, while the whole run writes
// 1, 2, ..., 512 along the channel in ten more.  Nothing of it is proven.
// The certificate's counts over a box against a search: random flags, boxes
// (empty, single pixels, the whole tile), rectangles and reaches, on one
// thread and shared by three.
TEST(TileRun, SetCountsOverABoxMatchASearch) {
  const std::uint32_t seed = base_seed() + 21;
  Rng rng(seed);
  ThreadPool three(3);
  for (int c = 0; c < 300; ++c) {
    const int rows = uniform(rng, 1, 30), cols = uniform(rng, 1, 30);
    ByteGrid flags(rows + 2, cols + 2);
    for (int i = 1; i <= rows; ++i)
      for (int j = 1; j <= cols; ++j) flags[i][j] = chance(rng, 0.05) ? static_cast<std::uint8_t>(uniform(rng, 1, 255)) : 0;
    Rect box;
    if (c % 3 == 0) box.add(Pixel{0, 0}), box.add(Pixel{rows - 1, cols - 1});
    if (c % 3 == 1) box.add(Pixel{uniform(rng, 0, rows - 1), uniform(rng, 0, cols - 1)}),
        box.add(Pixel{uniform(rng, 0, rows - 1), uniform(rng, 0, cols - 1)});
    SetCounts counts;
    counts.build(flags, box, c % 2 ? &three : nullptr);
    for (int q = 0; q < 40; ++q) {
      const int i0 = uniform(rng, 0, rows - 1), i1 = uniform(rng, i0, rows - 1);
      const int j0 = uniform(rng, 0, cols - 1), j1 = uniform(rng, j0, cols - 1);
      const int r = q == 0 ? kFar + 1 : uniform(rng, 0, 8);
      bool want = false;
      for (int i = box.i0; !box.empty() && i <= box.i1; ++i)
        for (int j = box.j0; j <= box.j1; ++j)
          want |= flags[i + 1][j + 1] && std::max({i0 - i, i - i1, j0 - j, j - j1}) <= r;
      ASSERT_EQ(want, counts.near(i0, i1, j0, j1, r)) << describe(seed, c, {rows, cols}) << " query " << q;
    }
  }
}

TEST(TileRun, PassesThatOutlastTheTileAreNotProven) {
  IntGrid g(3, 16);
  for (int j = 0; j < 16; ++j) g[0][j] = g[2][j] = j < 10 ? 0 : 1024, g[1][j] = 65500;
  for (const bool overlay : {true, false}) {
    const TileResult r = run_tile({3, 16, {0, 0, 3, 10}, 0}, params(512, 1, overlay), window_reader(g));
    const TileResult whole = run_tile({3, 16, {0, 0, 3, 10}, 6}, params(512, 1, overlay), window_reader(g));
    EXPECT_FALSE(r.certified);
    EXPECT_EQ(r.internal[1][0], 0);  // the whole run writes 1 there
    EXPECT_EQ(whole.internal[1][0], 1);
    for (int j = 0; j < 10; ++j) EXPECT_EQ(r.certain[1][j], 0) << "channel column " << j;
    Tally t;
    check_tiles(g, params(512, 1, overlay), 3, 10, 6, t, "halo 6");
    EXPECT_EQ(t.certified, t.tiles);
  }
}

// The demo raster (344 x 403, 16-bit, contours every 20) in tiles of 64:
// every tile proven, every pixel the whole run's.
TEST(TileRun, DemoRasterInTilesOf64) {
  std::ifstream in(std::string(TESK_SOURCE_DIR) + "/images/demo/jacksboro_i20_c2.raw", std::ios::binary);
  IntGrid raster(344, 403);
  std::vector<unsigned char> b(raster.size() * 2);
  ASSERT_TRUE(in.read(reinterpret_cast<char*>(b.data()), static_cast<std::streamsize>(b.size())));
  for (std::size_t x = 0; x < raster.size(); ++x) raster.data()[x] = b[2 * x] | b[2 * x + 1] << 8;
  RunParams p = params(20, 3, true);
  p.threads = 2;
  Tally t;
  ASSERT_TRUE(check_tiles(raster, p, 64, 64, 24, t, "demo"));  // the least halo that proves every tile
  EXPECT_EQ(t.certified, t.tiles);
}

// Contours every 20 of a height field: a pixel whose level differs from its
// right or lower neighbour's holds the higher level, the others 65500.  Any
// two pixels of different levels side by side have one such pixel between
// them, so a region of one level is one hole.
template <class Height>
IntGrid contours_of(int rows, int cols, Height h) {
  const auto level = [&](int i, int j) { return static_cast<int>(std::floor(h(i, j) / 20)); };
  IntGrid g(rows, cols);
  for (int i = 0; i < rows; ++i)
    for (int j = 0; j < cols; ++j) {
      const int l = level(i, j), right = j + 1 < cols ? level(i, j + 1) : l, down = i + 1 < rows ? level(i + 1, j) : l;
      g[i][j] = l != right || l != down ? 20 * std::max({l, right, down}) : 65500;
    }
  return g;
}

// A cone rising from a sea at 100 (its first contour 120) to a flat top
// inside the contour of 360, or falling from it into a pit (its first
// contour 100).
double cone(int i, int j, int ci, int cj, double slope) {
  const double d = std::hypot(i - ci, j - cj);
  return std::clamp(100 + slope * (80 - d), 0.0, 360.0);
}
const IntGrid kIsland = contours_of(256, 320, [](int i, int j) { return std::max(100.0, cone(i, j, 128, 160, 4)); });
const IntGrid kTwoLevels = contours_of(256, 320, [](int i, int j) {
  return std::max(100.0, cone(i, j, 80, 100, 4)) + std::min(0.0, cone(i, j, 180, 230, -3) - 100);
});
// A hill cut off at 600: a flat of 150 pixels across inside its contour.
const IntGrid kFlat = contours_of(256, 320, [](int i, int j) {
  return std::clamp(100 + 10 * (125 - std::hypot(i - 128, j - 160)), 100.0, 600.0);
});

// The hole values of a raw raster (tiles/holes.h).
IntGrid holes_of(const IntGrid& raster, const RunParams& p) {
  IntGrid internal = copy_of(raster);
  EXPECT_FALSE(convert_to_internal(internal, p.ival, p.equid));
  return raster_hole_values(internal);
}

// Tiles of 64 with a halo of 16, given the hole values of the whole raster
// (or not): a sea or a flat of one value is proven in every tile, whatever
// the smoothing, while a sea of two levels, or of a negative value the gap
// filling does not keep, stays unproven far from its shores.
TEST(TileRun, HolesOfOneValueProvenInEveryTile) {
  const struct {
    const char* name;
    const IntGrid& raster;
    int equid, maille, halo;
    bool overlay, holes, all_proven, kept;  // kept: a sea or a flat of one value the gap filling keeps
  } cases[] = {
      {"island", kIsland, 20, 1, 16, true, true, true, true},
      {"island, window 3", kIsland, 20, 3, 16, false, true, true, true},
      {"island, window 5", kIsland, 20, 5, 16, true, true, true, true},
      {"island, window 5, halo 2", kIsland, 20, 5, 2, true, true, false, true},
      {"island unaided", kIsland, 20, 1, 16, true, false, false, true},
      {"flat", kFlat, 20, 1, 16, true, true, true, true},
      {"flat, window 3", kFlat, 20, 3, 16, false, true, true, true},
      {"flat unaided", kFlat, 20, 3, 16, false, false, false, true},
      {"two levels", kTwoLevels, 20, 1, 16, true, true, false, false},
      {"negative", kIsland, -20, 1, 16, true, true, false, false},
      {"negative, window 3", kIsland, -20, 3, 16, false, true, false, false},
  };
  for (const auto& c : cases) {
    const RunParams p = params(c.equid, c.maille, c.overlay);
    const IntGrid holes = holes_of(c.raster, p);
    const auto filled = std::count_if(holes.begin(), holes.end(), [](std::int32_t v) { return v != kNoData; });
    Tally t;
    ASSERT_TRUE(check_tiles(c.raster, p, 64, 64, c.halo, t, c.name, c.holes ? &holes : nullptr));
    EXPECT_EQ(t.certified == t.tiles, c.all_proven) << c.name << ": " << t.proven << " of " << t.pixels;
    EXPECT_EQ(filled > 10000, c.kept) << c.name << ": " << filled;
  }
}

// A tile in the sea comes out at the sea's value, proven, with no halo; the
// gap filling would not keep a negative sea's, so such a value is refused.
TEST(TileRun, ATileInTheSeaIsTheSeasValue) {
  for (const int equid : {20, -20}) {
    const RunParams p = params(equid, 1, true);
    IntGrid holes = holes_of(kIsland, p);
    const TileRequest corner{256, 320, {0, 0, 64, 64}, 0};
    if (equid < 0) {
      std::fill(holes.begin(), holes.end(), -3072);  // the negative sea's value, as if it were kept
      EXPECT_THROW(run_tile(corner, p, window_reader(kIsland), nullptr, window_reader(holes)), std::invalid_argument);
      continue;
    }
    const TileResult r = run_tile(corner, p, window_reader(kIsland), nullptr, window_reader(holes));
    EXPECT_TRUE(r.certified);
    EXPECT_TRUE(std::all_of(r.internal.begin(), r.internal.end(), [](std::int32_t v) { return v == 3072; }));
    const int shore = static_cast<int>(std::find_if(kIsland[128], kIsland[129], [](int v) { return v != 65500; }) - kIsland[128]);
    holes[128][shore] = 3072;  // a contour pixel
    EXPECT_THROW(run_tile({256, 320, {120, shore, 8, 8}, 2}, p, window_reader(kIsland), nullptr, window_reader(holes)),
                 std::invalid_argument);
  }
}

}  // namespace
}  // namespace tesk
