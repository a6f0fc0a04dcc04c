#include "io/gdal_output.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <algorithm>
#include <limits>

#include <cpl_conv.h>
#include <cpl_error.h>
#include <cpl_string.h>
#include <gdal.h>
#include <gdal_utils.h>
#include <ogr_srs_api.h>

#include "core/cancelled.h"
#include "core/mention.h"
#include "core/run_error.h"
#include "core/thread_pool.h"
#include "io/gdal_shared.h"
#include "io/gdal_warnings.h"
#include "io/raster.h"

namespace tesk::gdal {
namespace {

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

// The creation options: the user's; lossless writing for the formats that
// compress lossily by default, unless the user chose a quality; and for
// GeoTIFF tiles, DEFLATE, the floating-point predictor and compression on
// the run's threads unless the user set them.
CPLStringList creation_options(const RasterDestination& dst) {
  CPLStringList options;
  for (const auto& o : dst.options) options.AddString(o.c_str());
  const std::string& driver = dst.format.driver;
  if (driver == "JP2OpenJPEG") {
    if (!has_key(dst.options, "REVERSIBLE")) options.AddString("REVERSIBLE=YES");
    if (!has_key(dst.options, "QUALITY")) options.AddString("QUALITY=100");
  }
  if (driver == "WEBP" && !has_key(dst.options, "LOSSLESS") && !has_key(dst.options, "QUALITY"))
    options.AddString("LOSSLESS=YES");
  if (driver != "GTiff") return options;
  const char* given = options.FetchNameValue("COMPRESS");
  if (given && EQUAL(given, "WEBP") && !has_key(dst.options, "WEBP_LOSSLESS") && !has_key(dst.options, "WEBP_LEVEL"))
    options.AddString("WEBP_LOSSLESS=YES");
  if (!has_key(dst.options, "TILED")) options.AddString("TILED=YES");
  // DEFLATE at its quickest level: the level by default costs twice the
  // time for a file 8 % smaller (docs/performance.md).
  if (!has_key(dst.options, "COMPRESS")) {
    options.AddString("COMPRESS=DEFLATE");
    if (!has_key(dst.options, "ZLEVEL")) options.AddString("ZLEVEL=1");
  }
  const char* compress = options.FetchNameValue("COMPRESS");
  const bool predicts = compress && (EQUAL(compress, "DEFLATE") || EQUAL(compress, "LZW") || EQUAL(compress, "ZSTD") ||
                                     EQUAL(compress, "LZMA"));
  if (predicts && is_real_type(dst.type) && !has_key(dst.options, "PREDICTOR")) options.AddString("PREDICTOR=3");
  if (!has_key(dst.options, "NUM_THREADS")) options.AddString(("NUM_THREADS=" + std::to_string(dst.threads)).c_str());
  return options;
}

// The altitudes of n rows of internal values w into values, as T (float
// for a Float32 band, which stores exactly the float nearest to each
// double), shared among the pool's threads; in (null: no mask) is the
// mask's first row of them.
template <class T>
void altitudes(std::vector<T>& values, const double* w, const std::uint8_t* in, int n, int cols,
               const Resolution& r, double nodata, ThreadPool& pool) {
  pool.for_range(0, n, 16, [&](std::int64_t k0, std::int64_t k1, int) {
    for (auto k = k0; k < k1; ++k) {
      const double* wk = w + k * cols;
      const std::uint8_t* ik = in ? in + k * cols : nullptr;
      T* v = values.data() + k * cols;
      for (int j = 0; j < cols; ++j) v[j] = static_cast<T>(ik && !ik[j] ? nodata : altitude_of(wk[j], r));
    }
  });
}

// The altitudes into the band, whole rows of blocks at a time (so that
// each write completes blocks, which GDAL compresses on its threads), the
// progress reported after each.
template <class T>
void fill_band(GDALRasterBandH band, GDALDataType buffer_type, const ResultRows& internal, const Resolution& r,
               const StepProgress& step, const std::string& path, const ByteGrid* inside, double nodata, int threads) {
  const int rows = internal.rows, cols = internal.cols;
  int block_cols = 0, block_rows = 0;
  GDALGetBlockSize(band, &block_cols, &block_rows);
  block_rows = std::clamp(block_rows, 1, rows);
  const int blocks = std::max(1, (1 << 20) / std::max(1, cols) / block_rows);
  const int chunk = std::min(rows, blocks * block_rows);
  std::vector<T> values(static_cast<std::size_t>(chunk) * static_cast<std::size_t>(cols));
  ThreadPool pool(threads);
  for (int i = 0; i < rows; i += chunk) {
    const int n = std::min(chunk, rows - i);
    altitudes(values, internal.at(i, n), inside ? (*inside)[i] : nullptr, n, cols, r, nodata, pool);
    if (GDALRasterIO(band, GF_Write, 0, i, cols, n, values.data(), cols, n, buffer_type, 0, 0) != CE_None)
      throw RunError(with_gdal_reason("cannot write " + path));
    if (!step.report(static_cast<double>(i + n) / rows)) throw Cancelled();
  }
}

// The first creation option by which the user asks for lossy writing, or
// "": a quality below 100, a tolerated error above 0, lossless writing
// turned off.
std::string lossy_choice(const std::vector<std::string>& options) {
  for (const auto& o : options) {
    const auto eq = o.find('=');
    if (eq == std::string::npos) continue;
    const std::string key = o.substr(0, eq), value = o.substr(eq + 1);
    const double number = std::atof(value.c_str());
    if ((EQUAL(key.c_str(), "QUALITY") || EQUAL(key.c_str(), "WEBP_LEVEL")) && number < 100) return o;
    if (EQUAL(key.c_str(), "MAX_Z_ERROR") && number > 0) return o;
    // Fewer bits a sample (half-precision floats), low bits dropped.
    if (EQUAL(key.c_str(), "NBITS") || EQUAL(key.c_str(), "DISCARD_LSB")) return o;
    for (const char* k : {"LOSSLESS", "JXL_LOSSLESS", "WEBP_LOSSLESS", "REVERSIBLE"})
      if (EQUAL(key.c_str(), k) && !CPLTestBool(value.c_str())) return o;
  }
  return "";
}

// True when the format and its options are known to give back every value
// written: GeoTIFF with a lossless compression and no lossy option.
bool known_lossless(const std::string& driver, const CPLStringList& options, const std::string& lossy) {
  if (driver != "GTiff" || !lossy.empty()) return false;
  const char* c = options.FetchNameValue("COMPRESS");
  if (!c) return true;
  for (const char* lossless : {"NONE", "DEFLATE", "LZW", "ZSTD", "LZMA", "PACKBITS", "LERC", "LERC_DEFLATE", "LERC_ZSTD"})
    if (EQUAL(c, lossless)) return true;
  return false;
}

// The no-data value of the band as the file gives it back, none for none.
std::optional<double> nodata_of(GDALRasterBandH band) {
  int has = 0;
  const double v = GDALGetRasterNoDataValue(band, &has);
  return has ? std::optional<double>(v) : std::nullopt;
}

// How the file written differs from what was meant for it: its values, and
// which pixels its no-data value marks.
struct Difference {
  std::int64_t pixels = 0;            // altitudes changed
  double largest = 0;
  std::int64_t outside_as_data = 0;   // no-data pixels that read as altitudes
  std::int64_t inside_as_nodata = 0;  // altitudes that read as no-data
};

// Reads the written raster back and compares it, pixel by pixel, with what
// was meant for it in its own type: each altitude as it is, each pixel
// outside the mask as one the file's no-data value marks.
Difference compare_written(GDALRasterBandH band, const RasterDestination& dst, const ResultRows& internal,
                           const Resolution& r, const ByteGrid* inside, std::optional<double> file_nodata) {
  const int rows = internal.rows, cols = internal.cols;
  const bool single = dst.type == "Float32";
  auto stored = [&](double v) { return single ? as_stored_float(v) : v; };
  auto same = [](double a, double b) { return a == b || (std::isnan(a) && std::isnan(b)); };
  const double marked = stored(file_nodata.value_or(NAN));
  std::vector<double> row(static_cast<std::size_t>(cols));
  const bool signed_samples = signed_bytes(band);
  Difference d;
  for (int i = 0; i < rows; ++i) {
    if (GDALRasterIO(band, GF_Read, 0, i, cols, 1, row.data(), cols, 1, GDT_Float64, 0, 0) != CE_None)
      throw RunError(with_gdal_reason("cannot read back " + dst.path));
    const double* w = internal.at(i, 1);
    for (int j = 0; j < cols; ++j) {
      const double read = row[static_cast<std::size_t>(j)];
      const double got = signed_samples ? signed_byte(read) : read;
      const bool got_nodata = file_nodata && same(got, marked);
      if (inside && !(*inside)[i][j]) {
        d.outside_as_data += !got_nodata;
        continue;
      }
      const double want = stored(altitude_of(w[j], r));
      if (same(got, want)) {
        d.inside_as_nodata += got_nodata;
        continue;
      }
      ++d.pixels;
      d.largest = std::max(d.largest, std::isnan(got - want) ? std::numeric_limits<double>::infinity()
                                                             : std::fabs(got - want));
    }
  }
  return d;
}

std::string pixels(std::int64_t n) { return std::to_string(n) + (n == 1 ? " pixel" : " pixels"); }

// "the no-data value W instead of V", "no no-data value instead of V", ...
std::string nodata_change(std::optional<double> got, std::optional<double> meant) {
  return (got ? "the no-data value " + message_number(*got) : std::string("no no-data value")) +
         (meant ? " instead of " + message_number(*meant) : std::string(" where none was meant"));
}

// A file that does not give back what was meant for it: refused, unless
// the user asked for lossy writing, which is then a warning for the
// altitudes.  Whatever the options, every pixel outside the mask must read
// as no-data and no altitude as no-data.  A file whose no-data value is not
// the one meant (a format that stores none, or one of its own) while every
// pixel reads as meant is a warning.
void check_written(const RasterDestination& dst, const CPLStringList& options, const ResultRows& internal,
                   const Resolution& r, const ByteGrid* inside) {
  DatasetPtr ds(GDALOpen(dst.path.c_str(), GA_ReadOnly));
  GDALRasterBandH band = ds ? GDALGetRasterBand(ds.get(), 1) : nullptr;
  if (!band) throw RunError(with_gdal_reason("cannot read back " + dst.path));
  const std::optional<double> file_nodata = nodata_of(band);
  // Compared as the band stores them: a Float32 band's in single precision.
  auto stored = [&](std::optional<double> v) {
    return v && dst.type == "Float32" ? std::optional<double>(as_stored_float(*v)) : v;
  };
  const auto a = stored(dst.nodata), b = stored(file_nodata);
  const bool kept = a.has_value() == b.has_value() && (!a || *a == *b || (std::isnan(*a) && std::isnan(*b)));
  const std::string lossy = lossy_choice(dst.options);
  // Bytes flagged signed are read as -128..127 (as sources are): the values
  // above 127 do not come back.
  const bool signed_samples = signed_bytes(band);
  if (kept && known_lossless(dst.format.driver, options, lossy) && !signed_samples) return;
  const Difference d = compare_written(band, dst, internal, r, inside, file_nodata);
  const std::string format = "the format " + dst.format.driver;
  const std::string gave = format + " gave the file " + nodata_change(file_nodata, dst.nodata);
  if (d.outside_as_data > 0)
    throw RunError((kept ? format + " did not keep the pixels outside the mask as no-data" : gave) + ": read back, " +
                   pixels(d.outside_as_data) + " outside the mask read as altitudes; write a GeoTIFF (" +
                   mention(Opt::format, "GTiff") + ")");
  if (d.inside_as_nodata > 0)
    throw RunError(gave + ": read back, " + pixels(d.inside_as_nodata) + " of the DEM read as no-data; write a " +
                   "GeoTIFF (" + mention(Opt::format, "GTiff") + ")");
  const std::string found =
      pixels(d.pixels) + " differ from the computed values, by up to " + message_number(d.largest);
  if (!lossy.empty() && d.pixels > 0)
    warn(mention(Opt::creation_options, lossy) + " writes lossily: read back, " + found);
  else if (lossy.empty() && d.pixels > 0)
    throw RunError(format + " did not keep the DEM's values: read back, " + found +
                   (signed_samples ? "; bytes flagged signed (" +
                                         mention(Opt::creation_options, "PIXELTYPE=SIGNEDBYTE") + ") hold -128 to 127"
                                   : "; write a GeoTIFF, or ask for lossy writing with a creation option"));
  if (!kept) warn(gave + ": read back, every pixel still reads as meant");
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
  if (Session* s = current_session()) s->set_option("GDAL_VALIDATE_CREATION_OPTIONS", "NO");
}

std::vector<std::string> sidecar_files(const std::string& driver, const std::string& path) {
  std::vector<std::string> files = {path + ".aux.xml", path + ".ovr"};
  const std::filesystem::path p(path);
  const std::string stem = p.has_extension() ? std::filesystem::path(p).replace_extension().string() : path;
  auto add = [&](std::initializer_list<const char*> exts) {
    for (const char* e : exts)
      if (stem + e != path) files.push_back(stem + e);
  };
  if (driver == "EHdr") add({".hdr", ".prj", ".stx", ".clr"});
  if (driver == "ENVI") add({".hdr"}), files.push_back(path + ".hdr");
  if (driver == "GTiff") add({".tfw"});
  if (driver == "AAIGrid" || driver == "XYZ" || driver == "BT") add({".prj"});
  if (driver == "SAGA") add({".sgrd", ".prj"});
  if (driver == "PNG" || driver == "GIF" || driver == "JPEG" || driver == "BMP") add({".wld"});
  return files;
}

std::string identified_driver(const std::string& path) {
  // Never a device or a pipe: opening one to look may block.
  std::error_code ec;
  const auto kind = std::filesystem::status(path, ec).type();
  if (path.empty() || (kind != std::filesystem::file_type::regular && kind != std::filesystem::file_type::directory))
    return "";
  GDALDriverH d = GDALIdentifyDriverEx(path.c_str(), GDAL_OF_RASTER, nullptr, nullptr);
  return d ? GDALGetDriverShortName(d) : "";
}

bool is_dataset_directory(const std::string& driver, const std::string& path) {
  std::error_code ec;
  return std::filesystem::is_directory(std::filesystem::symlink_status(path, ec)) && identified_driver(path) == driver;
}

bool is_classic_destination(const std::string& path) { return ends_with(path, "_m2.raw") || ends_with(path, "_m4.raw"); }

std::vector<std::string> classic_set_files(const std::string& path) {
  const std::string base = path.substr(0, path.size() - 7);
  const std::string width = path.substr(path.size() - 6, 2);  // "m2" or "m4"
  return {path, base + "_" + width + ".txt", base + "_m1.raw", base + "_m1.txt"};
}

void write_raster(const RasterDestination& dst, const IntGrid& internal, const Resolution& r, const Georef& georef,
                  const StepProgress& step, const ByteGrid* inside) {
  write_raster(dst, ResultRows::of(internal), r, georef, step, inside);
}

void write_raster(const RasterDestination& dst, const ResultRows& internal, const Resolution& r, const Georef& georef,
                  const StepProgress& step, const ByteGrid* inside) {
  init();
  if (inside && !dst.nodata && std::find(inside->begin(), inside->end(), 0) != inside->end())
    throw RunError(mention(Opt::mask) + ": the output type " + dst.type + " has no value left for no-data, which " +
                   "marks the pixels outside the mask: choose a wider " + mention(Opt::output_type));
  GDALDriverH driver = GDALGetDriverByName(dst.format.driver.c_str());
  const CPLStringList options = creation_options(dst);
  const GDALDataType type = GDALGetDataTypeByName(dst.type.c_str());
  const int rows = internal.rows, cols = internal.cols;
  const bool direct = dst.format.create;
  CPLErrorReset();
  DatasetPtr ds(direct ? GDALCreate(driver, dst.path.c_str(), cols, rows, 1, type, options.List())
                       : GDALCreate(GDALGetDriverByName("MEM"), "", cols, rows, 1, type, nullptr));
  if (!ds) throw RunError(with_gdal_reason("cannot create " + dst.path));
  set_georef(ds.get(), georef);
  GDALRasterBandH band = GDALGetRasterBand(ds.get(), 1);
  if (dst.nodata) GDALSetRasterNoDataValue(band, *dst.nodata);
  GDALSetMetadataItem(ds.get(), "TESK_COMMAND_LINE", dst.command_line.c_str(), nullptr);
  const StepProgress filling = step.part(0, direct ? 0.9 : 0.5);
  if (dst.type == "Float32")
    fill_band<float>(band, GDT_Float32, internal, r, filling, dst.path, inside, dst.nodata.value_or(0), dst.threads);
  else
    fill_band<double>(band, GDT_Float64, internal, r, filling, dst.path, inside, dst.nodata.value_or(0), dst.threads);
  if (!direct) {
    StepProgress copying = step.part(0.5, 1);
    DatasetPtr copy(GDALCreateCopy(driver, dst.path.c_str(), ds.get(), FALSE, options.List(), step_progress, &copying));
    if (!copy) throw RunError(with_gdal_reason("cannot write " + dst.path));
  }
  ds.reset();  // closing flushes the file
  if (CPLGetLastErrorType() >= CE_Failure) throw RunError(with_gdal_reason("cannot write " + dst.path));
  check_written(dst, options, internal, r, inside);
  step.report(1);
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

}  // namespace tesk::gdal
