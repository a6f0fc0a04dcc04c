// Names of the six files of a data set.
#include "io/paths.h"

#include <gtest/gtest.h>

#include <string>

namespace tesk {
namespace {

TEST(Paths, DataRootFromTheEnvironmentValue) {
  struct Case {
    const char* value;  // nullptr: the variable is unset
    const char* root;
  } cases[] = {
      {nullptr, "images"},     {"", "images"},          {"/tmp/x", "/tmp/x"},
      {"/tmp/x/", "/tmp/x"},   {"/tmp/x///", "/tmp/x"}, {"data/run 1", "data/run 1"},
      {"./imgs/", "./imgs"},   {"/", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(data_root(c.value), c.root) << (c.value ? c.value : "(unset)");

  EXPECT_EQ(directory_prefix(data_root("/tmp/x/"), "site1"), "/tmp/x/site1/");
  EXPECT_EQ(directory_prefix(data_root(nullptr), "site1"), "images/site1/");
  EXPECT_EQ(directory_prefix(data_root("/"), "site1"), "/site1/");  // the file system root
}

TEST(Paths, SuffixesFollowTheSampleWidth) {
  const std::string prefix = directory_prefix(data_root("/tmp/x"), "site1");
  struct Case {
    int itype;
    const char* digit;
  } cases[] = {{0, "2"}, {1, "4"}, {7, "4"}, {-1, "4"}};
  for (const Case& c : cases) {
    const std::string d = c.digit;
    const InputNames in = input_names(prefix, "dem", c.itype);
    EXPECT_EQ(in.nomim1, "/tmp/x/site1/dem_c" + d + ".raw") << c.itype;
    EXPECT_EQ(in.nomdescr1, "/tmp/x/site1/dem_c" + d + ".txt") << c.itype;

    const OutputNames out = output_names(prefix, "out1", c.itype);
    EXPECT_EQ(out.nomim2, "/tmp/x/site1/out1_m1.raw") << c.itype;  // the same for both widths
    EXPECT_EQ(out.nomdescr2, "/tmp/x/site1/out1_m1.txt") << c.itype;
    EXPECT_EQ(out.nomim3, "/tmp/x/site1/out1_m" + d + ".raw") << c.itype;
    EXPECT_EQ(out.nomdescr3, "/tmp/x/site1/out1_m" + d + ".txt") << c.itype;
  }
}

}  // namespace
}  // namespace tesk
