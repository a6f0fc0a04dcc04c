// Fuzz target: the answer reader against fscanf.  The first byte picks, bit
// by bit, eight reads ("%d" or "%s") of the rest; both agree on each answer
// and where the next read starts (out-of-range values aside, undefined in C).
// Then the Dialogue's same reads answer or end with a one-line RunError.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "console/cues.h"
#include "console/dialogue.h"
#include "core/run_error.h"
#include "core/scan.h"

static std::FILE* open_text(const std::string& text) {  // fmemopen refuses an empty buffer
  std::FILE* f = text.empty() ? std::tmpfile() : fmemopen(const_cast<char*>(text.data()), text.size(), "r");
  if (!f) std::abort();
  return f;
}

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
  using S = tesk::ScanStatus;
  if (size == 0) return 0;
  const unsigned plan = data[0];
  const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
  std::FILE *mine = open_text(text), *libc = open_text(text);
  tesk::Scanner scan(mine);
  std::vector<char> word(text.size() + 1);
  for (int k = 0; k < 8; ++k) {
    if ((plan >> k) & 1u) {
      int value = 12345, c_value = 0;
      const S st = scan.read_int(value);
      const int n = std::fscanf(libc, "%d", &c_value);
      if ((st == S::Ok && (n != 1 || value != c_value)) || (st == S::OutOfRange && n != 1) ||
          (st == S::NotANumber && n == 1) || (st == S::End && n != EOF) ||
          (st != S::Ok && st != S::OutOfRange && value != 12345))
        std::abort();
      // After a failure the C library may keep a lone sign: stop comparing.
      if (st == S::NotANumber || st == S::End) break;
    } else {
      std::string w;
      const S st = scan.read_word(w);
      const int n = std::fscanf(libc, "%s", word.data());
      if (st == S::End && n != EOF) std::abort();
      if (st == S::End) break;
      // The C library's word ends at its first NUL.
      if (st != S::Ok || n != 1 || w.empty() || w.substr(0, w.find('\0')) != std::string(word.data())) std::abort();
    }
  }
  std::fclose(mine);
  std::fclose(libc);
  std::FILE *in = open_text(text), *out = std::fopen("/dev/null", "w");
  tesk::SilentCues cues;
  tesk::Dialogue d(in, out, cues);
  for (int k = 0; k < 8; ++k) {
    try {
      if ((plan >> k) & 1u) (void)d.ask_int();
      else if (d.ask_word().find('\0') != std::string::npos) std::abort();
    } catch (const tesk::RunError& e) {
      const std::string m = e.what();
      if (m.size() < 3 || m.front() != '\n' || m.find('\n', 1) != m.size() - 1) std::abort();
      break;
    }
  }
  std::fclose(in);
  std::fclose(out);
  return 0;
}
