#include "io/tile_store.h"

#include <cpl_error.h>
#include <cpl_string.h>
#include <gdal.h>

#include <memory>
#include <string_view>
#include <vector>

#include "core/run_error.h"

namespace tesk::gdal {

TileStore::TileStore(const std::string& path, int rows, int cols, bool real, int compress_threads)
    : path_(path), rows_(rows), cols_(cols) {
  init();
  CPLStringList options;
  for (const char* o : {"TILED=YES", "BIGTIFF=IF_SAFER"}) options.AddString(o);
  if (compress_threads > 0) {
    // Zstandard where this GDAL has it: at level 1 it packs and unpacks
    // these rasters in less time than DEFLATE (docs/performance.md).
    static const bool zstd = [] {
      const char* list = GDALGetMetadataItem(GDALGetDriverByName("GTiff"), GDAL_DMD_CREATIONOPTIONLIST, nullptr);
      return list != nullptr && std::string_view(list).find("ZSTD") != std::string_view::npos;
    }();
    if (zstd)
      for (const char* o : {"COMPRESS=ZSTD", "ZSTD_LEVEL=1"}) options.AddString(o);
    else
      for (const char* o : {"COMPRESS=DEFLATE", "ZLEVEL=1"}) options.AddString(o);
    // Fitted surfaces vary from pixel to pixel: their floating-point
    // differences pack better.  The holes' values are long runs of one value,
    // which Zstandard packs as well without differences, in less time
    // (docs/performance.md).
    if (real) options.AddString("PREDICTOR=3");
    options.SetNameValue("NUM_THREADS", std::to_string(compress_threads).c_str());
  }
  ds_.reset(GDALCreate(GDALGetDriverByName("GTiff"), path.c_str(), cols, rows, 1, real ? GDT_Float64 : GDT_Int32, options.List()));
  if (!ds_) throw FileSystemFault(with_gdal_reason("cannot make the temporary raster " + path));
}

void TileStore::put(int row0, int col0, const IntGrid& values) {
  write(row0, col0, values.rows(), values.cols(), values.data(), GDT_Int32);
}

void TileStore::put(int row0, int col0, const Grid<double>& values) {
  write(row0, col0, values.rows(), values.cols(), values.data(), GDT_Float64);
}

void TileStore::write(int row0, int col0, int rows, int cols, const void* data, int type) {
  GDALRasterBandH band = GDALGetRasterBand(ds_.get(), 1);
  if (GDALRasterIO(band, GF_Write, col0, row0, cols, rows, const_cast<void*>(data), cols, rows,
                   static_cast<GDALDataType>(type), 0, 0) != CE_None)
    throw FileSystemFault(with_gdal_reason("cannot write the temporary raster " + path_));
}

void TileStore::get(int row0, int col0, IntGrid& out) {
  GDALRasterBandH band = GDALGetRasterBand(ds_.get(), 1);
  if (GDALRasterIO(band, GF_Read, col0, row0, out.cols(), out.rows(), out.data(), out.cols(), out.rows(), GDT_Int32,
                   0, 0) != CE_None)
    throw FileSystemFault(with_gdal_reason("cannot read the temporary raster " + path_));
}

void TileStore::finish() {
  CPLErrorReset();
  GDALFlushCache(ds_.get());
  if (CPLGetLastErrorType() >= CE_Failure)
    throw FileSystemFault(with_gdal_reason("cannot write the temporary raster " + path_));
}

ResultRows TileStore::rows() {
  // Each reader its own buffer: the DEM's writer and the pictures' may read
  // blocks of rows in turn without spoiling each other's.
  auto block = std::make_shared<std::vector<double>>();
  return {rows_, cols_, [this, block](int i, int n) {
            block->resize(static_cast<std::size_t>(n) * static_cast<std::size_t>(cols_));
            if (GDALRasterIO(GDALGetRasterBand(ds_.get(), 1), GF_Read, 0, i, cols_, n, block->data(), cols_, n,
                             GDT_Float64, 0, 0) != CE_None)
              throw FileSystemFault(with_gdal_reason("cannot read the temporary raster " + path_));
            return static_cast<const double*>(block->data());
          }};
}

}  // namespace tesk::gdal
