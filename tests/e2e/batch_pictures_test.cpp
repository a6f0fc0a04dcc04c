// What the batch command line shows: the shaded relief (GDAL's hillshade,
// as gdaldem computes it) and the progress line on standard error.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "e2e/e2e_support.h"
#include "io/gdal_progress.h"

namespace tesk::e2e {
namespace {

TEST(BatchHillshade, AgreesWithGdaldemWithinOneGreyLevel) {
  TempDir tmp;
  const ProcessResult r =
      tesk({demo("jacksboro_i20_c.tif"), tmp / "dem.tif", "-i", "20", "-m", "3", "-q", "--hillshade", tmp / "hs.png"});
  ASSERT_EQ(r.status, 0) << r.err;
  gdal_tool({"gdaldem", "hillshade", "-q", tmp / "dem.tif", tmp / "ref.tif"});
  const Raster hs = read_raster(tmp / "hs.png");
  const Raster ref = read_raster(tmp / "ref.tif");
  EXPECT_EQ(hs.driver, "PNG");
  EXPECT_EQ(hs.type, "Byte");
  ASSERT_EQ(hs.rows, ref.rows);
  ASSERT_EQ(hs.cols, ref.cols);
  int worst = 0, distinct_levels = 0;
  std::vector<bool> seen(256);
  for (std::size_t k = 0; k < hs.v.size(); ++k) {
    worst = std::max(worst, std::abs(static_cast<int>(hs.v[k]) - static_cast<int>(ref.v[k])));
    if (!seen[static_cast<int>(hs.v[k])]) ++distinct_levels, seen[static_cast<int>(hs.v[k])] = true;
  }
  EXPECT_LE(worst, 1);
  EXPECT_GT(distinct_levels, 100);  // a relief, not a flat picture
  EXPECT_FALSE(testing::file_exists(tmp / "hs.png.aux.xml"));
}

TEST(BatchProgress, OneLineInGdalsFormOnStandardError) {
  TempDir tmp;
  const ProcessResult r = tesk({demo("jacksboro_i20_c.tif"), tmp / "dem.tif", "-i", "20", "-m", "3"});
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "0...10...20...30...40...50...60...70...80...90...100 - done.\n");
  // Eleven reports, each larger than the one before.
  int count = 0, last = -1;
  for (std::size_t k = 0; k < r.err.size();) {
    if (std::isdigit(static_cast<unsigned char>(r.err[k]))) {
      const int v = std::atoi(r.err.c_str() + k);
      EXPECT_GT(v, last);
      last = v;
      ++count;
      while (k < r.err.size() && std::isdigit(static_cast<unsigned char>(r.err[k]))) ++k;
    } else {
      ++k;
    }
  }
  EXPECT_GE(count, 10);
  // -q: nothing at all.
  const ProcessResult q = tesk({demo("jacksboro_i20_c.tif"), tmp / "q.tif", "-i", "20", "-q"});
  EXPECT_EQ(q.status, 0);
  EXPECT_EQ(q.err, "");
}

// The line grows mark by mark as the reports come: a mark each 2.5 %, a
// number each 10 %, never backwards.
TEST(BatchProgress, MarksFollowTheReports) {
  struct Step {
    double fraction;
    const char* line;  // the whole line so far
  };
  const std::vector<Step> steps = {{0.0, "0"},         {0.01, "0"},          {0.025, "0."},
                                   {0.26, "0...10...20.."},  {0.1, "0...10...20.."},     {0.5, "0...10...20...30...40...50"},
                                   {0.999, "0...10...20...30...40...50...60...70...80...90..."},
                                   {1.0, "0...10...20...30...40...50...60...70...80...90...100 - done.\n"},
                                   {1.0, "0...10...20...30...40...50...60...70...80...90...100 - done.\n"}};
  TempDir tmp;
  std::FILE* f = std::fopen((tmp / "line").c_str(), "w+");
  ASSERT_NE(f, nullptr);
  gdal::TermProgress p(f);
  for (const Step& s : steps) {
    p.report(s.fraction);
    EXPECT_EQ(testing::read_file(tmp / "line"), s.line) << s.fraction;
    EXPECT_EQ(p.open(), s.line[std::strlen(s.line) - 1] != '\n');
  }
  std::fclose(f);
}

}  // namespace
}  // namespace tesk::e2e
