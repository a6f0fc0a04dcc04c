// Destinations of the batch mode: any raster format GDAL writes, the classic
// output set (NAME_m1.raw, NAME_m2.raw / NAME_m4.raw and their header
// texts), and PNG pictures (the 8-bit preview, a shaded relief).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "core/grid.h"
#include "io/gdal_source.h"
#include "io/header.h"

namespace tesk::gdal {

using RealGrid = Grid<double>;

// The driver for a destination when -of is not given: the one whose file
// extension matches (GTiff first among several), else GTiff.
std::string driver_for(const std::string& path);

// True for a path that names a classic full-width output (NAME_m2.raw or
// NAME_m4.raw); its sample width follows the name.
bool is_classic_destination(const std::string& path);

// Every file the classic output set of path consists of, the full-width
// raster first.
std::vector<std::string> classic_set_files(const std::string& path);

// The sample type to write: `requested` (a GDAL type name) when given, else
// the source's type when it is an integer type holding min..max, else
// Int32.  Throws RunError for an unknown or unusable type, and for an
// integer type that cannot hold min..max (values are never wrapped).
std::string choose_type(const std::optional<std::string>& requested, const std::string& source_type, int min,
                        int max);
bool is_real_type(const std::string& type);

struct RasterDestination {
  std::string path;
  std::string driver;                 // GDAL short name
  std::vector<std::string> options;   // creation options NAME=VALUE
  std::string type;                   // GDAL type name
  double nodata = 0;                  // set when the type can hold it
  std::string command_line;           // recorded in the metadata
};

// Writes one band: `real` when given (floating-point types), else
// `altitude`; with `inside`, the no-data value wherever inside is 0 (the
// type must hold it).  GeoTIFF is tiled and DEFLATE-compressed unless the
// options say otherwise.  Throws RunError.
void write_raster(const RasterDestination& dst, const IntGrid& altitude, const RealGrid* real, const Georef& georef,
                  const ByteGrid* inside = nullptr);

// Checks creation options against what the driver declares: each unknown
// option or invalid value is a GDAL warning (see gdal::warn).  GDAL's own
// second check at creation is turned off.
void check_creation_options(const std::string& driver, const std::vector<std::string>& options);

// Writes the classic output set of path: the preview, the full-width result
// (16-bit when the name ends in _m2.raw: every value must lie in 0..65535)
// and the header text, the same in both header files.  Throws RunError.
void write_classic_set(const std::string& path, const Header& header, const ByteGrid& tab, const IntGrid& itab1);

// An 8-bit grey PNG of the bytes of tab, with nodata when given.  Throws
// RunError.
void write_png(const std::string& path, const ByteGrid& tab, std::optional<double> nodata = std::nullopt);

// GDAL's hillshade of the surface (gdaldem's defaults: Horn's method,
// azimuth 315, altitude 45, z factor 1, scale 1) as an 8-bit grey PNG.
// The pixel size comes from the georeferencing.  With `inside`, the pixels
// where it is 0 are 0, the shade's no-data value (the PNG says so).
// Throws RunError.
void write_hillshade(const std::string& path, const IntGrid& altitude, const RealGrid* real, const Georef& georef,
                     std::optional<double> nodata, const ByteGrid* inside = nullptr);

}  // namespace tesk::gdal
