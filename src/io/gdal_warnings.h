// Warnings of the batch mode: remarks that do not change the result, on
// standard error in the form GDAL's utilities give them ("Warning: ...").
// GDAL's own warnings come this way too, once init() has installed the
// error handler; its errors stay quiet, kept for the run's own messages.
#pragma once

#include <functional>
#include <string>

namespace tesk::gdal {

// Where warnings go: the sink gets the text without "Warning: " and
// without a line end.  Process-wide; an empty sink restores the default,
// which prints "Warning: TEXT" on standard error.
void set_warning_sink(std::function<void(const std::string&)> sink);

// Hands text to the sink; safe to call from any thread (one at a time).
void warn(const std::string& text);

// The handler init() gives GDAL: CE_Warning goes to warn(), the rest stays
// quiet.
void install_error_handler();

}  // namespace tesk::gdal
