// Fuzz target: the whole classic program on a fuzzed console input.
//
// A scratch data root holds the data set d/a: a 4 x 5 16-bit raster with its
// header and a 1 x 2 32-bit raster without one.  Whatever is typed, the run
// ends with status 0 or 1, never crashes or loops, and a run that reports
// success has written both rasters whole.  Inputs holding ".." are skipped:
// the dialogue uses names as typed and they must stay inside the scratch
// root.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/classic.h"
#include "console/cues.h"

namespace {

std::string g_root;

void write_bytes(const std::string& path, const void* p, std::size_t n) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f || std::fwrite(p, 1, n, f) != n || std::fclose(f) != 0) std::abort();
}

// Removes everything under dir (no symbolic links are ever created).
void remove_tree(const std::string& dir) {
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d)) {
      const std::string name = e->d_name;
      if (name == "." || name == "..") continue;
      const std::string path = dir + "/" + name;
      struct stat st {};
      if (lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
        remove_tree(path);
      else
        unlink(path.c_str());
    }
    closedir(d);
  }
  rmdir(dir.c_str());
}

void lay_out_data_set() {
  remove_tree(g_root + "/d");
  mkdir((g_root + "/d").c_str(), 0755);
  const std::uint16_t r16[20] = {65500, 100, 65500, 65500, 140, 65500, 65500, 65500, 120, 65500,
                                 110,   65500, 65500, 65500, 65500, 65500, 65535, 65500, 65500, 65500};
  unsigned char b16[40];
  for (int k = 0; k < 20; ++k) {
    b16[2 * k] = static_cast<unsigned char>(r16[k] & 0xff);
    b16[2 * k + 1] = static_cast<unsigned char>(r16[k] >> 8);
  }
  write_bytes(g_root + "/d/a_c2.raw", b16, sizeof b16);
  const char header[] = "4 5 0 0 0 25";
  write_bytes(g_root + "/d/a_c2.txt", header, sizeof header - 1);
  const unsigned char b32[8] = {0x80, 0x96, 0x98, 0x00, 0xe8, 0x03, 0x00, 0x00};  // 10000000, 1000
  write_bytes(g_root + "/d/a_c4.raw", b32, sizeof b32);
}

long file_size(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 ? static_cast<long>(st.st_size) : -1;
}

void cleanup() {
  if (!g_root.empty()) remove_tree(g_root);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char templ[] = "/tmp/tesk-dialogue-fuzz-XXXXXX";
  if (!mkdtemp(templ)) std::abort();
  g_root = templ;
  std::atexit(cleanup);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0 || size > 4096) return 0;
  const std::string text(reinterpret_cast<const char*>(data), size);
  if (text.find("..") != std::string::npos) return 0;
  lay_out_data_set();

  std::FILE* in = fmemopen(const_cast<char*>(text.data()), text.size(), "r");
  char* transcript = nullptr;
  std::size_t transcript_size = 0;
  std::FILE* out = open_memstream(&transcript, &transcript_size);
  if (!in || !out) std::abort();
  tesk::SilentCues cues;
  tesk::ClassicOptions options;
  options.data_root = g_root;
  const int status = tesk::run_classic(in, out, cues, options);
  std::fclose(in);
  std::fclose(out);
  const std::string said(transcript, transcript_size);
  std::free(transcript);

  if (status != 0 && status != 1) std::abort();
  if (status == 0) {
    // A complete run has written its preview and its full-width raster
    // whole, in the data set's directory (no other directory exists).
    if (said.find("\n\n Sauvegarde en cours\n") == std::string::npos) std::abort();
    bool found = false;
    DIR* d = opendir((g_root + "/d").c_str());
    if (!d) std::abort();
    while (dirent* e = readdir(d)) {
      const std::string name = e->d_name;
      const std::string suffix = "_m1.raw";
      if (name.size() < suffix.size() || name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0)
        continue;
      const std::string base = g_root + "/d/" + name.substr(0, name.size() - suffix.size());
      const long n = file_size(base + "_m1.raw");
      if (n <= 0) std::abort();
      if (file_size(base + "_m2.raw") != 2 * n && file_size(base + "_m4.raw") != 4 * n) std::abort();
      found = true;
    }
    closedir(d);
    if (!found) std::abort();
  }
  return 0;
}
