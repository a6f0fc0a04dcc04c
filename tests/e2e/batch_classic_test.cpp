// The batch command line against the classic dialogue: on a classic data
// set the two front ends must write the same files, byte for byte, and the
// PNG preview must hold the bytes of the classic 8-bit raster.
#include <filesystem>
#include <string>

#include "e2e/e2e_support.h"

namespace tesk::e2e {
namespace {

namespace fs = std::filesystem;

struct Case {
  const char* name;
  const char* data;   // data set in images/demo
  bool wide;          // run it as a 32-bit data set (_c4.raw)
  int interval, window;
  bool overlay;
};

// A 16-bit data set rewritten with 32-bit samples, its marker 65500 becoming
// 10000000.
void widen(const std::string& from, const std::string& to) {
  const std::string in = testing::read_file(from);
  std::string out;
  for (std::size_t k = 0; k + 1 < in.size(); k += 2) {
    const int v = static_cast<unsigned char>(in[k]) | (static_cast<unsigned char>(in[k + 1]) << 8);
    out += testing::le32({v == 65500 ? 10000000 : v});
  }
  testing::write_file(to, out);
}

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class BatchEqualsDialogue : public ::testing::TestWithParam<Case> {};

TEST_P(BatchEqualsDialogue, SameFilesByteForByte) {
  const Case& c = GetParam();
  TempDir tmp;
  const std::string dir = tmp / "site";
  fs::create_directories(dir);
  const std::string c_suffix = c.wide ? "_c4" : "_c2", m_suffix = c.wide ? "_m4" : "_m2";
  const std::string base = dir + "/" + c.data;
  if (c.wide)
    widen(demo(std::string(c.data) + "_c2.raw"), base + "_c4.raw");
  else
    fs::copy_file(demo(std::string(c.data) + "_c2.raw"), base + "_c2.raw");
  fs::copy_file(demo(std::string(c.data) + "_c2.txt"), base + c_suffix + ".txt");

  const std::string answers = std::string("site\n") + c.data + (c.wide ? "\n1\n" : "\n0\n") + "0\n" +
                              std::to_string(c.interval) + "\n" + std::to_string(c.window) + "\n" +
                              (c.overlay ? "0\n" : "1\n");
  const ProcessResult dialogue = testing::run_process({TESK_EXE}, answers, {"TESK_IMAGES=" + tmp.path()});
  ASSERT_EQ(dialogue.status, 0) << dialogue.out;

  std::vector<std::string> args = {base + c_suffix + ".raw", dir + "/batch" + m_suffix + ".raw",
                                   "-i", std::to_string(c.interval), "-m", std::to_string(c.window),
                                   "--preview", tmp / "preview.png", "-q"};
  if (!c.overlay) args.push_back("--no-overlay");
  const ProcessResult batch = tesk(args);
  ASSERT_EQ(batch.status, 0) << batch.err;
  EXPECT_EQ(batch.out, "");
  EXPECT_EQ(batch.err, "");

  for (const std::string& suffix : std::vector<std::string>{"_m1.raw", "_m1.txt", m_suffix + ".raw", m_suffix + ".txt"}) {
    const std::string classic = testing::read_file(base + suffix);
    EXPECT_FALSE(classic.empty()) << suffix;
    EXPECT_TRUE(classic == testing::read_file(dir + "/batch" + suffix)) << suffix << " differs";
  }

  // The preview PNG: one grey band holding the classic 8-bit raster.
  const Raster png = read_raster(tmp / "preview.png");
  EXPECT_EQ(png.driver, "PNG");
  EXPECT_EQ(png.type, "Byte");
  EXPECT_EQ(png.bands, 1);
  const std::string m1 = testing::read_file(base + "_m1.raw");
  ASSERT_EQ(png.v.size(), m1.size());
  std::size_t differ = 0;
  for (std::size_t k = 0; k < m1.size(); ++k) differ += png.v[k] != static_cast<unsigned char>(m1[k]);
  EXPECT_EQ(differ, 0u);
}

INSTANTIATE_TEST_SUITE_P(
    DataSets, BatchEqualsDialogue,
    ::testing::Values(Case{"JacksboroWindow3Overlay", "jacksboro_i20", false, 20, 3, true},
                      Case{"VolcanoWindow5NoOverlay", "volcano_i5", false, 5, 5, false},
                      Case{"VolcanoUnsmoothedOverlay", "volcano_i5", false, 5, 1, true},
                      Case{"Volcano32BitNegativeInterval", "volcano_i5", true, -3, 3, true},
                      Case{"Jacksboro32BitInterval7", "jacksboro_i20", true, 7, 5, false}),
    [](const auto& info) { return std::string(info.param.name); });

// The GeoTIFF that carries the same contours as the classic jacksboro set
// gives the same DEM, whatever the destination format.
TEST(BatchGeoTiffSource, SameResultAsTheDialogueOnTheClassicSet) {
  TempDir tmp;
  fs::create_directories(tmp / "site");
  fs::copy_file(demo("jacksboro_i20_c2.raw"), tmp / "site/j_c2.raw");
  fs::copy_file(demo("jacksboro_i20_c2.txt"), tmp / "site/j_c2.txt");
  const ProcessResult dialogue =
      testing::run_process({TESK_EXE}, "site\nj\n0\n0\n20\n3\n0\n", {"TESK_IMAGES=" + tmp.path()});
  ASSERT_EQ(dialogue.status, 0) << dialogue.out;

  ASSERT_EQ(tesk({demo("jacksboro_i20_c.tif"), tmp / "out_m2.raw", "-i", "20", "-m", "3", "-q"}).status, 0);
  ASSERT_EQ(tesk({demo("jacksboro_i20_c.tif"), tmp / "out.tif", "-i", "20", "-m", "3", "-q"}).status, 0);
  const std::string m2 = testing::read_file(tmp / "site/j_m2.raw");
  EXPECT_TRUE(m2 == testing::read_file(tmp / "out_m2.raw"));
  EXPECT_TRUE(testing::read_file(tmp / "site/j_m1.raw") == testing::read_file(tmp / "out_m1.raw"));
  const std::vector<double> dem = read_raster(tmp / "out.tif").v;
  ASSERT_EQ(dem.size() * 2, m2.size());
  for (std::size_t k = 0; k < dem.size(); ++k)
    ASSERT_EQ(dem[k], static_cast<unsigned char>(m2[2 * k]) | static_cast<unsigned char>(m2[2 * k + 1]) << 8) << k;
  // No classic header beside a GeoTIFF: its size and its 90 m pixels.
  EXPECT_EQ(testing::read_file(tmp / "out_m2.txt"), "344 \n403 \n0 \n0 \n0 \n90");
}

}  // namespace
}  // namespace tesk::e2e
