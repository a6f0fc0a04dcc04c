// Headerless rasters: reading into itab, writing the preview and the result.
#include "io/raster.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/units.h"
#include "stages/conversion.h"
#include "support/test_support.h"

namespace tesk {
namespace {

using testing::le16;
using testing::le32;
using testing::make_grid;
using testing::read_file;
using testing::rows_of;
using testing::TempDir;
using testing::U;
using testing::write_file;

using Rows = std::vector<std::vector<std::int32_t>>;

// Reads a rows x cols grid from a file holding `bytes`; ok tells what lecture returned.
IntGrid read_raster(const TempDir& dir, const std::string& bytes, int itype, int rows, int cols, bool& ok) {
  const std::string path = dir / "in.raw";
  write_file(path, bytes);
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) throw std::runtime_error("cannot open " + path);
  IntGrid g(rows, cols);
  ok = lecture(f, itype, g);
  std::fclose(f);
  return g;
}

TEST(Raster, ReadsRowsInFileOrderAtTheSampleWidth) {
  TempDir dir;
  bool ok = false;

  // 16-bit samples are widened without sign.
  IntGrid g16 = read_raster(dir, le16({0, 1, 256, 65499, 65500, 65535}), 0, 2, 3, ok);
  EXPECT_TRUE(ok);
  EXPECT_EQ(rows_of(g16), (Rows{{0, 1, 256}, {65499, 65500, 65535}}));

  // 32-bit samples are two's complement; itype 7 reads like itype 1.
  for (int itype : {1, 7}) {
    IntGrid g32 = read_raster(dir, le32({-1, 10000000, INT_MIN, 70000, 0, INT_MAX}), itype, 3, 2, ok);
    EXPECT_TRUE(ok);
    EXPECT_EQ(rows_of(g32), (Rows{{-1, 10000000}, {INT_MIN, 70000}, {0, INT_MAX}})) << itype;
  }

  // Bytes past the expected length are ignored.
  IntGrid longer = read_raster(dir, le16({5, 6, 7, 8, 9}), 0, 2, 2, ok);
  EXPECT_TRUE(ok);
  EXPECT_EQ(rows_of(longer), (Rows{{5, 6}, {7, 8}}));

  // A file too short, even by one byte, is reported.
  std::string short16 = le16({1, 2, 3, 4});
  short16.pop_back();
  read_raster(dir, short16, 0, 2, 2, ok);
  EXPECT_FALSE(ok);
  read_raster(dir, le32({1, 2, 3}), 1, 2, 2, ok);
  EXPECT_FALSE(ok);
  read_raster(dir, "", 0, 1, 1, ok);
  EXPECT_FALSE(ok);
}

TEST(Raster, ReadingAgainAfterRewindGivesTheSameGrid) {
  TempDir dir;
  const std::string path = dir / "in.raw";
  write_file(path, le16({10, 65500, 30, 40}));
  std::FILE* f = std::fopen(path.c_str(), "rb");
  ASSERT_NE(f, nullptr);
  IntGrid first(2, 2);
  ASSERT_TRUE(lecture(f, 0, first));
  IntGrid second = make_grid({{-7, -7}, {-7, -7}});
  std::rewind(f);
  ASSERT_TRUE(lecture(f, 0, second));
  std::fclose(f);
  EXPECT_EQ(rows_of(second), rows_of(first));
  EXPECT_EQ(rows_of(second), (Rows{{10, 65500}, {30, 40}}));
}

TEST(Raster, OnlyTheExactMarkerIsNoDataIn16BitInput) {
  // 65500 is the marker; 65499 and 65535 are altitudes.  With an interval of
  // 512 the internal value equals the altitude.
  TempDir dir;
  bool ok = false;
  IntGrid g = read_raster(dir, le16({65499, 65500, 65535, 0}), 0, 1, 4, ok);
  ASSERT_TRUE(ok);
  ASSERT_EQ(ival_for(0), 65500);
  EXPECT_FALSE(convert_to_internal(g, ival_for(0), 512));
  EXPECT_EQ(rows_of(g), (Rows{{65499, U, 65535, 0}}));

  EXPECT_EQ(ival_for(1), 10000000);
  EXPECT_EQ(ival_for(7), 10000000);
  IntGrid g32 = read_raster(dir, le32({65500, 10000000, 9999999, -10000000}), 1, 1, 4, ok);
  ASSERT_TRUE(ok);
  EXPECT_FALSE(convert_to_internal(g32, ival_for(1), 512));
  EXPECT_EQ(rows_of(g32), (Rows{{65500, U, 9999999, -10000000}}));
}

TEST(Raster, WritesThePreviewThenTheResultAtTheSampleWidth) {
  ByteGrid tab(2, 3);
  const std::uint8_t bytes[6] = {0, 255, 17, 128, 1, 254};
  for (int k = 0; k < 6; ++k) tab[k / 3][k % 3] = bytes[k];
  const IntGrid itab1 = make_grid({{70000, -1, 65500}, {10000000, 0, 65535}});

  struct Case {
    int itype;
    std::string full;
  } cases[] = {
      // 16-bit: the value modulo 65536 (10000000 = 152 * 65536 + 38528).
      {0, le16({4464, 65535, 65500, 38528, 0, 65535})},
      {1, le32({70000, -1, 65500, 10000000, 0, 65535})},
      {7, le32({70000, -1, 65500, 10000000, 0, 65535})},
  };
  for (const Case& c : cases) {
    TempDir dir;
    std::FILE* f2 = std::fopen((dir / "m1.raw").c_str(), "wb");
    std::FILE* f3 = std::fopen((dir / "m2.raw").c_str(), "wb");
    ASSERT_TRUE(f2 && f3);
    EXPECT_TRUE(ecriture(f2, f3, c.itype, tab, itab1));
    std::fclose(f2);
    std::fclose(f3);
    EXPECT_EQ(read_file(dir / "m1.raw"), std::string("\x00\xff\x11\x80\x01\xfe", 6)) << c.itype;
    EXPECT_EQ(read_file(dir / "m2.raw"), c.full) << c.itype;
  }
}

TEST(Raster, RoundTripThroughAFile) {
  const IntGrid itab1 = make_grid({{0, 1, 65499}, {65500, 65535, 300}});
  for (int itype : {0, 1}) {
    TempDir dir;
    ByteGrid tab(2, 3);
    std::FILE* f2 = std::fopen((dir / "m1.raw").c_str(), "wb");
    std::FILE* f3 = std::fopen((dir / "full.raw").c_str(), "wb");
    ASSERT_TRUE(f2 && f3);
    ASSERT_TRUE(ecriture(f2, f3, itype, tab, itab1));
    std::fclose(f2);
    std::fclose(f3);
    std::FILE* f1 = std::fopen((dir / "full.raw").c_str(), "rb");
    ASSERT_NE(f1, nullptr);
    IntGrid back(2, 3);
    EXPECT_TRUE(lecture(f1, itype, back));
    std::fclose(f1);
    EXPECT_EQ(rows_of(back), rows_of(itab1)) << itype;
  }
}

TEST(Raster, AFailedWriteIsReportedWithItsStream) {
  TempDir dir;
  write_file(dir / "ro", "");
  std::FILE* ro = std::fopen((dir / "ro").c_str(), "rb");  // writes fail on a read-only stream
  std::FILE* ok = std::fopen((dir / "ok").c_str(), "wb");
  ASSERT_TRUE(ro && ok);
  ByteGrid tab(1, 2);
  const IntGrid itab1 = make_grid({{1, 2}});
  std::FILE* failed = nullptr;
  EXPECT_FALSE(ecriture(ro, ok, 0, tab, itab1, &failed));
  EXPECT_EQ(failed, ro);
  failed = nullptr;
  EXPECT_FALSE(ecriture(ok, ro, 1, tab, itab1, &failed));
  EXPECT_EQ(failed, ro);
  std::fclose(ro);
  std::fclose(ok);
}

}  // namespace
}  // namespace tesk
