// Fuzz target: the dialogue's answers.  The first byte picks, bit by bit,
// eight questions (a number or a word) asked of the rest: each is answered
// (a word never holds a NUL) or the run ends with a one-line RunError.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "console/cues.h"
#include "console/dialogue.h"
#include "core/run_error.h"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
  if (size < 2) return 0;  // fmemopen refuses an empty buffer
  std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
  std::FILE *in = fmemopen(text.data(), text.size(), "r"), *out = std::fopen("/dev/null", "w");
  if (!in || !out) std::abort();
  tesk::SilentCues cues;
  tesk::Dialogue d(in, out, cues);
  for (int k = 0; k < 8; ++k) {
    try {
      if ((data[0] >> k) & 1u) (void)d.ask_int();
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
