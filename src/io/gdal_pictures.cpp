#include "io/gdal_pictures.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include <cpl_error.h>
#include <cpl_string.h>
#include <gdal.h>
#include <gdal_utils.h>
#include <ogr_srs_api.h>

#include "core/cancelled.h"
#include "core/run_error.h"
#include "io/gdal_shared.h"

namespace tesk::gdal {
namespace {

// Rows a block of work covers: about a million pixels.
int chunk_rows(int rows, int cols) { return std::max(1, std::min(rows, (1 << 20) / std::max(cols, 1))); }

// A one-band raster for an intermediate picture: in memory, or a
// temporary GeoTIFF named name in scratch.
DatasetPtr scratch_raster(const std::string& scratch, const std::string& name, int rows, int cols, GDALDataType t) {
  const bool memory = scratch.empty();
  const std::string path = memory ? "" : scratch + "/" + name;
  const char* options[] = {"TILED=YES", nullptr};
  DatasetPtr ds(GDALCreate(GDALGetDriverByName(memory ? "MEM" : "GTiff"), path.c_str(), cols, rows, 1, t,
                           memory ? nullptr : const_cast<char**>(options)));
  if (!ds) throw RunError(with_gdal_reason("cannot make a raster for a picture"));
  return ds;
}

void write_rows(GDALRasterBandH band, int i, int n, int cols, void* data, GDALDataType t, const std::string& path) {
  if (GDALRasterIO(band, GF_Write, 0, i, cols, n, data, cols, n, t, 0, 0) != CE_None)
    throw RunError(with_gdal_reason("cannot write " + path));
}

// Reports the share done of a picture's step; throws once the run must stop.
void report(const StepProgress& step, double fraction) {
  if (!step.report(fraction)) throw Cancelled();
}

bool geographic(const Georef& georef) {
  if (georef.projection.empty()) return false;
  OGRSpatialReferenceH srs = OSRNewSpatialReference(georef.projection.c_str());
  const bool g = srs && OSRIsGeographic(srs);
  if (srs) OSRDestroySpatialReference(srs);
  return g;
}

}  // namespace

void write_png(const std::string& path, int rows, int cols, const PictureRows& bytes, std::optional<double> nodata,
               const std::string& scratch, const StepProgress& step) {
  init();
  DatasetPtr picture = scratch_raster(scratch, "picture.tif", rows, cols, GDT_Byte);
  GDALRasterBandH band = GDALGetRasterBand(picture.get(), 1);
  const int chunk = chunk_rows(rows, cols);
  std::vector<std::uint8_t> block(static_cast<std::size_t>(chunk) * static_cast<std::size_t>(cols));
  for (int i = 0; i < rows; i += chunk) {
    const int n = std::min(chunk, rows - i);
    bytes(i, n, block.data());
    write_rows(band, i, n, cols, block.data(), GDT_Byte, path);
    report(step, 0.5 * (i + n) / rows);
  }
  if (nodata) GDALSetRasterNoDataValue(band, *nodata);
  CPLErrorReset();
  const StepProgress copying = step.part(0.5, 1);
  DatasetPtr png(GDALCreateCopy(GDALGetDriverByName("PNG"), path.c_str(), picture.get(), FALSE, nullptr, step_progress,
                                const_cast<StepProgress*>(&copying)));
  report(step, 1);
  if (!png) throw RunError(with_gdal_reason("cannot write " + path));
  png.reset();
  if (CPLGetLastErrorType() >= CE_Failure) throw RunError(with_gdal_reason("cannot write " + path));
}

void write_png(const std::string& path, const ByteGrid& tab, const StepProgress& step) {
  write_png(
      path, tab.rows(), tab.cols(),
      [&tab](int i, int n, std::uint8_t* out) { std::copy(tab[i], tab[i] + static_cast<std::ptrdiff_t>(n) * tab.cols(), out); },
      std::nullopt, "", step);
}

void write_hillshade(const std::string& path, const ResultRows& internal, const Resolution& r, const Georef& georef,
                     double z, const ByteGrid* inside, const std::string& scratch, const StepProgress& step) {
  init();
  const int rows = internal.rows, cols = internal.cols, chunk = chunk_rows(rows, cols);
  // The surface in single precision, which gdaldem computes in.
  DatasetPtr dem = scratch_raster(scratch, "surface.tif", rows, cols, GDT_Float32);
  {
    GDALRasterBandH band = GDALGetRasterBand(dem.get(), 1);
    std::vector<float> block(static_cast<std::size_t>(chunk) * static_cast<std::size_t>(cols));
    for (int i = 0; i < rows; i += chunk) {
      const int n = std::min(chunk, rows - i);
      const double* w = internal.at(i, n);
      for (std::size_t k = 0; k < static_cast<std::size_t>(n) * cols; ++k)
        block[k] = static_cast<float>(altitude_of(w[k], r));
      write_rows(band, i, n, cols, block.data(), GDT_Float32, path);
      report(step, 0.2 * (i + n) / rows);
    }
  }
  set_georef(dem.get(), georef);
  // Without georeferencing, pixels of one unit, north up: GDAL's in-memory
  // raster and a GeoTIFF would otherwise take different defaults, and a run
  // by tiles (whose surface is a GeoTIFF) would shade from the south-west.
  if (!georef.has_transform) {
    double north_up[6] = {0, 1, 0, 0, 0, -1};
    GDALSetGeoTransform(dem.get(), north_up);
  }
  char zs[40];
  std::snprintf(zs, sizeof zs, "%.17g", z);
  CPLStringList args;
  for (const char* a : {"-of", scratch.empty() ? "MEM" : "GTiff", "-alg", "Horn", "-az", "315", "-alt", "45", "-z",
                        static_cast<const char*>(zs), "-s", geographic(georef) ? "111120" : "1"})
    args.AddString(a);
  if (!scratch.empty()) args.AddString("-co"), args.AddString("TILED=YES");
  GDALDEMProcessingOptions* opts = GDALDEMProcessingOptionsNew(args.List(), nullptr);
  if (!opts) throw RunError(with_gdal_reason("cannot compute the hillshade for " + path + ": GDAL refused its options"));
  const StepProgress shading = step.part(0.2, 0.7);
  GDALDEMProcessingOptionsSetProgress(opts, step_progress, const_cast<StepProgress*>(&shading));
  int usage_error = 0;
  CPLErrorReset();
  const std::string shade_path = scratch.empty() ? "" : scratch + "/shade.tif";
  DatasetPtr shade(GDALDEMProcessing(shade_path.c_str(), dem.get(), "hillshade", nullptr, opts, &usage_error));
  GDALDEMProcessingOptionsFree(opts);
  report(step, 0.7);
  if (!shade) throw RunError(with_gdal_reason("cannot compute the hillshade for " + path));
  // Shaded over the whole surface, then 0 (the shade's no-data) outside;
  // no georeferencing goes with the picture, so no sidecar lands beside it.
  GDALRasterBandH band = GDALGetRasterBand(shade.get(), 1);
  const auto bytes = [&](int i, int n, std::uint8_t* out) {
    if (GDALRasterIO(band, GF_Read, 0, i, cols, n, out, cols, n, GDT_Byte, 0, 0) != CE_None)
      throw RunError(with_gdal_reason("cannot compute the hillshade for " + path));
    if (inside)
      for (std::size_t k = 0; k < static_cast<std::size_t>(n) * cols; ++k)
        if (!(*inside)[i][k]) out[k] = 0;
  };
  write_png(path, rows, cols, bytes, inside ? std::optional<double>(0.0) : std::nullopt, scratch, step.part(0.7, 1));
}

}  // namespace tesk::gdal
