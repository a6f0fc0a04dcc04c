// Destinations of the batch mode: any raster format GDAL writes, the classic
// output set (NAME_m1.raw, NAME_m2.raw / NAME_m4.raw and their header
// texts), and PNG pictures (the 8-bit preview, a shaded relief).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "core/grid.h"
#include "io/gdal_progress.h"
#include "io/gdal_source.h"
#include "io/header.h"
#include "io/output_type.h"
#include "io/result_rows.h"

namespace tesk::gdal {

// True for a path that names a classic full-width output (NAME_m2.raw or
// NAME_m4.raw); its sample width follows the name.
bool is_classic_destination(const std::string& path);

// Every file the classic output set of path consists of, the full-width
// raster first.
std::vector<std::string> classic_set_files(const std::string& path);

// The files a raster of `driver` named path may have beside it, which an
// older output of that name may have left: GDAL's auxiliary metadata and
// overviews for every format, and the headers, projections, statistics and
// world files of the formats that write them.
std::vector<std::string> sidecar_files(const std::string& driver, const std::string& path);

// The short name of the driver GDAL takes the existing file (or directory)
// at path for, "" when none (and for anything else: a device, a pipe).
std::string identified_driver(const std::string& path);

// Whether path is a directory that `driver` reads as a dataset of its own
// (a Zarr store): a new output of that format may replace it whole.
bool is_dataset_directory(const std::string& driver, const std::string& path);

struct RasterDestination {
  std::string path;                   // the file to write
  Format format;
  std::vector<std::string> options;   // creation options NAME=VALUE
  std::string type;                   // GDAL type name
  std::optional<double> nodata;
  std::string command_line;           // recorded in the metadata
  int threads = 1;                    // GTiff compresses on as many, unless the options say
};

// Writes one band holding the altitudes of `internal` (a result in internal
// units) at resolution r; with `inside`, the no-data value wherever inside
// is 0 (the destination must have one).  GeoTIFF is tiled and
// DEFLATE-compressed unless the options say otherwise, with the
// floating-point predictor for a floating-point type.  Reports its progress
// to `step` and stops when it says so.  Throws RunError.
void write_raster(const RasterDestination& dst, const IntGrid& internal, const Resolution& r, const Georef& georef,
                  const StepProgress& step, const ByteGrid* inside = nullptr);
// The same from a result read a block of rows at a time.
void write_raster(const RasterDestination& dst, const ResultRows& internal, const Resolution& r, const Georef& georef,
                  const StepProgress& step, const ByteGrid* inside = nullptr);

// Checks creation options against what the driver declares: each unknown
// option or invalid value is a GDAL warning (see gdal::warn).  GDAL's own
// second check at creation is turned off.
void check_creation_options(const std::string& driver, const std::vector<std::string>& options);

// Writes the classic output set of path: the preview, the full-width result
// (16-bit when the name ends in _m2.raw: every value must lie in 0..65535)
// and the header text, the same in both header files.  Throws RunError.
void write_classic_set(const std::string& path, const Header& header, const ByteGrid& tab, const IntGrid& itab1);

}  // namespace tesk::gdal
