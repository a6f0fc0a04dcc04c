// The batch command line: tesk [options] <src> <dst>, in the manner of
// GDAL's utilities.  Reads a contour raster (or vector contour lines, or a
// classic data set), computes the DEM and writes it, with optional PNG
// pictures.  Messages in English on standard error; progress there too.
#pragma once

namespace tesk {

// Returns the exit status: 0 after a complete run (or --help, --version),
// 128 + the signal after SIGINT, SIGTERM or SIGHUP, 1 on every other
// error, its message printed on standard error.
int run_batch(int argc, char** argv);

}  // namespace tesk
