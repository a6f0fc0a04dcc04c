#include "io/gdal_mask.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <vector>

#include <cpl_error.h>
#include <cpl_string.h>
#include <gdal_utils.h>
#include <ogr_api.h>

#include "core/mention.h"
#include "core/run_error.h"
#include "io/gdal_burn.h"
#include "io/gdal_shared.h"

namespace tesk::gdal {
namespace {

// A grid in memory of the run's size and place, to resample or burn onto.
DatasetPtr grid_like(int rows, int cols, const Georef& georef, GDALDataType type, const std::string& what) {
  DatasetPtr ds(GDALCreate(GDALGetDriverByName("MEM"), "", cols, rows, 1, type, nullptr));
  if (!ds) throw RunError(with_gdal_reason("not enough memory to place " + what + " on the grid"));
  GDALSetGeoTransform(ds.get(), const_cast<double*>(georef.transform.data()));
  if (!georef.projection.empty()) GDALSetProjection(ds.get(), georef.projection.c_str());
  return ds;
}

// Inside: a valid sample (not the no-data value, not NaN) other than 0.
ByteGrid inside_of(GDALRasterBandH band, int rows, int cols, const std::string& what) {
  int has = 0;
  const double nodata = band_nodata(band, &has);
  const bool signed_samples = signed_bytes(band);
  ByteGrid inside(rows, cols);
  std::vector<double> row(static_cast<std::size_t>(cols));
  for (int i = 0; i < rows; ++i) {
    if (GDALRasterIO(band, GF_Read, 0, i, cols, 1, row.data(), cols, 1, GDT_Float64, 0, 0) != CE_None)
      throw RunError(with_gdal_reason("cannot read " + what));
    for (int j = 0; j < cols; ++j) {
      const double v = signed_samples ? signed_byte(row[static_cast<std::size_t>(j)]) : row[static_cast<std::size_t>(j)];
      inside[i][j] = !std::isnan(v) && v != 0 && !(has && v == nodata);
    }
  }
  return inside;
}

ByteGrid raster_mask(GDALDatasetH ds, const std::string& what, int rows, int cols, const Georef& georef) {
  GDALRasterBandH band = GDALGetRasterBand(ds, 1);
  Georef own;
  own.has_transform = GDALGetGeoTransform(ds, own.transform.data()) == CE_None;
  const bool same_size = GDALGetRasterYSize(ds) == rows && GDALGetRasterXSize(ds) == cols;
  if (same_size && (!own.has_transform || !georef.has_transform || own.transform == georef.transform))
    return inside_of(band, rows, cols, what);
  if (!own.has_transform || !georef.has_transform)
    throw RunError(what + " has " + std::to_string(GDALGetRasterYSize(ds)) + " x " +
                   std::to_string(GDALGetRasterXSize(ds)) + " pixels where the source has " + std::to_string(rows) +
                   " x " + std::to_string(cols) +
                   ", and without georeferencing on both the one cannot be placed on the other");
  DatasetPtr onto = grid_like(rows, cols, georef, GDT_Float64, what);
  CPLStringList args;
  for (const char* a : {"-r", "near", "-wo", "INIT_DEST=0", "-q"}) args.AddString(a);
  GDALWarpAppOptions* opts = GDALWarpAppOptionsNew(args.List(), nullptr);
  if (!opts) throw RunError(with_gdal_reason("cannot resample " + what));
  int usage_error = 0;
  CPLErrorReset();
  GDALDatasetH source = ds;
  GDALDatasetH done = GDALWarp(nullptr, onto.get(), 1, &source, opts, &usage_error);
  GDALWarpAppOptionsFree(opts);
  if (!done) throw RunError(with_gdal_reason("cannot resample " + what + " onto the grid of the source"));
  return inside_of(GDALGetRasterBand(onto.get(), 1), rows, cols, what);
}

ByteGrid polygon_mask(GDALDatasetH ds, const std::string& what, int rows, int cols, const Georef& georef) {
  if (!georef.has_transform)
    throw RunError(what + " holds polygons, and the source has no georeferencing to place them on");
  CPLStringList args;
  for (int k = 0; k < GDALDatasetGetLayerCount(ds); ++k) {
    OGRLayerH layer = GDALDatasetGetLayer(ds, k);
    const OGRwkbGeometryType type = OGR_L_GetGeomType(layer);
    if (wkbFlatten(type) != wkbUnknown && !is_area_type(type))
      throw RunError(what + ": layer '" + OGR_L_GetName(layer) + "' holds " + OGRGeometryTypeToName(type) +
                     ", not polygons");
    args.AddString("-l");
    args.AddString(OGR_L_GetName(layer));
  }
  for (const char* a : {"-burn", "1", "-q"}) args.AddString(a);
  DatasetPtr onto = grid_like(rows, cols, georef, GDT_Byte, what);
  GDALRasterizeOptions* opts = GDALRasterizeOptionsNew(args.List(), nullptr);
  if (!opts) throw RunError(with_gdal_reason("cannot burn " + what));
  int usage_error = 0;
  CPLErrorReset();
  GDALDatasetH done = GDALRasterize(nullptr, onto.get(), ds, opts, &usage_error);
  GDALRasterizeOptionsFree(opts);
  if (!done) throw RunError(with_gdal_reason("cannot burn " + what + " onto the grid of the source"));
  return inside_of(GDALGetRasterBand(onto.get(), 1), rows, cols, what);
}

}  // namespace

ByteGrid read_mask(const std::string& path, int rows, int cols, const Georef& georef) {
  init();
  const std::string what = mention(Opt::mask, path);
  std::error_code ec;
  if (!std::filesystem::exists(path, ec) && path.rfind("/vsi", 0) != 0) throw RunError(what + ": no such file");
  CPLErrorReset();
  DatasetPtr ds(GDALOpenEx(path.c_str(), GDAL_OF_RASTER | GDAL_OF_VECTOR, nullptr, nullptr, nullptr));
  if (!ds) throw RunError(with_gdal_reason(what + ": not a raster or vector format GDAL knows"));
  ByteGrid inside;
  if (GDALGetRasterCount(ds.get()) > 0)
    inside = raster_mask(ds.get(), what, rows, cols, georef);
  else if (GDALDatasetGetLayerCount(ds.get()) > 0)
    inside = polygon_mask(ds.get(), what, rows, cols, georef);
  else
    throw RunError(what + " holds neither a raster band nor a vector layer");
  if (std::find(inside.begin(), inside.end(), std::uint8_t{1}) == inside.end())
    throw RunError(what + " covers no pixel of the source's grid");
  return inside;
}

}  // namespace tesk::gdal
