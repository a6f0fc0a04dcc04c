#include "io/gdal_warnings.h"

#include <cstdio>
#include <mutex>

#include <cpl_error.h>

namespace tesk::gdal {
namespace {

std::mutex& lock() {
  static std::mutex m;
  return m;
}
std::function<void(const std::string&)>& sink() {
  static std::function<void(const std::string&)> s;
  return s;
}

void CPL_STDCALL handler(CPLErr kind, CPLErrorNum, const char* message) {
  if (kind == CE_Warning && message) warn(message);
}

}  // namespace

void set_warning_sink(std::function<void(const std::string&)> s) {
  const std::lock_guard<std::mutex> guard(lock());
  sink() = std::move(s);
}

void warn(const std::string& text) {
  const std::lock_guard<std::mutex> guard(lock());
  if (sink()) {
    sink()(text);
  } else {
    std::fprintf(stderr, "Warning: %s\n", text.c_str());
    std::fflush(stderr);
  }
}

void install_error_handler() { CPLSetErrorHandler(handler); }

}  // namespace tesk::gdal
