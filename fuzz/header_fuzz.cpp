// Fuzz target: the header text reader against the C library's
// "%d%d%d%d%d%d" whenever every number fits an int (past that the C
// library's result is undefined); a header written by format_header reads
// back as itself.
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "io/header.h"

static tesk::Header read_text(const std::string& text) {
  std::FILE* f = fmemopen(const_cast<char*>(text.data()), text.size(), "r");
  if (!f) std::abort();
  const tesk::Header h = tesk::read_header(f);
  std::fclose(f);
  return h;
}

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
  if (size == 0) return 0;  // fmemopen refuses an empty buffer
  const std::string text(reinterpret_cast<const char*>(data), size);
  const tesk::Header h = read_text(text);
  std::size_t run = 0, longest = 0;  // the longest run of digits
  for (unsigned char c : text) longest = std::max(longest, run = std::isdigit(c) ? run + 1 : 0);
  if (longest <= 9) {
    int v[6] = {0, 0, 0, 0, 0, 0};  // the C library stops at a NUL, as the reader does
    std::sscanf(text.substr(0, text.find('\0')).c_str(), "%d%d%d%d%d%d", &v[0], &v[1], &v[2], &v[3], &v[4], &v[5]);
    if (!(h == tesk::Header{v[0], v[1], v[2], v[3], v[4], v[5]})) std::abort();
  }
  if (!(read_text(tesk::format_header(h)) == h)) std::abort();
  return 0;
}
