// The console's answers: names are C strings, cut at their first NUL.
#include "console/dialogue.h"

#include <gtest/gtest.h>

#include <string>

#include "support/test_support.h"

namespace tesk {
namespace {

TEST(Dialogue, NamesAreCutAtTheirFirstNul) {
  // Before the cut, "out\0put" opened one file for all four outputs.
  SilentCues cues;
  std::FILE* out = std::fopen("/dev/null", "w");
  ASSERT_NE(out, nullptr);
  testing::TextStream in(std::string("out\0put more\0", 13));
  Dialogue d(in.get(), out, cues);
  EXPECT_EQ(d.ask_word(), "out");
  EXPECT_EQ(d.ask_word(), "more");
  std::fclose(out);
}

}  // namespace
}  // namespace tesk
