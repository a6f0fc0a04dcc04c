// Fuzz target: the classic program on a fuzzed console, in a scratch root
// holding d/a (4 x 5 16-bit with its header, 1 x 2 32-bit without).  Status
// 0 or 1, no crash or loop; a success has written preview and result whole.
// Inputs holding ".." are skipped: names are used as typed.
#include <dirent.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "app/classic.h"
#include "console/cues.h"

namespace fs = std::filesystem;
static fs::path g_root;

static void write_bytes(const fs::path& path, const std::string& bytes) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size() || std::fclose(f) != 0) std::abort();
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char templ[] = "/tmp/tesk-dialogue-fuzz-XXXXXX";
  if (!mkdtemp(templ)) std::abort();
  g_root = templ;
  std::atexit([] { fs::remove_all(g_root); });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
  if (size == 0 || size > 4096) return 0;
  std::string text(reinterpret_cast<const char*>(data), size);
  if (text.find("..") != std::string::npos) return 0;
  fs::remove_all(g_root / "d");
  fs::create_directory(g_root / "d");
  std::string r16;  // 65500 (no data) but for 100, 140, 120, 110 and 65535
  for (int k = 0; k < 20; ++k) {
    const int v = k == 1 ? 100 : k == 4 ? 140 : k == 8 ? 120 : k == 10 ? 110 : k == 16 ? 65535 : 65500;
    r16 += {static_cast<char>(v & 0xff), static_cast<char>(v >> 8)};
  }
  write_bytes(g_root / "d/a_c2.raw", r16);
  write_bytes(g_root / "d/a_c2.txt", "4 5 0 0 0 25");
  write_bytes(g_root / "d/a_c4.raw", std::string("\x80\x96\x98\x00\xe8\x03\x00\x00", 8));  // 10000000, 1000

  std::FILE* in = fmemopen(text.data(), text.size(), "r");
  char* said = nullptr;
  std::size_t said_size = 0;
  std::FILE* out = open_memstream(&said, &said_size);
  tesk::SilentCues cues;
  tesk::ClassicOptions options;
  options.data_root = g_root;
  const int status = tesk::run_classic(in, out, cues, options);
  std::fclose(in);
  std::fclose(out);
  const bool saved = std::string(said, said_size).find("\n\n Sauvegarde en cours\n") != std::string::npos;
  std::free(said);
  if (status != 0 && status != 1) std::abort();
  if (status == 1) return 0;
  // Every preview made has its full-width raster, of 2 or 4 bytes a pixel.
  bool found = false;
  for (const auto& e : fs::directory_iterator(g_root / "d")) {
    const std::string name = e.path().string();
    if (name.size() < 7 || name.compare(name.size() - 7, 7, "_m1.raw") != 0) continue;
    const std::string base = name.substr(0, name.size() - 7);
    const auto n = fs::file_size(name);
    std::error_code ec;
    if (n == 0 || (fs::file_size(base + "_m2.raw", ec) != 2 * n && fs::file_size(base + "_m4.raw", ec) != 4 * n))
      std::abort();
    found = true;
  }
  if (!saved || !found) std::abort();
  return 0;
}
