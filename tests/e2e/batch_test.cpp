// The batch command line: the same files as the classic dialogue, what a
// GeoTIFF keeps, output types and formats, vector sources and the shaded
// relief against GDAL's own tools, the runs it refuses.
#include <cmath>

#include "support/test_support.h"

namespace tesk::e2e {
namespace {

const std::string kSrc = demo("jacksboro_i20_c.tif");
using Args = std::vector<std::string>;
ProcessResult run_ok(Args args) {
  const ProcessResult r = tesk(args);
  EXPECT_EQ(r.status, 0) << r.err;
  return r;
}

// The GeoTIFF of the jacksboro contours gives the dialogue's DEM in any
// format, keeps the grid, georeferencing and no-data, writes a tiled DEFLATE
// Float32 GeoTIFF unless -co says otherwise (whole units: its truncation), and the classic
// header of a raw output from the GeoTIFF's size and 90 m pixels.  Classic
// sources give the dialogue's files too, the preview as a PNG.
TEST(BatchGeoTiff, SameDemAsTheDialogueInEveryFormat) {
  TempDir tmp;
  fs::create_directories(tmp / "site");
  fs::copy_file(demo("jacksboro_i20_c2.raw"), tmp / "site/j_c2.raw");
  fs::copy_file(demo("jacksboro_i20_c2.txt"), tmp / "site/j_c2.txt");
  ASSERT_EQ(run_process({TESK_EXE}, "site j 0 0 20 3 0", {"TESK_IMAGES=" + tmp.path()}).status, 0);
  const std::string m2 = read_file(tmp / "site/j_m2.raw");
  std::vector<double> dem(m2.size() / 2);
  for (std::size_t k = 0; k < dem.size(); ++k)
    dem[k] = static_cast<unsigned char>(m2[2 * k]) | static_cast<unsigned char>(m2[2 * k + 1]) << 8;
  const Raster src = read_raster(kSrc);
  const std::tuple<const char*, Args, std::string, const char*, const char*> cases[] = {
      {"a.tif", {}, "GTiff", "DEFLATE", "Float32"}, {"b.tif", {"-co", "COMPRESS=LZW", "-co", "TILED=NO"}, "GTiff", "LZW", "Float32"},
      {"d.bin", {"-of", "ENVI"}, "ENVI", "", ""}, {"e.png", {}, "PNG", "", ""},
      {"f.tif", {"-ot", "Int16"}, "GTiff", "DEFLATE", "Int16"}};
  for (const auto& [name, options, driver, compression, type] : cases) {
    SCOPED_TRACE(name);
    // The options first: a -co takes one value, and the source and destination after it are theirs.
    Args args = options;
    for (const auto& a : Args{kSrc, tmp / name, "-i", "20", "-m", "3", "-q"}) args.push_back(a);
    run_ok(args);
    const Raster out = read_raster(tmp / name);
    EXPECT_EQ(out.driver, driver);
    EXPECT_TRUE(std::equal(dem.begin(), dem.end(), out.v.begin(), out.v.end(), [](double a, double b) { return a == std::trunc(b); }));
    EXPECT_TRUE(driver == "PNG" || out.transform == src.transform);
    if (driver != "GTiff") continue;
    EXPECT_EQ(std::tuple(out.compression, out.block_cols < out.cols, out.type), std::tuple(compression, *compression == 'D', type));
    EXPECT_TRUE(same_projection(out.projection, src.projection)) << out.projection;
    EXPECT_TRUE(*type != 'U' || (out.has_nodata && out.nodata == 65500));
    EXPECT_NE(out.command_line.find("jacksboro_i20_c.tif " + tmp / name + " -i 20 -m 3 -q"), std::string::npos) << out.command_line;
  }
  run_ok({kSrc, tmp / "out_m2.raw", "-i", "20", "-m", "3", "-q"});
  EXPECT_TRUE(read_file(tmp / "out_m2.raw") == m2);
  EXPECT_TRUE(read_file(tmp / "site/j_m1.raw") == read_file(tmp / "out_m1.raw"));
  EXPECT_EQ(read_file(tmp / "out_m2.txt"), "344 \n403 \n0 \n0 \n0 \n90");
  run_ok({tmp / "site/j_c2.raw", tmp / "c_m2.raw", "-i", "20", "-m", "3", "-q", "--preview", tmp / "p.png"});
  const std::string m1 = read_file(tmp / "site/j_m1.raw");
  const std::vector<unsigned char> preview(m1.begin(), m1.end());
  const Raster png = read_raster(tmp / "p.png");
  EXPECT_TRUE(read_file(tmp / "c_m2.raw") == m2 && png.type == "Byte" && png.v == std::vector<double>(preview.begin(), preview.end()));
  // 32 bits, no overlay, a negative interval: 100 is -17066 internal units, back 99.
  write_file(tmp / "w_c4.raw", le32({100, 10000000, 100}));
  write_file(tmp / "w_c4.txt", "1 3 0 0 0 5");
  run_ok({tmp / "w_c4.raw", tmp / "w_m4.raw", "-i", "-3", "--no-overlay", "-q"});
  EXPECT_EQ(read_file(tmp / "w_m4.raw") + read_file(tmp / "w_m4.txt"), le32({99, 99, 99}) + "1 \n3 \n0 \n0 \n0 \n5");
  write_file(tmp / "a.tif", "old");  // replaced with --overwrite
  run_ok({kSrc, tmp / "a.tif", "-i", "20", "-q", "--overwrite"});
  EXPECT_EQ(read_raster(tmp / "a.tif").rows, 344);
}

// Contours on every pixel: each value goes into internal units and back.
// Whole units give trunc(single(w * equid / 512)), Float64 w * equid / 512
// exactly, Float32 (the default) that rounded once; a type that
// cannot hold the result is refused, never wrapped.
TEST(BatchOutputType, ValuesOfAllContourRasters) {
  const std::vector<double> ints = {1001, -1001, 1, 2, 3, 100000}, reals = {1000.5, 2000.25};
  const std::tuple<const char*, std::vector<double>, int, const char*, const char*, std::vector<double>> cases[] = {
      {"Int32", ints, 3, "int32", "Int32", {1000, -1000, 0, 1, 3, 100000}},
      {"Int32", ints, 3, "Float64", "Float64", {1000.998046875, -1000.998046875, 0.99609375, 1.998046875, 3, 99999.99609375}},
      {"Int32", ints, 3, "Float32", "Float32", {1000.998046875, -1000.998046875, 0.99609375, 1.998046875, 3, 100000}},
      {"Float64", reals, 10, "", "Float32", {1000.48828125, 2000.234375}},
      {"Float64", reals, 10, "Float64", "Float64", {1000.48828125, 2000.234375}},
      {"Float64", {5e6, 10}, 1, "", "5000000 at row 0, column 0", {}},  // 2.56e9 internal units: refused
  };
  for (const auto& [type, src, interval, ot, expected_type, expected] : cases) {
    SCOPED_TRACE(std::string(type) + " -ot " + ot);
    TempDir tmp;
    write_tif(tmp / "src.tif", type, 1, static_cast<int>(src.size()), src, 10000000);
    Args args = {tmp / "src.tif", tmp / "out.tif", "-i", std::to_string(interval), "-q"};
    if (*ot) args.insert(args.end(), {"-ot", ot});
    const ProcessResult r = tesk(args);
    EXPECT_EQ(r.status, expected.empty() ? 1 : 0) << r.err;
    if (expected.empty()) {
      EXPECT_NE(r.err.find(expected_type), std::string::npos) << r.err;
      EXPECT_FALSE(file_exists(tmp / "out.tif"));
      continue;
    }
    const Raster out = read_raster(tmp / "out.tif");
    EXPECT_EQ(std::tuple(out.type, out.v, out.nodata), std::tuple(expected_type, expected, 10000000.0));
  }
  // A classic 16-bit output cannot hold a negative result: the 32-bit one can.
  TempDir tmp;
  write_tif(tmp / "neg.tif", "Int16", 1, 2, {-5, 7}, -9999);
  const ProcessResult n = tesk({tmp / "neg.tif", tmp / "neg_m2.raw", "-i", "1", "-q"});
  EXPECT_TRUE(n.status == 1 && n.err.find("_m4.raw") != std::string::npos) << n.err;
  run_ok({tmp / "neg.tif", tmp / "neg_m4.raw", "-i", "1", "-q"});
  EXPECT_EQ(read_file(tmp / "neg_m4.raw"), le32({-5, 7}));
  // Float samples give the DEM of their integer twins, NaN as no-data too;
  // a Float32 band's no-data value matches as the band stores it, whether
  // the band or --nodata gives it.
  const Raster src = read_raster(kSrc);
  auto marked = [&](double nd) {
    std::vector<double> v = src.v;
    for (double& x : v) x = x == 65500 ? nd : x;
    return v;
  };
  write_tif(tmp / "f32.tif", "Float32", src.rows, src.cols, marked(-9999.9), -9999.9);
  write_tif(tmp / "f32n.tif", "Float32", src.rows, src.cols, marked(0.1), std::nullopt);
  write_tif(tmp / "f64.tif", "Float64", src.rows, src.cols, marked(NAN), NAN);
  run_ok({kSrc, tmp / "u16.tif", "-i", "20", "-m", "3", "-q"});
  for (const Args& extra : {Args{"f32"}, Args{"f32", "--nodata", "-9999.9"}, Args{"f32n", "--nodata", "0.1"}, Args{"f64"}}) {
    Args args = {tmp / (extra[0] + ".tif"), tmp / "f_out.tif", "-i", "20", "-m", "3", "-q", "--overwrite"};
    args.insert(args.end(), extra.begin() + 1, extra.end());
    const ProcessResult r = run_ok(args);
    EXPECT_TRUE(r.err.empty() && read_raster(tmp / "f_out.tif").v == read_raster(tmp / "u16.tif").v) << extra[0] << r.err;
  }
}

// Vector contours burnt in-process as gdal_rasterize burns them: the same
// DEM as a run on the raster gdal_rasterize makes with the same options.
TEST(BatchVectorSource, SameAsGdalRasterizeThenARasterRun) {
  TempDir tmp;
  gdal_tool({"gdal_contour", "-q", "-a", "ELEV", "-i", "20", demo("jacksboro_true.tif"), tmp / "contours.gpkg"});
  for (const Args& grid : {Args{"-tr", "90", "90"}, Args{"-ts", "200", "170", "-te", "731000", "4038000", "767000", "4068000"}}) {
    SCOPED_TRACE(grid[0]);
    Args vec = {tmp / "contours.gpkg", tmp / "v.tif", "-a", "ELEV", "-i", "20", "-m", "3", "-q", "--overwrite"};
    vec.insert(vec.end(), grid.begin(), grid.end());
    run_ok(vec);
    Args burn = {"gdal_rasterize", "-q", "-a", "ELEV", "-a_nodata", "10000000", "-init", "10000000", "-ot", "Float64"};
    burn.insert(burn.end(), grid.begin(), grid.end());
    burn.insert(burn.end(), {tmp / "contours.gpkg", tmp / "b.tif"});
    fs::remove(tmp / "b.tif");
    gdal_tool(burn);
    run_ok({tmp / "b.tif", tmp / "r.tif", "-i", "20", "-m", "3", "-q", "--overwrite"});
    const Raster a = read_raster(tmp / "v.tif"), b = read_raster(tmp / "r.tif");
    ASSERT_GT(a.rows, 10);
    EXPECT_EQ(std::tuple(a.rows, a.cols, a.transform, a.nodata, a.type), std::tuple(b.rows, b.cols, b.transform, 10000000.0, std::string("Float32")));
    EXPECT_TRUE(same_projection(a.projection, b.projection) && a.v == b.v);
    const auto [lo, hi] = std::minmax_element(a.v.begin(), a.v.end());
    EXPECT_TRUE(*lo >= 240 && *hi <= 1060 && *hi - *lo > 600) << *lo << " " << *hi;
  }
}

TEST(BatchPictures, HillshadeAgreesWithGdaldemAndProgressEndsDone) {
  TempDir tmp;
  const std::string done = "0...10...20...30...40...50...60...70...80...90...100 - done.\n";
  const ProcessResult r = run_ok({kSrc, tmp / "dem.tif", "-i", "20", "-m", "3", "--hillshade", tmp / "hs.png"});
  EXPECT_EQ(r.out + r.err, done);
  gdal_tool({"gdaldem", "hillshade", "-q", tmp / "dem.tif", tmp / "ref.tif"});
  const Raster hs = read_raster(tmp / "hs.png"), ref = read_raster(tmp / "ref.tif");
  EXPECT_EQ(hs.driver + " " + hs.type, "PNG Byte");
  ASSERT_EQ(hs.v.size(), ref.v.size());
  double worst = 0;
  std::vector<bool> seen(256);
  for (std::size_t k = 0; k < hs.v.size(); ++k) worst = std::max(worst, std::abs(hs.v[k] - ref.v[k])), seen[static_cast<std::size_t>(hs.v[k])] = true;
  EXPECT_LE(worst, 1);
  EXPECT_GT(std::count(seen.begin(), seen.end(), true), 100);  // a relief, not a flat picture
  EXPECT_FALSE(file_exists(tmp / "hs.png.aux.xml"));
}

// Runs that must stop: a message on standard error naming what is wrong,
// exit status 1, nothing on standard output, no destination left behind.
// '@' stands for the scratch directory.
TEST(BatchRefuses, WithAClearMessage) {
  TempDir tmp;
  write_file(tmp / "text.tif", "this is not a raster\n");
  write_tif(tmp / "bare.tif", "UInt16", 2, 2, {1, 2, 3, 4}, std::nullopt);
  write_tif(tmp / "empty.tif", "UInt16", 2, 2, {9, 9, 9, 9}, 9);
  write_file(tmp / "kept.tif", "kept");
  write_file(tmp / "bare_c2.raw", le16({1, 2}));
  write_file(tmp / "short_c2.raw", le16({1, 2, 3}));
  write_file(tmp / "short_c2.txt", "2 2 0 0 0 1");
  write_file(tmp / "l.geojson", R"({"type": "FeatureCollection", "features": [{"type": "Feature",
    "properties": {"ELEV": 100}, "geometry": {"type": "LineString", "coordinates": [[0, 0], [10, 10]]}}]})");
  gdal_tool({"/usr/bin/gdal_create", "-q", "-outsize", "1000000", "1000000", "-ot", "UInt16", "-a_nodata", "65500", "-co",
             "TILED=YES", "-co", "SPARSE_OK=TRUE", tmp / "huge.tif"});
  const std::string burn = "not enough memory or disk space: burning " + tmp / "l.geojson" + " onto a grid of 1000000 x 1000000 pixels";
  const std::pair<Args, Args> cases[] = {
      {{kSrc, "@/out.tif", "-i", "20", "--frobnicate"}, {"frobnicate", "--help"}},
      {{kSrc, "@/out.tif"}, {"--interval", "required"}},
      {{kSrc, "@/out.tif", "-i", "0"}, {"must not be 0"}},
      {{"@/nowhere.tif", "@/out.tif", "-i", "20"}, {"nowhere.tif", "does not exist"}},
      {{"@/bare_c2.raw", "@/out.tif", "-i", "20"}, {"bare_c2.txt", "not found"}},
      {{"@/short_c2.raw", "@/out.tif", "-i", "20"}, {"short_c2.raw", "fewer than"}},
      {{"@/text.tif", "@/out.tif", "-i", "20"}, {"text.tif", "not a raster or vector"}},
      {{"@/bare.tif", "@/out.tif", "-i", "20"}, {"bare.tif", "no no-data value", "--nodata"}},
      {{"@/empty.tif", "@/out.tif", "-i", "20"}, {"empty.tif", "no contour pixel"}},
      {{kSrc, "@/out.tif", "-i", "20", "-b", "2"}, {"band 2 does not exist", "1 band"}},
      {{kSrc, "@/out.tif", "-i", "20", "--nodata", "0.5"}, {"--nodata 0.5", "UInt16", "whole number"}},
      {{kSrc, "@/kept.tif", "-i", "20"}, {"kept.tif", "already exists", "--overwrite"}},
      {{kSrc, "@/no/out.tif", "-i", "20"}, {"directory", "does not exist"}},
      {{kSrc, "@/out.tif", "-i", "20", "-ot", "Int128"}, {"Int128", "not an output type"}},
      {{kSrc, "@/out.tif", "-i", "20", "-ot", "Byte"}, {"Byte cannot hold", "240 to 1060"}},
      {{"@/l.geojson", "@/out.tif", "-i", "20", "-tr", "90", "90"}, {"-a FIELD"}},
      {{"@/l.geojson", "@/out.tif", "-i", "20", "-a", "ELEV"}, {"-tr", "-ts"}},
      {{"@/huge.tif", "@/out.tif", "-i", "10"}, {"not enough disk space: a run of 1000000 x 1000000 pixels by tiles"}},
      {{kSrc, "@/out.png", "-i", "20", "--tile-size", "64"}, {"-of PNG", "only whole", "-of GTiff"}},
      {{kSrc, "@/out_m2.raw", "-i", "20", "--tile-size", "64"}, {"classic output set", "whole"}},
      {{"@/l.geojson", "@/out.tif", "-i", "10", "-a", "ELEV", "-ts", "1000000", "1000000"}, {burn}},
      {{"@/l.geojson", "@/out.tif", "-i", "10", "-a", "ELEV", "-tr", "0.00001", "0.00001"}, {"burning", "1000001 x 1000001"}},
      // The spline's options, and what it does not do.
      {{kSrc, "@/out.tif", "-i", "20", "--method", "kriging"}, {"--method", "kriging", "classic", "spline"}},
      {{kSrc, "@/out.tif", "-i", "20", "--method", "spline", "--smoothing", "0"}, {"--smoothing must lie between 1e-6 and 1e6"}},
      {{kSrc, "@/out.tif", "-i", "20", "--method", "spline", "--smoothing", "1e20"}, {"--smoothing must lie between 1e-6 and 1e6"}},
      {{kSrc, "@/out.tif", "-i", "20", "--method", "spline", "--tension", "1"}, {"--tension must lie between 0"}},
      {{kSrc, "@/out.tif", "-i", "20", "--method", "spline", "--tension", "-0.1"}, {"--tension must lie between 0"}},
      {{kSrc, "@/out.tif", "-i", "20", "--smoothing", "1"}, {"--smoothing applies to --method spline only"}},
      {{kSrc, "@/out.tif", "-i", "20", "--method", "spline", "-m", "3"}, {"-m applies to --method classic only"}},
      {{kSrc, "@/out_m2.raw", "-i", "20", "--method", "spline"}, {"--method spline writes no classic output set", "GeoTIFF"}},
      {{kSrc, "@/out.tif", "-i", "20", "--overlay", "--no-overlay"}, {"--overlay", "excludes", "--no-overlay"}},
  };
  for (const auto& [args, pieces] : cases) {
    Args argv;
    for (const auto& a : args) argv.push_back(a[0] == '@' ? tmp.path() + a.substr(1) : a);
    const ProcessResult r = tesk(argv);
    SCOPED_TRACE(argv.back());
    EXPECT_EQ(std::tuple(r.status, r.out), std::tuple(1, std::string()));
    for (const auto& piece : pieces) EXPECT_NE(r.err.find(piece), std::string::npos) << r.err;
    EXPECT_FALSE(file_exists(tmp / "out.tif"));
    EXPECT_EQ(read_file(tmp / "kept.tif"), "kept");
  }
}

}  // namespace
}  // namespace tesk::e2e
