// Vector contour lines as a source: burnt in-process exactly as
// gdal_rasterize burns them, the result must equal a run on the raster
// that gdal_rasterize itself makes with the same options.
#include <algorithm>
#include <string>

#include "e2e/e2e_support.h"

namespace tesk::e2e {
namespace {

struct GridCase {
  const char* name;
  std::vector<std::string> grid;  // the grid options, as given to both programs
};

void PrintTo(const GridCase& c, std::ostream* os) { *os << c.name; }

class BatchVectorSource : public ::testing::TestWithParam<GridCase> {};

TEST_P(BatchVectorSource, SameAsGdalRasterizeThenARasterRun) {
  TempDir tmp;
  // Contours every 20 m of the true jacksboro DEM, as a GeoPackage.
  gdal_tool({"gdal_contour", "-q", "-a", "ELEV", "-i", "20", demo("jacksboro_true.tif"), tmp / "contours.gpkg"});

  std::vector<std::string> vec = {tmp / "contours.gpkg", tmp / "from_vector.tif", "-a", "ELEV", "-i", "20", "-m", "3",
                                  "-q"};
  vec.insert(vec.end(), GetParam().grid.begin(), GetParam().grid.end());
  const ProcessResult r = tesk(vec);
  ASSERT_EQ(r.status, 0) << r.err;

  std::vector<std::string> burn = {"gdal_rasterize", "-q", "-a", "ELEV"};
  burn.insert(burn.end(), GetParam().grid.begin(), GetParam().grid.end());
  burn.insert(burn.end(), {"-a_nodata", "10000000", "-init", "10000000", "-ot", "Float64", tmp / "contours.gpkg",
                           tmp / "burnt.tif"});
  gdal_tool(burn);
  ASSERT_EQ(tesk({tmp / "burnt.tif", tmp / "from_raster.tif", "-i", "20", "-m", "3", "-q"}).status, 0);

  const Raster a = read_raster(tmp / "from_vector.tif");
  const Raster b = read_raster(tmp / "from_raster.tif");
  ASSERT_GT(a.rows, 10);
  EXPECT_EQ(a.rows, b.rows);
  EXPECT_EQ(a.cols, b.cols);
  EXPECT_EQ(a.transform, b.transform);
  EXPECT_TRUE(same_projection(a.projection, b.projection));
  EXPECT_EQ(a.nodata, 10000000);
  EXPECT_EQ(a.type, "Int32");
  EXPECT_EQ(a.v, b.v);
  // A surface, not a constant: the contours run from 240 to 1060.
  const auto [lo, hi] = std::minmax_element(a.v.begin(), a.v.end());
  EXPECT_GE(*lo, 240);
  EXPECT_LE(*hi, 1060);
  EXPECT_GT(*hi - *lo, 600);
}

INSTANTIATE_TEST_SUITE_P(
    Grids, BatchVectorSource,
    ::testing::Values(GridCase{"PixelSize", {"-tr", "90", "90"}},
                      GridCase{"SizeAndExtent", {"-ts", "200", "170", "-te", "731000", "4038000", "767000", "4068000"}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tesk::e2e
