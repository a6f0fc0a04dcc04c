// Fuzz target: the dialogue's answer reader.
//
// The first byte chooses, bit by bit, a sequence of eight reads ("%d" or
// "%s"); the rest is the console input.  The reader and the C library's
// fscanf read two copies of the same input and must agree on every answer
// and on where the next read starts, except for the value of a number
// outside the int range (undefined in C, refused by the reader).  Then the
// Dialogue reads the same sequence: every read either answers or ends with
// a RunError, and never more reads than there are bytes (no loop without
// new input).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "console/cues.h"
#include "console/dialogue.h"
#include "core/run_error.h"
#include "core/scan.h"

namespace {

std::FILE* open_text(const std::string& text) {
  // fmemopen refuses a zero size: an empty input is a single NUL read as
  // nothing (the stream is positioned at its end).
  std::FILE* f = text.empty() ? std::tmpfile() : fmemopen(const_cast<char*>(text.data()), text.size(), "r");
  if (!f) std::abort();
  return f;
}

[[noreturn]] void fail(const char* what, int k) {
  std::fprintf(stderr, "read %d: %s\n", k, what);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const unsigned plan = data[0];
  const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);

  std::FILE* mine = open_text(text);
  std::FILE* libc = open_text(text);
  tesk::Scanner scan(mine);
  std::vector<char> word(text.size() + 1);
  for (int k = 0; k < 8; ++k) {
    const bool number = (plan >> k) & 1u;
    if (number) {
      int value = 12345;
      const tesk::ScanStatus st = scan.read_int(value);
      int c_value = 0;
      const int n = std::fscanf(libc, "%d", &c_value);
      if (st == tesk::ScanStatus::Ok && (n != 1 || value != c_value)) fail("number differs", k);
      if (st == tesk::ScanStatus::OutOfRange && n != 1) fail("out-of-range number not taken as one", k);
      if (st == tesk::ScanStatus::NotANumber && n == 1) fail("C library read a number", k);
      if (st == tesk::ScanStatus::End && n != EOF) fail("end not seen by the C library", k);
      if (st != tesk::ScanStatus::Ok && st != tesk::ScanStatus::OutOfRange && value != 12345)
        fail("failed read changed its result", k);
      // After a failure the two streams may stand one sign apart (the C
      // library may keep a lone sign it could not convert); stop comparing.
      if (st == tesk::ScanStatus::NotANumber || st == tesk::ScanStatus::End) break;
    } else {
      std::string w;
      const tesk::ScanStatus st = scan.read_word(w);
      const int n = std::fscanf(libc, "%s", word.data());
      if (st == tesk::ScanStatus::End) {
        if (n != EOF) fail("end not seen by the C library", k);
        break;
      }
      if (st != tesk::ScanStatus::Ok || n != 1) fail("word not read", k);
      if (w.empty()) fail("empty word", k);
      // The C library's word ends at its first NUL when it holds one.
      if (w.substr(0, w.find('\0')) != std::string(word.data())) fail("word differs", k);
    }
  }
  std::fclose(mine);
  std::fclose(libc);

  // The same reads through the Dialogue.
  std::FILE* in = open_text(text);
  std::FILE* out = std::fopen("/dev/null", "w");
  tesk::SilentCues cues;
  tesk::Dialogue d(in, out, cues);
  for (int k = 0; k < 8; ++k) {
    try {
      if ((plan >> k) & 1u) {
        (void)d.ask_int();
      } else if (d.ask_word().find('\0') != std::string::npos) {
        fail("NUL left in a name", k);
      }
    } catch (const tesk::RunError& e) {
      const std::string m = e.what();
      if (m.size() < 3 || m.front() != '\n' || m.back() != '\n' || m.find('\n', 1) != m.size() - 1)
        fail("message is not one line", k);
      break;
    }
  }
  std::fclose(in);
  std::fclose(out);
  return 0;
}
