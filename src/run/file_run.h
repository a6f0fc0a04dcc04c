// A run from a source file to its outputs, as `tesk SRC DST` does it: the
// one place where the options are checked, the source read, the DEM
// computed (whole, or by tiles when the raster does not fit the memory)
// and every output written, whole or not at all.  The command line, the
// Python package and the QGIS provider call it with their own arguments
// translated into RunOptions.
//
// A call changes no process-wide state of its host: GDAL's messages go to
// an error handler pushed for the call on its thread, configuration options
// are set for that thread alone and restored, the block cache is left as it
// is (and counted in the memory the run may use).
#pragma once

#include "run/run_hooks.h"
#include "run/run_options.h"
#include "run/run_result.h"

namespace tesk {

// Runs o.  Throws RunError (its kinds: MemoryRefusal, OutputExists,
// FileSystemFault) with a one-line message that mentions options, and
// Cancelled once hooks.cancel says so; either way no output is written and
// existing files are as they were.
FileRunResult run_file(const RunOptions& o, const RunHooks& hooks);

}  // namespace tesk
