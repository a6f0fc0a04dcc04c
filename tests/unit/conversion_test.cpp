// Altitudes into internal units (512 to one contour interval) and back, the
// contour overlay and the no-data marker across both conversions.
#include "stages/conversion.h"

#include <gtest/gtest.h>

#include <climits>
#include <vector>

#include "core/units.h"
#include "support/test_support.h"

namespace tesk {
namespace {

using testing::make_grid;
using testing::rows_of;
using testing::U;

using Rows = std::vector<std::vector<std::int32_t>>;

TEST(Conversion, ThereAndBackThroughSinglePrecision) {
  struct Case {
    std::int32_t altitude;
    int equid;
    std::int32_t internal;
    std::int32_t back;
  } cases[] = {
      {1000, 10, 51200, 1000},
      {1001, 3, 170837, 1000},    // 170837.33 -> 170837; 1000.998 -> 1000
      {1, 3, 170, 0},             // 170.67 -> 170; 0.996 -> 0
      {2, 3, 341, 1},             // 341.33 -> 341; 1.998 -> 1
      {3, 3, 512, 3},
      {-1001, 3, -170837, -1000}, // truncation toward zero both ways
      // 17066666.67: single precision holds only even values there.  Back,
      // 99999.99609375 lies halfway between two floats and goes to the even
      // one, 100000.
      {100000, 3, 17066666, 100000},
      {3710, 29, 65500, 3709},    // 65500.69; back 3709.96
      {1000, -10, -51200, 1000},  // a negative interval flips the sign and back
      {0, 7, 0, 0},
      {65535, 1, 33553920, 65535},
      {4194303, 1, 2147483136, 4194303},  // largest value that fits at interval 1
  };
  for (const Case& c : cases) {
    const auto w = to_internal(c.altitude, c.equid);
    ASSERT_TRUE(w) << c.altitude << " / " << c.equid;
    EXPECT_EQ(*w, c.internal) << c.altitude << " / " << c.equid;
    EXPECT_EQ(to_altitude(c.internal, c.equid), c.back) << c.internal << " * " << c.equid;
  }
}

TEST(Conversion, InternalValuesOutOfTheIntRangeAreRefused) {
  // 2^31 or more in magnitude after the single-precision rounding.
  struct Case {
    std::int32_t altitude;
    int equid;
  } cases[] = {
      {4194304, 1},      // exactly 2^31
      {-4194304, 1},     // -2^31 would be the marker itself
      {INT_MAX, 512},    // 2147483647 rounds up to 2^31 in single precision
      {INT_MIN, 512},
      {INT_MAX, 1},
      {-5000000, -1},
  };
  for (const Case& c : cases) EXPECT_FALSE(to_internal(c.altitude, c.equid)) << c.altitude << " / " << c.equid;
  // Just inside: 2^31 - 128 is the largest float below 2^31.
  ASSERT_TRUE(to_internal(-4194303, 1));
  EXPECT_EQ(*to_internal(-4194303, 1), -2147483136);
}

TEST(Conversion, BackIntoAltitudesSaturates) {
  EXPECT_EQ(to_altitude(2000000000, 3000), INT_MAX);
  EXPECT_EQ(to_altitude(-2000000000, 3000), INT_MIN);
  EXPECT_EQ(to_altitude(2000000000, -3000), INT_MIN);
}

TEST(Conversion, MarkerOnTheWayInAndOut) {
  // 16-bit: 65500 marks no-data; every other value is converted, and a
  // converted value of 65500 is an ordinary altitude.
  IntGrid g = make_grid({{65500, 1001, 65500}, {3, 65499, -1001}});
  EXPECT_FALSE(convert_to_internal(g, kIval16, 3));
  EXPECT_EQ(rows_of(g), (Rows{{U, 170837, U}, {512, 11178496, -170837}}));
  convert_to_altitude(g, kIval16, 3);
  EXPECT_EQ(rows_of(g), (Rows{{65500, 1000, 65500}, {3, 65499, -1000}}));

  IntGrid c29 = make_grid({{3710, 65500}});
  EXPECT_FALSE(convert_to_internal(c29, kIval16, 29));
  EXPECT_EQ(rows_of(c29), (Rows{{65500, U}}));  // still a contour pixel
  convert_to_altitude(c29, kIval16, 29);
  EXPECT_EQ(rows_of(c29), (Rows{{3709, 65500}}));

  // 32-bit: 10000000 is the marker and 65500 a plain altitude.
  IntGrid g32 = make_grid({{10000000, 65500, -10000000}});
  EXPECT_FALSE(convert_to_internal(g32, kIval32, 10));
  EXPECT_EQ(rows_of(g32), (Rows{{U, 3353600, -512000000}}));
  convert_to_altitude(g32, kIval32, 10);
  EXPECT_EQ(rows_of(g32), (Rows{{10000000, 65500, -10000000}}));
}

TEST(Conversion, AValueThatDoesNotFitIsReportedWithItsPlace) {
  IntGrid g = make_grid({{10000000, 5}, {7, 4194304}});
  const auto fault = convert_to_internal(g, kIval32, 1);
  ASSERT_TRUE(fault);
  EXPECT_EQ(fault->row, 1);
  EXPECT_EQ(fault->col, 1);
  EXPECT_EQ(fault->value, 4194304);

  const IntGrid raw = make_grid({{-4194304, 10000000}});
  IntGrid result = make_grid({{1, 2}});
  const auto ofault = overlay_contours(raw, result, kIval32, 1);
  ASSERT_TRUE(ofault);
  EXPECT_EQ(ofault->row, 0);
  EXPECT_EQ(ofault->col, 0);
  EXPECT_EQ(ofault->value, -4194304);
}

TEST(Conversion, OverlayWritesContoursOnlyAndCopyIsWhole) {
  // The overlay tests the raw value against the file marker and writes its
  // internal value; a converted 65500 (altitude 3710 at interval 29) is
  // written like any other.
  const IntGrid raw = make_grid({{3710, 65500, 29}, {65500, 0, -29}});
  IntGrid result = make_grid({{1, 2, 3}, {4, 5, 6}});
  EXPECT_FALSE(overlay_contours(raw, result, kIval16, 29));
  EXPECT_EQ(rows_of(result), (Rows{{65500, 2, 512}, {4, 0, -512}}));

  IntGrid to = make_grid({{0, 0, 0}, {0, 0, 0}});
  copy_grid(raw, to);
  EXPECT_EQ(rows_of(to), rows_of(raw));
}

}  // namespace
}  // namespace tesk
