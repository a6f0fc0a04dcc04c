// The sample types a raster or an array holds, one table for the whole
// program: their names (GDAL's, numpy's), which values they hold, and the
// narrowest integer type for a range of values.  Sources and outputs of
// files and arrays in memory all reason about types through it.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace tesk {

enum class SampleType : std::uint8_t {
  uint8, int8, uint16, int16, uint32, int32, uint64, int64, float32, float64,
};

struct SampleTypeInfo {
  SampleType type;
  const char* gdal;   // GDAL's name ("Byte" for uint8)
  const char* numpy;  // numpy's name
  int bits;
  bool is_signed;
  bool real;
};
const SampleTypeInfo& info(SampleType t);

// A type by GDAL's name (case as GDAL spells it) or by numpy's.
std::optional<SampleType> type_of_gdal_name(std::string_view name);
std::optional<SampleType> type_of_numpy_name(std::string_view name);

inline bool is_real(SampleType t) { return t == SampleType::float32 || t == SampleType::float64; }

// The values an integer type holds: lo..hi, both exact in a double (for 64
// bits, hi is 2^63 or 2^64 less one rounded up: a value v holds when
// lo <= v < end).
struct IntRange {
  double lo, end;
  bool holds(double v) const { return lo <= v && v < end; }
  double hi() const;  // the largest whole number below end, as a double holds it
};
std::optional<IntRange> int_range(SampleType t);

// True when a sample of type t holds v exactly: for an integer type a whole
// number within its range; for float32 any value within its range (stored
// rounded); every value for float64.
bool holds_value(SampleType t, double v);

// v as a sample of type t compares: rounded to single precision for float32.
double as_sample(double v, SampleType t);

// The narrowest of the integer types in `among` that holds min..max,
// unsigned before signed at one width; nothing when none does.
std::optional<SampleType> narrowest(double min, double max, std::span<const SampleType> among);
std::optional<SampleType> narrowest(double min, double max);  // among every integer type

}  // namespace tesk
