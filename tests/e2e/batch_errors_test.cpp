// Runs of the batch command line that must stop: a clear message on
// standard error naming what is wrong, exit status 1, nothing on standard
// output and no destination left behind.
#include <filesystem>
#include <string>

#include "e2e/e2e_support.h"

namespace tesk::e2e {
namespace {

struct ErrorCase {
  const char* name;
  // "@" at the start of an argument stands for the scratch directory.
  std::vector<std::string> args;
  std::vector<std::string> message;  // pieces the message must hold
};

void PrintTo(const ErrorCase& c, std::ostream* os) { *os << c.name; }

class BatchRefuses : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(BatchRefuses, WithAClearMessage) {
  TempDir tmp;
  testing::write_file(tmp / "text.tif", "this is not a raster\n");
  write_tif(tmp / "bare.tif", "UInt16", 2, 2, {1, 2, 3, 4}, std::nullopt);
  write_tif(tmp / "empty.tif", "UInt16", 2, 2, {9, 9, 9, 9}, 9);
  testing::write_file(tmp / "kept.tif", "kept");
  testing::write_file(tmp / "bare_c2.raw", testing::le16({1, 2}));
  testing::write_file(tmp / "short_c2.raw", testing::le16({1, 2, 3}));
  testing::write_file(tmp / "short_c2.txt", "2 2 0 0 0 1");
  gdal_tool({"gdal_contour", "-q", "-a", "ELEV", "-i", "100", demo("jacksboro_true.tif"), tmp / "lines.gpkg"});

  std::vector<std::string> args;
  for (const auto& a : GetParam().args) args.push_back(a[0] == '@' ? tmp.path() + a.substr(1) : a);
  const ProcessResult r = tesk(args);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  for (const auto& piece : GetParam().message) EXPECT_NE(r.err.find(piece), std::string::npos) << r.err;
  EXPECT_FALSE(testing::file_exists(tmp / "out.tif"));
  EXPECT_EQ(testing::read_file(tmp / "kept.tif"), "kept");
}

const std::string kSrc = demo("jacksboro_i20_c.tif");

INSTANTIATE_TEST_SUITE_P(
    Cases, BatchRefuses,
    ::testing::Values(
        ErrorCase{"UnknownOption", {kSrc, "@/out.tif", "-i", "20", "--frobnicate"}, {"frobnicate", "--help"}},
        ErrorCase{"MissingInterval", {kSrc, "@/out.tif"}, {"--interval", "required"}},
        ErrorCase{"IntervalNotANumber", {kSrc, "@/out.tif", "-i", "ten"}, {"ten"}},
        ErrorCase{"ZeroInterval", {kSrc, "@/out.tif", "-i", "0"}, {"must not be 0"}},
        ErrorCase{"WindowTooLarge", {kSrc, "@/out.tif", "-i", "20", "-m", "34"}, {"between 1 and 33"}},
        ErrorCase{"MissingDestination", {kSrc, "-i", "20"}, {"dst", "required"}},
        ErrorCase{"MissingSource", {"@/nowhere.tif", "@/out.tif", "-i", "20"}, {"nowhere.tif", "does not exist"}},
        ErrorCase{"MissingClassicRaster", {"@/gone_c2.raw", "@/out.tif", "-i", "20"}, {"gone_c2.raw", "does not exist"}},
        ErrorCase{"MissingClassicHeader", {"@/bare_c2.raw", "@/out.tif", "-i", "20"}, {"bare_c2.txt", "not found"}},
        ErrorCase{"ShortClassicRaster", {"@/short_c2.raw", "@/out.tif", "-i", "20"}, {"short_c2.raw", "fewer than"}},
        ErrorCase{"UnreadableFormat", {"@/text.tif", "@/out.tif", "-i", "20"}, {"text.tif", "not a raster or vector"}},
        ErrorCase{"NoNoData", {"@/bare.tif", "@/out.tif", "-i", "20"}, {"bare.tif", "no no-data value", "--nodata"}},
        ErrorCase{"NoContourPixel", {"@/empty.tif", "@/out.tif", "-i", "20"}, {"empty.tif", "no contour pixel"}},
        ErrorCase{"BandOutOfRange", {kSrc, "@/out.tif", "-i", "20", "-b", "2"}, {"band 2 does not exist", "1 band"}},
        ErrorCase{"ExistingDestination", {kSrc, "@/kept.tif", "-i", "20"}, {"kept.tif", "already exists", "--overwrite"}},
        ErrorCase{"ExistingPreview", {kSrc, "@/out.tif", "-i", "20", "--preview", "@/kept.tif"}, {"already exists"}},
        ErrorCase{"MissingDirectory", {kSrc, "@/no/out.tif", "-i", "20"}, {"directory", "does not exist"}},
        ErrorCase{"UnknownType", {kSrc, "@/out.tif", "-i", "20", "-ot", "Int128"}, {"Int128", "not an output type"}},
        ErrorCase{"UnknownFormat", {kSrc, "@/out.tif", "-i", "20", "-of", "NoSuchFormat"}, {"NoSuchFormat"}},
        ErrorCase{"VectorWithoutField", {"@/lines.gpkg", "@/out.tif", "-i", "20", "-tr", "90", "90"}, {"-a FIELD"}},
        ErrorCase{"VectorWithoutGrid", {"@/lines.gpkg", "@/out.tif", "-i", "20", "-a", "ELEV"}, {"-tr", "-ts"}}),
    [](const auto& info) { return std::string(info.param.name); });

// Refused without --overwrite (BatchRefuses.ExistingDestination), replaced with it.
TEST(BatchOverwrite, ReplacesTheDestinationWhenAsked) {
  TempDir tmp;
  write_file(tmp / "dem.tif", "old");
  const ProcessResult r = tesk({kSrc, tmp / "dem.tif", "-i", "20", "-q", "--overwrite"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(read_raster(tmp / "dem.tif").rows, 344);
}

TEST(BatchHelp, EveryOptionIsInTheHelpAndTheManualPage) {
  const ProcessResult help = tesk({"--help"});
  ASSERT_EQ(help.status, 0);
  const std::string page = testing::read_file(std::string(TESK_SOURCE_DIR) + "/docs/tesk.1");
  const std::size_t from = page.find(".SH OPTIONS");
  ASSERT_NE(from, std::string::npos);
  const std::string man = page.substr(from, page.find(".SH", from + 1) - from);
  for (const char* opt : {"-i,--interval", "-m,--window", "--no-overlay", "-of", "-co", "-ot", "--nodata", "-b,--band",
                          "-a", "-tr", "-ts", "-te", "--preview", "--hillshade", "-q,--quiet", "--overwrite",
                          "--threads", "--version"}) {
    EXPECT_NE(help.out.find(std::string("  ") + opt + " "), std::string::npos) << opt;
    // The manual page spells each name with troff's escaped dashes, in a
    // paragraph tag of its own.
    const std::string name = std::string(opt).substr(0, std::string(opt).find(','));
    std::string escaped;
    for (char ch : name) escaped += ch == '-' ? std::string("\\-") : std::string(1, ch);
    bool found = false;
    for (const char* after : {" ", "\n", "\""}) found = found || man.find(escaped + after) != std::string::npos;
    EXPECT_TRUE(found) << opt << " missing from the OPTIONS of docs/tesk.1";
  }
  const ProcessResult version = tesk({"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out.rfind("tesk ", 0), 0u) << version.out;
}

}  // namespace
}  // namespace tesk::e2e
