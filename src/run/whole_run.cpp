#include "run/whole_run.h"

#include <cstdio>
#include <new>

#include "core/mention.h"
#include "core/run_error.h"
#include "run/method.h"
#include "run/reading.h"
#include "stages/conversion.h"

namespace tesk {
namespace {

// The stages' reports as one fraction of the run; the finished surface in
// internal units kept in `keep` (the input's grid, free by then), for the
// outputs at any resolution.
class WholeObserver : public FractionObserver {
 public:
  WholeObserver(const RunHooks& hooks, int rows, int cols, IntGrid& keep)
      : FractionObserver(rows), hooks_(hooks), rows_(rows), cols_(cols), keep_(keep) {}

  bool cancel_requested() const override { return hooks_.cancelled(); }
  void smoothing_skipped(int maille) override { warn_smoothing_skipped(maille, rows_, cols_, hooks_); }
  void before_conversion_back(const IntGrid& itab1) override {
    const auto stop = [this] { return cancel_requested(); };
    copy_grid(itab1, keep_, CancelCheck(stop));
  }

 private:
  void fraction(double f) override { hooks_.report(f); }

  const RunHooks& hooks_;
  int rows_, cols_;
  IntGrid& keep_;
};

// The contours read and checked: refused without a contour pixel, the
// remarks on the interval given; in internal units when to_internal (a
// value they cannot hold refused with its row and column).
void read_contours(IntGrid& itab, const ContourReader& in, const RunParams& p, bool to_internal,
                   const RunHooks& hooks, CancelCheck cancel) {
  ContourSurvey survey;
  in.read(itab, p.internal_input ? &survey : nullptr, cancel);
  refuse_without_contours(itab, p.internal_input ? kNoData : p.ival, in.name);
  if (!p.internal_input) survey = survey_raw(itab, p.ival, p.equid);
  warn_about_interval(survey, p.equid, in.name, hooks);
  if (to_internal && !p.internal_input)
    if (const auto fault = convert_to_internal(itab, p.ival, p.equid, cancel))
      throw RunError(too_large_message(in.name, fault->value, fault->row, fault->col, p.equid));
}

}  // namespace

std::string fit_note(const SplineStats& s) {
  char text[200];
  std::snprintf(text, sizeof text, "%.3g", s.lambda);
  std::string note = "the spline was fitted with " + mention(Opt::smoothing, text);
  std::snprintf(text, sizeof text, "%.3g", s.tension);
  if (s.tension != 0 || s.tension_chosen) {
    note += ' ';
    note += mention(Opt::tension, text);
  }
  note += s.tension_chosen ? " (both chosen from the contours)" : s.lambda_chosen ? " (chosen from the contours)" : "";
  note += " in ";
  note += std::to_string(s.iterations);
  note += " iterations: ";
  std::snprintf(text, sizeof text, "the last moved no pixel by more than %.2g of an interval, the residual %.2g",
                s.last_change / 512, s.residual_rms / 512);
  return note + text;
}

gdal::ResultRows Surface::rows() const {
  return method == Method::spline ? gdal::ResultRows::of(fitted) : gdal::ResultRows::of(grids.itab);
}

void run_whole(Surface& s, const ContourReader& in, const SurfaceOptions& o, int threads, const RunHooks& hooks,
               const MemoryShare& share) {
  s.method = o.method;
  const RunParams p = stage_params(o, threads, in.raw_nodata);
  const std::uint64_t need = bytes_per_pixel(o.method) + share.extra_bytes_per_pixel;
  const auto stop = [&hooks] { return hooks.cancelled(); };
  const CancelCheck cancel(stop);
  if (o.method == Method::spline) {
    check_run_memory(in.rows, in.cols, need, in.name, share.reserved_bytes);
    try {
      s.grids.itab = IntGrid(in.rows, in.cols);
    } catch (const std::bad_alloc&) {
      throw MemoryRefusal("not enough memory for a grid of " + std::to_string(in.rows) + " x " +
                          std::to_string(in.cols) + " pixels (" + in.name + ")");
    }
    read_contours(s.grids.itab, in, p, true, hooks, cancel);
    hooks.report(0.05);
    s.spline = fit_surface(o, threads, s.grids.itab, s.fitted, [&](double f) { hooks.report(0.05 + 0.85 * f); },
                           cancel);
    if (lays_back(o))
      for (std::size_t k = 0; k < s.fitted.size(); ++k)
        if (s.grids.itab.data()[k] != kNoData) s.fitted.data()[k] = s.grids.itab.data()[k];
    hooks.tell(fit_note(*s.spline));
    hooks.report(0.90);
    return;
  }
  RunGrids& g = s.grids;
  allocate_run(g, in.rows, in.cols, threads, in.name, share.reserved_bytes, need);
  read_contours(g.itab, in, p, false, hooks, cancel);
  hooks.report(0.05);
  WholeObserver observer(hooks, in.rows, in.cols, g.itab);
  try {
    s.stats = compute_surface(o.method, g, p, [&](IntGrid& itab) { in.read(itab, nullptr, cancel); }, observer);
  } catch (const ConversionError& e) {
    throw RunError(too_large_message(in.name, e.fault.value, e.fault.row, e.fault.col, p.equid));
  }
  if (hooks.cancelled()) throw Cancelled();
  hooks.report(0.90);
}

}  // namespace tesk
