// Hostile values through the whole program: samples at and next to the
// no-data marker, at and above 99999999, at the 32-bit limits and past the
// range the internal units can hold, negative intervals, windows of 0 and
// below, rasters that are all no-data.  Expected rasters are worked out by
// hand: into internal units trunc(single(v / equid * 512)), back
// trunc(single(w / 512 * equid)).
#include <gtest/gtest.h>

#include <climits>

#include "hostile_e2e.h"

namespace tesk::hostile {
namespace {

struct ValueCase {
  const char* what;
  int itype;
  std::string header;
  std::string raster;
  std::string answers;  // interval, window, overlay
  std::string expected;  // the full-width output raster
  const char* minmax;    // as the transcript gives them
};

TEST(HostileValues, ExtremeSamplesComeBackAsTheRulesSay) {
  const ValueCase cases[] = {
      {"16-bit samples next to the marker and at the top", 0, "1 4 0 0 0 0",
       testing::le16({65499, 65501, 65535, 0}), "1 1 1", testing::le16({65499, 65501, 65535, 0}),
       "Min=0  Max=65535"},
      // 9999999 -> 51199996 -> 9999999; 10000001 -> 51200004 -> 10000001;
      // 99999999 -> 512000000 (single precision) -> 100000000.
      {"32-bit samples next to the marker and at 99999999", 1, "1 5 0 0 0 0",
       testing::le32({9999999, 10000001, 99999999, 100000000, -10000000}), "100 -5 1",
       testing::le32({9999999, 10000001, 100000000, 100000000, -10000000}), "Min=-10000000  Max=100000000"},
      // 123456789 / 1000 * 512 = 63209875.97 -> 63209876; back
      // 123456789.06 -> 123456792 (single precision steps of 8).
      {"32-bit sample above 99999999", 1, "1 1 0 0 0 0", testing::le32({123456789}), "1000 0 1",
       testing::le32({123456792}), "Min=123456792  Max=123456792"},
      // 4194303 * 512 = 2147483136 still fits.
      {"largest samples the internal units hold at interval 1", 1, "1 2 0 0 0 0",
       testing::le32({4194303, -4194303}), "1 1 1", testing::le32({4194303, -4194303}),
       "Min=-4194303  Max=4194303"},
      // INT_MAX / INT_MAX * 512 = 512, back single(2147483647) = 2^31,
      // held at INT_MAX; INT_MIN gives -512, back exactly INT_MIN.
      {"32-bit limits at the largest interval", 1, "1 2 0 0 0 0", testing::le32({INT_MAX, INT_MIN}),
       "2147483647 1 1", testing::le32({INT_MAX, INT_MIN}), "Min=-2147483648  Max=2147483647"},
      // -7: 1000 -> -73142 -> 999.988... -> 999; 2000 -> -146285 -> 1999;
      // 65535 -> -4793417 -> 65534.998046875, halfway between two singles,
      // rounds to the even one, 65535; 1 -> -73 -> 0.998... -> 0.
      {"negative interval", 0, "1 4 0 0 0 0", testing::le16({1000, 2000, 65535, 1}), "-7 1 1",
       testing::le16({999, 1999, 65535, 0}), "Min=0  Max=65535"},
      // -10: 1000 -> -51200 -> 1000 exactly.
      {"negative interval, exact", 0, "1 2 0 0 0 0", testing::le16({1000, 2000}), "-10 1 0",
       testing::le16({1000, 2000}), "Min=1000  Max=2000"},
      // No contour at all: the marker everywhere, even through a window of
      // degree 3 over the 4 x 4 image and the overlay.
      {"all no-data", 0, "4 4 0 0 0 0",
       testing::le16({65500, 65500, 65500, 65500, 65500, 65500, 65500, 65500, 65500, 65500, 65500, 65500, 65500,
                      65500, 65500, 65500}),
       "10 3 0",
       testing::le16({65500, 65500, 65500, 65500, 65500, 65500, 65500, 65500, 65500, 65500, 65500, 65500, 65500,
                      65500, 65500, 65500}),
       "Min=65500  Max=65500"},
  };
  for (const ValueCase& c : cases) {
    SCOPED_TRACE(c.what);
    Scratch s;
    const char w = c.itype == 0 ? '2' : '4';
    s.put(std::string("a_c") + w + ".raw", c.raster);
    s.put(std::string("a_c") + w + ".txt", c.header);
    const ProcessResult r = s.run("d a " + std::to_string(c.itype) + " 0 " + c.answers);
    ASSERT_EQ(r.status, 0) << r.out.substr(r.out.size() > 300 ? r.out.size() - 300 : 0);
    EXPECT_EQ(testing::read_file(s.at(std::string("a_m") + w + ".raw")), c.expected);
    EXPECT_NE(r.out.find(std::string("\n ") + c.minmax), std::string::npos);
    // Windows of 1 and less never smooth.
    if (c.answers.find(" 1 ") != std::string::npos || c.answers.find(" 0 ") != std::string::npos ||
        c.answers.find(" -5 ") != std::string::npos) {
      EXPECT_EQ(r.out.find("Lissage"), std::string::npos);
    }
  }
}

TEST(HostileValues, ContourValuesPastTheInternalRangeStopTheRun) {
  struct Case {
    std::string raster;
    const char* equid;
    const char* message;
  };
  const Case cases[] = {
      {testing::le32({4194303, 4194304}), "1",
       "\n Valeur 4194304 (ligne 0, colonne 1) trop grande pour l'equidistance 1 : conversion impossible\n"},
      // -4194304 * 512 = -2^31: a magnitude of 2^31 is refused too.
      {testing::le32({-4194304, 0}), "1",
       "\n Valeur -4194304 (ligne 0, colonne 0) trop grande pour l'equidistance 1 : conversion impossible\n"},
      {testing::le32({7, INT_MIN}), "-1",
       "\n Valeur -2147483648 (ligne 0, colonne 1) trop grande pour l'equidistance -1 : conversion impossible\n"},
      {testing::le32({INT_MAX, 7}), "511",
       "\n Valeur 2147483647 (ligne 0, colonne 0) trop grande pour l'equidistance 511 : conversion impossible\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    Scratch s;
    s.put("a_c4.raw", c.raster);
    s.put("a_c4.txt", "1 2 0 0 0 0");
    const ProcessResult r = s.run(std::string("d a 1 0 ") + c.equid + " 1 1");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(tail_after(r.out, "\n Lecture \n"), c.message);
    EXPECT_EQ(testing::read_file(s.at("a_m4.raw")), "");
  }
}

}  // namespace
}  // namespace tesk::hostile
