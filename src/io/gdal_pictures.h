// The pictures of a run: the 8-bit preview and GDAL's shaded relief, as
// grey PNGs.  Their intermediate rasters are held in memory, or, for a
// tiled run whose rasters do not fit it, as temporary GeoTIFFs in a scratch
// directory; the pixels, and so the PNG's bytes, are the same either way.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "core/grid.h"
#include "io/gdal_progress.h"
#include "io/gdal_source.h"
#include "io/output_type.h"
#include "io/result_rows.h"

namespace tesk::gdal {

// Fills rows [i, i + n) of a picture, row after row.
using PictureRows = std::function<void(int i, int n, std::uint8_t* out)>;

// An 8-bit grey PNG of rows x cols bytes, with nodata when given; scratch
// "" holds the picture in memory, else a temporary raster there.  Its
// progress goes to step, polled about every million pixels, and a stop
// there ends it.  Throws RunError.
void write_png(const std::string& path, int rows, int cols, const PictureRows& bytes,
               std::optional<double> nodata = std::nullopt, const std::string& scratch = "",
               const StepProgress& step = {});
void write_png(const std::string& path, const ByteGrid& tab, const StepProgress& step = {});

// GDAL's hillshade of the surface (`internal` at resolution r) as an 8-bit
// grey PNG: gdaldem's defaults (Horn's method, azimuth 315, altitude 45),
// the relief exaggerated z times, and on a geographic grid the degrees
// taken as 111120 m (gdaldem's -s 111120).  The pixel size comes from the
// georeferencing.  Every pixel of the surface is an altitude, those outside
// a mask too, so that the shade inside is the one of the whole surface;
// with `inside`, the pixels where it is 0 are then 0, the shade's no-data
// value (the PNG says so).  scratch and step as for write_png.  Throws
// RunError.
void write_hillshade(const std::string& path, const ResultRows& internal, const Resolution& r, const Georef& georef,
                     double z, const ByteGrid* inside = nullptr, const std::string& scratch = "",
                     const StepProgress& step = {});

}  // namespace tesk::gdal
