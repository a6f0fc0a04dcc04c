// The header text: six integers read like "%d%d%d%d%d%d", written one a line.
#include "io/header.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <stdexcept>
#include <string>

#include "support/test_support.h"

namespace tesk {
namespace {

using testing::read_file;
using testing::TempDir;
using testing::write_file;

Header read_text(const TempDir& dir, const std::string& text) {
  const std::string path = dir / "h.txt";
  write_file(path, text);
  std::FILE* f = std::fopen(path.c_str(), "r");
  if (!f) throw std::runtime_error("cannot open " + path);
  const Header h = read_header(f);
  std::fclose(f);
  return h;
}

TEST(Header, ReadingStopsWhereTheValuesStop) {
  TempDir dir;
  struct Case {
    const char* name;
    const char* text;
    Header expected;
  } cases[] = {
      {"six on one line", "480 640 1 120 860 25", {480, 640, 1, 120, 860, 25}},
      {"six lines", "480\n640\n1\n120\n860\n25\n", {480, 640, 1, 120, 860, 25}},
      {"written format, CR LF", "480 \r\n640 \r\n1 \r\n120 \r\n860 \r\n25", {480, 640, 1, 120, 860, 25}},
      {"tabs and blank lines", "\t480\t\n\n640 1\n\n 120 860 25", {480, 640, 1, 120, 860, 25}},
      {"four values: the last two stay 0", "3 4 1 -20", {3, 4, 1, -20, 0, 0}},
      {"only the row count", "7\n", {7, 0, 0, 0, 0, 0}},
      {"empty file", "", {0, 0, 0, 0, 0, 0}},
      {"garbage stops the reading", "10 20 x 4 5 6", {10, 20, 0, 0, 0, 0}},
      {"a decimal point stops after the integer part", "10 20 3.5 4 5 6", {10, 20, 3, 0, 0, 0}},
      {"a value out of the int range stops", "10 20 3000000000 4 5 6", {10, 20, 0, 0, 0, 0}},
      {"what follows the sixth is ignored", "1 2 3 4 5 6 7 eight", {1, 2, 3, 4, 5, 6}},
      {"signs", "+2 -3 -0 +0 -2147483648 2147483647", {2, -3, 0, 0, INT_MIN, INT_MAX}},
  };
  for (const Case& c : cases) EXPECT_EQ(read_text(dir, c.text), c.expected) << c.name;
}

TEST(Header, WrittenOneValueALineWithoutFinalLineEnd) {
  EXPECT_EQ(format_header({480, 640, 1, 120, 860, 25}), "480 \n640 \n1 \n120 \n860 \n25");
  EXPECT_EQ(format_header({}), "0 \n0 \n0 \n0 \n0 \n0");
  EXPECT_EQ(format_header({-1, 2, INT_MIN, INT_MAX, -5, 0}), "-1 \n2 \n-2147483648 \n2147483647 \n-5 \n0");

  // Through a stream: the bytes on disk are exactly those, and they read back.
  TempDir dir;
  const std::string path = dir / "out.txt";
  std::FILE* f = std::fopen(path.c_str(), "w");
  ASSERT_NE(f, nullptr);
  const Header h{480, 640, 1, 120, 860, 25};
  EXPECT_TRUE(write_header(f, h));
  std::fclose(f);
  EXPECT_EQ(read_file(path), "480 \n640 \n1 \n120 \n860 \n25");
  EXPECT_EQ(read_text(dir, read_file(path)), h);
}

}  // namespace
}  // namespace tesk
