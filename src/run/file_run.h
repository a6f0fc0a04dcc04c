// A run from a source file to its outputs, as `tesk SRC DST` does it: the
// one place where the options are checked, the source read, the DEM
// computed and every output written, whole or not at all.  The command
// line, the Python package and the QGIS provider call it with their own
// arguments translated into RunOptions.
//
// A call changes no process-wide state of its host: GDAL's messages go to
// an error handler pushed for the call on its thread, configuration options
// are set for that thread alone and restored, the block cache is left as it
// is (and counted in the memory the run may use).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "io/gdal_source.h"
#include "run/run_hooks.h"
#include "run/samples_run.h"

namespace tesk {

struct RunOptions {
  std::string src, dst;
  int interval = 0;
  int window = 1;
  bool no_overlay = false;
  std::optional<std::string> format, type, preview, hillshade, mask;
  std::vector<std::string> creation;
  std::optional<double> nodata;
  gdal::SourceOptions source;  // band, and a vector source's attribute, layer and grid
  bool overwrite = false;
  int threads = 0;         // 0: TESK_THREADS, else every core
  double hillshade_z = 1;  // vertical exaggeration of the hillshade
  // By tiles: the tile size (forces tiling), the first halo (else
  // estimated from the source), and whether pixels no halo the memory
  // allows can prove are kept as their tile computes them.
  std::optional<int> tile_size, halo;
  bool accept_uncertain = false;
  // Recorded in the DEM's metadata (TESK_COMMAND_LINE): the command line
  // as typed, or equivalent_command() for the other front ends.
  std::string command;
};

// What a run did, with the range of the DEM in its output's units (over
// the mask's inside), and the remarks for after the progress (a value moved
// off the no-data value).
struct FileRunResult {
  ResultStats stats;
  std::vector<std::string> notes;
};

// Runs o.  Throws RunError (its kinds: MemoryRefusal, OutputExists,
// FileSystemFault) with a one-line message in the command line's words,
// and Cancelled once hooks.cancel says so; either way no output is written
// and existing files are as they were.
FileRunResult run_file(const RunOptions& o, const RunHooks& hooks);

// The command line that does what o does: "tesk SRC DST -i N ...".
std::string equivalent_command(const RunOptions& o);

// words as a shell would need them quoted, one blank between them.
std::string shell_quoted(const std::vector<std::string>& words);

}  // namespace tesk
