// Fuzz target: the classic program on a fuzzed console, in a scratch root
// holding d/a (2 x 2 16-bit with its header, 1 x 2 32-bit without): status
// 0 or 1, no crash or loop, a success saves.  Inputs holding ".." are
// skipped: names are used as typed.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "app/classic.h"
#include "console/cues.h"

namespace fs = std::filesystem;

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  if (size == 0 || size > 4096 || text.find("..") != std::string::npos) return 0;
  static const struct Root {  // removed when the fuzzer exits
    fs::path p = fs::temp_directory_path() / ("tesk-dialogue-fuzz-" + std::to_string(getpid()));
    ~Root() { fs::remove_all(p); }
  } scratch;
  const fs::path& root = scratch.p;
  fs::remove_all(root / "d");
  fs::create_directories(root / "d");
  std::ofstream(root / "d/a_c2.raw", std::ios::binary) << std::string("\x64\0\xdc\xff\xdc\xff\xff\xff", 8);
  std::ofstream(root / "d/a_c2.txt") << "2 2 0 0 0 25";
  std::ofstream(root / "d/a_c4.raw", std::ios::binary) << std::string("\x80\x96\x98\x00\xe8\x03\x00\x00", 8);
  std::FILE* in = fmemopen(text.data(), text.size(), "r");
  char* said = nullptr;
  std::size_t said_size = 0;
  std::FILE* out = open_memstream(&said, &said_size);
  tesk::SilentCues cues;
  tesk::ClassicOptions options;
  options.data_root = root;
  const int status = tesk::run_classic(in, out, cues, options);
  std::fclose(in);
  std::fclose(out);
  const bool saved = std::string(said, said_size).find("\n\n Sauvegarde en cours\n") != std::string::npos;
  std::free(said);
  if (status != 0 && status != 1) std::abort();
  if (status == 0 && !saved) std::abort();
  return 0;
}
