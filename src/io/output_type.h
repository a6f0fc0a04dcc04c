// What a GDAL destination holds: its format, its sample type and no-data
// value, and the values themselves.
//
// The computation resolves 1/512 of a contour interval.  A floating-point
// type keeps all of it: value = w x interval / 512 (w in internal units),
// in double, rounded once when stored as Float32.  An integer type holds
// whole units, the classic output's value trunc(single(w x interval x
// 1/512)), computed here without the int limits of the classic grid (a
// UInt32 source above 2^31 - 1 keeps its altitudes).  No value is ever
// clipped: a type that cannot hold the result is refused.
#pragma once

#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "core/grid.h"

namespace tesk::gdal {

// A format GDAL writes as a file of its own.
struct Format {
  std::string driver;              // GDAL short name
  bool create = false;             // writes through Create(), else CreateCopy() from memory
  std::vector<std::string> types;  // the types it stores (empty: it does not say)
  bool stores(const std::string& type) const;
};

// The format of a destination: -of when given, else the one whose
// extension matches (GTiff first among several, GTiff for none).  Throws
// RunError for a format GDAL does not know or cannot write, and for one
// that writes no standalone file (MEM, VRT).
Format format_for(const std::optional<std::string>& of, const std::string& path);

// A type name as GDAL spells it ("float32" gives "Float32").  Throws
// RunError for a name that is not a real-valued sample type.
std::string type_name(const std::string& requested);
bool is_real_type(const std::string& type);

// The type decided before the computation: the -ot given, else Float32,
// else (a format without floating-point types) whole units in the
// narrowest integer type of the format that holds the result, settled
// once the range is known.
struct TypePlan {
  std::string type;       // "" while a fallback is pending
  bool whole = false;     // whole units rather than full resolution
  bool fallback = false;  // the format stores no floating-point type
};
// Throws RunError for an -ot the format does not store.
TypePlan plan_type(const Format& f, const std::optional<std::string>& requested);

// The settled type for values min..max.  Throws RunError, naming a type or
// a format that would hold them, when the planned type cannot.
std::string settle_type(const TypePlan& plan, const Format& f, double min, double max);

// How internal units become the values written: at full resolution, w x
// equid / 512 in double (rounded once when stored as Float32); in whole
// units, that value rounded as its method says: truncated after a store in
// single precision, as the classic output holds it, or to the nearest whole
// number (halves away from zero) for a fitted surface.
struct Resolution {
  int equid = 1;
  bool whole = false;
  bool nearest = false;  // whole units rounded to the nearest
};
double altitude_of(double w, const Resolution& r);

// What the values of a result are, in the output's type: their range, how
// many equal a given no-data value once stored as Float32 (as_float32) or
// as they are, and for whole units which of the values of the 8- and
// 16-bit types occur.  With `inside`, only the pixels where it is not 0
// count: the others are written as no-data anyway, and are counted apart.
// A summary without any pixel counted, the empty one too, has min
// +infinity and max -infinity.
struct ValueSummary {
  // whole: the values are whole units, whose occurrence is recorded.
  explicit ValueSummary(bool whole = false);
  // One pixel's value in the output's type; nodata as that type holds it.
  void add(double v, double nodata);

  double min = std::numeric_limits<double>::infinity(), max = -std::numeric_limits<double>::infinity();
  std::int64_t nodata_hits = 0;
  std::int64_t outside = 0;          // pixels written as no-data
  std::vector<std::uint64_t> taken;  // bit v + 32768 for v in -32768..65535; empty: not counted
  // The summary of this result and other's pixels together (the tiles of
  // one raster).
  void merge(const ValueSummary& other);
};
ValueSummary summarise(const IntGrid& internal, const Resolution& r, std::optional<double> nodata, bool as_float32,
                       const ByteGrid* inside = nullptr);
ValueSummary summarise(const Grid<double>& internal, const Resolution& r, std::optional<double> nodata,
                       bool as_float32, const ByteGrid* inside = nullptr);

// The no-data value of an output of `type` holding the summarised values,
// and the note that says why it is not the wanted one ("" when it is).
// The wanted one when the type holds it and no value equals it; else a
// value that no pixel takes: the type's lowest, else its highest, else (an
// 8- or 16-bit type in whole units) the lowest value between them that the
// result leaves free; else none.  Throws RunError when none is left and
// some pixels are to be written as no-data (outside a mask).
struct NodataChoice {
  std::optional<double> value;
  std::string note;
};
NodataChoice choose_nodata(const std::string& type, std::optional<double> wanted, const ValueSummary& s);

// True when a sample of `type` holds v exactly (Float32: any finite v
// within its range, rounded).
bool type_holds(const std::string& type, double v);

// v as a Float32 sample holds it; a value beyond the float range matches
// no finite sample, so it stays as it is.
double as_stored_float(double v);

}  // namespace tesk::gdal
