// The options of the batch command line, in the manner of GDAL's utilities
// (-of, -co, -ot, -tr, -ts, -te with one dash), and their parsing.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "io/gdal_source.h"

namespace tesk {

struct Options {
  std::string src, dst;
  int interval = 0;
  int window = 1;
  bool no_overlay = false;
  std::optional<std::string> format, type, preview, hillshade, mask;
  std::vector<std::string> creation;
  std::optional<double> nodata;
  gdal::SourceOptions source;
  bool quiet = false, overwrite = false;
  int threads = 0;
  double hillshade_z = 1;  // vertical exaggeration of the hillshade
};

// Parses argv into o.  Returns nothing when the run should go on, else the
// exit status: 0 after --help or --version (printed on standard output), 1
// after a parse error (printed on standard error).
std::optional<int> parse_options(int argc, char** argv, Options& o);

// The command line as a shell would need it quoted (recorded in the output's
// metadata).
std::string command_line(int argc, char** argv);

}  // namespace tesk
