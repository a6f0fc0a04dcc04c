// Vector sources: contour lines (or spot heights) burnt onto a grid in
// memory with gdal_rasterize's own code, as a user would burn them:
//   -l LAYER -a FIELD (-tr X Y | -ts W H) [-te ...] -a_nodata N -init N -ot Float64
// Internal to src/io (the reading of sources).
#pragma once

#include <string>

#include <gdal.h>

#include "io/gdal_shared.h"
#include "io/gdal_source.h"

namespace tesk::gdal {

// The grid burnt from the layer o.layer of vector (its only layer when
// o.layer is empty), no-data where nothing is burnt.  Features whose
// attribute is NULL or not a number are left out, with a warning that
// counts them; polygons are refused.  Throws RunError, with a message that
// says what to give instead, for a missing or ambiguous layer or attribute
// and for a grid that is degenerate, not finite or too large.
DatasetPtr burn_vector(GDALDatasetH vector, const std::string& path, const SourceOptions& o, double nodata);

// True for the geometry types that enclose an area (polygons, surfaces).
bool is_area_type(OGRwkbGeometryType type);

// The names of the layers of vector, quoted and separated by commas.
std::string layer_names(GDALDatasetH vector);

}  // namespace tesk::gdal
