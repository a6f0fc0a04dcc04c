// The command line refuses an image larger than the memory it may use before
// allocating anything, with the figures, instead of being killed later.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/test_support.h"

namespace tesk {
namespace {

TEST(BatchMemory, AnImageLargerThanTheMemoryIsRefusedBeforeAllocating) {
  testing::TempDir dir;
  const std::string src = dir / "huge.tif";
  // 200000 x 200000 UInt16 pixels, sparse: a few hundred bytes on disk, 400
  // GB of grids.
  const auto made = testing::run_process({"/usr/bin/gdal_create", "-q", "-outsize", "200000", "200000", "-ot",
                                          "UInt16", "-a_nodata", "65500", "-co", "TILED=YES", "-co",
                                          "SPARSE_OK=TRUE", src},
                                         "");
  ASSERT_EQ(made.status, 0) << made.err;
  const auto r = testing::run_process({TESK_EXE, src, dir / "dem.tif", "-i", "10", "-q"}, "");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("not enough memory: a grid of 200000 x 200000 pixels needs 381469"), std::string::npos)
      << r.err;
  EXPECT_FALSE(testing::file_exists(dir / "dem.tif"));
}

TEST(BatchMemory, AVectorBurnLargerThanTheMemoryIsRefusedBeforeBurning) {
  testing::TempDir dir;
  const std::string src = dir / "lines.geojson";
  testing::write_file(src, R"({"type": "FeatureCollection", "features": [{"type": "Feature",
    "properties": {"ELEV": 100}, "geometry": {"type": "LineString", "coordinates": [[0, 0], [10, 10]]}}]})");
  // -ts asks for the grid outright; -tr over the lines' extent works it out.
  const std::vector<std::vector<std::string>> grids = {{"-ts", "200000", "200000"}, {"-tr", "0.00005", "0.00005"}};
  for (const auto& grid : grids) {
    std::vector<std::string> argv = {TESK_EXE, src, dir / "dem.tif", "-i", "10", "-a", "ELEV", "-q"};
    argv.insert(argv.end(), grid.begin(), grid.end());
    const auto r = testing::run_process(argv, "");
    EXPECT_EQ(r.status, 1) << grid[0];
    EXPECT_NE(r.err.find("not enough memory: burning " + src + " onto a grid of 200000 x 200000 pixels"),
              std::string::npos)
        << r.err;
    EXPECT_FALSE(testing::file_exists(dir / "dem.tif"));
  }
}

}  // namespace
}  // namespace tesk
