// Hostile input through the whole classic program, a row per class of bad
// input (docs/bad-input.md).  Expected rasters are worked out by hand: in,
// trunc(single(v / equid * 512)); back, trunc(single(w / 512 * equid)).
#include <climits>
#include <cstdio>

#include "support/test_support.h"

namespace tesk::e2e {
namespace {

const std::string kEnd = "\n Fin des donnees en entree : reponse attendue, traitement abandonne\n";
const std::string kRange = "\n Reponse hors limites : nombre entier entre -2147483648 et 2147483647 attendu\n";
std::string unreadable(const std::string& w) { return "\n Reponse \"" + w + "\" illisible : nombre entier attendu\n"; }
std::string invalid(const std::string& size) { return "\n Taille d'image invalide dans @a_c2.txt : " + size + "\n"; }
std::string missing(const std::string& f) { return "\n Fichier @" + f + " inexistant\n"; }
std::string replace_all(std::string s, char mark, const std::string& by) {
  for (auto at = s.find(mark); at != std::string::npos; at = s.find(mark, at + by.size())) s.replace(at, 1, by);
  return s;
}

// Runs that stop: status 1, the message after the last prompt (or at the
// end), nothing on standard error, the data set's directory holding what it
// held plus `after`.  Files: "<dir>", "<full>", "<gone>" or the bytes; '@' is
// the data set's directory.
using Files = std::vector<std::pair<std::string, std::string>>;
struct Stop {
  const char* what;
  Files files;
  std::string answers, prompt, message;
  Files after;
};

const Files kOutputs = {
    {"a_m1.raw", ""}, {"a_m1.txt", "2 \n3 \n0 \n0 \n0 \n10"}, {"a_m2.raw", ""}, {"a_m2.txt", "2 \n3 \n0 \n0 \n0 \n10"}};
const std::string kShort = le16({100, 65500, 200, 65500, 65500, 300});

const Stop kStops[] = {
    {"empty input", {}, "", kDirPrompt, kEnd, {}},
    {"end at the overlay", {}, "d a 0 0 10 1", kSurPrompt, kEnd, kOutputs},
    {"decimal interval leaves .5 for the window", {}, "d a 0 0 10.5", kMaillePrompt, unreadable(".5"), kOutputs},
    {"sign alone", {}, "d a 0 0 -", kEquidPrompt, unreadable(""), kOutputs},
    {"interval past the int range", {}, "d a 0 0 99999999999", kEquidPrompt, kRange, kOutputs},
    {"pixel size 25m: m goes to the next question", {}, "d m 0 2 3 25m", kRepPrompt, unreadable("m"),
     {{"m_c2.txt", "2 \n3 \n0 \n0 \n0 \n25"}}},
    {"asked sizes that make no sense", {{"a_c2.txt", "<gone>"}}, "d a 0 0 3 10", kPixelPrompt,
     "\n Taille d'image invalide : 0 lignes et 3 colonnes\n", {{"a_c2.txt", "0 \n3 \n0 \n0 \n0 \n10"}}},
    {"header from such answers", {{"a_c2.txt", "0 \n3 \n0 \n0 \n0 \n10"}}, "d a 0", kTypePrompt, invalid("0 lignes et 3 colonnes"), {}},
    {"negative rows", {{"a_c2.txt", "-2 3 0 0 0 0"}}, "d a 0", kTypePrompt, invalid("-2 lignes et 3 colonnes"), {}},
    {"raster absent", {{"a_c2.raw", "<gone>"}}, "d a 0 0 10 1 1", kTypePrompt, missing("a_c2.raw"), {}},
    {"a directory as the raster", {{"a_c4.raw", "<dir>"}, {"a_c4.txt", "1 3 0 0 0 5"}}, "d a 1", kTypePrompt,
     missing("a_c4.raw"), {}},
    {"long directory name", {}, std::string(5000, 'x') + " a 0", kTypePrompt,
     "\n Fichier %" + std::string(5000, 'x') + "/a_c2.raw inexistant\n", {}},
    {"empty raster", {{"a_c2.raw", ""}}, "d a 0 0 10 1 1", kTypePrompt,
     "\n Fichier @a_c2.raw trop court : 0 octets pour 12 attendus (2 lignes, 3 colonnes)\n", {}},
    {"directory as the preview", {{"a_m1.raw", "<dir>"}}, "d a 0 0 10 1 1", kRepPrompt, "\n Fichier @a_m1.raw inconnu\n", {}},
    {"the result a link to the raster", {{"a_m2.raw", "<source>"}}, "d a 0 0 10 1 1", kRepPrompt,
     "\n Le fichier @a_m2.raw est aussi @a_c2.raw, a traiter : il ne sera pas remplace\n", {{"a_c2.raw", kShort}}},
    {"a header a link to the raster's", {{"a_m1.txt", "<header>"}}, "d a 0 0 10 1 1", kRepPrompt,
     "\n Le fichier @a_m1.txt est aussi @a_c2.txt, a traiter : il ne sera pas remplace\n", {{"a_c2.txt", "2 3 0 0 0 10"}}},
    {"directory as the result header", {{"a_m2.txt", "<dir>"}}, "d a 0 0 10 1 1", kRepPrompt,
     "\n Fichier @a_m2.txt inexistant\n", {{"a_m1.raw", ""}, {"a_m2.raw", ""}, {"a_m1.txt", ""}}},
    {"full disk under the result", {{"a_m2.raw", "<full>"}}, "d a 0 0 10 1 1", "",
     "\n Erreur d'ecriture du fichier @a_m2.raw : No space left on device\n", {}},
    {"contour value past the internal range", {{"a_c4.raw", le32({4194303, 4194304})}, {"a_c4.txt", "1 2 0 0 0 0"}},
     "d a 1 0 1 1 1", kReading,
     "\n Valeur 4194304 (ligne 0, colonne 1) trop grande pour l'equidistance 1 : conversion impossible\n",
     {{"a_m1.raw", ""}, {"a_m4.raw", ""}, {"a_m1.txt", "1 \n2 \n0 \n0 \n0 \n0"}, {"a_m4.txt", "1 \n2 \n0 \n0 \n0 \n0"}}},
};

// Data set a: 2 x 3, 16-bit, with its header; m: the same raster without one.
void lay_out(const Workspace& ws, const Files& files = {}) {
  ws.put("a_c2.raw", kShort);
  ws.put("a_c2.txt", "2 3 0 0 0 10");
  ws.put("m_c2.raw", kShort);
  for (const auto& [name, bytes] : files) {
    if (bytes == "<gone>") fs::remove(ws.at(name));
    else if (bytes == "<dir>") fs::create_directory(ws.at(name));
    else if (bytes == "<full>") fs::create_symlink("/dev/full", ws.at(name));
    else if (bytes == "<source>") fs::create_symlink(ws.at("a_c2.raw"), ws.at(name));
    else if (bytes == "<header>") fs::create_symlink(ws.at("a_c2.txt"), ws.at(name));
    else ws.put(name, bytes);
  }
}

TEST(HostileRun, StopsWithOneMessageAndStatus1) {
  for (const Stop& c : kStops) {
    SCOPED_TRACE(c.what);
    Workspace ws;
    lay_out(ws, c.files);
    std::vector<std::string> expected = ws.files();
    const ProcessResult r = ws.run(c.answers);
    const std::string message = replace_all(replace_all(c.message, '@', ws.at("")), '%', ws.root() + "/");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "");
    const std::string tail = r.out.substr(r.out.size() - std::min(r.out.size(), message.size()));
    EXPECT_EQ(c.prompt.empty() ? tail : tail_after(r.out, c.prompt), message);
    if (c.files.empty() || c.files[0].second != "<full>") {
      for (const auto& [name, bytes] : c.after) {
        if (std::find(expected.begin(), expected.end(), name) == expected.end()) expected.push_back(name);
        EXPECT_EQ(ws.get(name), bytes) << name;
      }
      std::sort(expected.begin(), expected.end());
      EXPECT_EQ(ws.files(), expected);
    }
  }
}

TEST(HostileDialogue, RefusedAnswersAreAskedAgainAndNamesUsedAsTyped) {
  auto count = [](const std::string& text, const std::string& part) {
    std::size_t n = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
  };
  Workspace ws;
  lay_out(ws);
  // Interval 0 and window 34 (binomials past 32 bits) are asked again.
  ProcessResult r = ws.run("d a 0 0 0 10 34 1 1\n");
  EXPECT_EQ(std::tuple(r.status, count(r.out, kEquidPrompt), count(r.out, "\n L'equidistance doit etre differente de 0\n"),
                       count(r.out, kMaillePrompt), count(r.out, "\n Maille trop grande : 33 au plus\n")),
            std::tuple(0, 2u, 1u, 2u, 1u));
  EXPECT_EQ(count(ws.run("d a 0 0 0 0 0").out, kEquidPrompt), 4u);  // once more per 0, then the end
  // A directory name of 4000 characters naming d: the run completes there.
  std::string walk = "d";
  for (int k = 0; k < 2000; ++k) walk += "/.";
  EXPECT_EQ(ws.run(walk + " a 0 0 10 1 1").status, 0);
  EXPECT_EQ(ws.get("a_m2.raw"), le16({100, 200, 200, 200, 250, 300}));
  // "d/../d", base name "sub/b", new name "../out": the outputs land in the root.
  fs::create_directory(ws.at("sub"));
  ws.put("sub/b_c4.raw", le32({7, 10000000}));
  ws.put("sub/b_c4.txt", "1 2 0 0 0 0");
  EXPECT_EQ(ws.run("d/../d sub/b 1 1 ../out 1 1 1").status, 0);
  for (const char* f : {"out_m1.raw", "out_m1.txt", "out_m4.txt"}) EXPECT_TRUE(file_exists(ws.root() + "/" + f)) << f;
  EXPECT_EQ(read_file(ws.root() + "/out_m4.raw"), le32({7, 7}));
}

TEST(HostileValues, ExtremeSamplesComeBackAsTheRulesSay) {
  const std::string none = le16({65500, 65500, 65500, 65500, 65500, 65500, 65500, 65500, 65500, 65500, 65500, 65500,
                                 65500, 65500, 65500, 65500});
  struct Case { int itype; std::string header, raster, answers, expected, minmax; } const cases[] = {
      {0, "1 4", le16({65499, 65501, 65535, 0}), "1 1 1", le16({65499, 65501, 65535, 0}), "Min=0  Max=65535"},
      // 99999999 -> 512000000 in single precision -> 100000000; window -5: none.
      {1, "1 5", le32({9999999, 10000001, 99999999, 100000000, -10000000}), "100 -5 1",
       le32({9999999, 10000001, 100000000, 100000000, -10000000}), "Min=-10000000  Max=100000000"},
      // INT_MAX back is single(2^31), held at INT_MAX.
      {1, "1 2", le32({INT_MAX, INT_MIN}), "2147483647 1 1", le32({INT_MAX, INT_MIN}), "Min=-2147483648  Max=2147483647"},
      // -7: 65535 -> -4793417 -> 65534.998046875, a tie between two singles, to the even 65535.
      {0, "1 4", le16({1000, 2000, 65535, 1}), "-7 1 1", le16({999, 1999, 65535, 0}), "Min=0  Max=65535"},
      {0, "4 4", none, "10 3 0", none, "Min=65500  Max=65500"},  // no contour, even smoothed and overlaid
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.header + " " + c.answers);
    Workspace ws;
    const std::string base = c.itype == 0 ? "a_c2" : "a_c4";
    ws.put(base + ".raw", c.raster);
    ws.put(base + ".txt", c.header);
    const ProcessResult r = ws.run("d a " + std::to_string(c.itype) + " 0 " + c.answers);
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(ws.get(c.itype == 0 ? "a_m2.raw" : "a_m4.raw"), c.expected);
    EXPECT_NE(r.out.find("\n " + c.minmax + "\n"), std::string::npos);
    EXPECT_EQ(r.out.find("Lissage") != std::string::npos, c.answers == "10 3 0");  // windows of 1 and less never smooth
  }
}

TEST(HostileFiles, ShrinkingRasterAndLostConsoleFailTheRun) {
  // The cue player empties the raster at the n-th play of a cue: before the
  // first reading, or before the second (the overlay's).
  for (const auto& [cue_name, n] : {std::pair{"movpiece.wav", 3}, std::pair{"menuend.wav", 2}}) {
    SCOPED_TRACE(cue_name);
    Workspace ws;
    ws.put("a_c2.raw", le16({100, 65500, 200, 65500, 65500, 65500, 300, 65500, 400}));
    ws.put("a_c2.txt", "3 3");
    const std::string count = ws.top() + "/count";
    const auto env = ws.player("case \"$1\" in */" + std::string(cue_name) + ")\n  n=$(($(cat '" + count +
                               "' 2>/dev/null || echo 0) + 1)); echo $n > '" + count + "'\n  [ $n -eq " +
                               std::to_string(n) + " ] && : > '" + ws.at("a_c2.raw") + "';;\nesac\nexit 0\n");
    const ProcessResult r = ws.run("d a 0 0 10 2 0", env);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(tail_after(r.out, "\n Erreur de lecture"), " du fichier " + ws.at("a_c2.raw") + "\n");
    EXPECT_EQ(r.out.find("Sauvegarde en cours"), std::string::npos);
    EXPECT_EQ(ws.get("a_m2.raw"), "");
  }
  // The results are complete, but the transcript is lost.
  Workspace ws;
  lay_out(ws);
  const ProcessResult r = ws.run("d a 0 0 10 1 1", {}, {"/bin/sh", "-c", "exec \"$0\" > /dev/full"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "tesk: erreur d'ecriture de la console : No space left on device\n");
  EXPECT_EQ(ws.get("a_m2.raw"), le16({100, 200, 200, 200, 250, 300}));
}

// The memory refusal, parsed: what the image needs and the room, in MiB.
bool refused(const std::string& tail, unsigned long long& need, unsigned long long& room) {
  char end = 0;
  return std::sscanf(tail.c_str(), "\n Memoire insuffisante : l'image demande %llu Mo, %llu Mo disponible%c", &need,
                     &room, &end) == 3 && end == 's' && tail.find('\n', 1) == tail.size() - 1;
}

// Sizes past any memory (from a device read as it comes) and sizes around
// what a lowered address-space limit allows: refused before anything is
// created, with at least the 9 bytes a pixel of the input, result and
// preview, or completed; the process is never killed.
TEST(HostileMemory, SizesPastTheMemoryOrALoweredLimitAreRefusedWithTheirTrueFigure) {
  const unsigned long long limit = 300ULL * 1000 * 1000;
  for (const long long side : {2147483647LL, 10000LL, 10001LL, 2000LL, 4000LL}) {  // 10001: the data-size limit
    SCOPED_TRACE(side);
    const bool device = side == 2147483647LL;
    if (!device && (kUnderAsan || access("/usr/bin/prlimit", X_OK) != 0)) continue;
    Workspace ws;
    if (device) fs::create_symlink("/dev/zero", ws.at("a_c2.raw"));
    else ws.put("a_c2.raw", ""), fs::resize_file(ws.at("a_c2.raw"), 2ULL * side * side);
    ws.put("a_c2.txt", std::to_string(side) + " " + std::to_string(side));
    const ProcessResult r = ws.run("d a 0 0 10 3 0", {}, device ? std::vector<std::string>{}
        : std::vector<std::string>{"/usr/bin/prlimit", (side == 10001 ? "--data=" : "--as=") + std::to_string(limit), "--"});
    ASSERT_NE(r.status, -1) << "killed by a signal";
    unsigned long long need = 0, room = 0;
    if (device || side >= 10000 || r.status == 1) {
      EXPECT_EQ(r.status, 1);
      ASSERT_TRUE(refused(tail_after(r.out, kTypePrompt), need, room)) << tail_after(r.out, kTypePrompt);
      EXPECT_GE(need, static_cast<unsigned long long>(static_cast<unsigned __int128>(side) * side * 9 >> 20));
      if (!device) {
        EXPECT_LT(room, limit >> 20);
      }
      EXPECT_EQ(ws.files(), (std::vector<std::string>{"a_c2.raw", "a_c2.txt"})) << "nothing created";
    } else {
      EXPECT_EQ(r.status, 0);
    }
  }
}

}  // namespace
}  // namespace tesk::e2e
