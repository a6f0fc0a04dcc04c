// The work of a run stays proportional to the image: the pixels visited by
// the dilation and the gap filling, counted by the stages, stay below a
// small multiple of the pixel count on the real sample data sets, where
// one full sweep of the grid per growth layer (the literal form) visits
// the grid hundreds of times.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

#include "core/units.h"
#include "io/header.h"
#include "io/raster.h"
#include "stages/pipeline.h"

namespace tesk {
namespace {

struct DataSet {
  const char* name;
  int equid;
};

TEST(HostileWork, PixelVisitsStayWithinASmallMultipleOfThePixelCount) {
  const DataSet sets[] = {{"jacksboro_i20", 20}, {"volcano_i5", 5}};
  for (const DataSet& ds : sets) {
    SCOPED_TRACE(ds.name);
    const std::string base = std::string(TESK_SOURCE_DIR) + "/images/demo/" + ds.name;
    std::FILE* hf = std::fopen((base + "_c2.txt").c_str(), "r");
    ASSERT_NE(hf, nullptr);
    const Header h = read_header(hf);
    std::fclose(hf);
    std::FILE* f1 = std::fopen((base + "_c2.raw").c_str(), "rb");
    ASSERT_NE(f1, nullptr);

    RunGrids g;
    g.allocate(h.nb_lig, h.nb_col, false);
    ASSERT_TRUE(lecture(f1, 0, g.itab));
    RunParams p;
    p.ival = kIval16;
    p.equid = ds.equid;
    p.maille = 3;
    p.overlay = true;
    RunObserver quiet;
    const RunStats st = compute_dem(
        g, p,
        [&](IntGrid& itab) {
          std::rewind(f1);
          ASSERT_TRUE(lecture(f1, 0, itab));
        },
        quiet);
    std::fclose(f1);

    const double pixels = static_cast<double>(h.nb_lig) * h.nb_col;
    const double literal_dilation = static_cast<double>(st.growth_sweeps) * pixels;
    std::printf("%s: %d passes, %lld growth sweeps, dilation %.2f visits a pixel, gap filling %.2f\n", ds.name,
                st.passes, static_cast<long long>(st.growth_sweeps), st.dilation_visits / pixels,
                st.gap_visits / pixels);
    EXPECT_GT(st.dilation_visits, 0);
    EXPECT_LE(st.dilation_visits, 16 * pixels);
    EXPECT_LE(st.gap_visits, 4 * pixels);
    // The literal form would have made one sweep per growth layer.
    EXPECT_LT(st.dilation_visits, literal_dilation / 2);
  }
}

}  // namespace
}  // namespace tesk
