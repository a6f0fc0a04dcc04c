// Helpers shared by the tests: grids written as text, random grids, scratch
// directories, files as bytes, running a program.
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

}  // namespace tesk::testing
