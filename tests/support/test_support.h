// Helpers shared by the tests: grids from literal rows, temporary
// directories, files as bytes, running the executable.
#pragma once

#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <string>
#include <vector>

#include "core/grid.h"
#include "core/units.h"

namespace tesk::testing {

// U in a row literal stands for the internal no-data marker.
inline constexpr std::int32_t U = kNoData;

IntGrid make_grid(std::initializer_list<std::initializer_list<std::int32_t>> rows);
std::vector<std::vector<std::int32_t>> rows_of(const IntGrid& g);

// A fresh directory under the system's temporary directory, removed with
// everything in it when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// A read stream holding `text` (an anonymous temporary file), closed when
// the object goes.
class TextStream {
 public:
  explicit TextStream(const std::string& text);
  ~TextStream();
  TextStream(const TextStream&) = delete;
  TextStream& operator=(const TextStream&) = delete;
  std::FILE* get() const { return f_; }

 private:
  std::FILE* f_;
};

std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& bytes);
bool file_exists(const std::string& path);

// Little-endian sample bytes.
std::string le16(std::initializer_list<std::uint16_t> values);
std::string le32(std::initializer_list<std::int32_t> values);

struct ProcessResult {
  int status = -1;  // exit status, or -1 when the process did not exit normally
  std::string out;  // standard output
  std::string err;  // standard error
};

// Runs argv with `input` on its standard input and `env` (NAME=VALUE, the
// last of one name wins) set in the inherited environment.
ProcessResult run_process(const std::vector<std::string>& argv, const std::string& input,
                          const std::vector<std::string>& env = {});

}  // namespace tesk::testing
