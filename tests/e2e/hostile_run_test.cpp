// Hostile input through the whole program: header texts that make no sense,
// input rasters that are empty, short, long, unreadable or that shrink during
// the run, output files that cannot be created or written (a directory in the
// way, a read-only directory, a full disk), a console that cannot be written,
// extreme sample values, images too large for the memory, and the work a run
// does on real data.
//
// Expected rasters are worked out by hand: into internal units
// trunc(single(v / equid * 512)), back trunc(single(w / 512 * equid)).
#include <climits>
#include <cstdio>

#include "core/units.h"
#include "e2e/e2e_support.h"
#include "io/header.h"
#include "io/raster.h"
#include "stages/pipeline.h"

namespace tesk::e2e {
namespace {

// 2 x 3, 16-bit: every pixel a contour at 100.
const std::string kRaster = le16({100, 100, 100, 100, 100, 100});

bool ends_with(const std::string& s, const std::string& end) {
  return s.size() >= end.size() && s.compare(s.size() - end.size(), end.size(), end) == 0;
}

// Data set a with `raster` and the header `header`, at the width `itype`.
void lay_out(const Workspace& ws, const std::string& raster = kRaster, const std::string& header = "2 3 0 0 0 0",
             int itype = 0) {
  ws.put(itype == 0 ? "a_c2.raw" : "a_c4.raw", raster);
  ws.put(itype == 0 ? "a_c2.txt" : "a_c4.txt", header);
}

TEST(HostileFiles, HeadersWithoutAUsableSizeAreRefusedBeforeAnyOutput) {
  struct Case {
    const char* text;
    const char* size;  // as the message gives it
  };
  const Case cases[] = {
      {"", "0 lignes et 0 colonnes"},
      {"garbage", "0 lignes et 0 colonnes"},
      {"2", "2 lignes et 0 colonnes"},
      {"-2 3 0 0 0 0", "-2 lignes et 3 colonnes"},
      {"2 0 0 0 0 0", "2 lignes et 0 colonnes"},
      {"99999999999 3 0 0 0 0", "0 lignes et 0 colonnes"},  // not an int: reading stops there
      {"2 -2147483648", "2 lignes et -2147483648 colonnes"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    Workspace ws;
    lay_out(ws, kRaster, c.text);
    const ProcessResult r = ws.run("d a 0 0 10 1 1");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(tail_after(r.out, kTypePrompt),
              "\n Taille d'image invalide dans " + ws.at("a_c2.txt") + " : " + c.size + "\n");
    EXPECT_EQ(ws.files(), (std::vector<std::string>{"a_c2.raw", "a_c2.txt"}));
  }
}

TEST(HostileFiles, AskedSizesThatMakeNoSenseAreRefusedToo) {
  Workspace ws;
  ws.put("a_c2.raw", kRaster);
  const ProcessResult r = ws.run("d a 0 0 3 10");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(tail_after(r.out, kPixelPrompt), "\n Taille d'image invalide : 0 lignes et 3 colonnes\n");
  // The created header holds the answers, so the next run names it.
  EXPECT_EQ(ws.get("a_c2.txt"), "0 \n3 \n0 \n0 \n0 \n10");
  const ProcessResult again = ws.run("d a 0");
  EXPECT_EQ(tail_after(again.out, kTypePrompt),
            "\n Taille d'image invalide dans " + ws.at("a_c2.txt") + " : 0 lignes et 3 colonnes\n");
}

TEST(HostileFiles, InputRastersEmptyShortOrLong) {
  // Empty and one byte short of 2 x 3 samples; 32-bit one sample short.
  struct Short {
    std::string bytes;
    int itype;
    std::string message_tail;
  };
  const Short shorts[] = {
      {"", 0, " trop court : 0 octets pour 12 attendus (2 lignes, 3 colonnes)\n"},
      {kRaster.substr(1), 0, " trop court : 11 octets pour 12 attendus (2 lignes, 3 colonnes)\n"},
      {le32({1, 2, 3, 4, 5}), 1, " trop court : 20 octets pour 24 attendus (2 lignes, 3 colonnes)\n"},
  };
  for (const Short& c : shorts) {
    Workspace ws;
    lay_out(ws, c.bytes, "2 3 0 0 0 0", c.itype);
    const ProcessResult r = ws.run("d a " + std::to_string(c.itype) + " 0 10 1 1");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(tail_after(r.out, kTypePrompt), "\n Fichier " + ws.at(c.itype ? "a_c4.raw" : "a_c2.raw") + c.message_tail);
    EXPECT_EQ(ws.files().size(), 2u) << "no output created";
  }
  // Longer than the header says: the extra bytes are ignored. Every pixel
  // is a contour at 100 (interval 10: 5120 internal units and back), so
  // the result is the input and the flat preview is all zeros.
  Workspace ws;
  lay_out(ws, kRaster + "extra bytes that are no samples");
  const ProcessResult r = ws.run("d a 0 0 10 1 1");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(ws.get("a_m2.raw"), kRaster);
  EXPECT_EQ(ws.get("a_m1.raw"), std::string(6, '\0'));
}

TEST(HostileFiles, ARasterThatShrinksDuringTheRunIsAReadError) {
  // 3 x 3 so that a window of degree 2 fits and the smoothing runs. The cue
  // player empties the raster at the n-th play of one cue.
  const std::string raster = le16({100, 65500, 200, 65500, 65500, 65500, 300, 65500, 400});
  struct Case {
    const char* what;
    std::string cue;
    int n;
  };
  const Case cases[] = {
      {"before the first reading", "movpiece.wav", 3},
      {"before the second reading (overlay)", "menuend.wav", 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Workspace ws;
    lay_out(ws, raster, "3 3 0 0 0 0");
    const std::string count = ws.top() + "/count";
    const auto env = ws.player("case \"$1\" in */" + c.cue + ")\n  n=$(($(cat '" + count +
                               "' 2>/dev/null || echo 0) + 1)); echo $n > '" + count + "'\n  [ $n -eq " +
                               std::to_string(c.n) + " ] && : > '" + ws.at("a_c2.raw") + "';;\nesac\nexit 0\n");
    const ProcessResult r = ws.run("d a 0 0 10 2 0", env);
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(ends_with(r.out, "\n Erreur de lecture du fichier " + ws.at("a_c2.raw") + "\n")) << last_chars(r.out);
    EXPECT_EQ(r.out.find("Sauvegarde en cours"), std::string::npos);
    EXPECT_EQ(ws.get("a_m2.raw"), "");
  }
}

TEST(HostileFiles, AnOutputPathTakenByADirectoryStopsTheRun) {
  struct Case {
    const char* blocked;
    const char* message;
    std::vector<std::string> created_before;
  };
  const Case cases[] = {
      {"a_m1.raw", "inconnu", {}},
      {"a_m2.raw", "inconnu", {"a_m1.raw"}},
      {"a_m1.txt", "inconnu", {"a_m1.raw", "a_m2.raw"}},
      {"a_m2.txt", "inexistant", {"a_m1.raw", "a_m2.raw", "a_m1.txt"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.blocked);
    Workspace ws;
    lay_out(ws);
    std::filesystem::create_directory(ws.at(c.blocked));
    const ProcessResult r = ws.run("d a 0 0 10 1 1");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(tail_after(r.out, kRepPrompt), "\n Fichier " + ws.at(c.blocked) + " " + c.message + "\n");
    std::vector<std::string> expected = {"a_c2.raw", "a_c2.txt", c.blocked};
    for (const auto& f : c.created_before) {
      expected.push_back(f);
      EXPECT_EQ(ws.get(f), "") << f << " stays empty";
    }
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(ws.files(), expected);
  }
}

TEST(HostileFiles, AFullDiskUnderAnyOutputFailsTheRun) {
  for (const char* target : {"a_m1.raw", "a_m2.raw", "a_m1.txt", "a_m2.txt"}) {
    SCOPED_TRACE(target);
    Workspace ws;
    lay_out(ws);
    std::filesystem::create_symlink("/dev/full", ws.at(target));
    const ProcessResult r = ws.run("d a 0 0 10 1 1");
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(ends_with(r.out, "\n Erreur d'ecriture du fichier " + ws.at(target) + " : No space left on device\n"))
        << last_chars(r.out);
  }
}

TEST(HostileFiles, AConsoleThatCannotBeWrittenFailsTheRun) {
  Workspace ws;
  lay_out(ws);
  // The results are complete, but the transcript was lost.
  const ProcessResult r = ws.run("d a 0 0 10 1 1", {}, {"/bin/sh", "-c", "exec \"$0\" > /dev/full"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "tesk: erreur d'ecriture de la console : No space left on device\n");
}

// Permissions hold only for an unprivileged user: as root the runs below
// go through setpriv.
class HostilePermissions : public ::testing::Test {
 protected:
  void SetUp() override {
    bool available = false;
    front_ = unprivileged(&available);
    if (!available) GTEST_SKIP() << "running as root without setpriv: permissions cannot be tested";
    Workspace probe;
    probe.open_to_all();
    const ProcessResult r = probe.run("", {}, front_);
    if (r.out.find("Nom du Repertoire") == std::string::npos)
      GTEST_SKIP() << "the executable cannot be run unprivileged here: " << r.err;
  }
  std::vector<std::string> front_;
};

TEST_F(HostilePermissions, UnreadableInputs) {
  // An unreadable raster is reported like a missing one.
  {
    Workspace ws;
    lay_out(ws);
    ws.open_to_all();
    chmod(ws.at("a_c2.raw").c_str(), 0);
    const ProcessResult r = ws.run("d a 0 0 10 1 1", {}, front_);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(tail_after(r.out, kTypePrompt), "\n Fichier " + ws.at("a_c2.raw") + " inexistant\n");
  }
  // An unreadable header is taken as missing: the size is asked.
  Workspace ws;
  lay_out(ws);
  ws.open_to_all();
  chmod(ws.at("a_c2.txt").c_str(), 0);
  const ProcessResult r = ws.run("d a 0 2 3 10 0 10 1 1", {}, front_);
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("\n Absence du fichier " + ws.at("a_c2.txt") + " \n\n"), std::string::npos);
  EXPECT_EQ(ws.get("a_m2.raw"), kRaster);
}

TEST_F(HostilePermissions, AReadOnlyDirectoryStopsTheRunAtTheFirstOutput) {
  Workspace ws;
  lay_out(ws);
  ws.open_to_all();
  chmod(ws.at("").c_str(), 0555);
  const ProcessResult r = ws.run("d a 0 0 10 1 1", {}, front_);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(tail_after(r.out, kRepPrompt), "\n Fichier " + ws.at("a_m1.raw") + " inconnu\n");
  EXPECT_EQ(ws.files(), (std::vector<std::string>{"a_c2.raw", "a_c2.txt"}));
}

TEST(HostileValues, ExtremeSamplesComeBackAsTheRulesSay) {
  struct Case {
    const char* what;
    int itype;
    std::string header, raster;
    std::string answers;   // interval, window, overlay
    std::string expected;  // the full-width output raster
    const char* minmax;    // as the transcript gives them
  };
  const std::string all_nodata = le16({65500, 65500, 65500, 65500, 65500, 65500, 65500, 65500, 65500, 65500, 65500,
                                       65500, 65500, 65500, 65500, 65500});
  const Case cases[] = {
      {"16-bit samples next to the marker and at the top", 0, "1 4 0 0 0 0", le16({65499, 65501, 65535, 0}), "1 1 1",
       le16({65499, 65501, 65535, 0}), "Min=0  Max=65535"},
      // 9999999 -> 51199996 -> 9999999; 10000001 -> 51200004 -> 10000001;
      // 99999999 -> 512000000 (single precision) -> 100000000.
      {"32-bit samples next to the marker and at 99999999, window -5", 1, "1 5 0 0 0 0",
       le32({9999999, 10000001, 99999999, 100000000, -10000000}), "100 -5 1",
       le32({9999999, 10000001, 100000000, 100000000, -10000000}), "Min=-10000000  Max=100000000"},
      // 123456789 / 1000 * 512 = 63209875.97 -> 63209876; back
      // 123456789.06 -> 123456792 (single precision steps of 8).
      {"32-bit sample above 99999999, window 0", 1, "1 1 0 0 0 0", le32({123456789}), "1000 0 1",
       le32({123456792}), "Min=123456792  Max=123456792"},
      // 4194303 * 512 = 2147483136 still fits.
      {"largest samples the internal units hold at interval 1", 1, "1 2 0 0 0 0", le32({4194303, -4194303}), "1 1 1",
       le32({4194303, -4194303}), "Min=-4194303  Max=4194303"},
      // INT_MAX / INT_MAX * 512 = 512, back single(2147483647) = 2^31,
      // held at INT_MAX; INT_MIN gives -512, back exactly INT_MIN.
      {"32-bit limits at the largest interval", 1, "1 2 0 0 0 0", le32({INT_MAX, INT_MIN}), "2147483647 1 1",
       le32({INT_MAX, INT_MIN}), "Min=-2147483648  Max=2147483647"},
      // -7: 1000 -> -73142 -> 999.988... -> 999; 2000 -> -146285 -> 1999;
      // 65535 -> -4793417 -> 65534.998046875, halfway between two singles,
      // rounds to the even one, 65535; 1 -> -73 -> 0.998... -> 0.
      {"negative interval", 0, "1 4 0 0 0 0", le16({1000, 2000, 65535, 1}), "-7 1 1", le16({999, 1999, 65535, 0}),
       "Min=0  Max=65535"},
      // No contour at all: the marker everywhere, even through a window of
      // degree 3 over the 4 x 4 image and the overlay.
      {"all no-data", 0, "4 4 0 0 0 0", all_nodata, "10 3 0", all_nodata, "Min=65500  Max=65500"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Workspace ws;
    lay_out(ws, c.raster, c.header, c.itype);
    const ProcessResult r = ws.run("d a " + std::to_string(c.itype) + " 0 " + c.answers);
    ASSERT_EQ(r.status, 0) << last_chars(r.out);
    EXPECT_EQ(ws.get(c.itype == 0 ? "a_m2.raw" : "a_m4.raw"), c.expected);
    EXPECT_NE(r.out.find(std::string("\n ") + c.minmax), std::string::npos);
    // Windows of 1 and less never smooth.
    EXPECT_EQ(r.out.find("Lissage") != std::string::npos, c.answers == "10 3 0");
  }
}

TEST(HostileValues, ContourValuesPastTheInternalRangeStopTheRun) {
  struct Case {
    std::string raster;
    const char* equid;
    const char* message;
  };
  const Case cases[] = {
      {le32({4194303, 4194304}), "1",
       "\n Valeur 4194304 (ligne 0, colonne 1) trop grande pour l'equidistance 1 : conversion impossible\n"},
      {le32({7, INT_MIN}), "-1",
       "\n Valeur -2147483648 (ligne 0, colonne 1) trop grande pour l'equidistance -1 : conversion impossible\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    Workspace ws;
    lay_out(ws, c.raster, "1 2 0 0 0 0", 1);
    const ProcessResult r = ws.run(std::string("d a 1 0 ") + c.equid + " 1 1");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(tail_after(r.out, kReading), c.message);
    EXPECT_EQ(ws.get("a_m4.raw"), "");
  }
}

// The memory refusal, parsed: what the image needs and what there is, in MiB.
bool parse_refusal(const std::string& tail, unsigned long long& need, unsigned long long& room) {
  char end = 0;
  return std::sscanf(tail.c_str(), "\n Memoire insuffisante : l'image demande %llu Mo, %llu Mo disponible%c", &need,
                     &room, &end) == 3 &&
         end == 's' && tail.back() == '\n' && tail.find('\n', 1) == tail.size() - 1;
}

// The grids the design cannot do without: the input and the result as ints
// and the 8-bit preview, 9 bytes a pixel.
unsigned long long least_mib(unsigned long long rows, unsigned long long cols) {
  return static_cast<unsigned long long>(static_cast<unsigned __int128>(rows) * cols * 9 >> 20);
}

TEST(HostileMemory, SizesPastAnyMemoryAreRefusedWithTheirTrueFigure) {
  // A raster read as it comes (a device): only the memory check stands
  // between the header and the allocation.
  Workspace ws;
  std::filesystem::create_symlink("/dev/zero", ws.at("a_c2.raw"));
  ws.put("a_c2.txt", "2147483647 2147483647 0 0 0 0");
  const ProcessResult r = ws.run("d a 0 0 10 1 1");
  EXPECT_EQ(r.status, 1);
  unsigned long long need = 0, room = 0;
  ASSERT_TRUE(parse_refusal(tail_after(r.out, kTypePrompt), need, room)) << tail_after(r.out, kTypePrompt);
  EXPECT_GE(need, least_mib(2147483647, 2147483647));
  EXPECT_EQ(ws.files(), (std::vector<std::string>{"a_c2.raw", "a_c2.txt"})) << "nothing created";
}

TEST(HostileMemory, ALoweredAddressSpaceLimitIsHonoured) {
  if (kUnderAsan) GTEST_SKIP() << "AddressSanitizer cannot start under a lowered address-space limit";
  if (access("/usr/bin/prlimit", X_OK) != 0) GTEST_SKIP() << "no prlimit";
  const unsigned long long limit = 300ULL * 1000 * 1000;
  const std::vector<std::string> front = {"/usr/bin/prlimit", "--as=" + std::to_string(limit), "--"};
  // 10000 x 10000 pixels (a sparse raster of the right length) is refused
  // with the room the limit leaves; sizes around what the limit allows
  // complete or stop with a message: the process is never killed.
  for (const int side : {10000, 2000, 3000, 4000, 5000}) {
    SCOPED_TRACE(side);
    Workspace ws;
    ws.put("a_c2.raw", "");
    std::filesystem::resize_file(ws.at("a_c2.raw"), 2ULL * side * side);
    ws.put("a_c2.txt", std::to_string(side) + " " + std::to_string(side));
    const ProcessResult r = ws.run("d a 0 0 10 3 0", {}, front);
    ASSERT_NE(r.status, -1) << "killed by a signal";
    unsigned long long need = 0, room = 0;
    const bool refused = parse_refusal(tail_after(r.out, kTypePrompt), need, room);
    if (side == 10000 || r.status == 1) {
      EXPECT_EQ(r.status, 1);
      ASSERT_TRUE(refused) << last_chars(r.out);
      EXPECT_GE(need, least_mib(side, side));
      EXPECT_LT(room, limit >> 20);
      EXPECT_EQ(ws.files(), (std::vector<std::string>{"a_c2.raw", "a_c2.txt"})) << "nothing created";
    } else {
      EXPECT_EQ(r.status, 0);
    }
  }
}

// The pixels visited by the dilation and the gap filling, counted by the
// stages, stay below a small multiple of the pixel count on the real sample
// data sets, where one full sweep of the grid per growth layer (the literal
// form) visits the grid hundreds of times.
TEST(HostileWork, PixelVisitsStayWithinASmallMultipleOfThePixelCount) {
  for (const auto& [name, equid] : {std::pair{"jacksboro_i20", 20}, std::pair{"volcano_i5", 5}}) {
    SCOPED_TRACE(name);
    std::FILE* hf = std::fopen(demo(std::string(name) + "_c2.txt").c_str(), "r");
    ASSERT_NE(hf, nullptr);
    const Header h = read_header(hf);
    std::fclose(hf);
    std::FILE* f1 = std::fopen(demo(std::string(name) + "_c2.raw").c_str(), "rb");
    ASSERT_NE(f1, nullptr);
    RunGrids g;
    g.allocate(h.nb_lig, h.nb_col, false);
    ASSERT_TRUE(lecture(f1, 0, g.itab));
    RunParams p;
    p.ival = kIval16;
    p.equid = equid;
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
    std::printf("%s: %d passes, %lld growth sweeps, dilation %.2f visits a pixel, gap filling %.2f\n", name,
                st.passes, static_cast<long long>(st.growth_sweeps), st.dilation_visits / pixels,
                st.gap_visits / pixels);
    EXPECT_GT(st.dilation_visits, 0);
    EXPECT_LE(st.dilation_visits, 16 * pixels);
    EXPECT_LE(st.gap_visits, 4 * pixels);
    // The literal form would have made one sweep per growth layer.
    EXPECT_LT(st.dilation_visits, static_cast<double>(st.growth_sweeps) * pixels / 2);
  }
}

}  // namespace
}  // namespace tesk::e2e
