// The command line that does what a run does, recorded in the DEM's
// metadata (TESK_COMMAND_LINE) and shown by the front ends that are not the
// command line (the QGIS log).
#pragma once

#include <string>
#include <vector>

#include "run/run_options.h"

namespace tesk {

// "tesk SRC DST -i N ...": every option o sets, the tile options included.
std::string equivalent_command(const RunOptions& o);

// words as a shell would need them quoted, one blank between them.
std::string shell_quoted(const std::vector<std::string>& words);

}  // namespace tesk
