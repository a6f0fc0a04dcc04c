// A run that cannot go on: the message to show (one line), and whether the
// classic dialogue waits for a key before it ends (output files that cannot
// be created).  The process then ends with exit status 1.
//
// The message may mention options (core/mention.h): what() spells them as
// the command line does, raw() keeps the mentions for a front end that
// names its parameters otherwise.
#pragma once

#include <cstdio>
#include <stdexcept>
#include <string>

#include "core/mention.h"

namespace tesk {

class RunError : public std::runtime_error {
 public:
  explicit RunError(const std::string& message, bool wait_key = false)
      : std::runtime_error(render(message)), raw_(message), wait_key_(wait_key) {}
  bool wait_key() const { return wait_key_; }
  const std::string& raw() const { return raw_; }

 private:
  std::string raw_;
  bool wait_key_;
};

// Failures a front end may tell apart (Python raises MemoryError,
// FileExistsError and OSError for them); the command line prints them all
// alike.
class MemoryRefusal : public RunError {  // more memory than the run may use
 public:
  using RunError::RunError;
};
class OutputExists : public RunError {  // an output exists, and may not be replaced
 public:
  using RunError::RunError;
};
class FileSystemFault : public RunError {  // a file or directory cannot be read or written
 public:
  using RunError::RunError;
};

// Throws an error of e's kind with another message.
[[noreturn]] inline void rethrow_as(const RunError& e, const std::string& message) {
  if (dynamic_cast<const MemoryRefusal*>(&e)) throw MemoryRefusal(message);
  if (dynamic_cast<const OutputExists*>(&e)) throw OutputExists(message);
  if (dynamic_cast<const FileSystemFault*>(&e)) throw FileSystemFault(message);
  throw RunError(message, e.wait_key());
}

// A number as messages show it: at most 15 significant digits, so that a
// value typed as 0.1 reads 0.1.
inline std::string message_number(double v) {
  char text[40];
  std::snprintf(text, sizeof text, "%.15g", v);
  return text;
}

}  // namespace tesk
