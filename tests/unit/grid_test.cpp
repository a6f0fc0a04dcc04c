#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <utility>

#include "core/grid.h"
#include "support/test_support.h"

namespace tesk {
namespace {

// The process's mapped address space, in pages (the first field of statm).
std::uint64_t mapped_pages() {
  std::ifstream statm("/proc/self/statm");
  std::uint64_t pages = 0;
  statm >> pages;
  return pages;
}

// Grids on both sides of the size from which a grid is mapped on its own
// (exactly at it, and odd sizes, included): zero-filled and writable to
// their last element, and given back whole when freed or moved from, so
// that making and dropping many of them leaves the mapped space where it
// was; so are the lists grown on the same blocks past that size.
TEST(Grid, LargeGridsAreZeroWritableAndGivenBackWhole) {
  const std::pair<int, int> shapes[] = {{1, 1},       {700, 700},   {512, 1024}, {725, 725},
                                        {1023, 1031}, {1537, 2049}, {3, 1 << 20}};
  for (const auto& [rows, cols] : shapes) {
    Grid<std::int32_t> g(rows, cols);
    for (const std::int32_t v : g) ASSERT_EQ(0, v) << rows << " x " << cols;
    g[rows - 1][cols - 1] = 7;
    Grid<std::int32_t> moved = std::move(g);
    EXPECT_EQ(7, moved[rows - 1][cols - 1]);
  }
  const auto round = [](int n) {
    Grid<double> a(611 + n % 7, 613);  // about 3 MB
    Grid<float> b(1031, 1031 + n % 5);  // about 4.3 MB
    a[a.rows() - 1][0] = b[0][b.cols() - 1] = 1;
    BlockVector<std::int64_t> list;
    for (int k = 0; k < 400000 + n; ++k) list.push_back(k);  // through every size up to 3.2 MB
    ASSERT_EQ(list.back(), 399999 + n);
  };
  round(0);  // the C library's heap grown to what the rounds take from it
  const std::uint64_t before = mapped_pages();
  for (int n = 1; n <= 200; ++n) round(n);
  // 200 leaked pieces of even one page each would show.  AddressSanitizer
  // holds freed heap blocks back from reuse, and checks every free itself.
  if (!testing::kUnderAsan) {
    EXPECT_LT(mapped_pages(), before + 100);
  }
}

}  // namespace
}  // namespace tesk
