// The batch command line: the same files as the classic dialogue on the
// classic data sets, what a GeoTIFF keeps, output types and formats,
// real-valued and vector sources against GDAL's own tools, the shaded
// relief, the progress line, and the runs it must refuse.
#include <cmath>
#include <cstring>

#include "e2e/e2e_support.h"
#include "io/gdal_progress.h"

namespace tesk::e2e {
namespace {

const std::string kSrc = demo("jacksboro_i20_c.tif");

// A classic data set run through the dialogue and through the command line
// (also rewritten with 32-bit samples, 65500 becoming 10000000): the same
// four files byte for byte, and the PNG preview holding the 8-bit raster.
TEST(BatchEqualsDialogue, SameFilesByteForByte) {
  struct Case {
    const char* data;
    bool wide;
    int interval, window;
    bool overlay;
  } const cases[] = {{"jacksboro_i20", false, 20, 3, true}, {"volcano_i5", false, 5, 5, false},
                     {"volcano_i5", false, 5, 1, true},     {"volcano_i5", true, -3, 3, true},
                     {"jacksboro_i20", true, 7, 5, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.data) + " " + std::to_string(c.interval) + " " + std::to_string(c.window));
    TempDir tmp;
    fs::create_directories(tmp / "site");
    const std::string cs = c.wide ? "_c4" : "_c2", ms = c.wide ? "_m4" : "_m2", base = tmp / ("site/" + std::string(c.data));
    const std::string in = read_file(demo(std::string(c.data) + "_c2.raw"));
    std::string out;
    for (std::size_t k = 0; c.wide && k + 1 < in.size(); k += 2) {
      const int v = static_cast<unsigned char>(in[k]) | (static_cast<unsigned char>(in[k + 1]) << 8);
      out += le32({v == 65500 ? 10000000 : v});
    }
    write_file(base + cs + ".raw", c.wide ? out : in);
    fs::copy_file(demo(std::string(c.data) + "_c2.txt"), base + cs + ".txt");
    const ProcessResult dialogue = run_process({TESK_EXE}, "site\n" + std::string(c.data) + (c.wide ? "\n1\n" : "\n0\n") +
        "0\n" + std::to_string(c.interval) + "\n" + std::to_string(c.window) + "\n" + (c.overlay ? "0\n" : "1\n"),
        {"TESK_IMAGES=" + tmp.path()});
    ASSERT_EQ(dialogue.status, 0) << dialogue.out;
    std::vector<std::string> args = {base + cs + ".raw", tmp / ("site/batch" + ms + ".raw"), "-i", std::to_string(c.interval),
                                     "-m", std::to_string(c.window), "--preview", tmp / "preview.png", "-q"};
    if (!c.overlay) args.push_back("--no-overlay");
    const ProcessResult batch = tesk(args);
    ASSERT_EQ(batch.status, 0) << batch.err;
    EXPECT_EQ(batch.out + batch.err, "");
    for (const std::string suffix : {std::string("_m1.raw"), std::string("_m1.txt"), ms + ".raw", ms + ".txt"}) {
      const std::string classic = read_file(base + suffix);
      EXPECT_FALSE(classic.empty()) << suffix;
      EXPECT_TRUE(classic == read_file(tmp / ("site/batch" + suffix))) << suffix << " differs";
    }
    const Raster png = read_raster(tmp / "preview.png");
    EXPECT_EQ(png.driver + " " + png.type + " " + std::to_string(png.bands), "PNG Byte 1");
    const std::string m1 = read_file(base + "_m1.raw");
    EXPECT_TRUE(png.v == std::vector<double>(reinterpret_cast<const unsigned char*>(m1.data()),
                                             reinterpret_cast<const unsigned char*>(m1.data()) + m1.size()));
  }
}

// The GeoTIFF of the classic jacksboro contours gives the dialogue's DEM in
// any format, keeps the grid, georeferencing and no-data, writes a tiled,
// compressed GeoTIFF of the source's type unless -co says otherwise, and
// the classic header of a raw output from the GeoTIFF's size and 90 m pixels.
TEST(BatchGeoTiff, SameDemAsTheDialogueInEveryFormat) {
  TempDir tmp;
  fs::create_directories(tmp / "site");
  fs::copy_file(demo("jacksboro_i20_c2.raw"), tmp / "site/j_c2.raw");
  fs::copy_file(demo("jacksboro_i20_c2.txt"), tmp / "site/j_c2.txt");
  ASSERT_EQ(run_process({TESK_EXE}, "site\nj\n0\n0\n20\n3\n0\n", {"TESK_IMAGES=" + tmp.path()}).status, 0);
  const std::string m2 = read_file(tmp / "site/j_m2.raw");
  std::vector<double> dem(m2.size() / 2);
  for (std::size_t k = 0; k < dem.size(); ++k)
    dem[k] = static_cast<unsigned char>(m2[2 * k]) | static_cast<unsigned char>(m2[2 * k + 1]) << 8;
  const Raster src = read_raster(kSrc);
  struct Case {
    const char* name;
    std::vector<std::string> options;
    const char *driver, *compression, *type;
  } const cases[] = {{"a.tif", {}, "GTiff", "DEFLATE", "UInt16"}, {"b.tif", {"-co", "COMPRESS=LZW", "-co", "TILED=NO"}, "GTiff", "LZW", "UInt16"},
                     {"c.img", {}, "HFA", "", ""}, {"d.bin", {"-of", "ENVI"}, "ENVI", "", ""}, {"e.png", {}, "PNG", "", ""},
                     {"f.tif", {"-ot", "Int16"}, "GTiff", "DEFLATE", "Int16"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> args = {kSrc, tmp / c.name, "-i", "20", "-m", "3", "-q"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    ASSERT_EQ(tesk(args).status, 0);
    const Raster out = read_raster(tmp / c.name);
    EXPECT_EQ(out.driver, c.driver);
    EXPECT_TRUE(out.v == dem);
    if (std::string(c.driver) != "PNG") EXPECT_EQ(out.transform, src.transform);
    if (std::string(c.driver) != "GTiff") continue;
    EXPECT_EQ(out.compression, c.compression);
    EXPECT_EQ(out.block_cols < out.cols, c.compression[0] == 'D');  // tiled unless told otherwise
    EXPECT_TRUE(same_projection(out.projection, src.projection)) << out.projection;
    if (c.type[0] == 'U') EXPECT_TRUE(out.has_nodata && out.nodata == 65500);
    EXPECT_EQ(out.type, c.type);
    EXPECT_NE(out.command_line.find("jacksboro_i20_c.tif"), std::string::npos) << out.command_line;
    EXPECT_NE(out.command_line.find(c.name + std::string(" -i 20 -m 3 -q")), std::string::npos) << out.command_line;
  }
  ASSERT_EQ(tesk({kSrc, tmp / "out_m2.raw", "-i", "20", "-m", "3", "-q"}).status, 0);
  EXPECT_TRUE(read_file(tmp / "out_m2.raw") == m2);
  EXPECT_TRUE(read_file(tmp / "site/j_m1.raw") == read_file(tmp / "out_m1.raw"));
  EXPECT_EQ(read_file(tmp / "out_m2.txt"), "344 \n403 \n0 \n0 \n0 \n90");
  write_file(tmp / "a.tif", "old");  // replaced with --overwrite
  EXPECT_EQ(tesk({kSrc, tmp / "a.tif", "-i", "20", "-q", "--overwrite"}).status, 0);
  EXPECT_EQ(read_raster(tmp / "a.tif").rows, 344);
}

// Contours on every pixel: each value goes into internal units and back.
// Whole units give trunc(single(w * equid / 512)), Float64 w * equid / 512
// exactly, Float32 that rounded once; a real source gives Int32; a type
// that cannot hold the result is refused, never wrapped.
TEST(BatchOutputType, ValuesOfAllContourRasters) {
  struct Case {
    const char* type;
    std::vector<double> src;
    int interval;
    const char* ot;
    const char* expected_type;
    std::vector<double> expected;  // empty: refused with `message`
    const char* message;
  } const cases[] = {
      {"Int32", {1001, -1001, 1, 2, 3, 100000}, 3, "", "Int32", {1000, -1000, 0, 1, 3, 100000}, ""},
      {"Int32", {1001, -1001, 1, 2, 3, 100000}, 3, "Float64", "Float64",
       {1000.998046875, -1000.998046875, 0.99609375, 1.998046875, 3, 99999.99609375}, ""},
      {"Int32", {1001, -1001, 1, 2, 3, 100000}, 3, "Float32", "Float32",  // a tie, to the even 100000
       {1000.998046875, -1000.998046875, 0.99609375, 1.998046875, 3, 100000}, ""},
      {"Float64", {1000.5, 2000.25}, 10, "", "Int32", {1000, 2000}, ""},
      {"Float64", {1000.5, 2000.25}, 10, "Float64", "Float64", {1000.48828125, 2000.234375}, ""},
      {"Float64", {5e6, 10}, 1, "", "", {}, "5000000 at row 0, column 0"},  // 2.56e9 internal units
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.type) + " -ot " + c.ot);
    TempDir tmp;
    write_tif(tmp / "src.tif", c.type, 1, static_cast<int>(c.src.size()), c.src, 10000000);
    std::vector<std::string> args = {tmp / "src.tif", tmp / "out.tif", "-i", std::to_string(c.interval), "-q"};
    if (*c.ot) args.insert(args.end(), {"-ot", c.ot});
    const ProcessResult r = tesk(args);
    EXPECT_EQ(r.status, c.expected.empty() ? 1 : 0) << r.err;
    if (c.expected.empty()) {
      EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
      EXPECT_FALSE(file_exists(tmp / "out.tif"));
      continue;
    }
    const Raster out = read_raster(tmp / "out.tif");
    EXPECT_EQ(out.type, c.expected_type);
    EXPECT_EQ(out.v, c.expected);
    EXPECT_EQ(out.nodata, 10000000);
  }
  // A classic 16-bit output cannot hold a negative result: the 32-bit one can.
  TempDir tmp;
  write_tif(tmp / "neg.tif", "Int16", 1, 2, {-5, 7}, -9999);
  const ProcessResult n = tesk({tmp / "neg.tif", tmp / "neg_m2.raw", "-i", "1", "-q"});
  EXPECT_EQ(n.status, 1);
  EXPECT_NE(n.err.find("_m4.raw"), std::string::npos) << n.err;
  EXPECT_EQ(tesk({tmp / "neg.tif", tmp / "neg_m4.raw", "-i", "1", "-q"}).status, 0);
  EXPECT_EQ(read_file(tmp / "neg_m4.raw"), le32({-5, 7}));
  // Float samples give the DEM of their integer twins, NaN as no-data too.
  const Raster src = read_raster(kSrc);
  std::vector<double> with_nan = src.v;
  for (double& v : with_nan) v = v == 65500 ? NAN : v;
  write_tif(tmp / "f32.tif", "Float32", src.rows, src.cols, src.v, 65500);
  write_tif(tmp / "f64.tif", "Float64", src.rows, src.cols, with_nan, NAN);
  ASSERT_EQ(tesk({kSrc, tmp / "u16.tif", "-i", "20", "-m", "3", "-q"}).status, 0);
  for (const std::string name : {"f32", "f64"}) {
    ASSERT_EQ(tesk({tmp / (name + ".tif"), tmp / (name + "_out.tif"), "-i", "20", "-m", "3", "-q"}).status, 0);
    EXPECT_TRUE(read_raster(tmp / (name + "_out.tif")).v == read_raster(tmp / "u16.tif").v) << name;
  }
}

// Vector contours burnt in-process as gdal_rasterize burns them: the same
// DEM as a run on the raster gdal_rasterize makes with the same options.
TEST(BatchVectorSource, SameAsGdalRasterizeThenARasterRun) {
  TempDir tmp;
  gdal_tool({"gdal_contour", "-q", "-a", "ELEV", "-i", "20", demo("jacksboro_true.tif"), tmp / "contours.gpkg"});
  for (const std::vector<std::string> grid : {std::vector<std::string>{"-tr", "90", "90"},
                                              {"-ts", "200", "170", "-te", "731000", "4038000", "767000", "4068000"}}) {
    SCOPED_TRACE(grid[0]);
    std::vector<std::string> vec = {tmp / "contours.gpkg", tmp / "v.tif", "-a", "ELEV", "-i", "20", "-m", "3", "-q", "--overwrite"};
    vec.insert(vec.end(), grid.begin(), grid.end());
    ASSERT_EQ(tesk(vec).status, 0);
    std::vector<std::string> burn = {"gdal_rasterize", "-q", "-a", "ELEV"};
    burn.insert(burn.end(), grid.begin(), grid.end());
    burn.insert(burn.end(), {"-a_nodata", "10000000", "-init", "10000000", "-ot", "Float64", tmp / "contours.gpkg", tmp / ("b" + grid[0] + ".tif")});
    gdal_tool(burn);
    ASSERT_EQ(tesk({tmp / ("b" + grid[0] + ".tif"), tmp / "r.tif", "-i", "20", "-m", "3", "-q", "--overwrite"}).status, 0);
    const Raster a = read_raster(tmp / "v.tif"), b = read_raster(tmp / "r.tif");
    ASSERT_GT(a.rows, 10);
    EXPECT_EQ(std::tuple(a.rows, a.cols, a.transform, a.nodata, a.type), std::tuple(b.rows, b.cols, b.transform, 10000000.0, std::string("Int32")));
    EXPECT_TRUE(same_projection(a.projection, b.projection));
    EXPECT_TRUE(a.v == b.v);
    const auto [lo, hi] = std::minmax_element(a.v.begin(), a.v.end());
    EXPECT_TRUE(*lo >= 240 && *hi <= 1060 && *hi - *lo > 600) << *lo << " " << *hi;
  }
}

TEST(BatchPictures, HillshadeAgreesWithGdaldemAndProgressFollowsGdal) {
  TempDir tmp;
  const ProcessResult r = tesk({kSrc, tmp / "dem.tif", "-i", "20", "-m", "3", "--hillshade", tmp / "hs.png"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "0...10...20...30...40...50...60...70...80...90...100 - done.\n");
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
  // The line grows a mark each 2.5 %, a number each 10 %, never backwards.
  const std::pair<double, const char*> steps[] = {
      {0.0, "0"}, {0.01, "0"}, {0.025, "0."}, {0.26, "0...10...20.."}, {0.1, "0...10...20.."},
      {0.5, "0...10...20...30...40...50"}, {0.999, "0...10...20...30...40...50...60...70...80...90..."},
      {1.0, "0...10...20...30...40...50...60...70...80...90...100 - done.\n"},
      {1.0, "0...10...20...30...40...50...60...70...80...90...100 - done.\n"}};
  std::FILE* f = std::fopen((tmp / "line").c_str(), "w+");
  gdal::TermProgress p(f);
  for (const auto& [fraction, line] : steps) {
    p.report(fraction);
    EXPECT_EQ(read_file(tmp / "line"), line) << fraction;
    EXPECT_EQ(p.open(), line[std::strlen(line) - 1] != '\n');
  }
  std::fclose(f);
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
  gdal_tool({"/usr/bin/gdal_create", "-q", "-outsize", "200000", "200000", "-ot", "UInt16", "-a_nodata", "65500", "-co",
             "TILED=YES", "-co", "SPARSE_OK=TRUE", tmp / "huge.tif"});
  const std::pair<std::vector<std::string>, std::vector<std::string>> cases[] = {
      {{kSrc, "@/out.tif", "-i", "20", "--frobnicate"}, {"frobnicate", "--help"}},
      {{kSrc, "@/out.tif"}, {"--interval", "required"}},
      {{kSrc, "@/out.tif", "-i", "ten"}, {"ten"}},
      {{kSrc, "@/out.tif", "-i", "0"}, {"must not be 0"}},
      {{kSrc, "@/out.tif", "-i", "20", "-m", "34"}, {"between 1 and 33"}},
      {{kSrc, "-i", "20"}, {"dst", "required"}},
      {{"@/nowhere.tif", "@/out.tif", "-i", "20"}, {"nowhere.tif", "does not exist"}},
      {{"@/gone_c2.raw", "@/out.tif", "-i", "20"}, {"gone_c2.raw", "does not exist"}},
      {{"@/bare_c2.raw", "@/out.tif", "-i", "20"}, {"bare_c2.txt", "not found"}},
      {{"@/short_c2.raw", "@/out.tif", "-i", "20"}, {"short_c2.raw", "fewer than"}},
      {{"@/text.tif", "@/out.tif", "-i", "20"}, {"text.tif", "not a raster or vector"}},
      {{"@/bare.tif", "@/out.tif", "-i", "20"}, {"bare.tif", "no no-data value", "--nodata"}},
      {{"@/empty.tif", "@/out.tif", "-i", "20"}, {"empty.tif", "no contour pixel"}},
      {{kSrc, "@/out.tif", "-i", "20", "-b", "2"}, {"band 2 does not exist", "1 band"}},
      {{kSrc, "@/kept.tif", "-i", "20"}, {"kept.tif", "already exists", "--overwrite"}},
      {{kSrc, "@/out.tif", "-i", "20", "--preview", "@/kept.tif"}, {"already exists"}},
      {{kSrc, "@/no/out.tif", "-i", "20"}, {"directory", "does not exist"}},
      {{kSrc, "@/out.tif", "-i", "20", "-ot", "Int128"}, {"Int128", "not an output type"}},
      {{kSrc, "@/out.tif", "-i", "20", "-of", "NoSuchFormat"}, {"NoSuchFormat"}},
      {{kSrc, "@/out.tif", "-i", "20", "-ot", "Byte"}, {"Byte cannot hold", "240 to 1060"}},
      {{"@/l.geojson", "@/out.tif", "-i", "20", "-tr", "90", "90"}, {"-a FIELD"}},
      {{"@/l.geojson", "@/out.tif", "-i", "20", "-a", "ELEV"}, {"-tr", "-ts"}},
      {{"@/huge.tif", "@/out.tif", "-i", "10"}, {"not enough memory: a grid of 200000 x 200000 pixels needs 381469"}},
      {{"@/l.geojson", "@/out.tif", "-i", "10", "-a", "ELEV", "-ts", "200000", "200000"},
       {"not enough memory: burning " + tmp / "l.geojson" + " onto a grid of 200000 x 200000 pixels"}},
      {{"@/l.geojson", "@/out.tif", "-i", "10", "-a", "ELEV", "-tr", "0.00005", "0.00005"},
       {"not enough memory: burning " + tmp / "l.geojson" + " onto a grid of 200000 x 200000 pixels"}},
  };
  for (const auto& [args, pieces] : cases) {
    std::vector<std::string> argv;
    for (const auto& a : args) argv.push_back(a[0] == '@' ? tmp.path() + a.substr(1) : a);
    const ProcessResult r = tesk(argv);
    SCOPED_TRACE(argv.back());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    for (const auto& piece : pieces) EXPECT_NE(r.err.find(piece), std::string::npos) << r.err;
    EXPECT_FALSE(file_exists(tmp / "out.tif"));
    EXPECT_EQ(read_file(tmp / "kept.tif"), "kept");
  }
  // Every option is in the help and, with troff's escaped dashes, among the
  // manual page's OPTIONS.
  const ProcessResult help = tesk({"--help"});
  ASSERT_EQ(help.status, 0);
  const std::string page = read_file(std::string(TESK_SOURCE_DIR) + "/docs/tesk.1");
  const std::size_t from = page.find(".SH OPTIONS");
  const std::string man = page.substr(from, page.find(".SH", from + 1) - from);
  for (const std::string opt : {"-i,--interval", "-m,--window", "--no-overlay", "-of", "-co", "-ot", "--nodata", "-b,--band",
                                "-a", "-tr", "-ts", "-te", "--preview", "--hillshade", "-q,--quiet", "--overwrite",
                                "--threads", "--version"}) {
    EXPECT_NE(help.out.find("  " + opt + " "), std::string::npos) << opt;
    std::string escaped;
    for (char ch : opt.substr(0, opt.find(','))) escaped += ch == '-' ? std::string("\\-") : std::string(1, ch);
    EXPECT_TRUE(man.find(escaped + " ") != std::string::npos || man.find(escaped + "\n") != std::string::npos ||
                man.find(escaped + "\"") != std::string::npos) << opt << " missing from docs/tesk.1";
  }
  EXPECT_EQ(tesk({"--version"}).out.rfind("tesk ", 0), 0u);
}

}  // namespace
}  // namespace tesk::e2e
