// Warnings of the runs that use GDAL: remarks that do not change the
// result, GDAL's own warnings among them.  GDAL's errors stay quiet, kept
// as its last message for the run's own reports.
//
// Nothing here is process-wide: a Session pushes an error handler on the
// thread that runs (GDAL keeps a stack of handlers per thread) and sets
// GDAL's configuration options for that thread alone, so that a run inside
// a host (Python with rasterio, QGIS) leaves the host's GDAL as it was.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tesk::gdal {

class Session {
 public:
  // Warnings of this thread go to sink (without "Warning: " and without a
  // line end) while the session lives; an empty sink prints them on
  // standard error as "Warning: TEXT".
  explicit Session(std::function<void(const std::string&)> sink);
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;
  friend void warn(const std::string& text);
  friend std::function<void(const std::string&)> rewriting_sink(std::function<std::string(const std::string&)>);

  // Sets GDAL's configuration option for this thread until the session
  // ends, when the value it had is restored.
  void set_option(const char* key, const char* value);

 private:
  // Hands text to the sink of session s (standard error without one).
  static void deliver(const Session* s, const std::string& text);

  std::function<void(const std::string&)> sink_;
  Session* outer_;
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

// Hands text to the sink of this thread's session (standard error without
// one).
void warn(const std::string& text);

// A sink for a session nested in this thread's current one: each text goes,
// rewritten, to the current session's sink (standard error without one).
std::function<void(const std::string&)> rewriting_sink(std::function<std::string(const std::string&)> rewrite);

// The session of this thread, or null.
Session* current_session();

}  // namespace tesk::gdal
