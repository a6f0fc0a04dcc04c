#include "run/samples_run.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <new>
#include <vector>

#include "core/memory.h"
#include "core/run_error.h"
#include "core/units.h"
#include "stages/conversion.h"
#include "run/reading.h"
#include "stages/masking.h"
#include "stages/quantisation.h"
#include "tiles/tile_run.h"

namespace tesk {
namespace {

// Calls f with a value of the sample type's C++ type.
template <class F>
void with_type(Sample t, F&& f) {
  switch (t) {
    case Sample::kInt8: return f(std::int8_t{});
    case Sample::kUInt8: return f(std::uint8_t{});
    case Sample::kInt16: return f(std::int16_t{});
    case Sample::kUInt16: return f(std::uint16_t{});
    case Sample::kInt32: return f(std::int32_t{});
    case Sample::kUInt32: return f(std::uint32_t{});
    case Sample::kInt64: return f(std::int64_t{});
    case Sample::kUInt64: return f(std::uint64_t{});
    case Sample::kFloat32: return f(float{});
    case Sample::kFloat64: return f(double{});
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

// The samples as they are, as the command line reads integer rasters.
void read_raw(const Samples& s, IntGrid& itab, CancelCheck cancel) {
  with_type(s.type, [&](auto t) {
    for (int i = 0; i < itab.rows(); ++i) {
      cancel.at_row(i, itab.cols());
      read_row<decltype(t)>(s, i, itab[i]);
    }
  });
}

// The parameters of the run of the samples s.
RunParams run_params(const Samples& s, const FillParams& p) {
  RunParams rp;
  rp.equid = p.interval;
  rp.maille = p.window;
  rp.overlay = p.overlay;
  rp.threads = p.threads;
  rp.internal_input = !raw_samples(s.type);
  rp.ival = raw_samples(s.type) ? static_cast<int>(*p.nodata) : kIval32;
  return rp;
}

// The no-data value compared as a sample of s's type holds it (NaN: none
// besides NaN).
double sample_nodata(const Samples& s, const FillParams& p) {
  return as_sample(p.nodata.value_or(std::numeric_limits<double>::quiet_NaN()), s.type);
}

// The samples into itab as the run takes them: raw, or in internal units.
void read_samples(const Samples& s, const FillParams& p, IntGrid& itab, CancelCheck cancel) {
  if (raw_samples(s.type)) return read_raw(s, itab, cancel);
  with_type(s.type, [&](auto t) {
    read_into_internal(itab, [&](int i, double* row) { read_row<decltype(t)>(s, i, row); }, sample_nodata(s, p),
                       p.interval, "contours", nullptr, cancel);
  });
}

// The run's reports as a fraction, mapped as the command line's percentage
// line maps them; the finished surface in internal units kept in keep (the
// input's grid, free by then) for the conversion back.
class Observer : public FractionObserver {
 public:
  Observer(const RunHooks& h, int rows, IntGrid& keep) : FractionObserver(rows), h_(h), keep_(keep) {}
  bool cancel_requested() const override { return h_.cancelled(); }
  void before_conversion_back(const IntGrid& itab1) override {
    const auto stop = [this] { return cancel_requested(); };
    copy_grid(itab1, keep_, CancelCheck(stop));
  }
  void fraction(double f) override { h_.report(f); }

 private:
  const RunHooks& h_;
  IntGrid& keep_;
};

// An internal value as the command line writes it in a sample of type T:
// full resolution, w x interval / 512 in double, rounded once into a
// float; whole units in an integer type.  Monotonic in w (reversed by a
// negative interval).
template <class T>
double out_value(std::int32_t w, int interval) {
  if constexpr (std::numeric_limits<T>::is_integer) return whole_units(w, interval);
  return static_cast<double>(static_cast<T>(full_resolution(w, interval)));
}

// The integers an integer type holds: lo <= v < end (bounds exact in a
// double, even for 64 bits).
struct IntRange {
  double lo, end;
  bool holds(double v) const { return lo <= v && v < end; }
};
IntRange int_range(Sample t) {
  IntRange r{0, 0};
  with_type(t, [&](auto v) {
    using L = std::numeric_limits<decltype(v)>;
    r = {L::is_signed ? -std::ldexp(1.0, L::digits) : 0.0, std::ldexp(1.0, L::digits)};
  });
  return r;
}

// The narrowest integer type that holds min..max, unsigned before signed
// at one width; float64 when none does.
Sample narrowest(double min, double max) {
  for (Sample t : {Sample::kUInt8, Sample::kInt8, Sample::kUInt16, Sample::kInt16, Sample::kUInt32, Sample::kInt32,
                   Sample::kUInt64, Sample::kInt64})
    if (int_range(t).holds(min) && int_range(t).holds(max)) return t;
  return Sample::kFloat64;
}

// The range of the result in type T: the values of the smallest and the
// largest internal value.
template <class T>
void result_range(const IntGrid& internal, int interval, ResultStats& stats, CancelCheck cancel) {
  std::int32_t lo = internal[0][0], hi = lo;
  for (int i = 0; i < internal.rows(); ++i) {
    cancel.at_row(i, internal.cols());
    const auto [a, b] = std::minmax_element(internal[i], internal[i] + internal.cols());
    lo = std::min(lo, *a);
    hi = std::max(hi, *b);
  }
  const double x = out_value<T>(lo, interval), y = out_value<T>(hi, interval);
  stats.minimum = std::min(x, y);
  stats.maximum = std::max(x, y);
  stats.whole = std::numeric_limits<T>::is_integer;
}

// The result in p.out's type, which must hold it (the command line refuses
// such an -ot the same way): never clipped.
void write_result(const IntGrid& internal, int interval, Sample type, void* out, ResultStats& stats,
                  CancelCheck cancel) {
  with_type(type, [&](auto t) {
    using T = decltype(t);
    result_range<T>(internal, interval, stats, cancel);
    check_result_type(type, stats.minimum, stats.maximum);
    T* dst = static_cast<T*>(out);
    for (int i = 0; i < internal.rows(); ++i) {
      cancel.at_row(i, internal.cols());
      const std::int32_t* src = internal[i];
      for (int j = 0; j < internal.cols(); ++j) *dst++ = static_cast<T>(out_value<T>(src[j], interval));
    }
  });
}

}  // namespace

bool raw_samples(Sample t) { return t <= Sample::kInt32; }
bool is_real(Sample t) { return t == Sample::kFloat32 || t == Sample::kFloat64; }

const char* type_name(Sample t) {
  static const char* const names[] = {"int8",  "uint8", "int16",  "uint16",  "int32",
                                      "uint32", "int64", "uint64", "float32", "float64"};
  return names[static_cast<int>(t)];
}

bool representable(double v, Sample type) {
  if (type == Sample::kFloat64) return true;
  if (type == Sample::kFloat32) return !std::isfinite(v) || std::fabs(v) <= std::numeric_limits<float>::max();
  return std::isfinite(v) && v == std::trunc(v) && int_range(type).holds(v);
}

double as_sample(double v, Sample type) {
  return type == Sample::kFloat32 ? static_cast<double>(static_cast<float>(v)) : v;
}

void check_result_type(Sample type, double minimum, double maximum) {
  if (is_real(type) || (int_range(type).holds(minimum) && int_range(type).holds(maximum))) return;
  throw RunError(std::string("dtype=") + type_name(type) + " cannot hold the result, whose values run from " +
                 message_number(minimum) + " to " + message_number(maximum) + ": choose a wider type (dtype=" +
                 type_name(narrowest(minimum, maximum)) + " holds it)");
}

void check_fill_memory(const Samples& s, std::uint64_t out_bytes_per_pixel) {
  check_run_memory(s.rows, s.cols, out_bytes_per_pixel, "contours");
}

ResultStats fill(const Samples& s, const FillParams& p, void* out, const RunHooks& hooks) {
  const RunParams rp = run_params(s, p);
  const int rows = static_cast<int>(s.rows), cols = static_cast<int>(s.cols);
  RunGrids g;
  allocate_run(g, rows, cols, p.threads, "contours");
  const auto stop = [&hooks] { return hooks.cancelled(); };
  const CancelCheck cancel(stop);
  auto read = [&](IntGrid& itab) { read_samples(s, p, itab, cancel); };
  read(g.itab);
  refuse_without_contours(g.itab, raw_samples(s.type) ? rp.ival : kNoData, "contours");
  hooks.report(0.05);

  Observer observer(hooks, rows, g.itab);
  ResultStats stats;
  try {
    stats.run = compute_dem(g, rp, read, observer);
  } catch (const ConversionError& e) {
    throw RunError(too_large_message("contours", e.fault.value, e.fault.row, e.fault.col, p.interval));
  }
  hooks.report(0.90);
  write_result(g.itab, p.interval, p.out, out, stats, cancel);
  hooks.report(1.0);
  return stats;
}

BlockSurvey survey_block(const Samples& s, const FillParams& p, std::int64_t row0, std::int64_t col0) {
  BlockSurvey b;
  const int rows = static_cast<int>(s.rows), cols = static_cast<int>(s.cols);
  // One row at a time in internal units, as the run converts it; a contour
  // is what is not the no-data marker.
  std::vector<std::int32_t> row(static_cast<std::size_t>(cols));
  std::vector<double> real(static_cast<std::size_t>(cols));
  const double nodata = sample_nodata(s, p);
  const std::int32_t off = raw_samples(s.type) ? static_cast<std::int32_t>(*p.nodata) : kNoData;
  std::vector<int> down(static_cast<std::size_t>(cols), 0);  // no-data run ending at this row, per column
  for (int i = 0; i < rows; ++i) {
    with_type(s.type, [&](auto t) {
      if (raw_samples(s.type)) return read_row<decltype(t)>(s, i, row.data());
      read_row<decltype(t)>(s, i, real.data());
      if (auto j = convert_row_to_internal(real.data(), cols, nodata, p.interval, row.data()))
        b.fault = BlockSurvey::Fault{row0 + i, col0 + *j, real[static_cast<std::size_t>(*j)]};
    });
    int across = 0;
    for (int j = 0; j < cols; ++j) {
      const bool contour = row[static_cast<std::size_t>(j)] != off;
      if (contour && raw_samples(s.type) && !b.fault && !to_internal(row[static_cast<std::size_t>(j)], p.interval))
        b.fault = BlockSurvey::Fault{row0 + i, col0 + j, static_cast<double>(row[static_cast<std::size_t>(j)])};
      b.contour |= contour;
      int& d = down[static_cast<std::size_t>(j)];
      across = contour ? 0 : across + 1;
      d = contour ? 0 : d + 1;
      b.longest_gap = std::max({b.longest_gap, across, d});
    }
    if (b.fault) return b;
  }
  return b;
}

TileFill fill_tile(const Samples& block, const TileRequest& request, const FillParams& p, void* out) {
  const Window extent = tile_extent(request);
  if (!valid(request) || block.rows != extent.rows || block.cols != extent.cols)
    throw std::invalid_argument("fill_tile: the block must be the tile's core with its halo, clipped to the raster");
  check_fill_memory(block, 0);
  FillParams one = p;
  one.threads = 1;
  const RunParams rp = run_params(block, one);
  const WindowReader read = [&](const Window& w, IntGrid& itab) {
    Samples part = block;
    part.data += (w.row0 - extent.row0) * block.row_stride + (w.col0 - extent.col0) * block.col_stride;
    part.rows = w.rows;
    part.cols = w.cols;
    read_samples(part, one, itab, {});
  };
  TileResult t;
  try {
    t = run_tile(request, rp, read);
  } catch (const ConversionError& e) {
    throw RunError(too_large_message("contours", e.fault.value, e.fault.row, e.fault.col, p.interval));
  }
  TileFill f;
  f.certified = t.certified;
  f.uncertain = t.uncertain;
  ResultStats stats;
  with_type(p.out, [&](auto v) { result_range<decltype(v)>(t.internal, p.interval, stats, {}); });
  f.minimum = stats.minimum;
  f.maximum = stats.maximum;
  f.written = is_real(p.out) || (int_range(p.out).holds(f.minimum) && int_range(p.out).holds(f.maximum));
  if (f.written) write_result(t.internal, p.interval, p.out, out, stats, {});
  return f;
}

void preview(const Samples& s, std::uint8_t* out) {
  if (s.rows == 0 || s.cols == 0) return;
  IntGrid itab(static_cast<int>(s.rows), static_cast<int>(s.cols));
  ByteGrid inside(itab.rows(), itab.cols());  // 1 for the pixels with a finite value
  std::vector<double> row(static_cast<std::size_t>(s.cols));
  bool holes = false;
  int lo = INT_MAX, hi = INT_MIN;
  with_type(s.type, [&](auto t) {
    for (int i = 0; i < itab.rows(); ++i) {
      read_row<decltype(t)>(s, i, row.data());
      for (int j = 0; j < itab.cols(); ++j) {
        const double v = std::trunc(row[static_cast<std::size_t>(j)]);
        inside[i][j] = std::isfinite(v);
        holes |= !inside[i][j];
        if (!inside[i][j]) {
          itab[i][j] = 0;
          continue;
        }
        if (!(v >= INT_MIN && v <= INT_MAX))
          throw RunError("dem: the value " + message_number(row[static_cast<std::size_t>(j)]) + " at row " +
                          std::to_string(i) + ", column " + std::to_string(j) + " is not within the int range");
        itab[i][j] = static_cast<std::int32_t>(v);
        lo = std::min(lo, itab[i][j]);
        hi = std::max(hi, itab[i][j]);
      }
    }
  });
  ByteGrid tab(itab.rows(), itab.cols());
  if (holes)
    quantise_inside(itab, inside, tab);
  else
    quantise(itab, tab, lo, hi);
  std::copy(tab.begin(), tab.end(), out);
}

}  // namespace tesk
