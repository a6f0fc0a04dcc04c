// A run that cannot go on: the message to show (one line), and whether the
// classic dialogue waits for a key before it ends (output files that cannot
// be created).  The process then ends with exit status 1.
#pragma once

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

}  // namespace tesk
