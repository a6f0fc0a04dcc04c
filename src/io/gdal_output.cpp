#include "io/gdal_output.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <vector>

#include <cpl_conv.h>
#include <cpl_error.h>
#include <cpl_string.h>
#include <gdal.h>
#include <gdal_utils.h>

#include "core/run_error.h"
#include "io/gdal_shared.h"
#include "io/raster.h"

namespace tesk::gdal {
namespace {

// A one-band dataset in memory over an existing buffer (no copy).
DatasetPtr wrap(void* data, GDALDataType type, int rows, int cols) {
  GDALDriverH mem = GDALGetDriverByName("MEM");
  DatasetPtr ds(GDALCreate(mem, "", cols, rows, 0, GDT_Byte, nullptr));
  if (!ds) throw RunError(with_gdal_reason("cannot make a grid in memory"));
  char pointer[64];
  std::snprintf(pointer, sizeof pointer, "%p", data);
  CPLStringList opts;
  opts.SetNameValue("DATAPOINTER", pointer);
  if (GDALAddBand(ds.get(), type, opts.List()) != CE_None) throw RunError(with_gdal_reason("cannot make a band"));
  return ds;
}

DatasetPtr wrap_surface(const IntGrid& altitude, const RealGrid* real) {
  if (real) return wrap(const_cast<double*>(real->data()), GDT_Float64, real->rows(), real->cols());
  return wrap(const_cast<std::int32_t*>(altitude.data()), GDT_Int32, altitude.rows(), altitude.cols());
}

void set_georef(GDALDatasetH ds, const Georef& g) {
  if (g.has_transform) GDALSetGeoTransform(ds, const_cast<double*>(g.transform.data()));
  if (!g.projection.empty()) GDALSetProjection(ds, g.projection.c_str());
}

// Range of an integer type, or nothing for real types.
struct Range {
  double lo, hi;
};
std::optional<Range> int_range(GDALDataType t) {
  if (!GDALDataTypeIsInteger(t) || GDALDataTypeIsComplex(t)) return std::nullopt;
  const int bits = GDALGetDataTypeSizeBits(t);
  if (GDALDataTypeIsSigned(t)) return Range{-std::ldexp(1.0, bits - 1), std::ldexp(1.0, bits - 1) - 1};
  return Range{0, std::ldexp(1.0, bits) - 1};
}

bool can_hold(GDALDataType t, double v) {
  if (t == GDT_Float64) return true;
  if (t == GDT_Float32) return std::isnan(v) || std::isinf(v) || std::fabs(v) <= std::numeric_limits<float>::max();
  const auto r = int_range(t);
  return r && std::isfinite(v) && v == std::trunc(v) && v >= r->lo && v <= r->hi;
}

bool has_key(const std::vector<std::string>& options, const char* key) {
  const std::size_t n = std::strlen(key);
  for (const auto& o : options)
    if (o.size() > n && o[n] == '=' && EQUALN(o.c_str(), key, n)) return true;
  return false;
}

void write_bytes(const std::string& path, const std::string& what, const void* data, std::size_t n) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  bool ok = f && std::fwrite(data, 1, n, f) == n;
  if (f && std::fclose(f) != 0) ok = false;
  if (!ok) throw RunError("cannot write " + what + " " + path);
}

// The surface row by row, no-data where inside is 0.
bool write_masked(GDALRasterBandH band, const IntGrid& altitude, const RealGrid* real, const ByteGrid& inside,
                  double nodata) {
  std::vector<double> row(static_cast<std::size_t>(altitude.cols()));
  for (int i = 0; i < altitude.rows(); ++i) {
    for (int j = 0; j < altitude.cols(); ++j)
      row[static_cast<std::size_t>(j)] = !inside[i][j] ? nodata : real ? (*real)[i][j] : altitude[i][j];
    if (GDALRasterIO(band, GF_Write, 0, i, altitude.cols(), 1, row.data(), altitude.cols(), 1, GDT_Float64, 0, 0) !=
        CE_None)
      return false;
  }
  return true;
}

}  // namespace

void check_creation_options(const std::string& driver, const std::vector<std::string>& options) {
  init();
  GDALDriverH d = GDALGetDriverByName(driver.c_str());
  if (!d || options.empty()) return;
  CPLStringList list;
  for (const auto& o : options) list.AddString(o.c_str());
  GDALValidateCreationOptions(d, list.List());  // each fault as a GDAL warning
  // GDAL would check them again when it creates the file: once is enough.
  CPLSetConfigOption("GDAL_VALIDATE_CREATION_OPTIONS", "NO");
}

std::string driver_for(const std::string& path) {
  init();
  const std::string ext = std::filesystem::path(path).extension().string();
  if (ext.size() < 2) return "GTiff";
  std::string found;
  for (int i = 0; i < GDALGetDriverCount(); ++i) {
    GDALDriverH d = GDALGetDriver(i);
    if (!GDALGetMetadataItem(d, GDAL_DCAP_RASTER, nullptr)) continue;
    if (!GDALGetMetadataItem(d, GDAL_DCAP_CREATE, nullptr) && !GDALGetMetadataItem(d, GDAL_DCAP_CREATECOPY, nullptr))
      continue;
    const char* exts = GDALGetMetadataItem(d, GDAL_DMD_EXTENSIONS, nullptr);
    if (!exts) continue;
    const CPLStringList list(CSLTokenizeString(exts));
    for (int k = 0; k < list.size(); ++k) {
      if (!EQUAL(list[k], ext.c_str() + 1)) continue;
      const std::string name = GDALGetDriverShortName(d);
      if (name == "GTiff") return name;
      if (found.empty()) found = name;
    }
  }
  return found.empty() ? "GTiff" : found;
}

bool is_classic_destination(const std::string& path) { return ends_with(path, "_m2.raw") || ends_with(path, "_m4.raw"); }

std::vector<std::string> classic_set_files(const std::string& path) {
  const std::string base = path.substr(0, path.size() - 7);
  const std::string width = path.substr(path.size() - 6, 2);  // "m2" or "m4"
  return {path, base + "_" + width + ".txt", base + "_m1.raw", base + "_m1.txt"};
}

bool is_real_type(const std::string& type) { return type == "Float32" || type == "Float64"; }

std::string choose_type(const std::optional<std::string>& requested, const std::string& source_type, int min,
                        int max) {
  init();
  if (requested) {
    const GDALDataType t = GDALGetDataTypeByName(requested->c_str());
    if (t == GDT_Unknown || GDALDataTypeIsComplex(t) || !EQUAL(GDALGetDataTypeName(t), requested->c_str()))
      throw RunError("-ot " + *requested + ": not an output type (Byte, UInt16, Int16, UInt32, Int32, Float32, "
                     "Float64, ...)");
    const std::string name = GDALGetDataTypeName(t);
    if (!is_real_type(name) && !(can_hold(t, min) && can_hold(t, max)))
      throw RunError("-ot " + name + " cannot hold the result, whose values run from " + std::to_string(min) +
                     " to " + std::to_string(max) + ": choose a wider type");
    return name;
  }
  const GDALDataType s = GDALGetDataTypeByName(source_type.c_str());
  if (int_range(s) && can_hold(s, min) && can_hold(s, max)) return GDALGetDataTypeName(s);
  return "Int32";
}

void write_raster(const RasterDestination& dst, const IntGrid& altitude, const RealGrid* real, const Georef& georef,
                  const ByteGrid* inside) {
  init();
  GDALDriverH driver = GDALGetDriverByName(dst.driver.c_str());
  if (!driver || !GDALGetMetadataItem(driver, GDAL_DCAP_RASTER, nullptr))
    throw RunError("-of " + dst.driver + ": not a raster format GDAL knows");
  const bool can_create = GDALGetMetadataItem(driver, GDAL_DCAP_CREATE, nullptr) != nullptr;
  if (!can_create && !GDALGetMetadataItem(driver, GDAL_DCAP_CREATECOPY, nullptr))
    throw RunError("GDAL cannot write the format " + dst.driver);

  CPLStringList options;
  for (const auto& o : dst.options) options.AddString(o.c_str());
  if (EQUAL(dst.driver.c_str(), "GTiff")) {
    if (!has_key(dst.options, "TILED")) options.AddString("TILED=YES");
    if (!has_key(dst.options, "COMPRESS")) options.AddString("COMPRESS=DEFLATE");
  }

  const GDALDataType type = GDALGetDataTypeByName(dst.type.c_str());
  const int rows = altitude.rows(), cols = altitude.cols();
  CPLErrorReset();
  DatasetPtr ds(can_create ? GDALCreate(driver, dst.path.c_str(), cols, rows, 1, type, options.List())
                           : GDALCreate(GDALGetDriverByName("MEM"), "", cols, rows, 1, type, nullptr));
  if (!ds) throw RunError(with_gdal_reason("cannot create " + dst.path));
  set_georef(ds.get(), georef);
  GDALRasterBandH band = GDALGetRasterBand(ds.get(), 1);
  if (can_hold(type, dst.nodata)) GDALSetRasterNoDataValue(band, dst.nodata);
  GDALSetMetadataItem(ds.get(), "TESK_COMMAND_LINE", dst.command_line.c_str(), nullptr);
  void* data = real ? static_cast<void*>(const_cast<double*>(real->data()))
                    : static_cast<void*>(const_cast<std::int32_t*>(altitude.data()));
  if (inside && !can_hold(type, dst.nodata))
    throw RunError("--mask: the output type " + dst.type + " cannot hold the no-data value " +
                   std::to_string(dst.nodata) + " that marks the pixels outside the mask: choose another -ot");
  const bool written = inside ? write_masked(band, altitude, real, *inside, dst.nodata)
                              : GDALRasterIO(band, GF_Write, 0, 0, cols, rows, data, cols, rows,
                                             real ? GDT_Float64 : GDT_Int32, 0, 0) == CE_None;
  if (!written) throw RunError(with_gdal_reason("cannot write " + dst.path));
  if (!can_create) {
    DatasetPtr copy(GDALCreateCopy(driver, dst.path.c_str(), ds.get(), FALSE, options.List(), nullptr, nullptr));
    if (!copy) throw RunError(with_gdal_reason("cannot write " + dst.path));
  }
  ds.reset();  // closing flushes the file
  if (CPLGetLastErrorType() >= CE_Failure) throw RunError(with_gdal_reason("cannot write " + dst.path));
}

void write_classic_set(const std::string& path, const Header& header, const ByteGrid& tab, const IntGrid& itab1) {
  const auto files = classic_set_files(path);
  const int itype = ends_with(path, "_m2.raw") ? 0 : 1;
  if (itype == 0) {
    for (int i = 0; i < itab1.rows(); ++i)
      for (int j = 0; j < itab1.cols(); ++j)
        if (itab1[i][j] < 0 || itab1[i][j] > 65535)
          throw RunError("the value " + std::to_string(itab1[i][j]) + " at row " + std::to_string(i) + ", column " +
                         std::to_string(j) + " does not fit a 16-bit sample of " + path +
                         ": name the output NAME_m4.raw for 32-bit samples");
  }
  std::FILE* f2 = std::fopen(files[2].c_str(), "wb");
  std::FILE* f3 = f2 ? std::fopen(files[0].c_str(), "wb") : nullptr;
  bool ok = f2 && f3 && ecriture(f2, f3, itype, tab, itab1);
  for (std::FILE* f : {f2, f3})
    if (f && std::fclose(f) != 0) ok = false;
  if (!ok) throw RunError("cannot write " + (f2 ? files[0] : files[2]));
  const std::string text = format_header(header);
  write_bytes(files[1], "the header", text.data(), text.size());
  write_bytes(files[3], "the header", text.data(), text.size());
}

void write_png(const std::string& path, const ByteGrid& tab, std::optional<double> nodata) {
  init();
  DatasetPtr mem = wrap(const_cast<std::uint8_t*>(tab.data()), GDT_Byte, tab.rows(), tab.cols());
  if (nodata) GDALSetRasterNoDataValue(GDALGetRasterBand(mem.get(), 1), *nodata);
  CPLErrorReset();
  DatasetPtr png(GDALCreateCopy(GDALGetDriverByName("PNG"), path.c_str(), mem.get(), FALSE, nullptr, nullptr,
                                nullptr));
  if (!png) throw RunError(with_gdal_reason("cannot write " + path));
  png.reset();
  if (CPLGetLastErrorType() >= CE_Failure) throw RunError(with_gdal_reason("cannot write " + path));
}

void write_hillshade(const std::string& path, const IntGrid& altitude, const RealGrid* real, const Georef& georef,
                     std::optional<double> nodata, const ByteGrid* inside) {
  init();
  DatasetPtr dem = wrap_surface(altitude, real);
  set_georef(dem.get(), georef);
  if (nodata) GDALSetRasterNoDataValue(GDALGetRasterBand(dem.get(), 1), *nodata);
  // gdaldem's defaults, into memory; the PNG is written from the bytes so
  // that no georeferencing sidecar lands beside the picture.
  CPLStringList args;
  for (const char* a : {"-of", "MEM", "-alg", "Horn", "-az", "315", "-alt", "45", "-z", "1", "-s", "1"})
    args.AddString(a);
  GDALDEMProcessingOptions* opts = GDALDEMProcessingOptionsNew(args.List(), nullptr);
  if (!opts) throw RunError(with_gdal_reason("cannot compute the hillshade for " + path + ": GDAL refused its options"));
  int usage_error = 0;
  CPLErrorReset();
  DatasetPtr shade(GDALDEMProcessing("", dem.get(), "hillshade", nullptr, opts, &usage_error));
  GDALDEMProcessingOptionsFree(opts);
  if (!shade) throw RunError(with_gdal_reason("cannot compute the hillshade for " + path));
  ByteGrid bytes(altitude.rows(), altitude.cols());
  if (GDALRasterIO(GDALGetRasterBand(shade.get(), 1), GF_Read, 0, 0, bytes.cols(), bytes.rows(), bytes.data(),
                   bytes.cols(), bytes.rows(), GDT_Byte, 0, 0) != CE_None)
    throw RunError(with_gdal_reason("cannot compute the hillshade for " + path));
  if (!inside) return write_png(path, bytes);
  // Shaded over the whole surface, then 0 (the shade's no-data) outside.
  for (std::size_t k = 0; k < bytes.size(); ++k)
    if (!inside->data()[k]) bytes.data()[k] = 0;
  write_png(path, bytes, 0.0);
}

}  // namespace tesk::gdal
