// The start-up dialogue of the classic program through the executable: a
// missing input header (the size questions and the header they create), the
// reuse-or-new question asked again for answers other than 0 and 1, a new
// output name, and a missing input raster.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "e2e/classic_e2e.h"

namespace tesk::e2e {
namespace {

using testing::le16;
using testing::read_file;
using testing::write_file;

// One row 100 U 201 at interval 512 (internal units equal altitudes): the
// first pass grows 100 into the gap and writes (100 + 201) * 0.5 + 0.5 =
// 151 there; the second has nothing to treat. Preview: a = single(255/101),
// b = single(-25500/101); 151 gives 128.76 -> 129.
const std::string kRaster = le16({100, 65500, 201});
const std::string kPreview = std::string("\x00\x81\xff", 3);
const std::string kResult = le16({100, 151, 201});
// The three answers 1 row, 3 columns, pixel size 5, in the output format.
const std::string kHeader = "1 \n3 \n0 \n0 \n0 \n5";

std::string computation() {
  return questions() + passes({1, 0}, {1}) + smoothing(1) + saving(100, 201) + "\n";
}

TEST(ClassicDialogue, MissingHeaderIsAskedForAndCreatedThenFoundByTheNextRun) {
  Workspace ws;
  write_file(ws.data("dem_c2.raw"), kRaster);

  // First run: no header. Size answers 1, 3, 5; reuse-or-new answers 2 and -1
  // repeat the question, 1 asks for the new name out1.
  const ProcessResult first = ws.run_recorded("site\ndem\n0\n1\n3\n5\n2\n-1\n1\nout1\n512\n1\n0\n");
  EXPECT_EQ(first.status, 0);
  EXPECT_EQ(first.out, opening() + "\n Absence du fichier " + ws.data("dem_c2.txt") + " \n\n" +
                           "\n\tNombre de lignes   ? " + "\n\tNombre de colonnes ? " + "\n\tTaille du pixel ? " +
                           image_size(1, 3) + reuse_question("dem") + reuse_question("dem") +
                           reuse_question("dem") +
                           "\n\n Nom du fichier a creer (sans extension _m2.raw ou _m4.raw) ? " + computation());
  EXPECT_EQ(ws.files(), (std::vector<std::string>{"dem_c2.raw", "dem_c2.txt", "out1_m1.raw", "out1_m1.txt",
                                                  "out1_m2.raw", "out1_m2.txt"}));
  EXPECT_EQ(read_file(ws.data("dem_c2.txt")), kHeader);
  EXPECT_EQ(read_file(ws.data("out1_m1.txt")), kHeader);
  EXPECT_EQ(read_file(ws.data("out1_m2.txt")), kHeader);
  EXPECT_EQ(read_file(ws.data("out1_m1.raw")), kPreview);
  EXPECT_EQ(read_file(ws.data("out1_m2.raw")), kResult);

  // Second run on the same data set: the created header is read, nothing
  // about the size is asked, and answer 0 keeps the name dem.
  const ProcessResult second = ws.run("site\ndem\n0\n0\n512\n1\n0\n");
  EXPECT_EQ(second.status, 0);
  EXPECT_EQ(second.out, without_cues(opening() + image_size(1, 3) + reuse_question("dem") + computation()));
  EXPECT_EQ(read_file(ws.data("dem_m1.txt")), kHeader);
  EXPECT_EQ(read_file(ws.data("dem_m2.txt")), kHeader);
  EXPECT_EQ(read_file(ws.data("dem_m1.raw")), kPreview);
  EXPECT_EQ(read_file(ws.data("dem_m2.raw")), kResult);
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
    for (const std::string& f : c.present) write_file(ws.data(f), "1 3 0 0 0 5");
    if (c.raster_is_directory) std::filesystem::create_directory(ws.data(c.missing));
    const std::vector<std::string> before = ws.files();

    const ProcessResult r = ws.run("site\ndem\n" + std::string(c.itype) + "\n0\n512\n1\n0\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, without_cues(opening()) + "\n Fichier " + ws.data(c.missing) + " inexistant\n");
    EXPECT_EQ(ws.files(), before);
  }
}

}  // namespace
}  // namespace tesk::e2e
