// An area of interest for the batch mode (--mask): a raster, whose valid
// non-zero pixels are inside, or polygons, burnt onto the grid of the run.
#pragma once

#include <string>

#include "core/grid.h"
#include "io/gdal_source.h"

namespace tesk::gdal {

// The mask of path on a grid of rows x cols pixels placed by georef: 1
// inside, 0 outside.  A raster on the same grid (or of the same size where
// either has no georeferencing) is taken pixel for pixel; on another grid it
// is resampled by nearest neighbour, its no-data pixels and the area it does
// not cover being outside.  Polygons (every layer, reprojected when their
// CRS differs) are burnt as gdal_rasterize burns them.  Throws RunError,
// naming --mask and the file, for what cannot be read or placed, lines or
// points instead of polygons, and a mask with no pixel inside.
ByteGrid read_mask(const std::string& path, int rows, int cols, const Georef& georef);

}  // namespace tesk::gdal
