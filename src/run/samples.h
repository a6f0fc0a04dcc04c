// An array of samples in memory, as tesk.fill and the blocks of a dask
// array hand it to the run: any sample type of the type table, any memory
// layout (strides in bytes, of any sign), never written.  Integer samples
// of at most 32 bits (unsigned: 16) go into the run raw, with the no-data
// value as the run's marker, as the command line reads integer rasters;
// every other type row by row as doubles into internal units, NaN and the
// no-data value off the contours.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>

#include "core/sample_type.h"
#include "run/whole_run.h"

namespace tesk {

struct Samples {
  const char* data = nullptr;
  SampleType type = SampleType::uint16;
  std::int64_t rows = 0, cols = 0;
  std::ptrdiff_t row_stride = 0, col_stride = 0;

  // The samples of rows [row0, row0 + rows) and columns [col0, col0 + cols).
  Samples window(std::int64_t row0, std::int64_t col0, std::int64_t n_rows, std::int64_t n_cols) const {
    Samples w = *this;
    w.data += row0 * row_stride + col0 * col_stride;
    w.rows = n_rows;
    w.cols = n_cols;
    return w;
  }
};

// Whether samples of the type go into the run raw (the integer types an
// int holds).
bool raw_samples(SampleType t);

// Calls f with a value of the sample type's C++ type.
template <class F>
void with_type(SampleType t, F&& f) {
  switch (t) {
    case SampleType::uint8: return f(std::uint8_t{});
    case SampleType::int8: return f(std::int8_t{});
    case SampleType::uint16: return f(std::uint16_t{});
    case SampleType::int16: return f(std::int16_t{});
    case SampleType::uint32: return f(std::uint32_t{});
    case SampleType::int32: return f(std::int32_t{});
    case SampleType::uint64: return f(std::uint64_t{});
    case SampleType::int64: return f(std::int64_t{});
    case SampleType::float32: return f(float{});
    case SampleType::float64: return f(double{});
  }
}

// Row i of s, each sample converted to U (the array may be unaligned).
template <class T, class U>
void read_row(const Samples& s, std::int64_t i, U* dst) {
  const char* p = s.data + i * s.row_stride;
  for (std::int64_t j = 0; j < s.cols; ++j) {
    T v;
    std::memcpy(&v, p + j * s.col_stride, sizeof v);
    dst[j] = static_cast<U>(v);
  }
}

// The contours of s as a run reads them (name: the parameter that holds
// them, in messages); nodata as a sample of s's type holds it, required for
// the raw types.
ContourReader contour_reader(const Samples& s, std::optional<double> nodata, int interval, const std::string& name);

}  // namespace tesk
