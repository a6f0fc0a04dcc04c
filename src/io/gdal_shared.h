// Small helpers shared by the GDAL reading and writing code of src/io; not
// part of the interface of the io layer.
#pragma once

#include <memory>
#include <string>

#include <gdal.h>

#include "io/gdal_source.h"

namespace tesk::gdal {

inline bool ends_with(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// text, followed by GDAL's last message in parentheses when it gave one.
inline std::string with_gdal_reason(std::string text) {
  const std::string reason = last_error();
  if (!reason.empty()) text += " (" + reason + ")";
  return text;
}

// Owns an open GDAL dataset and closes it.
struct DatasetCloser {
  void operator()(void* ds) const {
    if (ds) GDALClose(ds);
  }
};
using DatasetPtr = std::unique_ptr<void, DatasetCloser>;

// Places a dataset as g says.
inline void set_georef(GDALDatasetH ds, const Georef& g) {
  if (g.has_transform) GDALSetGeoTransform(ds, const_cast<double*>(g.transform.data()));
  if (!g.projection.empty()) GDALSetProjection(ds, g.projection.c_str());
}

// A band's no-data value, *has telling whether it has one: a 64-bit band's
// read as such (the double call warns that it rounds), then as the double
// its samples are compared in.
inline double band_nodata(GDALRasterBandH band, int* has) {
  switch (GDALGetRasterDataType(band)) {
    case GDT_Int64: return static_cast<double>(GDALGetRasterNoDataValueAsInt64(band, has));
    case GDT_UInt64: return static_cast<double>(GDALGetRasterNoDataValueAsUInt64(band, has));
    default: return GDALGetRasterNoDataValue(band, has);
  }
}

// Bytes flagged signed (a GeoTIFF's PIXELTYPE=SIGNEDBYTE) hold -128..127,
// which GDAL reads as 0..255: signed_byte() turns a sample read back.
inline bool signed_bytes(GDALRasterBandH band) {
  const char* pixel_type = GDALGetMetadataItem(band, "PIXELTYPE", "IMAGE_STRUCTURE");
  return GDALGetRasterDataType(band) == GDT_Byte && pixel_type && std::string(pixel_type) == "SIGNEDBYTE";
}
template <class T>
T signed_byte(T v) {
  return v > 127 ? v - 256 : v;
}

}  // namespace tesk::gdal
