// Whole runs of the classic program through the executable: the console
// transcript byte for byte, the sound cues in their places and the four
// output files, on small rasters whose results are worked out by hand.
//
// Every expected value below comes from the rules of the run, not from the
// program: contour altitudes v become trunc(single(v / equid * 512)) internal
// units and come back as trunc(single(w * (1/512) * equid)); the dilation,
// gap filling and smoothing work in internal units; the preview stretches
// [min, max] onto 0..255 with a = 255 / (max - min) and b = -255 * min /
// (max - min) stored in single precision, each byte being
// arrondi(v * a + b) & 255.
#include <cstdint>
#include <ostream>

#include "e2e/e2e_support.h"

namespace tesk::e2e {
namespace {

// No-data sample in the tables below; written as 65500 in 16-bit rasters and
// 10000000 in 32-bit ones.
constexpr std::int64_t N = -1'000'000'000'000;

// n samples of no data but one, `v` at index `at`.
std::vector<std::int64_t> one_contour(int n, int at, std::int64_t v) {
  std::vector<std::int64_t> s(n, N);
  s[at] = v;
  return s;
}

// A two-level grid drawn row by row: '#' is `hi`, '.' is `lo`.
std::vector<int> levels(const char* picture, int hi, int lo) {
  std::vector<int> v;
  for (const char* p = picture; *p; ++p)
    if (*p == '#' || *p == '.') v.push_back(*p == '#' ? hi : lo);
  return v;
}

struct Scenario {
  const char* name;
  const char* itype;  // answer to the sample-width question
  int rows, cols;
  std::vector<std::int64_t> input;  // contour altitudes, N for no data
  const char* header;               // input header text
  int equid, maille, sur;
  // Expected.
  std::vector<int> to_treat, modified;  // dilation progress
  int min_al, max_al;
  std::vector<int> result;   // full-width output values
  std::vector<int> preview;  // 8-bit output
  const char* out_header;    // both output header texts
};

// Test names and failure reports show the scenario's name, not its bytes.
void PrintTo(const Scenario& s, std::ostream* os) { *os << s.name; }

bool wide(const Scenario& s) { return std::string(s.itype) != "0"; }

std::string samples(const Scenario& s, const std::vector<std::int64_t>& values) {
  std::string bytes;
  for (std::int64_t v : values) {
    if (wide(s))
      bytes += le32({static_cast<std::int32_t>(v == N ? 10000000 : v)});
    else
      bytes += le16({static_cast<std::uint16_t>(v == N ? 65500 : v)});
  }
  return bytes;
}

// The smoothing stage's line break, then its heading, cue and a line every
// 100 rows, or the message that the window does not fit.
std::string smoothing(const Scenario& s) {
  const std::string m = std::to_string(s.maille);
  if (s.maille <= 1) return "\n";
  if (s.rows <= s.maille || s.cols <= s.maille)
    return "\n\n Image trop petite pour la maille " + m + " (" + std::to_string(s.maille + 1) + " x " +
           std::to_string(s.maille + 1) + " pixels au moins) : lissage non effectue\n";
  std::string t = "\n\n\n Lissage Maille " + m + " \n" + cue("menuend.wav");
  for (int i = 100; i <= s.rows; i += 100) t += "\tligne " + std::to_string(i) + "                    \r    ";
  return t;
}

std::string expected_transcript(const Scenario& s) {
  std::string t = opening() + image_size(s.rows, s.cols) + reuse_question("dem") + questions() +
                  passes(s.to_treat, s.modified) + smoothing(s) + "\n\n Sauvegarde en cours\n" + cue("Fanfare2.wav");
  for (int i = 200; i <= s.rows; i += 200) t += " ligne " + std::to_string(i) + "\n";
  return t + "\n Min=" + std::to_string(s.min_al) + "  Max=" + std::to_string(s.max_al) + "\n";
}

// Pictures of the smoothed constant surfaces below.
const char* const k7Overlay = "#.## #### #.## #.##";
const char* const k7 = "#.## #.## #.## #.##";
const char* const k100000Overlay = "#.## #.## #### #.##";
const char* const k23Overlay = "##.### ...... ###### ##.### ...... ##.###";
const char* const k23 = "##.### ...... ##.### ##.### ...... ##.###";
const char* const k1000Overlay = "#.##.# .##... #.##.# #.##.# ..#... #.##.#";
const char* const k1000 = "#.##.# ..#... #.##.# #.##.# ..#... #.##.#";

const Scenario kScenarios[] = {
    // The nine-pixel row at interval 10: 100 and 200 become 5120 and 10240.
    // Pass 1 writes (5120 + 10240) * 0.5 + 0.5 -> 7680 in the middle, pass 2
    // 6400 and 8960, pass 3 5760, 7040, 8320 and 9600; pass 4 writes nothing.
    // Back: 5760 -> 112.5 -> 112, 7040 -> 137, 8320 -> 162, 9600 -> 187.
    // a = single(2.55) = 2.5499999523, b = -255: 150 gives 127.49999 -> 127.
    {"NinePixelRow16", "0", 1, 9, {100, N, N, N, N, N, N, N, 200}, "1\n9\n3\n100\n200\n30\n", 10, 1, 0,
     {7, 6, 4, 0}, {1, 2, 4}, 100, 200,
     {100, 112, 125, 137, 150, 162, 175, 187, 200},
     {0, 31, 64, 94, 127, 158, 191, 222, 255},
     "1 \n9 \n3 \n100 \n200 \n30"},
    // The same row under a window of degree 3: one row is too few, the
    // smoothing is skipped with its message.
    {"NinePixelRowWindowTooLarge16", "0", 1, 9, {100, N, N, N, N, N, N, N, 200}, "1 9 0 0 0 30", 10, 3, 1,
     {7, 6, 4, 0}, {1, 2, 4}, 100, 200,
     {100, 112, 125, 137, 150, 162, 175, 187, 200},
     {0, 31, 64, 94, 127, 158, 191, 222, 255},
     "1 \n9 \n0 \n0 \n0 \n30"},

    // U U 100 U U at interval 3: 100 becomes trunc(single(17066.67)) = 17066,
    // one pass writes nothing, the gap filling spreads 17066, which comes back
    // as trunc(99.996) = 99. A flat result gives a zero preview.
    {"GapRow16NoOverlay", "0", 1, 5, {N, N, 100, N, N}, "1 5 0 0 0 10", 3, 1, 1,
     {4}, {}, 99, 99, {99, 99, 99, 99, 99}, {0, 0, 0, 0, 0}, "1 \n5 \n0 \n0 \n0 \n10"},

    // Negative midpoints at interval 512 (internal units equal altitudes):
    // between -101 and -99 the midpoint is (-200) * 0.5 + 0.5 = -99.5,
    // truncated toward zero to -99; between -99 and 99 it is 0.5 -> 0, between
    // 99 and 101 it is 100.5 -> 100. Pass 2 has nothing left to treat.
    // a = single(255/202), b = 127.5: 0 gives 127.5 -> 128, -99 gives 2.52 -> 3.
    {"NegativeRow32Overlay", "1", 1, 7, {-101, N, -99, N, 99, N, 101}, "1 7 0 -101 101 2", 512, 1, 0,
     {3, 0}, {3}, -101, 101,
     {-101, -99, -99, 0, 99, 100, 101},
     {0, 3, 3, 128, 252, 254, 255},
     "1 \n7 \n0 \n-101 \n101 \n2"},

    // The 3 x 3 tie-break grid at interval 512: pass 1 writes 350, 250, 200
    // (right neighbour 300 wins over 400 above) and 200; pass 2 writes 325
    // and 175; pass 3 nothing. a = single(0.85) = 0.85000002, b = -85:
    // 350 -> 212.5000083 -> 213, 250 -> 127.500006 -> 128.
    {"TieBreakGrid32NoOverlay", "1", 3, 3, {N, 400, N, N, N, 300, N, 100, N}, "3\n3\n0\n0\n0\n1", 512, 1, 1,
     {6, 2, 0}, {4, 2}, 100, 400,
     {325, 400, 350, 250, 200, 300, 175, 100, 200},
     {191, 255, 213, 128, 85, 170, 64, 0, 85},
     "3 \n3 \n0 \n0 \n0 \n1"},

    // A constant surface of 7 (one contour pixel at row 1, column 1) under a
    // window of degree 3. On a 4 x 4 image the columns get t = 0, 1/3, 2/3, 1.
    // At t = 1/3 the single-precision weights are 0.2962963, 0.44444445,
    // 0.22222222, 0.037037037 and the row sum of 7s, stored in single after
    // each addition, ends at 6.9999995: column 1 truncates to 6. At t = 2/3
    // the same weights in reverse order sum to exactly 7.0, and along y the
    // weights multiply in double (7 * 1.0000000075 >= 7). t = 0 and t = 1
    // take one sample exactly. So column 1 is 6, the rest 7.
    // With the overlay the contour pixel gets its 7 back.
    {"Constant7Maille3Overlay16", "0", 4, 4, one_contour(16, 5, 7), "4 4 0 0 0 1", 512, 3, 0,
     {15}, {}, 6, 7, levels(k7Overlay, 7, 6), levels(k7Overlay, 255, 0), "4 \n4 \n0 \n0 \n0 \n1"},
    {"Constant7Maille3NoOverlay16", "0", 4, 4, one_contour(16, 5, 7), "4 4 0 0 0 1", 512, 3, 1,
     {15}, {}, 6, 7, levels(k7, 7, 6), levels(k7, 255, 0), "4 \n4 \n0 \n0 \n0 \n1"},

    // The same with 100000 (beyond 16 bits) at row 2, column 1: column 1 loses
    // one unit. Preview: a = 255 and b = single(-255 * 99999) =
    // single(-25499745) = -25499744 (a tie, to even), so 100000 gives 256,
    // whose low 8 bits are 0, and 99999 gives 1.
    {"Constant100000Maille3Overlay32", "1", 4, 4, one_contour(16, 9, 100000), "4 4 0 0 0 1", 512, 3, 0,
     {15}, {}, 99999, 100000, levels(k100000Overlay, 100000, 99999), levels(k100000Overlay, 0, 1),
     "4 \n4 \n0 \n0 \n0 \n1"},
    {"Constant100000Maille3NoOverlay32", "1", 4, 4, one_contour(16, 9, 100000), "4 4 0 0 0 1", 512, 3, 1,
     {15}, {}, 99999, 100000, levels(k7, 100000, 99999), levels(k7, 0, 1), "4 \n4 \n0 \n0 \n0 \n1"},

    // A constant surface of 23 (contour pixel at row 2, column 2) under a
    // window of degree 5 on 6 x 6: t = 0, 1/5, 2/5, 3/5, 4/5, 1 along each
    // axis. The single-precision row sums of 23s fall short at t = 2/5 (column
    // 2 gives 22); along y the double sum of weights times 23 falls short at
    // t = 1/5 and 4/5 (rows 1 and 4 give 22). The corners keep 23.
    {"Constant23Maille5Overlay16", "0", 6, 6, one_contour(36, 14, 23), "6 6 0 0 0 1", 512, 5, 0,
     {35}, {}, 22, 23, levels(k23Overlay, 23, 22), levels(k23Overlay, 255, 0), "6 \n6 \n0 \n0 \n0 \n1"},
    {"Constant23Maille5NoOverlay16", "0", 6, 6, one_contour(36, 14, 23), "6 6 0 0 0 1", 512, 5, 1,
     {35}, {}, 22, 23, levels(k23, 23, 22), levels(k23, 255, 0), "6 \n6 \n0 \n0 \n0 \n1"},

    // Width answer 7 reads and writes 32-bit samples. Altitude 1000 at
    // interval 10 is 51200 units everywhere. The single-precision row sums
    // are 51199.996 at t = 1/5 and 4/5 (columns 1 and 4) and 51200.004 at
    // t = 2/5; with the y weights in double the degree-5 window gives 51199
    // at the places below, and 51199 comes back as trunc(999.98) = 999. The
    // contour pixel (row 1, column 1) gets 1000 back with the overlay.
    // a = 255, b = -254745: 1000 -> 255, 999 -> 0.
    {"Constant1000Maille5Overlay32", "7", 6, 6, one_contour(36, 7, 1000), "6 6 0 0 0 1", 10, 5, 0,
     {35}, {}, 999, 1000, levels(k1000Overlay, 1000, 999), levels(k1000Overlay, 255, 0), "6 \n6 \n0 \n0 \n0 \n1"},
    {"Constant1000Maille5NoOverlay32", "7", 6, 6, one_contour(36, 7, 1000), "6 6 0 0 0 1", 10, 5, 1,
     {35}, {}, 999, 1000, levels(k1000, 1000, 999), levels(k1000, 255, 0), "6 \n6 \n0 \n0 \n0 \n1"},

    // 200 rows of 100 on every pixel: no pass writes anything, the smoothing
    // prints its row lines at 100 and 200 and the search of the smallest and
    // largest value its line at 200; the overlay puts every 100 back over the
    // smoothed surface, so the result is flat and the preview all 0.
    {"TallAllContoursMaille3Overlay32", "1", 200, 4, std::vector<std::int64_t>(800, 100), "200 4 0 0 0 5", 512, 3, 0,
     {0}, {}, 100, 100, std::vector<int>(800, 100), std::vector<int>(800, 0), "200 \n4 \n0 \n0 \n0 \n5"},
};

class ClassicRun : public ::testing::TestWithParam<Scenario> {
 protected:
  void SetUp() override {
    const Scenario& s = GetParam();
    ASSERT_EQ(s.input.size(), static_cast<std::size_t>(s.rows * s.cols));
    ASSERT_EQ(s.result.size(), s.input.size());
    ws_.put(wide(s) ? "dem_c4.raw" : "dem_c2.raw", samples(s, s.input));
    ws_.put(wide(s) ? "dem_c4.txt" : "dem_c2.txt", s.header);
  }

  std::string answers() const {
    const Scenario& s = GetParam();
    return "d dem " + std::string(s.itype) + " 0 " + std::to_string(s.equid) + " " + std::to_string(s.maille) + " " +
           std::to_string(s.sur) + "\n";
  }

  // The four output files and nothing else beside the input pair.
  void expect_outputs() const {
    const Scenario& s = GetParam();
    const std::string in = wide(s) ? "_c4" : "_c2", out = wide(s) ? "_m4" : "_m2";
    std::vector<std::string> names = {"dem" + in + ".raw", "dem" + in + ".txt", "dem_m1.raw",
                                      "dem_m1.txt",        "dem" + out + ".raw", "dem" + out + ".txt"};
    std::sort(names.begin(), names.end());
    ASSERT_EQ(ws_.files(), names);
    EXPECT_EQ(ws_.get("dem_m1.raw"), std::string(s.preview.begin(), s.preview.end()));
    EXPECT_EQ(ws_.get("dem" + out + ".raw"), samples(s, std::vector<std::int64_t>(s.result.begin(), s.result.end())));
    EXPECT_EQ(ws_.get("dem_m1.txt"), s.out_header);
    EXPECT_EQ(ws_.get("dem" + out + ".txt"), s.out_header);
  }

  Workspace ws_;
};

TEST_P(ClassicRun, TranscriptAndFiles) {
  const ProcessResult r = ws_.run(answers());
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, without_cues(expected_transcript(GetParam())));
  expect_outputs();
}

// The same run with a recording cue player: every cue at its place among the
// console lines (after the banner, before each question, after the overlay
// answer, at each pass, when the smoothing starts, when saving starts).
TEST_P(ClassicRun, CuesInPlace) {
  const ProcessResult r = ws_.run_recorded(answers());
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, expected_transcript(GetParam()));
  expect_outputs();
}

INSTANTIATE_TEST_SUITE_P(Scenarios, ClassicRun, ::testing::ValuesIn(kScenarios),
                         [](const ::testing::TestParamInfo<Scenario>& info) { return info.param.name; });

}  // namespace
}  // namespace tesk::e2e
