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

}  // namespace tesk::gdal
