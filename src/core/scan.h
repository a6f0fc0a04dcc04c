// Reading numbers and words from a text stream the way C's scanf "%d" and
// "%s" read it: leading white space skipped, the next read going on right
// after the last character taken.  "3.5" read as a number gives 3 and leaves
// ".5" for the next read.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace tesk {

enum class ScanStatus {
  Ok,
  End,         // the stream ended before anything but white space
  NotANumber,  // no digit where a number was expected
  OutOfRange,  // digits that do not fit an int
};

class Scanner {
 public:
  explicit Scanner(std::FILE* in) : in_(in) {}

  // "%d": optional sign and decimal digits.  On failure the offending
  // character is left in the stream; *out is unchanged.
  ScanStatus read_int(int& out);

  // "%s": one word, up to the next white space (no length limit).
  ScanStatus read_word(std::string& out);

  // The rest of the current word, for messages about a bad answer (at most
  // 40 characters are kept).
  std::string peek_word();

 private:
  int skip_space();
  std::FILE* in_;
};

}  // namespace tesk
