#include "run/fill.h"

#include <algorithm>
#include <limits>

#include "core/mention.h"
#include "core/run_error.h"
#include "core/threads.h"
#include "core/units.h"
#include "run/method.h"
#include "run/reading.h"

namespace tesk {
namespace {

// The name of the contours in messages.
constexpr const char* kName = "contours";

// An internal value as the command line writes it in a sample of type T:
// full resolution, w x interval / 512 in double, rounded once into a
// float; whole units in an integer type (truncated as the classic output
// holds them, or to the nearest for a fitted surface: output_value).
// Monotonic in w (reversed by a negative interval).
template <class T>
double stored(double w, int interval, bool nearest) {
  const double v = output_value(w, interval, std::numeric_limits<T>::is_integer, nearest);
  return std::numeric_limits<T>::is_integer ? v : static_cast<double>(static_cast<T>(v));
}

template <class G>
ResultStats range_of(const G& internal, int interval, SampleType type, bool nearest, CancelCheck cancel) {
  auto lo = internal[0][0], hi = lo;
  for (int i = 0; i < internal.rows(); ++i) {
    cancel.at_row(i, internal.cols());
    const auto [a, b] = std::minmax_element(internal[i], internal[i] + internal.cols());
    lo = std::min(lo, *a);
    hi = std::max(hi, *b);
  }
  ResultStats stats;
  with_type(type, [&](auto t) {
    using T = decltype(t);
    const double x = stored<T>(lo, interval, nearest), y = stored<T>(hi, interval, nearest);
    stats.minimum = std::min(x, y);
    stats.maximum = std::max(x, y);
    stats.whole = std::numeric_limits<T>::is_integer;
  });
  return stats;
}

template <class G>
void write_values(const G& internal, int interval, SampleType type, bool nearest, void* out, CancelCheck cancel) {
  with_type(type, [&](auto t) {
    using T = decltype(t);
    T* dst = static_cast<T*>(out);
    for (int i = 0; i < internal.rows(); ++i) {
      cancel.at_row(i, internal.cols());
      const auto* src = internal[i];
      for (int j = 0; j < internal.cols(); ++j) *dst++ = static_cast<T>(stored<T>(src[j], interval, nearest));
    }
  });
}

}  // namespace

void check_fill(const Samples& s, const FillOptions& o, std::uint64_t out_bytes_per_pixel) {
  check_options(o.surface);
  check_threads(o.threads);
  if (o.nodata && !holds_value(s.type, *o.nodata))
    throw RunError(mention(Opt::nodata, message_number(*o.nodata)) + " is not a value of the " + kName +
                   "' dtype " + info(s.type).numpy);
  if (!o.nodata && !is_real(s.type))
    throw RunError(std::string(kName) + " has no no-data value: give the value that marks the pixels off the " +
                   "contours with " + mention(Opt::nodata, Form::usage));
  check_run_memory(s.rows, s.cols, bytes_per_pixel(o.surface.method) + out_bytes_per_pixel, kName);
}

ResultStats result_range(const IntGrid& internal, int interval, SampleType type, CancelCheck cancel) {
  return range_of(internal, interval, type, false, cancel);
}

void write_result(const IntGrid& internal, int interval, SampleType type, void* out, CancelCheck cancel) {
  write_values(internal, interval, type, false, out, cancel);
}

ResultStats result_range(const Grid<double>& fitted, int interval, SampleType type, CancelCheck cancel) {
  return range_of(fitted, interval, type, true, cancel);
}

void write_result(const Grid<double>& fitted, int interval, SampleType type, void* out, CancelCheck cancel) {
  write_values(fitted, interval, type, true, out, cancel);
}

void check_result_type(SampleType type, double minimum, double maximum) {
  const auto r = int_range(type);
  if (!r || (r->holds(minimum) && r->holds(maximum))) return;
  const auto wider = narrowest(minimum, maximum);
  throw RunError(mention(Opt::output_type, info(type).numpy) + " cannot hold the result, whose values run from " +
                 message_number(minimum) + " to " + message_number(maximum) + ": choose a wider type (" +
                 mention(Opt::output_type, wider ? info(*wider).numpy : "float64") + " holds it)");
}

ResultStats fill(const Samples& s, const FillOptions& o, void* out, const RunHooks& hooks) {
  const int threads = resolve_threads(o.threads);
  Surface surface;
  run_whole(surface, contour_reader(s, o.nodata, o.surface.interval, kName), o.surface, threads, hooks);
  const auto stop = [&hooks] { return hooks.cancelled(); };
  const CancelCheck cancel(stop);
  const int interval = o.surface.interval;
  const bool nearest = o.surface.method == Method::spline;
  ResultStats stats = nearest ? range_of(surface.fitted, interval, o.out, true, cancel)
                              : range_of(surface.grids.itab, interval, o.out, false, cancel);
  stats.run = surface.stats;
  stats.spline = surface.spline;
  check_result_type(o.out, stats.minimum, stats.maximum);
  if (nearest)
    write_values(surface.fitted, interval, o.out, true, out, cancel);
  else
    write_values(surface.grids.itab, interval, o.out, false, out, cancel);
  hooks.report(1.0);
  return stats;
}

}  // namespace tesk
