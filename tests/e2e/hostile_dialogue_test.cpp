// The classic dialogue under hostile answers: every prompt meets the end of
// the input or an answer that is not a number; answers asked again; very
// long names and names with "/" and "..".
#include <gtest/gtest.h>

#include "hostile_e2e.h"

namespace tesk::hostile {
namespace {

const std::string kDir = "\n\n Nom du Repertoire : ";
const std::string kName = "\n\n Nom du fichier a traiter (sans extension _c2.raw or _c4.raw) ? ";
const std::string kType = "\n Image :\n\t0 ====> 16 bits\n\t1 ====> 32 bits\n\t";
const std::string kRows = "\n\tNombre de lignes   ? ";
const std::string kCols = "\n\tNombre de colonnes ? ";
const std::string kPixel = "\n\tTaille du pixel ? ";
const std::string kRep = "\n 1 -----> Creation d'un nouveau Fichier ? ";
const std::string kNew = "\n\n Nom du fichier a creer (sans extension _m2.raw ou _m4.raw) ? ";
const std::string kEquid = "\n\n Equidistance des courbes de niveau ? ";
const std::string kMaille = "\n\n Taille de la maille de lissage (1, 3 ou 5) ? ";
const std::string kSur = "\n 0 -----> Oui;\t1 -----> Non      ";

const std::string kEnd = "\n Fin des donnees en entree : reponse attendue, traitement abandonne\n";
const std::string kRange = "\n Reponse hors limites : nombre entier entre -2147483648 et 2147483647 attendu\n";
std::string unreadable(const std::string& word) {
  return "\n Reponse \"" + word + "\" illisible : nombre entier attendu\n";
}

// Data set a: 2 x 3, 16-bit, with its header.  Data set m: the same raster
// without a header (its size is asked).
void lay_out(const Scratch& s) {
  const std::string raster = testing::le16({100, 65500, 200, 65500, 65500, 300});
  s.put("a_c2.raw", raster);
  s.put("a_c2.txt", "2 3 0 0 0 10");
  s.put("m_c2.raw", raster);
}

const std::vector<std::string> kInputsOnly = {"a_c2.raw", "a_c2.txt", "m_c2.raw"};
const std::vector<std::string> kWithOutputs = {"a_c2.raw", "a_c2.txt", "a_m1.raw", "a_m1.txt",
                                               "a_m2.raw", "a_m2.txt", "m_c2.raw"};

struct Stop {
  const char* what;
  std::string answers;
  std::string last_prompt;
  std::string message;  // everything printed after the last prompt
  bool outputs_created;
};

TEST(HostileDialogue, EveryPromptStopsCleanlyOnEndOfInputOrAWrongAnswer) {
  const Stop stops[] = {
      {"empty input", "", kDir, kEnd, false},
      {"end at the name", "d", kName, kEnd, false},
      {"end at the width", "d a", kType, kEnd, false},
      {"end at the rows", "d m 0", kRows, kEnd, false},
      {"end at the columns", "d m 0 2", kCols, kEnd, false},
      {"end at the pixel size", "d m 0 2 3", kPixel, kEnd, false},
      {"end at reuse-or-new", "d a 0", kRep, kEnd, false},
      {"end at the new name", "d a 0 1", kNew, kEnd, false},
      {"end at the interval", "d a 0 0", kEquid, kEnd, true},
      {"end at the window", "d a 0 0 10", kMaille, kEnd, true},
      {"end at the overlay", "d a 0 0 10 1", kSur, kEnd, true},
      {"words at the width", "d a x16", kType, unreadable("x16"), false},
      {"word at the rows", "d m 0 deux", kRows, unreadable("deux"), false},
      {"word at the columns", "d m 0 2 trois", kCols, unreadable("trois"), false},
      {"word at the pixel size", "d m 0 2 3 ?", kPixel, unreadable("?"), false},
      {"word at reuse-or-new", "d a 0 oui", kRep, unreadable("oui"), false},
      {"word at the interval", "d a 0 0 dix", kEquid, unreadable("dix"), true},
      {"decimal interval leaves .5 for the window", "d a 0 0 10.5", kMaille, unreadable(".5"), true},
      {"word at the overlay", "d a 0 0 10 1 non", kSur, unreadable("non"), true},
      {"sign alone", "d a 0 0 -", kEquid, unreadable(""), true},
      {"interval past the int range", "d a 0 0 99999999999", kEquid, kRange, true},
      {"window past the int range", "d a 0 0 10 -2147483649", kMaille, kRange, true},
      {"pixel size 25m: the m goes to the next question", "d m 0 2 3 25m", kRep, unreadable("m"), false},
  };
  for (const Stop& stop : stops) {
    SCOPED_TRACE(stop.what);
    Scratch s;
    lay_out(s);
    const ProcessResult r = s.run(stop.answers);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(tail_after(r.out, stop.last_prompt), stop.message);
    EXPECT_EQ(r.err, "");
    if (stop.outputs_created) {
      EXPECT_EQ(s.files(), kWithOutputs);
      // The header is written; the rasters stay empty: the status tells the
      // run failed.
      EXPECT_EQ(testing::read_file(s.at("a_m2.txt")), "2 \n3 \n0 \n0 \n0 \n10");
      EXPECT_EQ(testing::read_file(s.at("a_m2.raw")), "");
    } else if (stop.answers == "d m 0 2 3 25m") {
      // The three size answers were given: the header was created.
      EXPECT_EQ(testing::read_file(s.at("m_c2.txt")), "2 \n3 \n0 \n0 \n0 \n25");
    } else {
      EXPECT_EQ(s.files(), kInputsOnly);
    }
  }
}

std::size_t count(const std::string& text, const std::string& part) {
  std::size_t n = 0;
  for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

TEST(HostileDialogue, RefusedAnswersAreAskedAgainOnlyWithNewInput) {
  Scratch s;
  lay_out(s);
  // Reuse-or-new: 2 and -1 ask again.  Interval 0 asks again.  Window 34
  // (its binomial coefficients leave 32 bits) asks again.
  const ProcessResult r = s.run("d a 0 2 -1 0 0 10 34 1 1\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(count(r.out, kRep), 3u);
  EXPECT_EQ(count(r.out, kEquid), 2u);
  EXPECT_EQ(count(r.out, "\n L'equidistance doit etre differente de 0\n"), 1u);
  EXPECT_EQ(count(r.out, kMaille), 2u);
  EXPECT_EQ(count(r.out, "\n Maille trop grande : 33 au plus\n"), 1u);

  // Interval 0 until the input ends: asked once more per 0, then stopped.
  Scratch t;
  lay_out(t);
  const ProcessResult r2 = t.run("d a 0 0 0 0 0");
  EXPECT_EQ(r2.status, 1);
  EXPECT_EQ(count(r2.out, kEquid), 4u);
  EXPECT_EQ(tail_after(r2.out, kEquid), kEnd);
}

TEST(HostileDialogue, LongNamesAreUsedWholeAndNeverOverflow) {
  // A directory name of 5000 characters: no such directory; the message
  // gives the whole path.
  {
    Scratch s;
    lay_out(s);
    const std::string longdir(5000, 'x');
    const ProcessResult r = s.run(longdir + " a 0");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(tail_after(r.out, kType), "\n Fichier " + s.root.path() + "/" + longdir + "/a_c2.raw inexistant\n");
  }
  // A base name longer than a file name may be (255 bytes).
  {
    Scratch s;
    lay_out(s);
    const std::string longname(300, 'n');
    const ProcessResult r = s.run("d " + longname + " 0");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(tail_after(r.out, kType), "\n Fichier " + s.dir + "/" + longname + "_c2.raw inexistant\n");
  }
  // A directory name of about 4000 characters that names the data set
  // directory: the run completes there.
  {
    Scratch s;
    lay_out(s);
    std::string walk = "d";
    for (int k = 0; k < 2000; ++k) walk += "/.";
    const ProcessResult r = s.run(walk + " a 0 0 10 1 1");
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("\n            2 LIGNES\n"), std::string::npos);
    EXPECT_EQ(s.files(), kWithOutputs);
    EXPECT_EQ(testing::read_file(s.at("a_m2.raw")).size(), 12u);
  }
}

TEST(HostileDialogue, NamesWithSlashesAndDotDotAreUsedAsTyped) {
  Scratch s;
  lay_out(s);
  std::filesystem::create_directory(s.at("sub"));
  s.put("sub/b_c4.raw", testing::le32({7, 10000000}));
  s.put("sub/b_c4.txt", "1 2 0 0 0 0");
  // Directory "d/../d", base name "sub/b", 32-bit, new output name
  // "../out": the outputs land in the data root itself.
  const ProcessResult r = s.run("d/../d sub/b 1 1 ../out 1 1 1");
  EXPECT_EQ(r.status, 0);
  for (const char* f : {"out_m1.raw", "out_m1.txt", "out_m4.raw", "out_m4.txt"})
    EXPECT_TRUE(testing::file_exists(s.root / f)) << f;
  // 7 stays 7; the no-data pixel is filled from its only neighbour.
  EXPECT_EQ(testing::read_file(s.root / "out_m4.raw"), testing::le32({7, 7}));
}

}  // namespace
}  // namespace tesk::hostile
