// Hostile files: header texts that make no sense, input rasters that are
// missing, empty, short, long, unreadable or that shrink during the run,
// output files that cannot be created or written (a directory in the way, a
// read-only directory, a full disk), a console that cannot be written.
#include <gtest/gtest.h>

#include <filesystem>

#include "hostile_e2e.h"

namespace tesk::hostile {
namespace {

const std::string kType = "\n Image :\n\t0 ====> 16 bits\n\t1 ====> 32 bits\n\t";
const std::string kRep = "\n 1 -----> Creation d'un nouveau Fichier ? ";

// 2 x 3, 16-bit: one contour pixel per column of the first row.
const std::string kRaster = testing::le16({100, 100, 100, 100, 100, 100});

bool ends_with(const std::string& s, const std::string& end) {
  return s.size() >= end.size() && s.compare(s.size() - end.size(), end.size(), end) == 0;
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
    Scratch s;
    s.put("a_c2.raw", kRaster);
    s.put("a_c2.txt", c.text);
    const ProcessResult r = s.run("d a 0 0 10 1 1");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(tail_after(r.out, kType),
              "\n Taille d'image invalide dans " + s.at("a_c2.txt") + " : " + c.size + "\n");
    EXPECT_EQ(s.files(), (std::vector<std::string>{"a_c2.raw", "a_c2.txt"}));
  }
}

TEST(HostileFiles, AskedSizesThatMakeNoSenseAreRefusedToo) {
  Scratch s;
  s.put("a_c2.raw", kRaster);
  const ProcessResult r = s.run("d a 0 0 3 10");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(tail_after(r.out, "\n\tTaille du pixel ? "), "\n Taille d'image invalide : 0 lignes et 3 colonnes\n");
  // The created header holds the answers, so the next run names it.
  EXPECT_EQ(testing::read_file(s.at("a_c2.txt")), "0 \n3 \n0 \n0 \n0 \n10");
  const ProcessResult again = s.run("d a 0");
  EXPECT_EQ(tail_after(again.out, kType),
            "\n Taille d'image invalide dans " + s.at("a_c2.txt") + " : 0 lignes et 3 colonnes\n");
}

TEST(HostileFiles, InputRastersMissingEmptyShortOrLong) {
  // Missing, or a directory: nothing is created, not even a header.
  for (const bool as_directory : {false, true}) {
    Scratch s;
    s.put("a_c2.txt", "2 3 0 0 0 0");
    if (as_directory) std::filesystem::create_directory(s.at("a_c2.raw"));
    const ProcessResult r = s.run("d a 0 0 10 1 1");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(tail_after(r.out, kType), "\n Fichier " + s.at("a_c2.raw") + " inexistant\n");
    EXPECT_EQ(s.files().size(), as_directory ? 2u : 1u);
  }
  // Empty and one byte short of 2 x 3 samples; 32-bit one sample short.
  struct Short {
    std::string bytes;
    int itype;
    std::string message_tail;
  };
  const Short shorts[] = {
      {"", 0, " trop court : 0 octets pour 12 attendus (2 lignes, 3 colonnes)\n"},
      {kRaster.substr(1), 0, " trop court : 11 octets pour 12 attendus (2 lignes, 3 colonnes)\n"},
      {testing::le32({1, 2, 3, 4, 5}), 1, " trop court : 20 octets pour 24 attendus (2 lignes, 3 colonnes)\n"},
  };
  for (const Short& c : shorts) {
    Scratch s;
    const std::string raw = c.itype == 0 ? "a_c2.raw" : "a_c4.raw";
    s.put(raw, c.bytes);
    s.put(c.itype == 0 ? "a_c2.txt" : "a_c4.txt", "2 3 0 0 0 0");
    const ProcessResult r = s.run("d a " + std::to_string(c.itype) + " 0 10 1 1");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(tail_after(r.out, kType), "\n Fichier " + s.at(raw) + c.message_tail);
    EXPECT_EQ(s.files().size(), 2u) << "no output created";
  }
  // Longer than the header says: the extra bytes are ignored.  Every pixel
  // is a contour at 100 (interval 10: 5120 internal units and back), so
  // the result is the input and the flat preview is all zeros.
  Scratch s;
  s.put("a_c2.raw", kRaster + "extra bytes that are no samples");
  s.put("a_c2.txt", "2 3 0 0 0 0");
  const ProcessResult r = s.run("d a 0 0 10 1 1");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(testing::read_file(s.at("a_m2.raw")), kRaster);
  EXPECT_EQ(testing::read_file(s.at("a_m1.raw")), std::string(6, '\0'));
}

// A cue player that empties the input raster at the n-th play of one cue:
// the raster shrinks while the run uses it.
void install_shrinking_player(const Scratch& s, const std::string& cue, int n, const std::string& raster,
                              std::vector<std::string>& env) {
  const std::string sounds = s.root / "sounds";
  std::filesystem::create_directory(sounds);
  for (const char* f : {"drumbl.wav", "menuend.wav", "movpiece.wav", "menuloop.wav", "Fanfare2.wav"})
    testing::write_file(sounds + "/" + f, "");
  const std::string player = s.root / "player.sh";
  testing::write_file(player,
                      "#!/bin/sh\n"
                      "case \"$1\" in\n"
                      "  */" + cue + ")\n"
                      "    n=$(cat \"" + s.root.path() + "/count\" 2>/dev/null || echo 0)\n"
                      "    n=$((n + 1)); echo $n > \"" + s.root.path() + "/count\"\n"
                      "    if [ $n -eq " + std::to_string(n) + " ]; then : > \"" + raster + "\"; fi;;\n"
                      "esac\n");
  std::filesystem::permissions(player, std::filesystem::perms::owner_all);
  env = {"TESK_SOUND_PLAYER=" + player};
  env.push_back("TESK_SOUNDS=" + sounds);
}

TEST(HostileFiles, ARasterThatShrinksDuringTheRunIsAReadError) {
  // 3 x 3 so that a window of degree 2 fits and the smoothing runs.
  const std::string raster = testing::le16({100, 65500, 200, 65500, 65500, 65500, 300, 65500, 400});
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
    Scratch s;
    s.put("a_c2.raw", raster);
    s.put("a_c2.txt", "3 3 0 0 0 0");
    std::vector<std::string> env;
    install_shrinking_player(s, c.cue, c.n, s.at("a_c2.raw"), env);
    const ProcessResult r = s.run("d a 0 0 10 2 0", {}, env);
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(ends_with(r.out, "\n Erreur de lecture du fichier " + s.at("a_c2.raw") + "\n")) << r.out;
    EXPECT_EQ(r.out.find("Sauvegarde en cours"), std::string::npos);
    EXPECT_EQ(testing::read_file(s.at("a_m2.raw")), "");
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
    Scratch s;
    s.put("a_c2.raw", kRaster);
    s.put("a_c2.txt", "2 3 0 0 0 0");
    std::filesystem::create_directory(s.at(c.blocked));
    const ProcessResult r = s.run("d a 0 0 10 1 1");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(tail_after(r.out, kRep), std::string("\n Fichier ") + s.at(c.blocked) + " " + c.message + "\n");
    std::vector<std::string> expected = {"a_c2.raw", "a_c2.txt", c.blocked};
    for (const auto& f : c.created_before) {
      expected.push_back(f);
      EXPECT_EQ(testing::read_file(s.at(f)), "") << f << " stays empty";
    }
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(s.files(), expected);
  }
}

TEST(HostileFiles, AFullDiskUnderAnyOutputFailsTheRun) {
  for (const char* target : {"a_m1.raw", "a_m2.raw", "a_m1.txt", "a_m2.txt"}) {
    SCOPED_TRACE(target);
    Scratch s;
    s.put("a_c2.raw", kRaster);
    s.put("a_c2.txt", "2 3 0 0 0 0");
    std::filesystem::create_symlink("/dev/full", s.at(target));
    const ProcessResult r = s.run("d a 0 0 10 1 1");
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(ends_with(r.out, "\n Erreur d'ecriture du fichier " + s.at(target) +
                                     " : No space left on device\n"))
        << r.out.substr(r.out.size() > 200 ? r.out.size() - 200 : 0);
  }
}

TEST(HostileFiles, AConsoleThatCannotBeWrittenFailsTheRun) {
  Scratch s;
  s.put("a_c2.raw", kRaster);
  s.put("a_c2.txt", "2 3 0 0 0 0");
  // The results are complete, but the transcript was lost.
  const ProcessResult r = s.run("d a 0 0 10 1 1", {"/bin/sh", "-c", "exec \"$0\" > /dev/full"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "tesk: erreur d'ecriture de la console : No space left on device\n");
}

// Permissions hold only for an unprivileged user: as root the runs below
// go through setpriv.
class HostilePermissions : public ::testing::Test {
 protected:
  void SetUp() override {
    front_ = unprivileged(&available_);
    if (!available_) GTEST_SKIP() << "running as root without setpriv: permissions cannot be tested";
    Scratch probe;
    open_to_all(probe);
    const ProcessResult r = probe.run("", front_);
    if (r.out.find("Nom du Repertoire") == std::string::npos)
      GTEST_SKIP() << "the executable cannot be run unprivileged here: " << r.err;
  }
  std::vector<std::string> front_;
  bool available_ = false;
};

TEST_F(HostilePermissions, UnreadableInputs) {
  // An unreadable raster is reported like a missing one.
  {
    Scratch s;
    s.put("a_c2.raw", kRaster);
    s.put("a_c2.txt", "2 3 0 0 0 0");
    open_to_all(s);
    chmod(s.at("a_c2.raw").c_str(), 0);
    const ProcessResult r = s.run("d a 0 0 10 1 1", front_);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(tail_after(r.out, kType), "\n Fichier " + s.at("a_c2.raw") + " inexistant\n");
  }
  // An unreadable header is taken as missing: the size is asked.
  {
    Scratch s;
    s.put("a_c2.raw", kRaster);
    s.put("a_c2.txt", "2 3 0 0 0 0");
    open_to_all(s);
    chmod(s.at("a_c2.txt").c_str(), 0);
    const ProcessResult r = s.run("d a 0 2 3 10 0 10 1 1", front_);
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("\n Absence du fichier " + s.at("a_c2.txt") + " \n\n"), std::string::npos);
    EXPECT_EQ(testing::read_file(s.at("a_m2.raw")), kRaster);
  }
}

TEST_F(HostilePermissions, AReadOnlyDirectoryStopsTheRunAtTheFirstOutput) {
  Scratch s;
  s.put("a_c2.raw", kRaster);
  s.put("a_c2.txt", "2 3 0 0 0 0");
  open_to_all(s);
  chmod(s.dir.c_str(), 0555);
  const ProcessResult r = s.run("d a 0 0 10 1 1", front_);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(tail_after(r.out, kRep), "\n Fichier " + s.at("a_m1.raw") + " inconnu\n");
  EXPECT_EQ(s.files(), (std::vector<std::string>{"a_c2.raw", "a_c2.txt"}));
}

}  // namespace
}  // namespace tesk::hostile
