// Fuzz target: the header text reader.
//
// Any bytes must read without fault.  Checked against the C library's own
// "%d%d%d%d%d%d" reading whenever every number of the text fits an int (the
// C library's result is undefined past that), and a header written by
// format_header must read back as itself.
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "io/header.h"

namespace {

// Whether every run of digits in the text has at most 9 digits: then no
// value the C library converts can leave the int range.
bool numbers_fit(const std::string& s) {
  std::size_t run = 0;
  for (unsigned char c : s) {
    run = std::isdigit(c) ? run + 1 : 0;
    if (run > 9) return false;
  }
  return true;
}

tesk::Header read_text(const std::string& text) {
  std::FILE* f = fmemopen(const_cast<char*>(text.data()), text.size(), "r");
  if (!f) std::abort();
  const tesk::Header h = tesk::read_header(f);
  std::fclose(f);
  return h;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;  // fmemopen refuses an empty buffer
  const std::string text(reinterpret_cast<const char*>(data), size);
  const tesk::Header h = read_text(text);

  if (numbers_fit(text)) {
    // The C library stops a string at its first NUL; the reader stops its
    // reading at a NUL too (not white space, not a digit).
    const std::string c_text = text.substr(0, text.find('\0'));
    int v[6] = {0, 0, 0, 0, 0, 0};
    std::sscanf(c_text.c_str(), "%d%d%d%d%d%d", &v[0], &v[1], &v[2], &v[3], &v[4], &v[5]);
    const tesk::Header expected{v[0], v[1], v[2], v[3], v[4], v[5]};
    if (!(h == expected)) {
      std::fprintf(stderr, "header %d %d %d %d %d %d, C library %d %d %d %d %d %d\n", h.nb_lig, h.nb_col, h.val,
                   h.min_al, h.max_al, h.taille_pix, v[0], v[1], v[2], v[3], v[4], v[5]);
      std::abort();
    }
  }

  // Whatever was read, writing it and reading it back gives the same six
  // values.
  if (!(read_text(tesk::format_header(h)) == h)) std::abort();
  return 0;
}
