// Shared pieces of the end-to-end tests of the batch command line: running
// the executable and GDAL's own utilities, and reading or making small
// rasters through GDAL (the tests' own access to the files, independent of
// the program's writer).
#pragma once

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include <cpl_error.h>
#include <cpl_string.h>
#include <gdal.h>
#include <ogr_srs_api.h>

#include "support/test_support.h"

namespace tesk::e2e {

using testing::ProcessResult;
using testing::TempDir;

inline std::string demo(const std::string& name) { return std::string(TESK_SOURCE_DIR) + "/images/demo/" + name; }

inline ProcessResult tesk(std::vector<std::string> args, const std::vector<std::string>& env = {}) {
  args.insert(args.begin(), TESK_EXE);
  return testing::run_process(args, "", env);
}

// One of GDAL's command-line utilities (gdal-bin), found on the PATH.
inline void gdal_tool(std::vector<std::string> argv) {
  const char* path = std::getenv("PATH");
  std::string dirs = path ? path : "/usr/bin";
  for (std::size_t start = 0; start <= dirs.size();) {
    const std::size_t end = std::min(dirs.find(':', start), dirs.size());
    const std::string candidate = dirs.substr(start, end - start) + "/" + argv[0];
    if (access(candidate.c_str(), X_OK) == 0) {
      argv[0] = candidate;
      break;
    }
    start = end + 1;
  }
  const ProcessResult r = testing::run_process(argv, "");
  ASSERT_EQ(r.status, 0) << argv[0] << " failed: " << r.err;
}

struct Raster {
  int rows = 0, cols = 0, bands = 0;
  std::string type;
  std::vector<double> v;  // band 1, rows first
  bool has_nodata = false;
  double nodata = 0;
  bool has_transform = false;
  std::array<double, 6> transform{};
  std::string projection;
  std::string driver;
  std::string compression;  // IMAGE_STRUCTURE COMPRESSION, "" when none
  int block_rows = 0, block_cols = 0;
  std::string command_line;  // the TESK_COMMAND_LINE metadata item

  double at(int i, int j) const { return v[static_cast<std::size_t>(i) * cols + j]; }
};

inline Raster read_raster(const std::string& path) {
  GDALAllRegister();
  Raster r;
  GDALDatasetH ds = GDALOpen(path.c_str(), GA_ReadOnly);
  EXPECT_NE(ds, nullptr) << "cannot open " << path;
  if (!ds) return r;
  r.rows = GDALGetRasterYSize(ds);
  r.cols = GDALGetRasterXSize(ds);
  r.bands = GDALGetRasterCount(ds);
  r.driver = GDALGetDriverShortName(GDALGetDatasetDriver(ds));
  GDALRasterBandH b = GDALGetRasterBand(ds, 1);
  r.type = GDALGetDataTypeName(GDALGetRasterDataType(b));
  int has = 0;
  r.nodata = GDALGetRasterNoDataValue(b, &has);
  r.has_nodata = has != 0;
  r.has_transform = GDALGetGeoTransform(ds, r.transform.data()) == CE_None;
  r.projection = GDALGetProjectionRef(ds);
  if (const char* c = GDALGetMetadataItem(ds, "COMPRESSION", "IMAGE_STRUCTURE")) r.compression = c;
  if (const char* c = GDALGetMetadataItem(ds, "TESK_COMMAND_LINE", nullptr)) r.command_line = c;
  GDALGetBlockSize(b, &r.block_cols, &r.block_rows);
  r.v.resize(static_cast<std::size_t>(r.rows) * r.cols);
  EXPECT_EQ(GDALRasterIO(b, GF_Read, 0, 0, r.cols, r.rows, r.v.data(), r.cols, r.rows, GDT_Float64, 0, 0), CE_None);
  GDALClose(ds);
  return r;
}

// A one-band GeoTIFF of the given type and values (rows first).
inline void write_tif(const std::string& path, const char* type, int rows, int cols, const std::vector<double>& v,
                      std::optional<double> nodata) {
  GDALAllRegister();
  GDALDatasetH ds =
      GDALCreate(GDALGetDriverByName("GTiff"), path.c_str(), cols, rows, 1, GDALGetDataTypeByName(type), nullptr);
  ASSERT_NE(ds, nullptr);
  double gt[6] = {1000, 10, 0, 2000, 0, -10};
  GDALSetGeoTransform(ds, gt);
  GDALRasterBandH b = GDALGetRasterBand(ds, 1);
  if (nodata) GDALSetRasterNoDataValue(b, *nodata);
  ASSERT_EQ(GDALRasterIO(b, GF_Write, 0, 0, cols, rows, const_cast<double*>(v.data()), cols, rows, GDT_Float64, 0, 0),
            CE_None);
  GDALClose(ds);
}

inline bool same_projection(const std::string& a, const std::string& b) {
  OGRSpatialReferenceH sa = OSRNewSpatialReference(a.c_str());
  OGRSpatialReferenceH sb = OSRNewSpatialReference(b.c_str());
  const bool same = sa && sb && OSRIsSame(sa, sb);
  OSRDestroySpatialReference(sa);
  OSRDestroySpatialReference(sb);
  return same;
}

// Little-endian samples of a classic raster file.
inline std::vector<double> samples16(const std::string& bytes) {
  std::vector<double> v(bytes.size() / 2);
  for (std::size_t k = 0; k < v.size(); ++k)
    v[k] = static_cast<unsigned char>(bytes[2 * k]) | (static_cast<unsigned char>(bytes[2 * k + 1]) << 8);
  return v;
}

}  // namespace tesk::e2e
