// The exception a run throws when its front end asked it to stop.
#pragma once

#include <exception>

namespace tesk {

// Thrown out of a run whose observer asked it to stop (a signal, Ctrl-C in
// Python, a cancel in QGIS): nothing the run was computing is usable.
class Cancelled : public std::exception {
 public:
  const char* what() const noexcept override { return "cancelled"; }
};

}  // namespace tesk
