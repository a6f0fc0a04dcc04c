// What the command line reads: scaled bands, numbers, vectors, --mask; its warnings.
#include <algorithm>
#include <sstream>

#include "support/test_support.h"

namespace tesk::e2e {
namespace {

const std::string kSrc = demo("jacksboro_i20_c.tif"), kValleys = demo("jacksboro_valleys.geojson");
using Args = std::vector<std::string>;

ProcessResult run_ok(Args args, const std::vector<std::string>& env = {}) {
  const ProcessResult r = tesk(args, env);
  EXPECT_EQ(r.status, 0) << r.err;
  return r;
}
std::string features(std::string body) {
  if (body.back() == ',') body.pop_back();
  return R"({"type": "FeatureCollection", "features": [)" + body + "]}";
}
std::string feature(const std::string& elev, const std::string& coordinates, const std::string& type = "LineString") {
  return R"({"type": "Feature", "properties": {"ELEV": )" + elev + R"(}, "geometry": {"type": ")" + type +
         R"(", "coordinates": )" + coordinates + "}},";
}
const std::string kPoint = feature("50", "[5, 5]", "Point");

// Samples (altitude - 100) * 2 with scale 0.5, offset 100: the DEM of the
// altitudes, without scale or offset; no-data is a sample, not an altitude.
// Signed bytes are read as signed; a 64-bit no-data value as such.
TEST(InputsScaleOffset, ScaledSamplesGiveTheDemOfTheirAltitudes) {
  TempDir tmp;
  Raster src = read_raster(kSrc);
  for (double& v : src.v) v = v == 65500 ? 65500 : (v - 100) * 2;
  write_tif(tmp / "scaled.tif", "UInt16", src.rows, src.cols, src.v, 65500);
  write_tif(tmp / "edge.tif", "Int32", 1, 3, {300, 400, 500}, 300);
  for (const std::string name : {"scaled", "edge"}) {
    GDALDatasetH ds = GDALOpen((tmp / (name + ".tif")).c_str(), GA_Update);
    GDALSetRasterScale(GDALGetRasterBand(ds, 1), 0.5), GDALSetRasterOffset(GDALGetRasterBand(ds, 1), 100), GDALClose(ds);
  }
  run_ok({kSrc, tmp / "plain.tif", "-i", "20", "-m", "3", "-ot", "Float64", "-q"});
  run_ok({tmp / "scaled.tif", tmp / "out.tif", "-i", "20", "-m", "3", "-ot", "Float64", "-q"});
  EXPECT_TRUE(read_raster(tmp / "out.tif").v == read_raster(tmp / "plain.tif").v);
  run_ok({tmp / "edge.tif", tmp / "edge_out.tif", "-i", "1", "-ot", "Float64", "-q"});
  EXPECT_EQ(read_raster(tmp / "edge_out.tif").v, (std::vector<double>{300, 300, 350}));
  GDALDatasetH ds = GDALOpen((tmp / "edge_out.tif").c_str(), GA_ReadOnly);
  int scale = 0, offset = 0;
  GDALGetRasterScale(GDALGetRasterBand(ds, 1), &scale), GDALGetRasterOffset(GDALGetRasterBand(ds, 1), &offset);
  EXPECT_EQ(scale + offset, 0), GDALClose(ds);
  // Bytes flagged signed hold -128..127 (GDAL reads them as 0..255): the
  // DEM of the same values stored as Int16.
  const std::vector<double> v = {-50, -128, -30, -128, -40, -128, -30, -128, -50, -128, -128, -40};
  write_tif(tmp / "int16.tif", "Int16", 3, 4, v, -128);
  char signed_bytes[] = "PIXELTYPE=SIGNEDBYTE";
  char* options[] = {signed_bytes, nullptr};
  ds = GDALCreate(GDALGetDriverByName("GTiff"), (tmp / "int8.tif").c_str(), 4, 3, 1, GDT_Byte, options);
  std::vector<double> bytes = v;
  for (double& b : bytes) b = b < 0 ? b + 256 : b;
  GDALSetRasterNoDataValue(GDALGetRasterBand(ds, 1), -128);
  EXPECT_EQ(GDALRasterIO(GDALGetRasterBand(ds, 1), GF_Write, 0, 0, 4, 3, bytes.data(), 4, 3, GDT_Float64, 0, 0), CE_None);
  GDALClose(ds);
  // A 64-bit band's no-data value at its type's largest: read without
  // GDAL's warning that the double rounds it, and matched.
  write_tif(tmp / "u16.tif", "UInt16", 2, 3, {100, 65500, 300, 65500, 200, 65500}, 65500);
  std::uint64_t u64[] = {100, UINT64_MAX, 300, UINT64_MAX, 200, UINT64_MAX};
  ds = GDALCreate(GDALGetDriverByName("GTiff"), (tmp / "u64.tif").c_str(), 3, 2, 1, GDT_UInt64, nullptr);
  GDALSetRasterNoDataValueAsUInt64(GDALGetRasterBand(ds, 1), UINT64_MAX);
  EXPECT_EQ(GDALRasterIO(GDALGetRasterBand(ds, 1), GF_Write, 0, 0, 3, 2, u64, 3, 2, GDT_UInt64, 0, 0), CE_None);
  GDALClose(ds);
  for (const char* name : {"int16", "int8", "u16", "u64"})
    EXPECT_EQ(run_ok({tmp / (std::string(name) + ".tif"), tmp / (std::string(name) + "_out.tif"), "-i", "1", "-ot",
                      "Float64", "-q"}).err, "");
  EXPECT_EQ(read_raster(tmp / "int8_out.tif").v, read_raster(tmp / "int16_out.tif").v);
  EXPECT_EQ(read_raster(tmp / "u64_out.tif").v, read_raster(tmp / "u16_out.tif").v);
}

// NULL or a word as altitude: left out, counted; points kept; -l picks.
TEST(InputsVector, BadAttributesLeftOutPointsKeptLayersChosen) {
  TempDir tmp;
  const std::string good = feature("100", "[[0, 0], [10, 10]]") + feature("\"120\"", "[[0, 10], [10, 0]]") + kPoint;
  write_file(tmp / "good.geojson", features(good));
  write_file(tmp / "mixed.geojson",
             features(feature("null", "[[0, 5], [10, 5]]") + feature("\"high\"", "[[5, 0], [5, 10]]") + good));
  gdal_tool({"ogr2ogr", "-q", tmp / "two.gpkg", tmp / "good.geojson", "-nln", "good"});
  gdal_tool({"ogr2ogr", "-q", "-update", tmp / "two.gpkg", tmp / "mixed.geojson", "-nln", "mixed"});
  auto run = [&](Args args) {
    args.insert(args.end(), {"-a", "ELEV", "-tr", "1", "1", "-i", "10", "-q", "--overwrite"});
    const std::string err = run_ok(args).err;
    return std::pair(err, read_raster(args[1]).v);
  };
  const std::vector<double> reference = run({tmp / "good.geojson", tmp / "ref.tif"}).second;
  EXPECT_NE(std::find(reference.begin(), reference.end(), 50.0), reference.end());  // the point
  const std::pair<Args, std::string> cases[] = {
      {{tmp / "mixed.geojson", tmp / "a.tif"}, "Warning: 2 features of " + tmp / "mixed.geojson" + " left out"},
      {{tmp / "two.gpkg", tmp / "b.tif", "-l", "mixed"}, "Warning: 2 features of layer 'mixed' of " + tmp / "two.gpkg"},
      {{tmp / "two.gpkg", tmp / "c.tif", "-l", "good"}, ""}};
  for (const auto& [args, warning] : cases) {
    const auto [err, dem] = run(args);
    EXPECT_EQ(err.substr(0, warning.size()), warning) << err;
    EXPECT_TRUE(dem == reference) << args[1];
  }
}

// Refused: status 1, one line naming the option or file, a way out ('@': scratch).
TEST(InputsRefused, OptionsAndVectorGridsNameWhatToGive) {
  TempDir tmp;
  write_file(tmp / "l.geojson", features(feature("100", "[[0, 0], [10, 10]]") + feature("100", "[[2, 5], [12, 5]]")));
  write_file(tmp / "flat.geojson", features(feature("100", "[[0, 5], [10, 5]]") + kPoint));
  write_file(tmp / "poly.geojson", features(feature("1", "[[[0, 0], [10, 0], [10, 10], [0, 0]]]", "Polygon")));
  gdal_tool({"ogr2ogr", "-q", tmp / "two.gpkg", tmp / "l.geojson", "-nln", "a"});
  gdal_tool({"ogr2ogr", "-q", "-update", tmp / "two.gpkg", tmp / "l.geojson", "-nln", "b"});
  write_tif(tmp / "minus5.tif", "UInt16", 1, 3, {100, 0, 200}, -5);
  const Args vec = {"@/l.geojson", "@/o.tif", "-i", "10", "-a", "ELEV"}, ras = {kSrc, "@/o.tif", "-i", "20"};
  auto with = [](Args a, const Args& more) { return a.insert(a.end(), more.begin(), more.end()), a; };
  const std::pair<Args, Args> cases[] = {
      {with(ras, {"-i", "0x10"}), {"--interval", "'0x10' is not a decimal"}},
      {with(ras, {"--nodata", "0x10"}), {"--nodata", "'0x10' is not a decimal"}},
      {with(ras, {"--nodata", ""}), {"--nodata", "'' is not a decimal"}},
      {with(ras, {"--nodata", " 5"}), {"--nodata", "' 5' is not a decimal"}},
      {with(ras, {"--nodata", "70000"}), {"--nodata 70000: the samples of ", "(UInt16, 0 to 65535) cannot hold it"}},
      {with(ras, {"--nodata", "-1"}), {"--nodata -1: the samples of ", "(UInt16, 0 to 65535) cannot hold it"}},
      {{"@/minus5.tif", "@/o.tif", "-i", "10"}, {"minus5.tif: its no-data value -5 is not a value of its samples (UInt16",
                                                  "--nodata"}},
      {with(ras, {"--threads", "100000"}), {"--threads", "0 to 1024"}},
      {with(ras, {"-m", "2147483648"}), {"--window", "'2147483648' is beyond the whole numbers it takes"}},
      {with(ras, {"--tile-size", "-99999999999999999999"}), {"--tile-size", "-99999999999999999999' is beyond"}},
      {with(ras, {"-a", "ELEV", "-te", "0", "0", "1", "1"}), {"-a, -te: ", "is a raster", "vector sources only"}},
      {with(vec, {"-tr", "0", "0"}), {"-tr 0 0: give the pixel size as two positive numbers"}},
      {with(vec, {"-tr", "1", "1", "-b", "1"}), {"-b: ", "is a vector source"}},
      {with(vec, {"-tr", "1", "1", "--nodata", "300"}), {"--nodata: ", "applies to raster sources only"}},
      {with(vec, {"-tr", "100", "100", "-te", "0", "0", "10", "10"}), {"makes a grid of 0 x 0 pixels", "smaller pixel"}},
      {with(vec, {"-ts", "0", "10"}), {"-ts 0 10: give the grid size"}},
      {with(vec, {"-ts", "9", "9", "-te", "5", "0", "1", "9"}), {"-te 5 0 1 9: give the extent", "XMIN < XMAX"}},
      {{"@/flat.geojson", "@/o.tif", "-i", "10", "-a", "ELEV", "-ts", "9", "9"}, {"spans no height", "-te", "-tr"}},
      {{"@/poly.geojson", "@/o.tif", "-i", "10", "-a", "ELEV", "-tr", "1", "1"}, {"poly.geojson holds polygons"}},
      {{"@/l.geojson", "@/o.tif", "-i", "10", "-a", "HEIGHT", "-tr", "1", "1"}, {"-a HEIGHT: ", "attributes are ELEV"}},
      {{"@/two.gpkg", "@/o.tif", "-i", "10", "-a", "ELEV", "-tr", "1", "1"}, {"2 layers ('a', 'b')", "-l LAYER"}},
      {{"@/two.gpkg", "@/o.tif", "-i", "10", "-a", "ELEV", "-tr", "1", "1", "-l", "c"}, {"-l c: ", "are 'a', 'b'"}},
      {with(ras, {"--mask", "@/none.tif"}), {"--mask ", "none.tif: no such file"}},
      {with(ras, {"--mask", "@/l.geojson"}), {"--mask ", "l.geojson: layer", "not polygons"}},
      {with(ras, {"--mask", "@/poly.geojson"}), {"--mask ", "poly.geojson covers no pixel"}},
      {with(ras, {"--mask", "@/l.geojson", "--tile-size", "64"}), {"--mask ", "l.geojson: layer", "not polygons"}},
      {with(ras, {"--mask", "@/none.tif", "--method", "spline", "--tile-size", "128"}), {"--mask ", "no such file"}},
      {{kSrc, "@/o_m2.raw", "-i", "20", "--mask", kValleys}, {"--mask does not apply to a classic output"}},
  };
  for (const auto& [args, pieces] : cases) {
    Args argv;
    for (const auto& a : args) argv.push_back(a[0] == '@' ? tmp.path() + a.substr(1) : a);
    const ProcessResult r = tesk(argv);
    SCOPED_TRACE(argv[3] + " " + argv.back());
    EXPECT_EQ(r.status, 1);
    const std::string message = r.err.substr(std::min(r.err.size(), r.err.find("tesk: ")));  // after any progress
    EXPECT_EQ(std::count(message.begin(), message.end(), '\n'), 1) << r.err;
    for (const std::string& piece : pieces) EXPECT_NE(r.err.find(piece), std::string::npos) << r.err;
    // A mask is refused before any work, whole or by tiles.
    if (std::find(argv.begin(), argv.end(), "--mask") != argv.end()) {
      EXPECT_EQ(r.err.find("...10"), std::string::npos) << r.err;
    }
  }
}

// Each warning on a line of its own, the progress whole or silent (-q); 010 is ten.
TEST(InputsWarnings, EachOnItsOwnLineNoneChangingTheResult) {
  TempDir tmp;
  write_tif(tmp / "small.tif", "Int16", 3, 3, {100, 9, 9, 9, 9, 9, 9, 9, 200}, 9);
  const std::string done = "0...10...20...30...40...50...60...70...80...90...100 - done.";
  const std::tuple<Args, std::vector<std::string>, std::string> cases[] = {
      {{kSrc, "-i", "7"}, {}, "90351 contour pixels of " + kSrc + " hold values that are not multiples of -i 7 (for example "
                               "480): such values come back closer to zero, by less than 0.013671875 (the interval / 512), and by "
                               "up to one unit in whole units"},
      {{kSrc, "-i", "1000"}, {}, "not multiples of -i 1000 (for example 480): such values come back closer to zero, by less than "
                                  "1.953125 (the interval / 512), and by less than 2.953125 in whole units"},
      {{kSrc, "-i", "100000"}, {}, "run from 240 to 1060, fewer than 3 intervals of -i 100000"},
      {{tmp / "small.tif", "-i", "100", "-m", "5"}, {}, "-m 5: the smoothing window needs more than 5 rows and columns"},
      {{kSrc, "-i", "20", "-co", "BOGUS=1"}, {}, "driver GTiff does not support creation option BOGUS"},
      {{kSrc, "-i", "20", "-co", "COMPRESS=NOPE"}, {}, "'NOPE' is an unexpected value for COMPRESS"},
      {{kSrc, "-i", "20"}, {"TESK_THREADS=5000"}, "TESK_THREADS=5000 left aside"},
  };
  for (const auto& [args, env, warning] : cases) {
    SCOPED_TRACE(warning);
    for (const char* quiet : {"", "-q"}) {
      Args argv = args;
      argv.insert(argv.begin() + 1, {tmp / "out.tif", "--overwrite"});
      if (*quiet) argv.push_back(quiet);
      const ProcessResult r = run_ok(argv, env);
      std::string progress, warnings;
      std::istringstream lines(r.err);
      for (std::string l; std::getline(lines, l);) (l.rfind("Warning: ", 0) == 0 ? warnings : progress) += l;
      EXPECT_EQ(progress, *quiet ? "" : done);
      EXPECT_NE(warnings.find(warning), std::string::npos) << r.err;
    }
  }
  run_ok({kSrc, tmp / "ten.tif", "-i", "10", "-q"});
  run_ok({kSrc, tmp / "ten2.tif", "-i", "010", "-q", "--threads", "01"});
  EXPECT_TRUE(read_raster(tmp / "ten.tif").v == read_raster(tmp / "ten2.tif").v);
}

// Outside: no-data, hillshade 0; inside: the unmasked values, the preview
// over 1..255.  The masked DEM as a mask, as it is and twice as fine.
TEST(InputsMask, OutsideNoDataInsideUnchangedWhateverTheMask) {
  TempDir tmp;
  auto run = [&](const std::string& name, Args more) {
    Args args = {kSrc, tmp / (name + ".tif"), "--hillshade", tmp / (name + "_hs.png"), "--preview", tmp / (name + ".png"),
                 "-i", "20", "-m", "3", "-q"};
    run_ok((args.insert(args.end(), more.begin(), more.end()), args));
  };
  run("whole", {});
  run("poly", {"--mask", kValleys});
  const Raster whole = read_raster(tmp / "whole.tif"), dem = read_raster(tmp / "poly.tif");
  const Raster hs = read_raster(tmp / "poly_hs.png"), hs_whole = read_raster(tmp / "whole_hs.png"),
               preview = read_raster(tmp / "poly.png");
  double lowest = 255, highest = 0;
  for (std::size_t k = 0; k < dem.v.size(); ++k) {
    const bool in = dem.v[k] != 65500;
    if (in) lowest = std::min(lowest, preview.v[k]), highest = std::max(highest, preview.v[k]);
    ASSERT_EQ(std::tuple(dem.v[k], hs.v[k], preview.v[k] > 0),
              in ? std::tuple(whole.v[k], hs_whole.v[k], true) : std::tuple(65500.0, 0.0, false)) << k;
  }
  EXPECT_EQ(std::tuple(lowest, highest, hs.has_nodata, hs.nodata), std::tuple(1.0, 255.0, true, 0.0));
  gdal_tool({"gdal_translate", "-q", "-outsize", "200%", "200%", "-r", "nearest", tmp / "poly.tif", tmp / "fine.tif"});
  for (const std::string mask : {"poly.tif", "fine.tif"}) {
    run("r_" + mask, {"--mask", tmp / mask});
    EXPECT_TRUE(read_raster(tmp / ("r_" + mask + ".tif")).v == dem.v) << mask;
  }
  // Only the inside settles the type and the no-data value: outside lie
  // -100 (no UInt16) and 0, the no-data value, both written as no-data.
  write_tif(tmp / "s.tif", "Int16", 3, 4, {400, 400, 400, 400, 0, 0, 0, 0, -100, 0, 0, 100}, 0);
  write_tif(tmp / "top.tif", "Byte", 3, 4, {1, 1, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0}, std::nullopt);
  // The same mask in signed bytes, -128 its no-data value (read by GDAL as 128).
  char signed_bytes[] = "PIXELTYPE=SIGNEDBYTE";
  char* options[] = {signed_bytes, nullptr};
  GDALDatasetH sb = GDALCreate(GDALGetDriverByName("GTiff"), (tmp / "top_s.tif").c_str(), 4, 3, 1, GDT_Byte, options);
  std::vector<double> bytes = {1, 1, 1, 1, 1, 1, 1, 1, 128, 128, 128, 128};
  GDALSetRasterNoDataValue(GDALGetRasterBand(sb, 1), -128);
  EXPECT_EQ(GDALRasterIO(GDALGetRasterBand(sb, 1), GF_Write, 0, 0, 4, 3, bytes.data(), 4, 3, GDT_Float64, 0, 0), CE_None);
  GDALClose(sb);
  for (const char* mask : {"top.tif", "top_s.tif"}) {
    const ProcessResult r = run_ok({tmp / "s.tif", tmp / "s_out.tif", "-i", "100", "-q", "-ot", "UInt16", "--mask",
                                    tmp / mask, "--overwrite"});
    const Raster out = read_raster(tmp / "s_out.tif");
    EXPECT_EQ(std::tuple(r.err, out.type, out.nodata, out.v),
              std::tuple(std::string(), std::string("UInt16"), 0.0,
                         std::vector<double>{400, 400, 400, 400, 150, 125, 325, 250, 0, 0, 0, 0})) << mask;
  }
  // Outside, a pixel may equal the no-data value (710 here, which no pixel
  // inside takes): the hillshade inside stays the unmasked one all the same.
  Raster src = read_raster(kSrc);
  for (double& v : src.v) v = v == 65500 ? 710 : v;
  gdal_tool({"gdal_translate", "-q", "-a_nodata", "710", kSrc, tmp / "710.tif"});
  GDALDatasetH ds = GDALOpen((tmp / "710.tif").c_str(), GA_Update);
  const CPLErr written = GDALRasterIO(GDALGetRasterBand(ds, 1), GF_Write, 0, 0, src.cols, src.rows, src.v.data(), src.cols,
                                     src.rows, GDT_Float64, 0, 0);
  GDALClose(ds);
  ASSERT_EQ(written, CE_None);
  run_ok({tmp / "710.tif", tmp / "w710.tif", "-i", "20", "-ot", "UInt16", "-q", "--hillshade", tmp / "w710.png"});
  run_ok({tmp / "710.tif", tmp / "m710.tif", "-i", "20", "-ot", "UInt16", "-q", "--hillshade", tmp / "m710.png", "--mask", kValleys});
  const Raster m710 = read_raster(tmp / "m710.tif"), hs710 = read_raster(tmp / "m710.png"), hs_w = read_raster(tmp / "w710.png");
  ASSERT_EQ(m710.nodata, 710);
  int differ = 0;
  for (std::size_t k = 0; k < hs710.v.size(); ++k) differ += m710.v[k] != 710 && hs710.v[k] != hs_w.v[k];
  EXPECT_EQ(differ, 0);
}

}  // namespace
}  // namespace tesk::e2e
