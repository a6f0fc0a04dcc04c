// The batch command line's rasters: what a GeoTIFF keeps through a run,
// the output types, and real-valued sources.
//
// The small rasters below have a contour on every pixel, so the result is
// each contour value taken into internal units and, with the overlay, laid
// back: w = trunc(single(v / equid * 512)); whole units give
// trunc(single(w * equid / 512)), Float64 gives w * equid / 512 exactly and
// Float32 that value rounded once to single precision.
#include <cmath>
#include <string>

#include "e2e/e2e_support.h"

namespace tesk::e2e {
namespace {

TEST(BatchGeoTiff, RoundTripKeepsGridGeoreferencingAndNoData) {
  TempDir tmp;
  const Raster src = read_raster(demo("jacksboro_i20_c.tif"));
  ASSERT_TRUE(src.has_transform);
  const ProcessResult r = tesk({demo("jacksboro_i20_c.tif"), tmp / "dem.tif", "-i", "20", "-m", "3", "-q"});
  ASSERT_EQ(r.status, 0) << r.err;
  const Raster out = read_raster(tmp / "dem.tif");
  EXPECT_EQ(out.driver, "GTiff");
  EXPECT_EQ(out.rows, src.rows);
  EXPECT_EQ(out.cols, src.cols);
  EXPECT_EQ(out.transform, src.transform);
  EXPECT_TRUE(same_projection(out.projection, src.projection)) << out.projection;
  EXPECT_TRUE(out.has_nodata);
  EXPECT_EQ(out.nodata, 65500);
  EXPECT_EQ(out.type, "UInt16");  // the source's type holds every result value
  EXPECT_EQ(out.compression, "DEFLATE");
  EXPECT_LT(out.block_cols, out.cols);  // tiled, not striped
  EXPECT_NE(out.command_line.find("jacksboro_i20_c.tif"), std::string::npos) << out.command_line;
  EXPECT_NE(out.command_line.find("dem.tif -i 20 -m 3 -q"), std::string::npos) << out.command_line;
  // Every pixel altitude, none left without one, all within the contours' range.
  for (double v : out.v) {
    ASSERT_GE(v, 240);
    ASSERT_LE(v, 1060);
  }
}

TEST(BatchGeoTiff, CreationOptionsAndFormats) {
  TempDir tmp;
  const std::string src = demo("jacksboro_i20_c.tif");
  ASSERT_EQ(tesk({src, tmp / "a.tif", "-i", "20", "-q"}).status, 0);
  const Raster a = read_raster(tmp / "a.tif");

  // -co wins over the default tiling and compression.
  ASSERT_EQ(tesk({src, tmp / "b.tif", "-i", "20", "-q", "-co", "COMPRESS=LZW", "-co", "TILED=NO"}).status, 0);
  const Raster b = read_raster(tmp / "b.tif");
  EXPECT_EQ(b.compression, "LZW");
  EXPECT_EQ(b.block_cols, b.cols);
  EXPECT_EQ(b.v, a.v);

  // The format from the extension, or named with -of.
  ASSERT_EQ(tesk({src, tmp / "c.img", "-i", "20", "-q"}).status, 0);
  EXPECT_EQ(read_raster(tmp / "c.img").driver, "HFA");
  ASSERT_EQ(tesk({src, tmp / "d.bin", "-of", "ENVI", "-i", "20", "-q"}).status, 0);
  const Raster d = read_raster(tmp / "d.bin");
  EXPECT_EQ(d.driver, "ENVI");
  EXPECT_EQ(d.v, a.v);
  EXPECT_EQ(d.transform, a.transform);
  // A format that only copies (PNG): 16-bit grey.
  ASSERT_EQ(tesk({src, tmp / "e.png", "-i", "20", "-q"}).status, 0);
  EXPECT_EQ(read_raster(tmp / "e.png").v, a.v);
}

struct TypeCase {
  const char* name;
  const char* ot;  // "" for the default
  const char* expected_type;
  std::vector<double> expected;
};

void PrintTo(const TypeCase& c, std::ostream* os) { *os << c.name; }

class BatchOutputType : public ::testing::TestWithParam<TypeCase> {};

// Interval 3; contour values 1001, -1001, 1, 2, 3, 100000 (internal
// 170837, -170837, 170, 341, 512, 17066666).
TEST_P(BatchOutputType, ValuesOfAnAllContourRaster) {
  const TypeCase& c = GetParam();
  TempDir tmp;
  write_tif(tmp / "src.tif", "Int32", 2, 3, {1001, -1001, 1, 2, 3, 100000}, 10000000);
  std::vector<std::string> args = {tmp / "src.tif", tmp / "out.tif", "-i", "3", "-q"};
  if (*c.ot) args.insert(args.end(), {"-ot", c.ot});
  const ProcessResult r = tesk(args);
  ASSERT_EQ(r.status, 0) << r.err;
  const Raster out = read_raster(tmp / "out.tif");
  EXPECT_EQ(out.type, c.expected_type);
  EXPECT_EQ(out.v, c.expected);
  EXPECT_EQ(out.nodata, 10000000);
}

INSTANTIATE_TEST_SUITE_P(
    Types, BatchOutputType,
    ::testing::Values(
        TypeCase{"WholeUnits", "", "Int32", {1000, -1000, 0, 1, 3, 100000}},
        TypeCase{"Float64", "Float64", "Float64",
                 {1000.998046875, -1000.998046875, 0.99609375, 1.998046875, 3, 99999.99609375}},
        // 99999.99609375 lies halfway between two floats: the even one, 100000.
        TypeCase{"Float32", "Float32", "Float32", {1000.998046875, -1000.998046875, 0.99609375, 1.998046875, 3, 100000}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(BatchOutputType, NarrowTypesAreRefusedNeverWrapped) {
  TempDir tmp;
  const ProcessResult r = tesk({demo("jacksboro_i20_c.tif"), tmp / "out.tif", "-i", "20", "-ot", "Byte", "-q"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("Byte cannot hold"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("240 to 1060"), std::string::npos) << r.err;
  EXPECT_FALSE(testing::file_exists(tmp / "out.tif"));
  // A classic 16-bit output is refused in the same way for a negative result.
  write_tif(tmp / "neg.tif", "Int16", 1, 2, {-5, 7}, -9999);
  const ProcessResult n = tesk({tmp / "neg.tif", tmp / "neg_m2.raw", "-i", "1", "-q"});
  EXPECT_EQ(n.status, 1);
  EXPECT_NE(n.err.find("-5"), std::string::npos) << n.err;
  EXPECT_NE(n.err.find("_m4.raw"), std::string::npos) << n.err;
  EXPECT_EQ(tesk({tmp / "neg.tif", tmp / "neg_m4.raw", "-i", "1", "-q"}).status, 0);
  EXPECT_EQ(testing::read_file(tmp / "neg_m4.raw"), testing::le32({-5, 7}));
  // -ot Int16 holds the jacksboro altitudes.
  ASSERT_EQ(tesk({demo("jacksboro_i20_c.tif"), tmp / "i16.tif", "-i", "20", "-ot", "Int16", "-q"}).status, 0);
  EXPECT_EQ(read_raster(tmp / "i16.tif").type, "Int16");
}

TEST(BatchRealSource, FloatSamplesGiveTheSameDemAsTheirIntegerTwins) {
  TempDir tmp;
  const Raster src = read_raster(demo("jacksboro_i20_c.tif"));
  // Float32 with the same no-data value, and Float64 with NaN as no-data.
  write_tif(tmp / "f32.tif", "Float32", src.rows, src.cols, src.v, 65500);
  std::vector<double> with_nan = src.v;
  for (double& v : with_nan)
    if (v == 65500) v = NAN;
  write_tif(tmp / "f64.tif", "Float64", src.rows, src.cols, with_nan, NAN);

  ASSERT_EQ(tesk({demo("jacksboro_i20_c.tif"), tmp / "u16.tif", "-i", "20", "-m", "3", "-q"}).status, 0);
  const Raster expected = read_raster(tmp / "u16.tif");
  for (const char* name : {"f32", "f64"}) {
    const ProcessResult r = tesk({tmp / (std::string(name) + ".tif"), tmp / (std::string(name) + "_out.tif"), "-i", "20",
                                  "-m", "3", "-q"});
    ASSERT_EQ(r.status, 0) << r.err;
    const Raster out = read_raster(tmp / (std::string(name) + "_out.tif"));
    EXPECT_EQ(out.type, "Int32") << name;  // a real source has no integer type to keep
    EXPECT_EQ(out.v, expected.v) << name;
  }
}

// Interval 10: 1000.5 -> 51225.6 -> 51225 internal units; 2000.25 ->
// 102412.8 -> 102412.  Back: 1000.48828125 and 2000.234375.
TEST(BatchRealSource, FractionalAltitudesGoThroughTheSameFormula) {
  TempDir tmp;
  write_tif(tmp / "src.tif", "Float64", 1, 2, {1000.5, 2000.25}, -9999);
  ASSERT_EQ(tesk({tmp / "src.tif", tmp / "whole.tif", "-i", "10", "-q"}).status, 0);
  EXPECT_EQ(read_raster(tmp / "whole.tif").v, (std::vector<double>{1000, 2000}));
  ASSERT_EQ(tesk({tmp / "src.tif", tmp / "full.tif", "-i", "10", "-ot", "Float64", "-q"}).status, 0);
  EXPECT_EQ(read_raster(tmp / "full.tif").v, (std::vector<double>{1000.48828125, 2000.234375}));
}

TEST(BatchRealSource, ValuesBeyondTheInternalRangeAreReported) {
  TempDir tmp;
  // 5e6 / 1 * 512 = 2.56e9 is 2^31 or more.
  write_tif(tmp / "src.tif", "Float64", 1, 2, {5e6, 10}, -9999);
  const ProcessResult r = tesk({tmp / "src.tif", tmp / "out.tif", "-i", "1", "-q"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("5000000 at row 0, column 0"), std::string::npos) << r.err;
  EXPECT_FALSE(testing::file_exists(tmp / "out.tif"));
}

}  // namespace
}  // namespace tesk::e2e
