// The options of the batch command line, in the manner of GDAL's utilities
// (-of, -co, -ot, -tr, -ts, -te with one dash), and their parsing.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "run/run_options.h"

namespace tesk {

// The run's options, and what only the command line has.
struct Options : RunOptions {
  bool quiet = false;
  bool no_overlay = false, overlay = false;  // surface.overlay, either way
  std::string method = "classic";
};

// Parses argv into o.  Returns nothing when the run should go on, else the
// exit status: 0 after --help or --version (printed on standard output), 1
// after a parse error (printed on standard error).
std::optional<int> parse_options(int argc, char** argv, Options& o);

// The command line as a shell would need it quoted (recorded in the output's
// metadata).
std::string command_line(int argc, char** argv);

}  // namespace tesk
