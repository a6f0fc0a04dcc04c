// A run that cannot go on: the message to show (one line), and whether the
// classic dialogue waits for a key before it ends (output files that cannot
// be created).  The process then ends with exit status 1.
#pragma once

#include <cstdio>
#include <stdexcept>
#include <string>

namespace tesk {

class RunError : public std::runtime_error {
 public:
  explicit RunError(const std::string& message, bool wait_key = false)
      : std::runtime_error(message), wait_key_(wait_key) {}
  bool wait_key() const { return wait_key_; }

 private:
  bool wait_key_;
};

// A number as messages show it: at most 15 significant digits, so that a
// value typed as 0.1 reads 0.1.
inline std::string message_number(double v) {
  char text[40];
  std::snprintf(text, sizeof text, "%.15g", v);
  return text;
}

}  // namespace tesk
