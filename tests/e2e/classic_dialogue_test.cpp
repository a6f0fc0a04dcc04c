// The classic dialogue through the executable: a missing input header (the
// size questions and the header they create), the reuse-or-new question, a
// missing input raster, and every prompt under hostile answers: the end of
// the input, words where numbers are expected, refused values asked again,
// very long names and names with "/" and "..".
#include "e2e/e2e_support.h"

namespace tesk::e2e {
namespace {

// One row 100 U 201 at interval 512 (internal units equal altitudes): the
// first pass grows 100 into the gap and writes (100 + 201) * 0.5 + 0.5 =
// 151 there; the second has nothing to treat. Preview: a = single(255/101),
// b = single(-25500/101); 151 gives 128.76 -> 129.
const std::string kRowRaster = le16({100, 65500, 201});
const std::string kRowPreview = std::string("\x00\x81\xff", 3);
const std::string kRowResult = le16({100, 151, 201});
// The three answers 1 row, 3 columns, pixel size 5, in the output format.
const std::string kRowHeader = "1 \n3 \n0 \n0 \n0 \n5";

TEST(ClassicDialogue, MissingHeaderIsAskedForAndCreatedThenFoundByTheNextRun) {
  Workspace ws;
  ws.put("dem_c2.raw", kRowRaster);
  const std::string computation = questions() + passes({1, 0}, {1}) + "\n" + saving(100, 201) + "\n";

  // First run: no header. Size answers 1, 3, 5; reuse-or-new answers 2 and -1
  // repeat the question, 1 asks for the new name out1.
  const ProcessResult first = ws.run_recorded("d\ndem\n0\n1\n3\n5\n2\n-1\n1\nout1\n512\n1\n0\n");
  EXPECT_EQ(first.status, 0);
  EXPECT_EQ(first.out, opening() + "\n Absence du fichier " + ws.at("dem_c2.txt") + " \n\n" + kRowsPrompt +
                           kColsPrompt + kPixelPrompt + image_size(1, 3) + reuse_question("dem") +
                           reuse_question("dem") + reuse_question("dem") + kNewPrompt + computation);
  EXPECT_EQ(ws.files(), (std::vector<std::string>{"dem_c2.raw", "dem_c2.txt", "out1_m1.raw", "out1_m1.txt",
                                                  "out1_m2.raw", "out1_m2.txt"}));
  for (const char* header : {"dem_c2.txt", "out1_m1.txt", "out1_m2.txt"}) EXPECT_EQ(ws.get(header), kRowHeader);
  EXPECT_EQ(ws.get("out1_m1.raw"), kRowPreview);
  EXPECT_EQ(ws.get("out1_m2.raw"), kRowResult);

  // Second run on the same data set: the created header is read, nothing
  // about the size is asked, and answer 0 keeps the name dem.
  const ProcessResult second = ws.run("d\ndem\n0\n0\n512\n1\n0\n");
  EXPECT_EQ(second.status, 0);
  EXPECT_EQ(second.out, without_cues(opening() + image_size(1, 3) + reuse_question("dem") + computation));
  EXPECT_EQ(ws.get("dem_m1.txt"), kRowHeader);
  EXPECT_EQ(ws.get("dem_m2.txt"), kRowHeader);
  EXPECT_EQ(ws.get("dem_m1.raw"), kRowPreview);
  EXPECT_EQ(ws.get("dem_m2.raw"), kRowResult);
}

// A missing input raster ends the run at once with exit status 1: nothing is
// created, not even a missing header. A width answer of 7 looks for the
// 32-bit raster; a directory in the raster's place counts as missing.
TEST(ClassicDialogue, MissingRasterStopsBeforeAnyFileIsCreated) {
  struct Case {
    const char* what;
    const char* itype;
    std::vector<std::string> present;  // files written before the run
    std::string missing;               // the raster the message names
    bool raster_is_directory = false;
  };
  const Case cases[] = {
      {"16-bit raster absent, header present", "0", {"dem_c2.txt"}, "dem_c2.raw"},
      {"nothing at all", "0", {}, "dem_c2.raw"},
      {"width 7 looks for the 32-bit raster", "7", {"dem_c2.raw", "dem_c2.txt"}, "dem_c4.raw"},
      {"directory in the raster's place", "1", {"dem_c4.txt"}, "dem_c4.raw", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Workspace ws;
    for (const std::string& f : c.present) ws.put(f, "1 3 0 0 0 5");
    if (c.raster_is_directory) std::filesystem::create_directory(ws.at(c.missing));
    const std::vector<std::string> before = ws.files();

    const ProcessResult r = ws.run("d\ndem\n" + std::string(c.itype) + "\n0\n512\n1\n0\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, without_cues(opening()) + "\n Fichier " + ws.at(c.missing) + " inexistant\n");
    EXPECT_EQ(ws.files(), before);
  }
}

const std::string kEnd = "\n Fin des donnees en entree : reponse attendue, traitement abandonne\n";
const std::string kRange = "\n Reponse hors limites : nombre entier entre -2147483648 et 2147483647 attendu\n";
std::string unreadable(const std::string& word) { return "\n Reponse \"" + word + "\" illisible : nombre entier attendu\n"; }

// Data set a: 2 x 3, 16-bit, with its header. Data set m: the same raster
// without a header (its size is asked).
void lay_out(const Workspace& ws) {
  const std::string raster = le16({100, 65500, 200, 65500, 65500, 300});
  ws.put("a_c2.raw", raster);
  ws.put("a_c2.txt", "2 3 0 0 0 10");
  ws.put("m_c2.raw", raster);
}

const std::vector<std::string> kInputsOnly = {"a_c2.raw", "a_c2.txt", "m_c2.raw"};
const std::vector<std::string> kWithOutputs = {"a_c2.raw", "a_c2.txt", "a_m1.raw", "a_m1.txt",
                                               "a_m2.raw", "a_m2.txt", "m_c2.raw"};

TEST(HostileDialogue, EveryPromptStopsCleanlyOnEndOfInputOrAWrongAnswer) {
  struct Stop {
    const char* what;
    std::string answers;
    std::string last_prompt;
    std::string message;  // everything printed after the last prompt
    bool outputs_created;
  };
  const Stop stops[] = {
      {"empty input", "", kDirPrompt, kEnd, false},
      {"end at the name", "d", kNamePrompt, kEnd, false},
      {"end at the width", "d a", kTypePrompt, kEnd, false},
      {"end at the rows", "d m 0", kRowsPrompt, kEnd, false},
      {"end at the columns", "d m 0 2", kColsPrompt, kEnd, false},
      {"end at the pixel size", "d m 0 2 3", kPixelPrompt, kEnd, false},
      {"end at reuse-or-new", "d a 0", kRepPrompt, kEnd, false},
      {"end at the new name", "d a 0 1", kNewPrompt, kEnd, false},
      {"end at the interval", "d a 0 0", kEquidPrompt, kEnd, true},
      {"end at the window", "d a 0 0 10", kMaillePrompt, kEnd, true},
      {"end at the overlay", "d a 0 0 10 1", kSurPrompt, kEnd, true},
      {"words at the width", "d a x16", kTypePrompt, unreadable("x16"), false},
      {"word at the rows", "d m 0 deux", kRowsPrompt, unreadable("deux"), false},
      {"word at the columns", "d m 0 2 trois", kColsPrompt, unreadable("trois"), false},
      {"word at the pixel size", "d m 0 2 3 ?", kPixelPrompt, unreadable("?"), false},
      {"word at reuse-or-new", "d a 0 oui", kRepPrompt, unreadable("oui"), false},
      {"word at the interval", "d a 0 0 dix", kEquidPrompt, unreadable("dix"), true},
      {"decimal interval leaves .5 for the window", "d a 0 0 10.5", kMaillePrompt, unreadable(".5"), true},
      {"word at the overlay", "d a 0 0 10 1 non", kSurPrompt, unreadable("non"), true},
      {"sign alone", "d a 0 0 -", kEquidPrompt, unreadable(""), true},
      {"interval past the int range", "d a 0 0 99999999999", kEquidPrompt, kRange, true},
      {"window past the int range", "d a 0 0 10 -2147483649", kMaillePrompt, kRange, true},
      {"pixel size 25m: the m goes to the next question", "d m 0 2 3 25m", kRepPrompt, unreadable("m"), false},
  };
  for (const Stop& stop : stops) {
    SCOPED_TRACE(stop.what);
    Workspace ws;
    lay_out(ws);
    const ProcessResult r = ws.run(stop.answers);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(tail_after(r.out, stop.last_prompt), stop.message);
    EXPECT_EQ(r.err, "");
    if (stop.outputs_created) {
      EXPECT_EQ(ws.files(), kWithOutputs);
      // The header is written; the rasters stay empty: the status tells the
      // run failed.
      EXPECT_EQ(ws.get("a_m2.txt"), "2 \n3 \n0 \n0 \n0 \n10");
      EXPECT_EQ(ws.get("a_m2.raw"), "");
    } else if (stop.answers == "d m 0 2 3 25m") {
      // The three size answers were given: the header was created.
      EXPECT_EQ(ws.get("m_c2.txt"), "2 \n3 \n0 \n0 \n0 \n25");
    } else {
      EXPECT_EQ(ws.files(), kInputsOnly);
    }
  }
}

std::size_t count(const std::string& text, const std::string& part) {
  std::size_t n = 0;
  for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

TEST(HostileDialogue, RefusedAnswersAreAskedAgainOnlyWithNewInput) {
  // Interval 0 asks again. Window 34 (its binomial coefficients leave 32
  // bits) asks again.
  Workspace ws;
  lay_out(ws);
  const ProcessResult r = ws.run("d a 0 0 0 10 34 1 1\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(count(r.out, kEquidPrompt), 2u);
  EXPECT_EQ(count(r.out, "\n L'equidistance doit etre differente de 0\n"), 1u);
  EXPECT_EQ(count(r.out, kMaillePrompt), 2u);
  EXPECT_EQ(count(r.out, "\n Maille trop grande : 33 au plus\n"), 1u);

  // Interval 0 until the input ends: asked once more per 0, then stopped.
  const ProcessResult r2 = ws.run("d a 0 0 0 0 0");
  EXPECT_EQ(r2.status, 1);
  EXPECT_EQ(count(r2.out, kEquidPrompt), 4u);
  EXPECT_EQ(tail_after(r2.out, kEquidPrompt), kEnd);
}

TEST(HostileDialogue, LongNamesAreUsedWholeAndNeverOverflow) {
  Workspace ws;
  lay_out(ws);
  // A directory name of 5000 characters: no such directory; the message
  // gives the whole path.
  const std::string longdir(5000, 'x');
  ProcessResult r = ws.run(longdir + " a 0");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(tail_after(r.out, kTypePrompt), "\n Fichier " + ws.root() + "/" + longdir + "/a_c2.raw inexistant\n");
  // A base name longer than a file name may be (255 bytes).
  const std::string longname(300, 'n');
  r = ws.run("d " + longname + " 0");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(tail_after(r.out, kTypePrompt), "\n Fichier " + ws.at(longname) + "_c2.raw inexistant\n");
  // A directory name of about 4000 characters that names the data set
  // directory: the run completes there.
  std::string walk = "d";
  for (int k = 0; k < 2000; ++k) walk += "/.";
  r = ws.run(walk + " a 0 0 10 1 1");
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("\n            2 LIGNES\n"), std::string::npos);
  EXPECT_EQ(ws.files(), kWithOutputs);
  EXPECT_EQ(ws.get("a_m2.raw").size(), 12u);
}

TEST(HostileDialogue, NamesWithSlashesAndDotDotAreUsedAsTyped) {
  Workspace ws;
  std::filesystem::create_directory(ws.at("sub"));
  ws.put("sub/b_c4.raw", le32({7, 10000000}));
  ws.put("sub/b_c4.txt", "1 2 0 0 0 0");
  // Directory "d/../d", base name "sub/b", 32-bit, new output name
  // "../out": the outputs land in the data root itself.
  const ProcessResult r = ws.run("d/../d sub/b 1 1 ../out 1 1 1");
  EXPECT_EQ(r.status, 0);
  for (const char* f : {"out_m1.raw", "out_m1.txt", "out_m4.raw", "out_m4.txt"})
    EXPECT_TRUE(testing::file_exists(ws.root() + "/" + f)) << f;
  // 7 stays 7; the no-data pixel is filled from its only neighbour.
  EXPECT_EQ(read_file(ws.root() + "/out_m4.raw"), le32({7, 7}));
}

}  // namespace
}  // namespace tesk::e2e
