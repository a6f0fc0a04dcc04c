// The console of the classic program: prompts and messages on one stream,
// answers read from another with scanf's "%d" and "%s" rules, sound cues.
//
// An answer that is not a number where one is expected, a number outside
// the int range, or the end of the input ends the run with a one-line
// French message (RunError): the dialogue never loops without reading new
// input.
#pragma once

#include <cstdio>
#include <string>

#include "console/cues.h"
#include "core/scan.h"

namespace tesk {

class Dialogue {
 public:
  Dialogue(std::FILE* in, std::FILE* out, CuePlayer& cues) : in_(in), out_(out), scan_(in), cues_(cues) {}

  // printf-style text on the console.
  void say(const char* format, ...) __attribute__((format(printf, 2, 3)));
  void say_text(const std::string& text);

  // Flushes the console, then plays the cue: the user sees every line
  // printed before it.
  void cue(const char* file_name);

  int ask_int();
  // One word, cut at its first NUL byte (names are C strings).
  std::string ask_word();

  // One key read without echo, only when the input is a terminal.
  void wait_key();

  std::FILE* out() const { return out_; }

 private:
  [[noreturn]] void refuse(ScanStatus status);
  std::FILE* in_;
  std::FILE* out_;
  Scanner scan_;
  CuePlayer& cues_;
};

}  // namespace tesk
