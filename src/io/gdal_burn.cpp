#include "io/gdal_burn.h"

#include <sys/statvfs.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <vector>

#include <cpl_error.h>
#include <cpl_string.h>
#include <gdal_utils.h>
#include <ogr_api.h>

#include "core/memory.h"
#include "core/mention.h"
#include "core/run_error.h"
#include "io/gdal_warnings.h"

namespace tesk::gdal {
namespace {

// The layer a burn reads: the one -l names, else the only one.
OGRLayerH choose_layer(GDALDatasetH vector, const std::string& path, const std::string& name) {
  const int count = GDALDatasetGetLayerCount(vector);
  if (!name.empty()) {
    if (OGRLayerH l = GDALDatasetGetLayerByName(vector, name.c_str())) return l;
    throw RunError(mention(Opt::layer, name) + ": " + path + " has no such layer; its layers are " + layer_names(vector));
  }
  if (count == 1) return GDALDatasetGetLayer(vector, 0);
  throw RunError(path + " has " + std::to_string(count) + " layers (" + layer_names(vector) +
                 "): choose the one that holds the contours with " + mention(Opt::layer, Form::usage));
}

// The altitude of a feature, or nothing when its attribute is NULL, unset
// or not a finite number (a text that is a number counts as one).
std::optional<double> altitude(OGRFeatureH f, int field, OGRFieldType type) {
  if (!OGR_F_IsFieldSetAndNotNull(f, field)) return std::nullopt;
  double v = 0;
  if (type == OFTInteger || type == OFTInteger64 || type == OFTReal) {
    v = OGR_F_GetFieldAsDouble(f, field);
  } else if (type == OFTString) {
    const char* text = OGR_F_GetFieldAsString(f, field);
    char* end = nullptr;
    v = std::strtod(text, &end);
    while (end && *end == ' ') ++end;
    if (end == text || *end != '\0') return std::nullopt;
  } else {
    return std::nullopt;
  }
  if (!std::isfinite(v)) return std::nullopt;
  return v;
}

// The features of layer with a usable altitude: counted (polygons
// refused) in a first reading, and when some feature has none, copied into
// a layer of their own in memory in a second.
struct Scan {
  std::int64_t skipped = 0;
  DatasetPtr kept;  // null when every feature is kept
};
Scan scan_features(OGRLayerH layer, const std::string& what, const std::string& field) {
  OGRFeatureDefnH defn = OGR_L_GetLayerDefn(layer);
  const int index = OGR_FD_GetFieldIndex(defn, field.c_str());
  if (index < 0) {
    std::string names;
    for (int k = 0; k < OGR_FD_GetFieldCount(defn); ++k)
      names += (k ? ", " : "") + std::string(OGR_Fld_GetNameRef(OGR_FD_GetFieldDefn(defn, k)));
    throw RunError(mention(Opt::attribute, field) + ": " + what + " has no such attribute; its attributes are " +
                   (names.empty() ? "none" : names));
  }
  const OGRFieldType type = OGR_Fld_GetType(OGR_FD_GetFieldDefn(defn, index));
  Scan s;
  OGR_L_ResetReading(layer);
  for (OGRFeatureH f; (f = OGR_L_GetNextFeature(layer)) != nullptr; OGR_F_Destroy(f)) {
    OGRGeometryH g = OGR_F_GetGeometryRef(f);
    if (g && is_area_type(OGR_G_GetGeometryType(g))) {
      OGR_F_Destroy(f);
      throw RunError(what + " holds polygons: give contour lines or spot heights (an area of interest goes to " +
                     mention(Opt::mask) + ")");
    }
    if (!altitude(f, index, type)) ++s.skipped;
  }
  if (s.skipped == 0) return s;

  s.kept.reset(GDALCreate(GDALGetDriverByName("Memory"), "", 0, 0, 0, GDT_Unknown, nullptr));
  OGRLayerH copy = s.kept ? GDALDatasetCreateLayer(s.kept.get(), "kept", OGR_L_GetSpatialRef(layer),
                                                   OGR_L_GetGeomType(layer), nullptr)
                          : nullptr;
  OGRFieldDefnH fd = OGR_Fld_Create(field.c_str(), OFTReal);
  if (copy && OGR_L_CreateField(copy, fd, TRUE) != OGRERR_NONE) copy = nullptr;
  OGR_Fld_Destroy(fd);
  if (!copy) throw RunError(with_gdal_reason("cannot set aside the features of " + what));
  OGR_L_ResetReading(layer);
  for (OGRFeatureH f; (f = OGR_L_GetNextFeature(layer)) != nullptr; OGR_F_Destroy(f)) {
    const auto v = altitude(f, index, type);
    if (!v) continue;
    OGRFeatureH k = OGR_F_Create(OGR_L_GetLayerDefn(copy));
    OGR_F_SetGeometry(k, OGR_F_GetGeometryRef(f));
    OGR_F_SetFieldDouble(k, 0, *v);
    const OGRErr e = OGR_L_CreateFeature(copy, k);
    OGR_F_Destroy(k);
    if (e != OGRERR_NONE) {
      OGR_F_Destroy(f);
      throw RunError(with_gdal_reason("cannot set aside the features of " + what));
    }
  }
  return s;
}

// The extent gdal_rasterize gives the grid: -te, else the layer's extent,
// widened by half a pixel on every side with -tr (gdal_rasterize's own rule,
// so that no point on the border is lost).  Refuses what cannot make a grid,
// saying what to give instead.
// Numbers of an option, as a message shows them: "1 2 3 4".
template <std::size_t N>
std::string numbers(const std::array<double, N>& values) {
  std::string text;
  for (double v : values) text += (text.empty() ? "" : " ") + message_number(v);
  return text;
}

std::array<double, 4> grid_extent(OGRLayerH layer, const std::string& what, const SourceOptions& o) {
  if (o.tr && !(std::isfinite((*o.tr)[0]) && std::isfinite((*o.tr)[1]) && (*o.tr)[0] > 0 && (*o.tr)[1] > 0))
    throw RunError(mention(Opt::pixel_size, numbers(*o.tr)) +
                   ": give the pixel size as two positive numbers, in the units of the source's coordinates");
  if (o.ts && !((*o.ts)[0] > 0 && (*o.ts)[1] > 0))
    throw RunError(mention(Opt::size, std::to_string((*o.ts)[0]) + " " + std::to_string((*o.ts)[1])) +
                   ": give the grid size as two whole numbers of pixels above 0");
  if (o.te) {
    const auto& e = *o.te;
    const bool finite = std::isfinite(e[0]) && std::isfinite(e[1]) && std::isfinite(e[2]) && std::isfinite(e[3]);
    if (!finite || !(e[0] < e[2] && e[1] < e[3]))
      throw RunError(mention(Opt::extent, numbers(e)) +
                     ": give the extent as XMIN YMIN XMAX YMAX, finite numbers with XMIN < XMAX and YMIN < YMAX");
    return e;
  }
  OGREnvelope env;
  if (OGR_L_GetExtent(layer, &env, TRUE) != OGRERR_NONE)
    throw RunError(what + " holds no feature with coordinates: nothing to burn");
  std::array<double, 4> e{env.MinX, env.MinY, env.MaxX, env.MaxY};
  for (double v : e)
    if (!std::isfinite(v)) throw RunError(what + " has an extent that is not finite: give the grid extent with " + mention(Opt::extent));
  if (o.ts && !(e[0] < e[2] && e[1] < e[3]))
    throw RunError(what + " spans no " + (e[0] < e[2] ? "height" : "width") + " (its extent is " + numbers(e) +
                   "): give the grid extent with " + mention(Opt::extent, Form::usage) + ", or the pixel size with " +
                   mention(Opt::pixel_size) + " instead of " + mention(Opt::size));
  if (o.tr) {
    e[0] -= (*o.tr)[0] / 2, e[2] += (*o.tr)[0] / 2;
    e[1] -= (*o.tr)[1] / 2, e[3] += (*o.tr)[1] / 2;
  }
  return e;
}

// The grid's size in pixels, as gdal_rasterize rounds it.
std::array<double, 2> grid_size(const std::array<double, 4>& e, const SourceOptions& o) {
  if (o.ts) return {static_cast<double>((*o.ts)[0]), static_cast<double>((*o.ts)[1])};
  return {std::floor(0.5 + (e[2] - e[0]) / (*o.tr)[0]), std::floor(0.5 + (e[3] - e[1]) / (*o.tr)[1])};
}

// Refuses a grid without a pixel, and one that the memory cannot hold
// beside the run's own grids (the burnt grid takes 8 bytes a pixel), before
// GDAL allocates it, unless it may go to disk.  Returns whether it fits the
// memory.
bool check_grid(const std::array<double, 2>& size, const std::string& path, const SourceOptions& o) {
  const double w = size[0], h = size[1];
  if (!(w >= 1 && h >= 1))
    throw RunError(mention(Opt::pixel_size, numbers(*o.tr)) + " makes a grid of " + message_number(w) + " x " + message_number(h) +
                   " pixels over " + path + ": give a smaller pixel size");
  const bool huge = w > 2147483647.0 || h > 2147483647.0;
  const MemoryCheck m = check_memory(huge ? 2147483647 : static_cast<std::int64_t>(h),
                                     huge ? 2147483647 : static_cast<std::int64_t>(w), 8 + o.run_bytes_per_pixel, cache_bytes());
  if (huge || (!m.fits && !o.burn_dir))
    throw RunError("not enough memory: burning " + path + " onto a grid of " + message_number(w) + " x " +
                   message_number(h) + " pixels needs " + std::to_string(m.need_mib) + " MiB, " +
                   std::to_string(m.avail_mib) + " MiB available");
  return m.fits;
}

// Refuses a burn onto disk that the free space there cannot hold (the
// grid uncompressed, 8 bytes a pixel, at worst).
void check_disk(const std::array<double, 2>& size, const std::string& path, const std::string& file) {
  struct statvfs fs {};
  const std::string dir = std::filesystem::path(file).parent_path().string();
  if (::statvfs(dir.c_str(), &fs) != 0) return;
  const double need = size[0] * size[1] * 8, free = static_cast<double>(fs.f_bavail) * fs.f_frsize;
  if (need > free)
    throw FileSystemFault("not enough memory or disk space: burning " + path + " onto a grid of " +
                          message_number(size[0]) + " x " + message_number(size[1]) + " pixels needs " +
                          message_number(std::floor(need / 1048576)) + " MiB, more than the memory holds and the " +
                          message_number(std::floor(free / 1048576)) + " MiB free beside the destination");
}

}  // namespace

bool is_area_type(OGRwkbGeometryType type) {
  const OGRwkbGeometryType t = wkbFlatten(type);
  return OGR_GT_IsSubClassOf(t, wkbCurvePolygon) || OGR_GT_IsSubClassOf(t, wkbMultiSurface) ||
         OGR_GT_IsSubClassOf(t, wkbPolyhedralSurface);
}

std::string layer_names(GDALDatasetH vector) {
  std::string names;
  for (int k = 0; k < GDALDatasetGetLayerCount(vector); ++k)
    names += (k ? ", '" : "'") + std::string(OGR_L_GetName(GDALDatasetGetLayer(vector, k))) + "'";
  return names;
}

DatasetPtr burn_vector(GDALDatasetH vector, const std::string& path, const SourceOptions& o, double nodata) {
  if (o.field.empty()) throw RunError(path + " holds vector data: name its altitude attribute with " + mention(Opt::attribute, Form::usage));
  if (o.tr.has_value() == o.ts.has_value())
    throw RunError(path + " holds vector data: give the grid with either " + mention(Opt::pixel_size, Form::usage) +
                   " or " + mention(Opt::size, Form::usage));
  OGRLayerH layer = choose_layer(vector, path, o.layer);
  const std::string name = OGR_L_GetName(layer);
  const std::string what = GDALDatasetGetLayerCount(vector) > 1 ? "layer '" + name + "' of " + path : path;
  if (is_area_type(OGR_L_GetGeomType(layer)))
    throw RunError(what + " holds polygons: give contour lines or spot heights (an area of interest goes to " +
                   mention(Opt::mask) + ")");
  const std::array<double, 4> extent = grid_extent(layer, what, o);
  const bool in_memory = check_grid(grid_size(extent, o), path, o);
  const Scan scan = scan_features(layer, what, o.field);
  if (scan.skipped > 0)
    warn(std::to_string(scan.skipped) + " feature" + (scan.skipped == 1 ? "" : "s") + " of " + what +
         " left out: attribute " + o.field + " NULL or not a number");

  CPLStringList args;
  auto add = [&](const char* option, const auto& values) {
    args.AddString(option);
    for (double v : values) {  // every digit: the grid must be the one asked for
      char text[40];
      std::snprintf(text, sizeof text, "%.17g", v);
      args.AddString(text);
    }
  };
  args.AddString("-l");
  args.AddString(scan.kept ? "kept" : name.c_str());
  args.AddString("-a");
  args.AddString(o.field.c_str());
  if (o.tr) add("-tr", *o.tr);
  if (o.ts) add("-ts", *o.ts);
  // The set-aside features may span less than the layer: the grid stays the
  // layer's.
  if (o.te || scan.kept) add("-te", extent);
  add("-a_nodata", std::array<double, 1>{nodata});
  add("-init", std::array<double, 1>{nodata});
  // Into memory, or, too large for it, into a temporary raster on disk,
  // which GDAL burns a window at a time.
  const std::string file = in_memory ? "" : o.burn_dir() + "/burnt.tif";
  if (!in_memory) check_disk(grid_size(extent, o), path, file);
  for (const char* a : {"-ot", "Float64", "-of", in_memory ? "MEM" : "GTiff"}) args.AddString(a);
  if (!in_memory)
    for (const char* c : {"TILED=YES", "COMPRESS=DEFLATE", "ZLEVEL=1", "BIGTIFF=IF_SAFER"})
      args.AddString("-co"), args.AddString(c);
  GDALRasterizeOptions* opts = GDALRasterizeOptionsNew(args.List(), nullptr);
  if (!opts) throw RunError(with_gdal_reason("bad rasterization options for " + path));
  int usage_error = 0;
  CPLErrorReset();
  GDALDatasetH grid = GDALRasterize(file.c_str(), nullptr, scan.kept ? scan.kept.get() : vector, opts, &usage_error);
  GDALRasterizeOptionsFree(opts);
  if (!grid) throw RunError(with_gdal_reason("cannot burn the contour lines of " + path));
  return DatasetPtr(grid);
}

}  // namespace tesk::gdal
