#include "io/gdal_source.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <mutex>

#include <cpl_error.h>
#include <cpl_string.h>
#include <gdal.h>

#include "core/mention.h"
#include "core/run_error.h"
#include "core/sample_type.h"
#include "core/units.h"
#include "io/gdal_burn.h"
#include "io/gdal_shared.h"
#include "io/gdal_warnings.h"
#include "io/output_type.h"
#include "io/raster.h"

namespace tesk::gdal {
namespace {

std::string format(const char* fmt, auto... args) {
  const int n = std::snprintf(nullptr, 0, fmt, args...);
  std::string s(static_cast<std::size_t>(n) + 1, '\0');
  std::snprintf(s.data(), s.size(), fmt, args...);
  s.resize(static_cast<std::size_t>(n));
  return s;
}

// A no-data value the integer reading can compare samples with.
bool is_int32(double v) { return std::isfinite(v) && v == std::trunc(v) && v >= INT32_MIN && v <= INT32_MAX; }

// A classic contour raster: headerless samples, the size from the header
// text beside it.
class ClassicSource : public Source {
 public:
  ClassicSource(const std::string& path, const SourceOptions& o) : path_(path) {
    itype_ = ends_with(path, "_c2.raw") ? 0 : 1;
    const std::string header_path = path.substr(0, path.size() - 4) + ".txt";
    if (!std::filesystem::is_regular_file(path)) throw FileSystemFault("source " + path + " does not exist");
    std::FILE* hf = std::fopen(header_path.c_str(), "r");
    if (!hf) throw RunError("header " + header_path + " not found: it gives the size of " + path);
    header_ = read_header(hf);
    std::fclose(hf);
    rows_ = header_->nb_lig;
    cols_ = header_->nb_col;
    if (rows_ <= 0 || cols_ <= 0)
      throw RunError(format("header %s gives %d rows and %d columns: both must be above 0", header_path.c_str(),
                            rows_, cols_));
    const auto need = static_cast<std::uintmax_t>(rows_) * static_cast<std::uintmax_t>(cols_) *
                      static_cast<std::uintmax_t>(sample_bytes(itype_));
    std::error_code ec;
    const auto size = std::filesystem::file_size(path, ec);
    if (ec || size < need)
      throw RunError(format("%s holds %ju bytes, fewer than the %ju that %d rows of %d samples need", path.c_str(),
                            static_cast<std::uintmax_t>(ec ? 0 : size), need, rows_, cols_));
    nodata_ = nodata_match_ = o.nodata.value_or(ival_for(itype_));
    if (!is_int32(nodata_)) throw RunError(mention(Opt::nodata) + " must be a whole number for a classic data set");
    type_name_ = itype_ == 0 ? "UInt16" : "Int32";
  }

  void read_raw_window(int row0, int col0, IntGrid& out) override {
    std::FILE* f = std::fopen(path_.c_str(), "rb");
    bool ok = f != nullptr;
    if (ok && col0 == 0 && out.cols() == cols_) {  // whole rows: one read
      ok = std::fseek(f, offset(row0, 0), SEEK_SET) == 0 && lecture(f, itype_, out);
    } else {
      IntGrid row(1, out.cols());
      for (int i = 0; ok && i < out.rows(); ++i) {
        ok = std::fseek(f, offset(row0 + i, col0), SEEK_SET) == 0 && lecture(f, itype_, row);
        std::copy(row.begin(), row.end(), out[i]);
      }
    }
    if (f) std::fclose(f);
    if (!ok) throw RunError("cannot read " + path_);
  }
  void read_row(int i, int col0, int n, double* samples) override {
    IntGrid row(1, n);
    read_raw_window(i, col0, row);
    std::copy(row.begin(), row.end(), samples);
  }

 private:
  long offset(int row, int col) const { return (static_cast<long>(row) * cols_ + col) * sample_bytes(itype_); }

  std::string path_;
  int itype_ = 0;
};

// One band of a GDAL raster (also the grid a vector source is burnt into).
class RasterSource : public Source {
 public:
  RasterSource(DatasetPtr ds, const std::string& path, const SourceOptions& o) : ds_(std::move(ds)), path_(path) {
    const int count = GDALGetRasterCount(ds_.get());
    const int b = o.band.value_or(1);
    if (b < 1 || b > count)
      throw RunError(format("band %d does not exist in %s (it has %d band%s)", b, path.c_str(), count,
                            count == 1 ? "" : "s"));
    band_ = GDALGetRasterBand(ds_.get(), b);
    rows_ = GDALGetRasterYSize(ds_.get());
    cols_ = GDALGetRasterXSize(ds_.get());
    int has = 0;
    const double own = band_nodata(band_, &has);
    if (o.nodata) {
      nodata_ = *o.nodata;
    } else if (has) {
      nodata_ = own;
    } else {
      throw RunError(path + " has no no-data value: give the value that marks the pixels off the contours "
                            "with " + mention(Opt::nodata, Form::usage));
    }
    const GDALDataType dt = GDALGetRasterDataType(band_);
    type_name_ = GDALGetDataTypeName(dt);
    // Signed bytes are turned back after each read.
    signed_bytes_ = signed_bytes(band_);
    if (signed_bytes_) type_name_ = "Int8";
    if (GDALDataTypeIsComplex(dt)) throw RunError(path + ": complex samples (" + type_name_ + ") hold no altitude");
    if (o.nodata && GDALDataTypeIsInteger(dt) && !(std::isfinite(*o.nodata) && *o.nodata == std::trunc(*o.nodata)))
      throw RunError(mention(Opt::nodata, message_number(*o.nodata)) + ": the samples of " + path + " are whole numbers (" +
                     type_name_ + "), so none can equal it: give a whole number");
    // A value the samples cannot hold marks no pixel: every pixel would be
    // taken for a contour.
    // (A 64-bit type's largest value is end itself once rounded to a double.)
    const auto t = type_of_gdal_name(type_name_);
    if (const auto r = t ? int_range(*t) : std::nullopt;
        r && !holds_value(*t, nodata_) && !(info(*t).bits == 64 && nodata_ == r->end)) {
      const std::string range = " (" + type_name_ + ", " + message_number(r->lo) + " to " + message_number(r->hi()) + ")";
      if (o.nodata)
        throw RunError(mention(Opt::nodata, message_number(*o.nodata)) + ": the samples of " + path + range +
                       " cannot hold it, so no pixel would be off the contours: give a value they hold");
      throw RunError(path + ": its no-data value " + message_number(nodata_) + " is not a value of its samples" + range +
                     ", so no pixel would be off the contours: give the value that marks them with " +
                     mention(Opt::nodata, Form::usage));
    }
    // A Float32 band stores its no-data value as a float: a sample equals
    // the value rounded to single precision, never the decimal as given.
    nodata_match_ = dt == GDT_Float32 ? as_stored_float(nodata_) : nodata_;
    const int bits = GDALGetDataTypeSizeBits(dt);
    const bool int_samples = GDALDataTypeIsInteger(dt) && (bits <= 16 || (bits == 32 && GDALDataTypeIsSigned(dt)));
    int has_scale = 0, has_offset = 0;
    const double scale = GDALGetRasterScale(band_, &has_scale), offset = GDALGetRasterOffset(band_, &has_offset);
    if (has_scale) scale_ = scale;
    if (has_offset) offset_ = offset;
    raw_ = int_samples && is_int32(nodata_) && !scaled();
    georef_.has_transform = GDALGetGeoTransform(ds_.get(), georef_.transform.data()) == CE_None;
    if (const char* wkt = GDALGetProjectionRef(ds_.get())) georef_.projection = wkt;
  }

  void read_raw_window(int row0, int col0, IntGrid& out) override {
    if (GDALRasterIO(band_, GF_Read, col0, row0, out.cols(), out.rows(), out.data(), out.cols(), out.rows(),
                     GDT_Int32, 0, 0) != CE_None)
      throw RunError(with_gdal_reason("cannot read " + path_));
    if (signed_bytes_)
      for (std::int32_t& v : out) v = signed_byte(v);
  }

  void read_row(int i, int col0, int n, double* samples) override {
    if (GDALRasterIO(band_, GF_Read, col0, i, n, 1, samples, n, 1, GDT_Float64, 0, 0) != CE_None)
      throw RunError(with_gdal_reason("cannot read " + path_));
    if (signed_bytes_)
      for (int j = 0; j < n; ++j) samples[j] = signed_byte(samples[j]);
  }

 private:
  DatasetPtr ds_;
  std::string path_;
  GDALRasterBandH band_ = nullptr;
  bool signed_bytes_ = false;
};

// The no-data value of a grid burnt from vectors when --nodata is not given:
// the classic 32-bit marker, far from any altitude.
constexpr double kBurnNoData = kIval32;

// The options that only a vector source uses, as the user gave them.
std::string vector_options(const SourceOptions& o) {
  std::string given;
  for (const auto& [opt, set] : {std::pair{Opt::attribute, !o.field.empty()}, std::pair{Opt::pixel_size, o.tr.has_value()},
                                 std::pair{Opt::size, o.ts.has_value()}, std::pair{Opt::extent, o.te.has_value()},
                                 std::pair{Opt::layer, !o.layer.empty()}})
    if (set) given += (given.empty() ? "" : ", ") + mention(opt);
  return given;
}

void refuse_vector_options(const std::string& path, const SourceOptions& o) {
  const std::string given = vector_options(o);
  if (!given.empty())
    throw RunError(given + ": " + path + " is a raster, and these options apply to vector sources only: drop them");
}

}  // namespace

void init() {
  static std::once_flag once;
  std::call_once(once, [] { GDALAllRegister(); });
}

std::uint64_t cache_bytes() {
  const GIntBig max = GDALGetCacheMax64();
  return max > 0 ? static_cast<std::uint64_t>(max) : 0;
}

CacheCap::CacheCap(std::uint64_t bytes) : before_(GDALGetCacheMax64()) {
  const auto cap = static_cast<GIntBig>(std::min<std::uint64_t>(bytes, std::numeric_limits<GIntBig>::max()));
  if (cap < before_) GDALSetCacheMax64(cap);
}

CacheCap::~CacheCap() {
  if (GDALGetCacheMax64() != before_) GDALSetCacheMax64(before_);
}

std::string last_error() {
  const char* msg = CPLGetLastErrorMsg();
  return msg ? msg : "";
}

void Source::read_altitudes(int i, int col0, int n, double* altitudes) {
  read_row(i, col0, n, altitudes);
  for (int j = 0; j < n; ++j) {
    const double v = altitudes[j];
    altitudes[j] = (std::isnan(v) || v == nodata_match_) ? std::numeric_limits<double>::quiet_NaN() : v * scale_ + offset_;
  }
}

std::vector<std::string> dataset_files(const std::string& path) {
  init();
  CPLPushErrorHandler(CPLQuietErrorHandler);
  DatasetPtr ds(GDALOpenEx(path.c_str(), GDAL_OF_RASTER | GDAL_OF_VECTOR, nullptr, nullptr, nullptr));
  CPLPopErrorHandler();
  std::vector<std::string> files;
  if (!ds) return files;
  char** list = GDALGetFileList(ds.get());
  for (char** f = list; f && *f; ++f) files.emplace_back(*f);
  CSLDestroy(list);
  return files;
}

bool is_classic_source(const std::string& path) { return ends_with(path, "_c2.raw") || ends_with(path, "_c4.raw"); }

std::unique_ptr<Source> open_source(const std::string& path, const SourceOptions& o) {
  init();
  if (is_classic_source(path)) {
    refuse_vector_options(path, o);
    return std::make_unique<ClassicSource>(path, o);
  }
  std::error_code ec;
  if (!std::filesystem::exists(path, ec) && path.rfind("/vsi", 0) != 0)
    throw FileSystemFault("source " + path + " does not exist");
  CPLErrorReset();
  DatasetPtr ds(GDALOpenEx(path.c_str(), GDAL_OF_RASTER | GDAL_OF_VECTOR, nullptr, nullptr, nullptr));
  if (!ds) throw RunError(with_gdal_reason("cannot read " + path + ": not a raster or vector format GDAL knows"));
  // A tiled GeoTIFF decodes its blocks on the run's threads, in half the
  // time; one of single-row strips takes longer so (docs/performance.md).
  if (o.threads > 1 && GDALGetRasterCount(ds.get()) > 0 &&
      EQUAL(GDALGetDriverShortName(GDALGetDatasetDriver(ds.get())), "GTiff")) {
    int bx = 0, by = 0;
    GDALGetBlockSize(GDALGetRasterBand(ds.get(), 1), &bx, &by);
    if (by > 1) {
      CPLStringList threaded;
      threaded.SetNameValue("NUM_THREADS", std::to_string(o.threads).c_str());
      DatasetPtr again(GDALOpenEx(path.c_str(), GDAL_OF_RASTER, nullptr, threaded.List(), nullptr));
      if (again) ds = std::move(again);
    }
  }
  if (GDALGetRasterCount(ds.get()) > 0) {
    refuse_vector_options(path, o);
    return std::make_unique<RasterSource>(std::move(ds), path, o);
  }
  if (GDALDatasetGetLayerCount(ds.get()) > 0) {
    // The lines' altitudes are burnt onto a grid of no-data: a no-data value
    // given would take the altitude equal to it off the contours.
    for (const auto& [given, opt] : {std::pair{o.band.has_value(), Opt::band}, {o.nodata.has_value(), Opt::nodata}})
      if (given)
        throw RunError(mention(opt) + ": " + path + " is a vector source, and " + mention(opt) +
                       " applies to raster sources only: drop it");
    DatasetPtr grid = burn_vector(ds.get(), path, o, kBurnNoData);
    SourceOptions band1 = o;
    band1.band = 1;
    return std::make_unique<RasterSource>(std::move(grid), path, band1);
  }
  throw RunError(path + " holds neither a raster band nor a vector layer");
}

}  // namespace tesk::gdal
