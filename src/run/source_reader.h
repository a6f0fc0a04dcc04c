// A source file as the run reads it: raw integer samples as they are, or
// altitudes converted into internal units row by row; whole (a whole run)
// or a window at a time (a run by tiles).
#pragma once

#include "io/gdal_source.h"
#include "run/whole_run.h"
#include "tiles/tile_run.h"

namespace tesk {

// The contours of src for the interval, named `name` in messages.
ContourReader source_reader(gdal::Source& src, int interval, const std::string& name);

// The same a window at a time, for the tiles.
WindowReader source_windows(gdal::Source& src, int interval, const std::string& name);

// The contours of a window always in internal units (kNoData off them), as
// a fitted surface takes them; a value internal units cannot hold is left
// out (the survey before the tiles has refused it).
WindowReader contour_windows(gdal::Source& src, int interval, const std::string& name);

}  // namespace tesk
