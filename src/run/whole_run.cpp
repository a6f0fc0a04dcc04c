#include "run/whole_run.h"

#include "core/run_error.h"
#include "run/method.h"
#include "run/reading.h"

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

}  // namespace

RunStats run_whole(RunGrids& g, const ContourReader& in, const SurfaceOptions& o, int threads, const RunHooks& hooks,
                   const MemoryShare& share) {
  const RunParams p = stage_params(o, threads, in.raw_nodata);
  allocate_run(g, in.rows, in.cols, threads, in.name, share.reserved_bytes, bytes_per_pixel(o.method) +
                                                                            share.extra_bytes_per_pixel);
  const auto stop = [&hooks] { return hooks.cancelled(); };
  const CancelCheck cancel(stop);
  ContourSurvey survey;
  in.read(g.itab, p.internal_input ? &survey : nullptr, cancel);
  refuse_without_contours(g.itab, p.internal_input ? kNoData : p.ival, in.name);
  if (!p.internal_input) survey = survey_raw(g.itab, p.ival, p.equid);
  warn_about_interval(survey, p.equid, in.name, hooks);
  hooks.report(0.05);

  WholeObserver observer(hooks, in.rows, in.cols, g.itab);
  RunStats stats;
  try {
    stats = compute_surface(o.method, g, p, [&](IntGrid& itab) { in.read(itab, nullptr, cancel); }, observer);
  } catch (const ConversionError& e) {
    throw RunError(too_large_message(in.name, e.fault.value, e.fault.row, e.fault.col, p.equid));
  }
  if (hooks.cancelled()) throw Cancelled();
  hooks.report(0.90);
  return stats;
}

}  // namespace tesk
