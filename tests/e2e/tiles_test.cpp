// Runs by tiles: the outputs of a whole run, value for value and byte for
// byte, whatever forces the tiling.
#include <cmath>

#include "support/test_support.h"

namespace tesk::e2e {
namespace {

using Args = std::vector<std::string>;

// What a DEM holds, but for the command recorded in it.
auto held(const Raster& r) { return std::tuple(r.v, r.type, r.has_nodata, r.nodata, r.transform, r.projection); }

// --tile-size 64 with a halo of 1 (every tile's halo doubles): the DEM, the
// preview and the hillshade of the whole run, with and without mask,
// overlay, smoothing at its largest, an integer type, a vector source, a
// classic source without georeferencing.
TEST(Tiles, TheOutputsOfAWholeRun) {
  TempDir tmp;
  gdal_tool({"gdal_contour", "-q", "-a", "ELEV", "-i", "20", demo("jacksboro_true.tif"), tmp / "lines.gpkg"});
  const std::string raster = demo("jacksboro_i20_c.tif"), mask = demo("jacksboro_valleys.geojson");
  const std::pair<std::string, Args> cases[] = {
      {raster, {"-m", "3"}},
      {raster, {"-m", "5", "--no-overlay", "--mask", mask}},
      {raster, {"-m", "33", "-ot", "UInt16"}},
      {tmp / "lines.gpkg", {"-m", "3", "-a", "ELEV", "-tr", "90", "90", "--mask", mask}},
      {demo("jacksboro_i20_c2.raw"), {"-m", "3"}},
  };
  for (const auto& [src, options] : cases) {
    SCOPED_TRACE(options[1] + " " + src);
    for (const char* tiles : {"whole", "tiled"}) {
      Args args = {src, tmp / (std::string(tiles) + ".tif"), "-i", "20", "-q", "--overwrite",
                   "--preview", tmp / (std::string(tiles) + ".png"), "--hillshade", tmp / (std::string(tiles) + "_hs.png")};
      args.insert(args.end(), options.begin(), options.end());
      if (*tiles == 't') args.insert(args.end(), {"--tile-size", "64", "--halo", "1"});
      const ProcessResult r = tesk(args);
      ASSERT_EQ(r.status, 0) << r.err;
    }
    EXPECT_EQ(held(read_raster(tmp / "tiled.tif")), held(read_raster(tmp / "whole.tif")));
    EXPECT_TRUE(read_file(tmp / "tiled.png") == read_file(tmp / "whole.png"));
    EXPECT_TRUE(read_file(tmp / "tiled_hs.png") == read_file(tmp / "whole_hs.png"));
  }
}

// Tiles run several at once, as many as the threads (each on its share of
// them): the DEM is the whole run's at 1, 2 and 3 threads, so with 1 to 3
// tiles in flight, with halos that double in some tiles and not others; and
// with a tile far larger than the raster, which is one tile of its size.
TEST(Tiles, TilesInFlightGiveTheWholeRunsBytes) {
  TempDir tmp;
  const std::string src = demo("jacksboro_i20_c.tif");
  ASSERT_EQ(tesk({src, tmp / "whole.tif", "-i", "20", "-m", "3", "-q"}).status, 0);
  for (const auto& [threads, tile] : {std::pair{"1", "64"}, {"2", "64"}, {"3", "64"}, {"2", "1048576"}}) {
    SCOPED_TRACE(std::string("threads ") + threads + ", tiles of " + tile);
    const ProcessResult r = tesk({src, tmp / "t.tif", "-i", "20", "-m", "3", "--overwrite", "--tile-size", tile,
                                  "--halo", "2", "--threads", threads});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(held(read_raster(tmp / "t.tif")), held(read_raster(tmp / "whole.tif")));
  }
}

// An island in a sea far wider than the tiles, with a flat summit inside
// its last contour: both holes of one value, proven in every tile with the
// smallest halo.  With the coastline at two levels, the sea is not: its
// tiles need the halo to reach across it.
TEST(Tiles, ASeaOfOneLevelIsProvenWhateverTheHalo) {
  TempDir tmp;
  const int n = 400;
  for (const bool two_levels : {false, true}) {
    std::vector<double> v(static_cast<std::size_t>(n) * n, 65500);
    for (int i = 0; i < n; ++i)
      for (int j = 0; j < n; ++j) {
        const double r = std::hypot(i - 150.0, j - 170.0);
        if (r < 5 || r > 133 || std::fmod(r, 6) >= 1) continue;
        const int level = static_cast<int>(133 - r) / 6 * 10;
        v[static_cast<std::size_t>(i) * n + j] = level == 0 && two_levels && j > 170 ? 10 : level;
      }
    write_tif(tmp / "island.tif", "UInt16", n, n, v, 65500);
    std::string notes;
    for (const char* tiles : {"whole", "tiled"}) {
      Args args = {tmp / "island.tif", tmp / (std::string(tiles) + ".tif"), "-i", "10", "-m", "3", "--overwrite"};
      if (*tiles == 't') args.insert(args.end(), {"--tile-size", "64", "--halo", "8"});
      const ProcessResult r = tesk(args);
      ASSERT_EQ(r.status, 0) << r.err;
      notes = r.err;
    }
    EXPECT_EQ(held(read_raster(tmp / "tiled.tif")), held(read_raster(tmp / "whole.tif")));
    const auto at = notes.find("the largest needed was ");
    ASSERT_NE(at, std::string::npos) << notes;
    const int largest = std::stoi(notes.substr(at + 23));
    EXPECT_TRUE(two_levels ? largest >= 128 : largest <= 16) << notes;  // the rings' tiles need 16
  }
}

// A fitted surface by tiles of 128 with a halo of 16: within a thousandth of
// the interval of the whole fit everywhere (float rounding aside), with the
// mask's no-data in the same places, the overlay's contours laid back, and
// the note of the tiles.
TEST(Tiles, AFittedSurfaceWithinAThousandthOfTheInterval) {
  TempDir tmp;
  const std::string mask = demo("jacksboro_valleys.geojson");
  for (const Args& options : {Args{"--mask", mask}, Args{"--overlay", "-ot", "Float64"}}) {
    SCOPED_TRACE(options[0]);
    std::string notes;
    for (const char* tiles : {"whole", "tiled"}) {
      Args args = {demo("jacksboro_i20_c.tif"), tmp / (std::string(tiles) + ".tif"), "-i", "20", "--overwrite",
                   "--method", "spline", "--threads", *tiles == 'w' ? "2" : "3"};
      args.insert(args.end(), options.begin(), options.end());
      if (*tiles == 't') args.insert(args.end(), {"--tile-size", "128", "--halo", "16"});
      const ProcessResult r = tesk(args);
      ASSERT_EQ(r.status, 0) << r.err;
      notes = r.err;
    }
    EXPECT_NE(notes.find("tiles of 128 pixels; the first halo, 16 pixels"), std::string::npos) << notes;
    const Raster w = read_raster(tmp / "whole.tif"), t = read_raster(tmp / "tiled.tif");
    ASSERT_EQ(w.v.size(), t.v.size());
    EXPECT_EQ(std::tuple(w.type, w.has_nodata, w.nodata), std::tuple(t.type, t.has_nodata, t.nodata));
    double largest = 0;
    int nodata = 0;
    for (std::size_t k = 0; k < w.v.size(); ++k) {
      ASSERT_EQ(w.v[k] == w.nodata, t.v[k] == t.nodata) << k;
      nodata += w.has_nodata && w.v[k] == w.nodata;
      if (!(w.has_nodata && w.v[k] == w.nodata)) largest = std::max(largest, std::fabs(w.v[k] - t.v[k]));
    }
    EXPECT_LE(largest, 0.02 + 1e-4) << "interval 20";
    EXPECT_GT(largest, 0) << "tiles that never differ prove nothing about the check";
    EXPECT_EQ(nodata > 0, options[0] == "--mask");
  }
}

// Under a data limit that the whole run does not fit, the run goes by
// tiles by itself, says so, and writes the whole run's DEM.
TEST(Tiles, AMemoryLimitTilesTheRun) {
  if (kUnderAsan) GTEST_SKIP() << "AddressSanitizer's shadow memory counts against the data limit";
  TempDir tmp;
  const int n = 2000;
  std::vector<double> v(static_cast<std::size_t>(n) * n, 65500);
  for (int i = 0; i < n; ++i)  // a tilted plane, a contour every 9 pixels
    for (int j = 0; j < n; ++j)
      if ((i + 2 * j) % 9 == 0) v[static_cast<std::size_t>(i) * n + j] = (i + 2 * j) / 9 * 10;
  write_tif(tmp / "src.tif", "UInt16", n, n, v, 65500);
  const ProcessResult whole = tesk({tmp / "src.tif", tmp / "whole.tif", "-i", "10", "-m", "3", "-q"});
  ASSERT_EQ(whole.status, 0) << whole.err;
  Args limited = {"/usr/bin/prlimit", "--data=" + std::to_string(95 << 20), TESK_EXE, tmp / "src.tif", tmp / "t.tif",
                  "-i", "10", "-m", "3", "--threads", "2"};
  const ProcessResult r = run_process(limited, "");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("Note: " + tmp / "src.tif" + " does not fit the memory whole (2000 x 2000 pixels): it runs by tiles"),
            std::string::npos) << r.err;
  EXPECT_EQ(held(read_raster(tmp / "t.tif")), held(read_raster(tmp / "whole.tif")));
}

}  // namespace
}  // namespace tesk::e2e
