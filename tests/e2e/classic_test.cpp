// Whole runs of the classic program: the console transcript byte for byte,
// the sound cues in their places and the four output files, on small
// rasters whose results are worked out by hand from the rules of the run:
// altitudes v become trunc(single(v / equid * 512)) internal units and come
// back as trunc(single(w * (1/512) * equid)); the preview stretches
// [min, max] onto 0..255 with a = 255 / (max - min) and b = -255 * min /
// (max - min) in single precision, each byte arrondi(v * a + b) & 255.
#include "support/test_support.h"

namespace tesk::e2e {
namespace {

constexpr std::int64_t N = -1'000'000'000'000;  // no data: 65500 in 16-bit rasters, 10000000 in 32-bit ones

std::vector<std::int64_t> one_contour(int n, int at, std::int64_t v) {
  std::vector<std::int64_t> s(n, N);
  s[at] = v;
  return s;
}

// A two-level picture drawn row by row: '#' is `hi`, '.' is `lo`.
std::vector<int> levels(const char* picture, int hi, int lo) {
  std::vector<int> v;
  for (const char* p = picture; *p; ++p)
    if (*p == '#' || *p == '.') v.push_back(*p == '#' ? hi : lo);
  return v;
}

struct Scenario {  // itype: the answer to the sample-width question; to_treat, modified: the passes
  const char *name, *itype;
  int rows, cols;
  std::vector<std::int64_t> input;
  const char* header;
  int equid, maille, sur;
  std::vector<int> to_treat, modified;
  int min_al, max_al;
  std::vector<int> result, preview;
  const char* out_header;
};
void PrintTo(const Scenario& s, std::ostream* os) { *os << s.name; }

const char* const k7o = "#.## #### #.## #.##";
const char* const k1e5o = "#.## #.## #### #.##";
const char* const k23o = "##.### ...... ###### ##.### ...... ##.###";
const std::vector<int> kRow = {100, 112, 125, 137, 150, 162, 175, 187, 200}, kRowPreview = {0, 31, 64, 94, 127, 158, 191, 222, 255};

const Scenario kScenarios[] = {
    // 100, 200 at interval 10: 5120, 10240; the passes write 7680, then 6400
    // and 8960, then 5760 ... 9600.  a = single(2.55): 150 gives 127.49999.
    {"NinePixelRow16", "0", 1, 9, {100, N, N, N, N, N, N, N, 200}, "1\n9\n3\n100\n200\n30\n", 10, 1, 0, {7, 6, 4, 0},
     {1, 2, 4}, 100, 200, kRow, kRowPreview, "1 \n9 \n3 \n100 \n200 \n30"},
    // One row is too few for a window of degree 3: skipped with its message.
    {"NinePixelRowWindowTooLarge16", "0", 1, 9, {100, N, N, N, N, N, N, N, 200}, "1 9 0 0 0 30", 10, 3, 1, {7, 6, 4, 0},
     {1, 2, 4}, 100, 200, kRow, kRowPreview, "1 \n9 \n0 \n0 \n0 \n30"},
    // 100 at interval 3 is 17066, spread by the gap filling, back 99; flat: preview 0.
    {"GapRow16NoOverlay", "0", 1, 5, {N, N, 100, N, N}, "1 5 0 0 0 10", 3, 1, 1, {4}, {}, 99, 99, {99, 99, 99, 99, 99},
     {0, 0, 0, 0, 0}, "1 \n5 \n0 \n0 \n0 \n10"},
    // At interval 512 units are altitudes: -99.5 truncates to -99, 0.5 to 0,
    // 100.5 to 100.  a = single(255/202), b = 127.5.
    {"NegativeRow32Overlay", "1", 1, 7, {-101, N, -99, N, 99, N, 101}, "1 7 0 -101 101 2", 512, 1, 0, {3, 0}, {3}, -101,
     101, {-101, -99, -99, 0, 99, 100, 101}, {0, 3, 3, 128, 252, 254, 255}, "1 \n7 \n0 \n-101 \n101 \n2"},
    // The right neighbour 300 wins over 400 above.  a = single(0.85), b = -85.
    {"TieBreakGrid32NoOverlay", "1", 3, 3, {N, 400, N, N, N, 300, N, 100, N}, "3\n3\n0\n0\n0\n1", 512, 1, 1, {6, 2, 0},
     {4, 2}, 100, 400, {325, 400, 350, 250, 200, 300, 175, 100, 200}, {191, 255, 213, 128, 85, 170, 64, 0, 85},
     "3 \n3 \n0 \n0 \n0 \n1"},
    // Constant 7, degree 3 on 4 x 4: at t = 1/3 the single-precision row sum
    // is 6.9999995 (column 1 gives 6), at 2/3 exactly 7; the overlay puts 7 back.
    {"Constant7Maille3Overlay16", "0", 4, 4, one_contour(16, 5, 7), "4 4 0 0 0 1", 512, 3, 0, {15}, {}, 6, 7,
     levels(k7o, 7, 6), levels(k7o, 255, 0), "4 \n4 \n0 \n0 \n0 \n1"},
    // 100000: b = single(-25499745) = -25499744 (a tie, to even), so 100000
    // gives 256, whose low 8 bits are 0, and 99999 gives 1.
    {"Constant100000Maille3Overlay32", "1", 4, 4, one_contour(16, 9, 100000), "4 4 0 0 0 1", 512, 3, 0, {15}, {}, 99999,
     100000, levels(k1e5o, 100000, 99999), levels(k1e5o, 0, 1), "4 \n4 \n0 \n0 \n0 \n1"},
    // Degree 5 on 6 x 6: the row sums of 23s fall short at t = 2/5, the
    // double sums along y at t = 1/5 and 4/5; the corners keep 23.
    {"Constant23Maille5Overlay16", "0", 6, 6, one_contour(36, 14, 23), "6 6 0 0 0 1", 512, 5, 0, {35}, {}, 22, 23,
     levels(k23o, 23, 22), levels(k23o, 255, 0), "6 \n6 \n0 \n0 \n0 \n1"},
    // At interval 29, 3710 is 65500 internal units, the 16-bit file marker:
    // inside it is an altitude like any other, and comes back 3709.
    {"MarkerValueInside16", "0", 1, 3, {3710, N, 3710}, "1 3 0 0 0 1", 29, 1, 0, {1}, {}, 3709, 3709,
     {3709, 3709, 3709}, {0, 0, 0}, "1 \n3 \n0 \n0 \n0 \n1"},
    // 200 rows: row lines of the smoothing at 100 and 200, of the saving at 200.
    {"TallAllContoursMaille3Overlay32", "1", 200, 4, std::vector<std::int64_t>(800, 100), "200 4 0 0 0 5", 512, 3, 0,
     {0}, {}, 100, 100, std::vector<int>(800, 100), std::vector<int>(800, 0), "200 \n4 \n0 \n0 \n0 \n5"},
};

bool wide(const Scenario& s) { return std::string(s.itype) != "0"; }

std::string samples(const Scenario& s, const std::vector<std::int64_t>& values) {
  std::string bytes;
  for (std::int64_t v : values)
    bytes += wide(s) ? le32({static_cast<std::int32_t>(v == N ? 10000000 : v)})
                     : le16({static_cast<std::uint16_t>(v == N ? 65500 : v)});
  return bytes;
}

std::string expected_transcript(const Scenario& s) {
  const std::string m = std::to_string(s.maille);
  std::string t = opening() + image_size(s.rows, s.cols) + reuse_question("dem") + questions() +
                  passes(s.to_treat, s.modified);
  if (s.maille <= 1) {
    t += "\n";
  } else if (s.rows <= s.maille || s.cols <= s.maille) {
    t += "\n\n Image trop petite pour la maille " + m + " (" + std::to_string(s.maille + 1) + " x " +
         std::to_string(s.maille + 1) + " pixels au moins) : lissage non effectue\n";
  } else {
    t += "\n\n\n Lissage Maille " + m + " \n" + cue("menuend.wav");
    for (int i = 100; i <= s.rows; i += 100) t += "\tligne " + std::to_string(i) + "                    \r    ";
  }
  t += "\n\n Sauvegarde en cours\n" + cue("Fanfare2.wav");
  for (int i = 200; i <= s.rows; i += 200) t += " ligne " + std::to_string(i) + "\n";
  return t + "\n Min=" + std::to_string(s.min_al) + "  Max=" + std::to_string(s.max_al) + "\n";
}

class ClassicRun : public ::testing::TestWithParam<Scenario> {
 protected:
  void check(bool recorded) {
    const Scenario& s = GetParam();
    const std::string in = wide(s) ? "dem_c4" : "dem_c2", out = wide(s) ? "dem_m4" : "dem_m2";
    ws_.put(in + ".raw", samples(s, s.input));
    ws_.put(in + ".txt", s.header);
    const std::string answers = "d dem " + std::string(s.itype) + " 0 " + m(s.equid) + " " + m(s.maille) + " " + m(s.sur);
    const ProcessResult r = recorded ? ws_.run_recorded(answers) : ws_.run(answers);
    EXPECT_EQ(std::tuple(r.status, r.err), std::tuple(0, std::string()));
    EXPECT_EQ(r.out, recorded ? expected_transcript(s) : without_cues(expected_transcript(s)));
    std::vector<std::string> names = {in + ".raw", in + ".txt", "dem_m1.raw", "dem_m1.txt", out + ".raw", out + ".txt"};
    std::sort(names.begin(), names.end());
    ASSERT_EQ(ws_.files(), names);
    EXPECT_EQ(ws_.get("dem_m1.raw"), std::string(s.preview.begin(), s.preview.end()));
    EXPECT_EQ(ws_.get(out + ".raw"), samples(s, std::vector<std::int64_t>(s.result.begin(), s.result.end())));
    EXPECT_EQ(ws_.get("dem_m1.txt") + "|" + ws_.get(out + ".txt"), s.out_header + ("|" + std::string(s.out_header)));
  }
  static std::string m(int v) { return std::to_string(v); }
  Workspace ws_;
};

TEST_P(ClassicRun, TranscriptAndFiles) { check(false); }
// Every cue among the console lines: after the banner, before each
// question, after the overlay answer, at each pass, smoothing and saving.
TEST_P(ClassicRun, CuesInPlace) { check(true); }

INSTANTIATE_TEST_SUITE_P(Scenarios, ClassicRun, ::testing::ValuesIn(kScenarios),
                         [](const ::testing::TestParamInfo<Scenario>& info) { return info.param.name; });

// No header: the size is asked and a header created that the next run
// finds; reuse-or-new answers 2 and -1 repeat the question, 1 asks a name.
// 100 U 201 at interval 512: the midpoint 151; preview 151 -> 128.76 -> 129.
TEST(ClassicDialogue, MissingHeaderIsAskedForAndCreatedThenFoundByTheNextRun) {
  Workspace ws;
  ws.put("dem_c2.raw", le16({100, 65500, 201}));
  const std::string computation = questions() + passes({1, 0}, {1}) + "\n\n\n Sauvegarde en cours\n" +
                                  cue("Fanfare2.wav") + "\n Min=100  Max=201\n";
  const ProcessResult first = ws.run_recorded("d\ndem\n0\n1\n3\n5\n2\n-1\n1\nout1\n512\n1\n0\n");
  EXPECT_EQ(first.status, 0);
  EXPECT_EQ(first.out, opening() + "\n Absence du fichier " + ws.at("dem_c2.txt") + " \n\n" + kRowsPrompt +
                           kColsPrompt + kPixelPrompt + image_size(1, 3) + reuse_question("dem") +
                           reuse_question("dem") + reuse_question("dem") + kNewPrompt + computation);
  EXPECT_EQ(ws.files(), (std::vector<std::string>{"dem_c2.raw", "dem_c2.txt", "out1_m1.raw", "out1_m1.txt",
                                                  "out1_m2.raw", "out1_m2.txt"}));
  const ProcessResult second = ws.run("d\ndem\n0\n0\n512\n1\n0\n");
  EXPECT_EQ(second.status, 0);
  EXPECT_EQ(second.out, without_cues(opening() + image_size(1, 3) + reuse_question("dem") + computation));
  for (const char* base : {"dem", "out1"}) {
    EXPECT_EQ(ws.get(std::string(base) + "_m1.raw"), std::string("\x00\x81\xff", 3));
    EXPECT_EQ(ws.get(std::string(base) + "_m2.raw"), le16({100, 151, 201}));
    for (const char* h : {"_m1.txt", "_m2.txt"}) EXPECT_EQ(ws.get(base + std::string(h)), "1 \n3 \n0 \n0 \n0 \n5");
  }
  EXPECT_EQ(ws.get("dem_c2.txt"), "1 \n3 \n0 \n0 \n0 \n5");
}

}  // namespace
}  // namespace tesk::e2e
