// The header text: six integers read like "%d%d%d%d%d%d", written one a line.
#include "io/header.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <string>

#include "support/test_support.h"

namespace tesk {
namespace {

using testing::TextStream;

TEST(Header, ReadingStopsWhereTheValuesStop) {
  struct Case {
    const char* name;
    std::string text;
    Header expected;
  } cases[] = {
      {"six on one line", "480 640 1 120 860 25", {480, 640, 1, 120, 860, 25}},
      {"six lines", "480\n640\n1\n120\n860\n25\n", {480, 640, 1, 120, 860, 25}},
      {"written format, CR LF", "480 \r\n640 \r\n1 \r\n120 \r\n860 \r\n25", {480, 640, 1, 120, 860, 25}},
      {"tabs and blank lines", "\t480\t\n\n640 1\n\n 120 860 25", {480, 640, 1, 120, 860, 25}},
      {"four values: the last two stay 0", "3 4 1 -20", {3, 4, 1, -20, 0, 0}},
      {"only the row count", "7\n", {7, 0, 0, 0, 0, 0}},
      {"empty file", "", {0, 0, 0, 0, 0, 0}},
      {"garbage first: nothing read", "garbage 4 5 6", {0, 0, 0, 0, 0, 0}},
      {"garbage stops the reading", "10 20 x 4 5 6", {10, 20, 0, 0, 0, 0}},
      {"letters glued to a value", "5 5abc 6", {5, 5, 0, 0, 0, 0}},
      {"a decimal point stops after the integer part", "10 20 3.5 4 5 6", {10, 20, 3, 0, 0, 0}},
      {"a value out of the int range stops", "10 2147483648 3 4 5 6", {10, 0, 0, 0, 0, 0}},
      {"out of range first: nothing read", "99999999999 2 3 4 5 6", {0, 0, 0, 0, 0, 0}},
      {"a NUL byte stops the reading", std::string("4\0 5 6", 6), {4, 0, 0, 0, 0, 0}},
      {"what follows the sixth is ignored", "1 2 3 4 5 6 7 eight", {1, 2, 3, 4, 5, 6}},
      {"signs and limits", "+2 -3 -0 +0 -2147483648 2147483647", {2, -3, 0, 0, INT_MIN, INT_MAX}},
  };
  for (const Case& c : cases) {
    TextStream in(c.text);
    EXPECT_EQ(read_header(in.get()), c.expected) << c.name;
  }
}

TEST(Header, WrittenOneValueALineWithoutFinalLineEnd) {
  EXPECT_EQ(format_header({480, 640, 1, 120, 860, 25}), "480 \n640 \n1 \n120 \n860 \n25");
  EXPECT_EQ(format_header({}), "0 \n0 \n0 \n0 \n0 \n0");
  EXPECT_EQ(format_header({-1, 2, INT_MIN, INT_MAX, -5, 0}), "-1 \n2 \n-2147483648 \n2147483647 \n-5 \n0");

  // Through a stream: the bytes on disk are exactly those, and they read back.
  testing::TempDir dir;
  std::FILE* f = std::fopen((dir / "out.txt").c_str(), "w");
  ASSERT_NE(f, nullptr);
  const Header h{480, 640, 1, 120, 860, 25};
  EXPECT_TRUE(write_header(f, h));
  std::fclose(f);
  const std::string written = testing::read_file(dir / "out.txt");
  EXPECT_EQ(written, "480 \n640 \n1 \n120 \n860 \n25");
  TextStream back(written);
  EXPECT_EQ(read_header(back.get()), h);
}

}  // namespace
}  // namespace tesk
