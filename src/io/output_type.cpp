#include "io/output_type.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <limits>

#include <cpl_string.h>
#include <gdal.h>

#include "core/mention.h"
#include "core/run_error.h"
#include "core/sample_type.h"
#include "core/units.h"
#include "io/gdal_source.h"

namespace tesk::gdal {
namespace {

// The values a sample of an integer type holds; nothing for the others.
std::optional<IntRange> int_range(const std::string& type) {
  const auto t = type_of_gdal_name(type);
  return t ? tesk::int_range(*t) : std::nullopt;
}

bool range_holds(const std::string& type, double min, double max) {
  const auto r = int_range(type);
  return r && r->holds(min) && r->holds(max);
}

std::string values_text(double min, double max) {
  return "whose values run from " + message_number(min) + " to " + message_number(max);
}

// The narrowest integer type of `types` that holds min..max ("" for none),
// unsigned before signed at one width.
std::string narrowest(const std::vector<std::string>& types, double min, double max) {
  std::vector<SampleType> among;
  for (const auto& t : types)
    if (const auto st = type_of_gdal_name(t)) among.push_back(*st);
  const auto best = tesk::narrowest(min, max, among);
  return best ? info(*best).gdal : "";
}

std::string listed(const std::vector<std::string>& types) {
  std::string s;
  for (const auto& t : types) s += (s.empty() ? "" : ", ") + t;
  return s;
}

// The values -32768..65535 whose occurrence a summary of whole units
// records: every value of the 8- and 16-bit types.
constexpr double kTakenLow = -32768, kTakenHigh = 65535;

bool is_taken(const std::vector<std::uint64_t>& taken, double v) {
  const auto b = static_cast<std::size_t>(v - kTakenLow);
  return (taken[b >> 6] >> (b & 63)) & 1;
}

std::string exact_number(double v) {
  char text[40];
  std::snprintf(text, sizeof text, "%.17g", v);
  return text;
}

}  // namespace

bool Format::stores(const std::string& type) const {
  return types.empty() || std::find(types.begin(), types.end(), type) != types.end();
}

Format format_for(const std::optional<std::string>& of, const std::string& path) {
  init();
  std::string name = of.value_or("");
  if (!of) {
    const std::string ext = std::filesystem::path(path).extension().string();
    for (int i = 0; ext.size() >= 2 && i < GDALGetDriverCount() && name != "GTiff"; ++i) {
      GDALDriverH d = GDALGetDriver(i);
      const char* exts = GDALGetMetadataItem(d, GDAL_DMD_EXTENSIONS, nullptr);
      if (!exts || !GDALGetMetadataItem(d, GDAL_DCAP_RASTER, nullptr)) continue;
      if (!GDALGetMetadataItem(d, GDAL_DCAP_CREATE, nullptr) && !GDALGetMetadataItem(d, GDAL_DCAP_CREATECOPY, nullptr))
        continue;
      const CPLStringList list(CSLTokenizeString(exts));
      for (int k = 0; k < list.size(); ++k)
        if (EQUAL(list[k], ext.c_str() + 1) && (name.empty() || EQUAL(GDALGetDriverShortName(d), "GTiff")))
          name = GDALGetDriverShortName(d);
    }
    if (name.empty()) name = "GTiff";
  }
  GDALDriverH d = GDALGetDriverByName(name.c_str());
  if (!d || !GDALGetMetadataItem(d, GDAL_DCAP_RASTER, nullptr))
    throw RunError(mention(Opt::format, name) + ": not a raster format GDAL knows");
  Format f;
  f.driver = GDALGetDriverShortName(d);
  f.create = GDALGetMetadataItem(d, GDAL_DCAP_CREATE, nullptr) != nullptr;
  if (!f.create && !GDALGetMetadataItem(d, GDAL_DCAP_CREATECOPY, nullptr))
    throw RunError(mention(Opt::format, f.driver) + ": GDAL cannot write this format");
  // Lossy compression would not give back the values written.
  if (f.driver == "JPEG")
    throw RunError(mention(Opt::format, "JPEG") + ": its compression is lossy, so the file would not hold the " +
                   "DEM's values; write a GeoTIFF (" + mention(Opt::format, "GTiff") + ") or a PNG");
  // A format that writes through GDAL's file layer makes a file; MEM makes
  // none, and a VRT written from memory would point at nothing.
  if (!GDALGetMetadataItem(d, GDAL_DCAP_VIRTUALIO, nullptr) || f.driver == "VRT")
    throw RunError(mention(Opt::format, f.driver) + ": this format writes no standalone raster file; choose one that does, "
                   "such as GTiff");
  if (const char* types = GDALGetMetadataItem(d, GDAL_DMD_CREATIONDATATYPES, nullptr)) {
    const CPLStringList list(CSLTokenizeString(types));
    for (int k = 0; k < list.size(); ++k) f.types.emplace_back(list[k]);
  }
  return f;
}

std::string type_name(const std::string& requested) {
  init();
  const GDALDataType t = GDALGetDataTypeByName(requested.c_str());
  if (t == GDT_Unknown || GDALDataTypeIsComplex(t))
    throw RunError(mention(Opt::output_type, requested) + ": not an output type (Byte, UInt16, Int16, UInt32, Int32, Float32, "
                   "Float64, ...)");
  return GDALGetDataTypeName(t);
}

bool is_real_type(const std::string& type) { return type == "Float32" || type == "Float64"; }

TypePlan plan_type(const Format& f, const std::optional<std::string>& requested) {
  if (requested) {
    const std::string t = type_name(*requested);
    if (!f.stores(t)) throw RunError(mention(Opt::output_type, t) + ": the format " + f.driver + " stores " + listed(f.types) + " only");
    return {t, !is_real_type(t), false};
  }
  if (f.stores("Float32")) return {"Float32", false, false};
  if (f.stores("Float64")) return {"Float64", false, false};
  return {"", true, true};
}

std::string settle_type(const TypePlan& plan, const Format& f, double min, double max) {
  if (plan.fallback) {
    const std::string t = narrowest(f.types, min, max);
    if (t.empty())
      throw RunError("the format " + f.driver + " (" + listed(f.types) + ") cannot hold the result, " +
                     values_text(min, max) + ": write it as a GeoTIFF (" + mention(Opt::format, "GTiff") +
                     ", or a .tif name)");
    return t;
  }
  if (is_real_type(plan.type) || range_holds(plan.type, min, max)) return plan.type;
  std::string wider = narrowest(f.types, min, max);
  if (wider.empty()) wider = f.stores("Float32") ? "Float32" : "";
  throw RunError(mention(Opt::output_type, plan.type) + " cannot hold the result, " + values_text(min, max) +
                 ": choose a wider type" +
                 (wider.empty() ? std::string(" or another format") : " (" + mention(Opt::output_type, wider) + " holds it)"));
}

double altitude_of(double w, const Resolution& r) { return output_value(w, r.equid, r.whole, r.nearest); }

ValueSummary::ValueSummary(bool whole) {
  if (whole) taken.assign(static_cast<std::size_t>(kTakenHigh - kTakenLow) / 64 + 1, 0);
}

void ValueSummary::add(double v, double nodata) {
  min = std::min(min, v);
  max = std::max(max, v);
  nodata_hits += v == nodata;
  if (!taken.empty() && v >= kTakenLow && v <= kTakenHigh) {
    const auto b = static_cast<std::size_t>(v - kTakenLow);
    taken[b >> 6] |= std::uint64_t{1} << (b & 63);
  }
}

namespace {

template <class T>
ValueSummary summarise_grid(const Grid<T>& internal, const Resolution& r, std::optional<double> nodata,
                            bool as_float32, const ByteGrid* inside) {
  ValueSummary s(r.whole);
  const double nd = nodata && as_float32 ? as_stored_float(*nodata) : nodata.value_or(NAN);
  for (std::size_t k = 0; k < internal.size(); ++k) {
    if (inside && !inside->data()[k]) {
      ++s.outside;
      continue;
    }
    double v = altitude_of(internal.data()[k], r);
    if (as_float32) v = static_cast<double>(static_cast<float>(v));
    s.add(v, nd);
  }
  return s;
}

}  // namespace

ValueSummary summarise(const IntGrid& internal, const Resolution& r, std::optional<double> nodata, bool as_float32,
                       const ByteGrid* inside) {
  return summarise_grid(internal, r, nodata, as_float32, inside);
}

ValueSummary summarise(const Grid<double>& internal, const Resolution& r, std::optional<double> nodata,
                       bool as_float32, const ByteGrid* inside) {
  return summarise_grid(internal, r, nodata, as_float32, inside);
}

void ValueSummary::merge(const ValueSummary& other) {
  // A summary without pixels takes the other's census; two with pixels
  // keep one only when both counted.
  const bool empty = !(min <= max), other_empty = !(other.min <= other.max);
  if (empty) {
    taken = other.taken;
  } else if (!other_empty) {
    if (taken.size() != other.taken.size()) taken.clear();
    for (std::size_t k = 0; k < taken.size(); ++k) taken[k] |= other.taken[k];
  }
  min = std::min(min, other.min);
  max = std::max(max, other.max);
  nodata_hits += other.nodata_hits;
  outside += other.outside;
}

double as_stored_float(double v) {
  if (std::isfinite(v) && std::fabs(v) > std::numeric_limits<float>::max()) return v;
  return static_cast<double>(static_cast<float>(v));
}

bool type_holds(const std::string& type, double v) {
  const auto t = type_of_gdal_name(type);
  return t && holds_value(*t, v);
}

NodataChoice choose_nodata(const std::string& type, std::optional<double> wanted, const ValueSummary& s) {
  if (!wanted) return {};
  const bool held = type_holds(type, *wanted);
  if (held && s.nodata_hits == 0) return {wanted, ""};
  // The type's extremes first: a no-data value beyond the altitudes.
  const auto r = int_range(type);
  const double top = type == "Float64" ? std::numeric_limits<double>::max() : std::numeric_limits<float>::max();
  const double lo = r ? r->lo : -top, hi = r ? r->hi() : top;
  const bool census = r && r->lo >= kTakenLow && r->hi() <= kTakenHigh && !s.taken.empty();
  std::optional<double> free;
  if (lo < s.min) free = lo;
  else if (hi > s.max) free = hi;
  for (double v = lo; census && !free && v <= hi; ++v)
    if (!is_taken(s.taken, v)) free = v;
  const std::string hits = std::to_string(s.nodata_hits) +
                           (s.nodata_hits == 1 ? " pixel of the result equals" : " pixels of the result equal");
  const std::string why = (held ? hits : "the output type " + type + " cannot hold") + " the no-data value " +
                          exact_number(*wanted);
  if (free) return {free, why + ": the output's no-data value is " + exact_number(*free) + " instead"};
  if (s.outside > 0)
    throw RunError(mention(Opt::mask) + ": the result inside the mask takes " +
                   std::string(census ? "every value" : "both the lowest and the highest value") +
                   " of the output type " + type +
                   ", so no value is left for no-data, which marks the pixels outside it: choose a wider " +
                   mention(Opt::output_type));
  return {std::nullopt, why + ": the output has no no-data value"};
}

}  // namespace tesk::gdal
