// Headerless rasters: reading into itab, writing the preview and the result.
#include "io/raster.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace tesk {
namespace {

using testing::le16;
using testing::le32;
using testing::make_grid;
using testing::rows_of;
using testing::TempDir;

using Rows = std::vector<std::vector<std::int32_t>>;

// Reads a rows x cols grid from the file at `path`; ok tells what lecture
// returned, at where the stream was left.
IntGrid read_raster(const std::string& path, int itype, int rows, int cols, bool& ok, long* at = nullptr) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  EXPECT_NE(f, nullptr) << path;
  IntGrid g(rows, cols);
  if (!f) return g;
  ok = lecture(f, itype, g);
  if (at) *at = std::ftell(f);
  std::fclose(f);
  return g;
}

IntGrid read_bytes(const TempDir& dir, const std::string& bytes, int itype, int rows, int cols, bool& ok,
                   long* at = nullptr) {
  testing::write_file(dir / "in.raw", bytes);
  return read_raster(dir / "in.raw", itype, rows, cols, ok, at);
}

TEST(Raster, ReadsRowsInFileOrderAtTheSampleWidth) {
  TempDir dir;
  bool ok = false;

  // 16-bit samples are widened without sign.
  IntGrid g16 = read_bytes(dir, le16({0, 1, 256, 65499, 65500, 65535}), 0, 2, 3, ok);
  EXPECT_TRUE(ok);
  EXPECT_EQ(rows_of(g16), (Rows{{0, 1, 256}, {65499, 65500, 65535}}));

  // 32-bit samples are two's complement; itype 7 reads like itype 1.
  for (int itype : {1, 7}) {
    IntGrid g32 = read_bytes(dir, le32({-1, 10000000, INT_MIN, 70000, 0, INT_MAX}), itype, 3, 2, ok);
    EXPECT_TRUE(ok);
    EXPECT_EQ(rows_of(g32), (Rows{{-1, 10000000}, {INT_MIN, 70000}, {0, INT_MAX}})) << itype;
  }

  // Bytes past the expected length are left unread.
  long at = 0;
  IntGrid longer = read_bytes(dir, le32({1, -2, 3, 4, 5, 65500, 99, 98}), 1, 2, 3, ok, &at);
  EXPECT_TRUE(ok);
  EXPECT_EQ(at, 24);
  EXPECT_EQ(rows_of(longer), (Rows{{1, -2, 3}, {4, 5, 65500}}));

  // A file too short, even by one byte, is reported; so is a directory
  // (it opens on Linux but cannot be read).
  std::string short16 = le16({1, 2, 3, 4});
  short16.pop_back();
  for (const auto& [bytes, itype] : {std::pair{short16, 0}, std::pair{le32({1, 2, 3}), 1}, std::pair{std::string(), 0}}) {
    read_bytes(dir, bytes, itype, 2, 2, ok);
    EXPECT_FALSE(ok) << bytes.size() << " bytes";
  }
  ok = true;
  read_raster(dir.path(), 1, 2, 2, ok);
  EXPECT_FALSE(ok);
}

// The preview's bytes, then the result at the sample width, and the result
// read back: 16-bit samples keep the value modulo 65536 (70000 -> 4464,
// -1 -> 65535, 10000000 = 152 * 65536 + 38528), and 65500 next to 65499
// and 65535 is written and read as it is.
TEST(Raster, WritesThePreviewThenTheResultAndReadsItBack) {
  ByteGrid tab(2, 4);
  const std::uint8_t bytes[8] = {0, 255, 17, 128, 1, 254, 7, 9};
  std::copy(bytes, bytes + 8, tab.begin());
  const IntGrid itab1 = make_grid({{70000, -1, 65500, 65499}, {10000000, 0, 65535, 300}});

  struct Case {
    int itype;
    std::string full;
    Rows back;
  } cases[] = {
      {0, le16({4464, 65535, 65500, 65499, 38528, 0, 65535, 300}), {{4464, 65535, 65500, 65499}, {38528, 0, 65535, 300}}},
      {1, le32({70000, -1, 65500, 65499, 10000000, 0, 65535, 300}), rows_of(itab1)},
      {7, le32({70000, -1, 65500, 65499, 10000000, 0, 65535, 300}), rows_of(itab1)},
  };
  for (const Case& c : cases) {
    TempDir dir;
    std::FILE* f2 = std::fopen((dir / "m1.raw").c_str(), "wb");
    std::FILE* f3 = std::fopen((dir / "m2.raw").c_str(), "wb");
    ASSERT_TRUE(f2 && f3);
    EXPECT_TRUE(ecriture(f2, f3, c.itype, tab, itab1));
    std::fclose(f2);
    std::fclose(f3);
    EXPECT_EQ(testing::read_file(dir / "m1.raw"), std::string(bytes, bytes + 8)) << c.itype;
    EXPECT_EQ(testing::read_file(dir / "m2.raw"), c.full) << c.itype;
    bool ok = false;
    EXPECT_EQ(rows_of(read_raster(dir / "m2.raw", c.itype, 2, 4, ok)), c.back) << c.itype;
    EXPECT_TRUE(ok);
  }
}

// Rasters larger than the buffer the rows move through, in several pieces
// (and rows wider than the buffer, one at a time), some large enough for
// the two files to be written at once: every sample lands where it
// belongs, in the file and back in the grid, the stream is left after the
// samples, and a file one sample short is still refused.
TEST(Raster, LargeRastersGoThroughInPieces) {
  struct Shape {
    int rows, cols, itype, threads;
  } shapes[] = {{700, 1000, 0, 1}, {300, 1100, 1, 1}, {3, 600000, 0, 1}, {2100, 2100, 0, 3}, {1100, 1900, 1, 2}};
  for (const Shape& sh : shapes) {
    SCOPED_TRACE(std::to_string(sh.rows) + " x " + std::to_string(sh.cols) + ", " + std::to_string(sh.threads) +
                 " threads");
    ByteGrid tab(sh.rows, sh.cols);
    IntGrid itab1(sh.rows, sh.cols);
    std::uint32_t x = 12345;
    for (std::size_t k = 0; k < itab1.size(); ++k) {
      x = x * 1103515245u + 12345u;
      itab1.data()[k] = static_cast<std::int32_t>(x);
      tab.data()[k] = static_cast<std::uint8_t>(x >> 7);
    }
    TempDir dir;
    std::FILE* f2 = std::fopen((dir / "m1.raw").c_str(), "wb");
    std::FILE* f3 = std::fopen((dir / "m2.raw").c_str(), "wb");
    ASSERT_TRUE(f2 && f3);
    ASSERT_TRUE(ecriture(f2, f3, sh.itype, tab, itab1, nullptr, sh.threads));
    std::fclose(f2);
    std::fclose(f3);

    const std::string preview = testing::read_file(dir / "m1.raw");
    ASSERT_EQ(preview, std::string(tab.begin(), tab.end()));
    const std::string full = testing::read_file(dir / "m2.raw");
    const std::size_t width = static_cast<std::size_t>(sample_bytes(sh.itype));
    ASSERT_EQ(full.size(), itab1.size() * width);
    // The last sample, little-endian at its place.
    const std::size_t last = itab1.size() - 1;
    const auto u = static_cast<std::uint32_t>(itab1.data()[last]);
    EXPECT_EQ(static_cast<unsigned char>(full[last * width]), u & 0xff);
    EXPECT_EQ(static_cast<unsigned char>(full[last * width + 1]), (u >> 8) & 0xff);

    bool ok = false;
    testing::write_file(dir / "long.raw", full + "tail");
    long at = 0;
    const IntGrid back = read_raster(dir / "long.raw", sh.itype, sh.rows, sh.cols, ok, &at);
    ASSERT_TRUE(ok);
    EXPECT_EQ(at, static_cast<long>(full.size()));
    for (std::size_t k = 0; k < itab1.size(); ++k) {
      const std::int32_t want = sh.itype == 0 ? (itab1.data()[k] & 0xffff) : itab1.data()[k];
      ASSERT_EQ(back.data()[k], want) << "sample " << k;
    }

    testing::write_file(dir / "short.raw", full.substr(0, full.size() - width));
    read_raster(dir / "short.raw", sh.itype, sh.rows, sh.cols, ok);
    EXPECT_FALSE(ok);
  }
}

TEST(Raster, AFailedWriteIsReportedWithItsStream) {
  // Rows larger than a stream buffer, so the full disk shows at the write;
  // enough of them for the two files to be written at once with threads.
  ByteGrid tab(64, 70000);
  IntGrid itab1(64, 70000);
  for (const int threads : {1, 2}) {
    SCOPED_TRACE(std::to_string(threads) + " threads");
    std::FILE* full = std::fopen("/dev/full", "wb");
    std::FILE* full2 = std::fopen("/dev/full", "wb");
    std::FILE* null = std::fopen("/dev/null", "wb");
    ASSERT_TRUE(full && full2 && null);
    std::FILE* failed = nullptr;
    errno = 0;
    EXPECT_FALSE(ecriture(full, null, 0, tab, itab1, &failed, threads));
    EXPECT_EQ(failed, full);
    EXPECT_EQ(errno, ENOSPC);
    failed = nullptr;
    errno = 0;
    EXPECT_FALSE(ecriture(null, full, 1, tab, itab1, &failed, threads));
    EXPECT_EQ(failed, full);
    EXPECT_EQ(errno, ENOSPC);
    // Both full: the preview's stream is named.
    failed = nullptr;
    EXPECT_FALSE(ecriture(full2, full, 1, tab, itab1, &failed, threads));
    EXPECT_EQ(failed, full2);
    std::fclose(full);
    std::fclose(full2);
    std::fclose(null);
  }
}

}  // namespace
}  // namespace tesk
