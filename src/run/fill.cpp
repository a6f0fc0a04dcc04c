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
// float; whole units in an integer type.  Monotonic in w (reversed by a
// negative interval).
template <class T>
double out_value(std::int32_t w, int interval) {
  if constexpr (std::numeric_limits<T>::is_integer) return whole_units(w, interval);
  return static_cast<double>(static_cast<T>(full_resolution(w, interval)));
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
  std::int32_t lo = internal[0][0], hi = lo;
  for (int i = 0; i < internal.rows(); ++i) {
    cancel.at_row(i, internal.cols());
    const auto [a, b] = std::minmax_element(internal[i], internal[i] + internal.cols());
    lo = std::min(lo, *a);
    hi = std::max(hi, *b);
  }
  ResultStats stats;
  with_type(type, [&](auto t) {
    using T = decltype(t);
    const double x = out_value<T>(lo, interval), y = out_value<T>(hi, interval);
    stats.minimum = std::min(x, y);
    stats.maximum = std::max(x, y);
    stats.whole = std::numeric_limits<T>::is_integer;
  });
  return stats;
}

void write_result(const IntGrid& internal, int interval, SampleType type, void* out, CancelCheck cancel) {
  with_type(type, [&](auto t) {
    using T = decltype(t);
    T* dst = static_cast<T*>(out);
    for (int i = 0; i < internal.rows(); ++i) {
      cancel.at_row(i, internal.cols());
      const std::int32_t* src = internal[i];
      for (int j = 0; j < internal.cols(); ++j) *dst++ = static_cast<T>(out_value<T>(src[j], interval));
    }
  });
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
  RunGrids g;
  const ContourReader in = contour_reader(s, o.nodata, o.surface.interval, kName);
  const RunStats run = run_whole(g, in, o.surface, threads, hooks);
  const auto stop = [&hooks] { return hooks.cancelled(); };
  const CancelCheck cancel(stop);
  ResultStats stats = result_range(g.itab, o.surface.interval, o.out, cancel);
  stats.run = run;
  check_result_type(o.out, stats.minimum, stats.maximum);
  write_result(g.itab, o.surface.interval, o.out, out, cancel);
  hooks.report(1.0);
  return stats;
}

}  // namespace tesk
