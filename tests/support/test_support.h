// Helpers shared by the tests: grids written as text, random grids, scratch
// directories, files as bytes, running a program; for the end-to-end tests,
// the classic dialogue's texts and a data root to run the executable in.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <initializer_list>
#include <random>
#include <string>
#include <vector>

#include "core/grid.h"
#include "core/units.h"

namespace tesk::testing {

// A grid as text: rows separated by '/', values by blanks, U for the
// internal no-data marker ("100 U 200 / U U 7").  show() writes the same
// form, so that grids compare as strings.
IntGrid grid(const std::string& text);
std::string show(const IntGrid& g);
inline std::string canon(const std::string& text) { return show(grid(text)); }
IntGrid copy_of(const IntGrid& g);
template <class T>
bool same(const Grid<T>& a, const Grid<T>& b) {
  return a.same_shape(b) && std::equal(a.begin(), a.end(), b.begin());
}

// ---- Random grids, from a fixed seed (TESK_TEST_SEED overrides it).
using Rng = std::mt19937;
std::uint32_t base_seed();
int uniform(Rng& rng, int lo, int hi);
bool chance(Rng& rng, double p);
struct Shape { int rows, cols; };
// Strips of one row or column, small odd shapes, widths on either side of
// the 16-pixel tile, the 64-tile word and the 1024-pixel row, medium and
// large grids.
Shape random_shape(Rng& rng);
// Internal units: data pixels of one value family (small, wide, around
// 99999999, next to the int limits, next to the file markers), laid out as
// nothing, one pixel, scattered points, everything, dense noise or the
// contour lines of a synthetic terrain; the others kNoData.
IntGrid random_internal_grid(Rng& rng, Shape s);
// Raw samples of a 16-bit (itype 0) or 32-bit raster, the same layouts,
// the file's marker off the contours.
IntGrid random_raw_grid(Rng& rng, Shape s, int itype);
std::string describe(std::uint32_t seed, int index, Shape s);
// A terrain of random hills and hollows in internal units (512 to the
// interval); a pixel is a contour pixel, holding the level, where the
// terrain crosses a multiple of 512 towards its right or lower neighbour.
// With a sea, nothing below level 0 is drawn but the coastline.
IntGrid terrain_contours(Rng& rng, int rows, int cols, bool sea);

// ---- Files and processes.
struct TempDir {  // removed with its contents when the object goes
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }
  std::string path_;
};

struct TextStream {  // a read stream holding `text`
  explicit TextStream(const std::string& text);
  ~TextStream();
  TextStream(const TextStream&) = delete;
  std::FILE* get() const { return f_; }
  std::FILE* f_;
};

std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& bytes);
inline bool file_exists(const std::string& path) { return std::filesystem::exists(path); }
std::string le16(std::initializer_list<std::uint16_t> values);  // little-endian samples
std::string le32(std::initializer_list<std::int32_t> values);

struct ProcessResult {
  int status = -1;  // exit status, -1 when killed
  std::string out, err;
};
// Runs argv with `input` on its standard input and `env` (NAME=VALUE, the
// last of one name wins) over the inherited environment.
ProcessResult run_process(const std::vector<std::string>& argv, const std::string& input,
                          std::vector<std::string> env = {});

// Whether the tests run under AddressSanitizer, whose shadow memory and
// quarantine count against memory limits and the address space.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool kUnderAsan = true;
#elif defined(__has_feature)
inline constexpr bool kUnderAsan = __has_feature(address_sanitizer);
#else
inline constexpr bool kUnderAsan = false;
#endif

}  // namespace tesk::testing

#ifdef TESK_EXE
// ---- The end-to-end tests: the classic dialogue's texts written out from
// its rules, a scratch data root to run the executable in, and (with GDAL)
// the tests' own reading and writing of rasters.  Expected transcripts carry
// "[cue NAME.wav]" where each sound cue plays: a plain run prints them
// without; a recorded run logs marks and console output in order.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#ifdef TESK_WITH_GDAL
#include <gdal.h>
#include <ogr_srs_api.h>

#include <array>
#include <optional>
#endif

namespace tesk::e2e {

using namespace testing;
namespace fs = std::filesystem;

inline const std::string kDirPrompt = "\n\n Nom du Repertoire : ";
inline const std::string kNamePrompt = "\n\n Nom du fichier a traiter (sans extension _c2.raw or _c4.raw) ? ";
inline const std::string kTypePrompt = "\n Image :\n\t0 ====> 16 bits\n\t1 ====> 32 bits\n\t";
inline const std::string kRowsPrompt = "\n\tNombre de lignes   ? ";
inline const std::string kColsPrompt = "\n\tNombre de colonnes ? ";
inline const std::string kPixelPrompt = "\n\tTaille du pixel ? ";
inline const std::string kRepPrompt = "\n 1 -----> Creation d'un nouveau Fichier ? ";
inline const std::string kNewPrompt = "\n\n Nom du fichier a creer (sans extension _m2.raw ou _m4.raw) ? ";
inline const std::string kEquidPrompt = "\n\n Equidistance des courbes de niveau ? ";
inline const std::string kMaillePrompt = "\n\n Taille de la maille de lissage (1, 3 ou 5) ? ";
inline const std::string kSurPrompt = "\n 0 -----> Oui;\t1 -----> Non      ";
inline const std::string kReading = "\n Lecture \n";

inline std::string cue(const std::string& file) { return "[cue " + file + "]"; }

// Banner, first cue and the three opening questions.
inline std::string opening() {
  const std::string stars = "\n\t**************************************************************";
  const std::string blank = "\n\t*                                                            *";
  return "\n" + stars + blank + "\n\t*                         TESK                               *" + blank + blank +
         blank + blank + "\n\t*   Modele numerique de terrain par dilatation des courbes   *" +
         "\n\t*                Version 1.0 - decembre 2026                 *" + blank + blank + stars +
         "\n\n\n\tGeneralisation de l'algorithme de Brakvelt" +
         "\n\n\tCroissance des courbes de niveau, points milieux et bouchage," +
         "\n\tlissage par fenetre de Bernstein (Bezier)" + cue("drumbl.wav") + kDirPrompt + kNamePrompt + kTypePrompt;
}

inline std::string image_size(int rows, int cols) {
  return "\n\n L'IMAGE A:  \n\n            " + std::to_string(rows) + " LIGNES\n\n         ET " + std::to_string(cols) +
         " COLONNES\n";
}

inline std::string reuse_question(const std::string& nomfic) {
  return "\n\n 0 -----> Reprise de Nom generique " + nomfic + " ? " + kRepPrompt;
}

// The interval, window and overlay questions, each after its cue, then the
// announcement of the reading.
inline std::string questions() {
  return cue("menuend.wav") + kEquidPrompt + cue("movpiece.wav") + kMaillePrompt + cue("movpiece.wav") +
         "\n Surcharge des courbes de niveaux :" + kSurPrompt + cue("movpiece.wav") + kReading;
}

// The dilation's progress: to_treat[k] shown before pass k + 1, modified[k]
// written by pass k + 1 (shown before the next one).
inline std::string passes(const std::vector<int>& to_treat, const std::vector<int>& modified) {
  std::string s;
  for (std::size_t k = 0; k < to_treat.size(); ++k)
    s += (k ? "\n nombre de points modifies  = " + std::to_string(modified.at(k - 1)) : "") +
         "\n nombre de points a traiter = " + std::to_string(to_treat[k]) + " \n\n Brakvelt degre  " +
         std::to_string(k + 1) + " \n" + cue("menuloop.wav");
  return s;
}

inline std::string without_cues(std::string s) {
  for (std::size_t at; (at = s.find("[cue ")) != std::string::npos;) s.erase(at, s.find(']', at) + 1 - at);
  return s;
}

// What a run printed after it last showed `prompt`: for a run that stopped,
// its message.
inline std::string tail_after(const std::string& out, const std::string& prompt) {
  const auto at = out.rfind(prompt);
  return at == std::string::npos ? "(prompt not shown)" : out.substr(at + prompt.size());
}

// A data root holding the data-set directory d, and beside it (empty) cue files.
struct Workspace {
  Workspace() {
    fs::create_directories(at(""));
    fs::create_directories(tmp_ / "sounds");
    for (const char* f : {"drumbl.wav", "menuend.wav", "movpiece.wav", "menuloop.wav", "Fanfare2.wav"})
      write_file(tmp_ / ("sounds/" + std::string(f)), "");
  }
  std::string top() const { return tmp_.path(); }
  std::string root() const { return tmp_ / "images"; }
  std::string at(const std::string& name) const { return root() + "/d/" + name; }
  void put(const std::string& name, const std::string& bytes) const { write_file(at(name), bytes); }
  std::string get(const std::string& name) const { return read_file(at(name)); }
  std::vector<std::string> files() const {  // sorted names in d
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(at(""))) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
  // tesk (behind the command `front`) on `answers`; cues off unless `env` sets them.
  ProcessResult run(const std::string& answers, const std::vector<std::string>& env = {},
                    std::vector<std::string> front = {}) const {
    front.push_back(TESK_EXE);
    std::vector<std::string> e = {"TESK_IMAGES=" + root(), "TESK_SOUNDS="};
    e.insert(e.end(), env.begin(), env.end());
    return run_process(front, answers, e);
  }
  // The environment that plays the cues through the shell script `body` ($1: the cue).
  std::vector<std::string> player(const std::string& body) const {
    write_file(tmp_ / "player.sh", "#!/bin/sh\n" + body);
    chmod((tmp_ / "player.sh").c_str(), 0755);
    return {"TESK_SOUNDS=" + (tmp_ / "sounds"), "TESK_SOUND_PLAYER=" + (tmp_ / "player.sh")};
  }
  // A run whose cue marks and console output go, in order, to one log.
  ProcessResult run_recorded(const std::string& answers) const {
    const std::string log = tmp_ / "run.log";
    write_file(log, "");
    ProcessResult r = run(answers, player("printf '[cue %s]' \"${1##*/}\" >> '" + log + "'\n"),
                          {"/bin/sh", "-c", "exec \"$0\" >> '" + log + "'"});
    r.out = read_file(log);
    return r;
  }
  TempDir tmp_;
};

inline std::string demo(const std::string& name) { return std::string(TESK_SOURCE_DIR) + "/images/demo/" + name; }

inline ProcessResult tesk(std::vector<std::string> args, const std::vector<std::string>& env = {}) {
  args.insert(args.begin(), TESK_EXE);
  return run_process(args, "", env);
}

#ifdef TESK_WITH_GDAL

inline void gdal_tool(std::vector<std::string> argv) {  // found on the PATH
  argv.insert(argv.begin(), {"/bin/sh", "-c", "exec \"$0\" \"$@\""});
  const ProcessResult r = run_process(argv, "");
  ASSERT_EQ(r.status, 0) << argv[3] << " failed: " << r.err;
}

struct Raster {
  int rows = 0, cols = 0, block_cols = 0;
  std::string type, driver, projection, compression, command_line;
  std::vector<double> v;  // band 1, rows first
  bool has_nodata = false;
  double nodata = 0;
  std::array<double, 6> transform{};
};

inline Raster read_raster(const std::string& path) {
  GDALAllRegister();
  Raster r;
  GDALDatasetH ds = GDALOpen(path.c_str(), GA_ReadOnly);
  EXPECT_NE(ds, nullptr) << "cannot open " << path;
  if (!ds) return r;
  std::tie(r.rows, r.cols) = std::pair(GDALGetRasterYSize(ds), GDALGetRasterXSize(ds));
  r.driver = GDALGetDriverShortName(GDALGetDatasetDriver(ds));
  GDALRasterBandH b = GDALGetRasterBand(ds, 1);
  r.type = GDALGetDataTypeName(GDALGetRasterDataType(b));
  int has = 0, block_rows = 0;
  r.nodata = GDALGetRasterNoDataValue(b, &has), r.has_nodata = has != 0;
  GDALGetGeoTransform(ds, r.transform.data());
  r.projection = GDALGetProjectionRef(ds);
  if (const char* c = GDALGetMetadataItem(ds, "COMPRESSION", "IMAGE_STRUCTURE")) r.compression = c;
  if (const char* c = GDALGetMetadataItem(ds, "TESK_COMMAND_LINE", nullptr)) r.command_line = c;
  GDALGetBlockSize(b, &r.block_cols, &block_rows);
  r.v.resize(static_cast<std::size_t>(r.rows) * r.cols);
  EXPECT_EQ(GDALRasterIO(b, GF_Read, 0, 0, r.cols, r.rows, r.v.data(), r.cols, r.rows, GDT_Float64, 0, 0), CE_None);
  GDALClose(ds);
  return r;
}

// A one-band GeoTIFF of the given type and values (rows first).
inline void write_tif(const std::string& path, const char* type, int rows, int cols, std::vector<double> v,
                      std::optional<double> nodata) {
  GDALAllRegister();
  GDALDatasetH ds =
      GDALCreate(GDALGetDriverByName("GTiff"), path.c_str(), cols, rows, 1, GDALGetDataTypeByName(type), nullptr);
  double gt[6] = {1000, 10, 0, 2000, 0, -10};
  GDALSetGeoTransform(ds, gt);
  GDALRasterBandH b = GDALGetRasterBand(ds, 1);
  if (nodata) GDALSetRasterNoDataValue(b, *nodata);
  ASSERT_EQ(GDALRasterIO(b, GF_Write, 0, 0, cols, rows, v.data(), cols, rows, GDT_Float64, 0, 0), CE_None);
  GDALClose(ds);
}

inline bool same_projection(const std::string& a, const std::string& b) {
  OGRSpatialReferenceH sa = OSRNewSpatialReference(a.c_str()), sb = OSRNewSpatialReference(b.c_str());
  const bool same = sa && sb && OSRIsSame(sa, sb);
  OSRDestroySpatialReference(sa);
  OSRDestroySpatialReference(sb);
  return same;
}

#endif  // TESK_WITH_GDAL

}  // namespace tesk::e2e
#endif  // TESK_EXE
