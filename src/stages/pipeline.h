// The computation of a run, from the contour raster to the finished DEM and
// its preview: conversion into internal units, dilation, gap filling, result
// copy, smoothing, contour overlay, conversion back, quantisation.
//
// Pure: no console and no files.  What a user sees of the run (progress
// lines, sound cues, percentages) comes from the RunObserver; the second
// reading of the input for the overlay comes from a callback.
#pragma once

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <thread>

#include "core/grid.h"
#include "stages/conversion.h"
#include "stages/progress.h"

namespace tesk {

struct RunParams {
  int ival = 65500;     // the input's no-data marker
  int equid = 1;        // contour interval, not 0
  int maille = 1;       // smoothing window degree; above 1 smooths (at most kMaxMaille)
  bool overlay = true;  // lay the input contours back on the result
  bool literal = false; // use the literal reference stages
  int threads = 1;      // worker threads for the stages that can share work (results never depend on it)
  // The front end has already converted the samples into internal units
  // (kNoData off the contours), in g.itab and at every reread: the
  // conversion into internal units is skipped and the overlay copies the
  // reread values as they are.  Used for floating-point sources.
  bool internal_input = false;
};

// Reports of a run, in the order they come.  Every method may be left out.
class RunObserver {
 public:
  virtual ~RunObserver() = default;
  // Polled by the stages, from any of their threads, at least once per
  // million pixels of work: once it returns true, the run stops by throwing
  // Cancelled.  Must be cheap and safe to call from several threads at once.
  virtual bool cancel_requested() const { return false; }
  virtual void pass_starting(const PassReport&) {}
  virtual void smoothing_stage() {}             // the smoothing stage begins (every run)
  virtual void smoothing_skipped(int /*maille*/) {}  // window larger than the image
  virtual void smoothing_starting(int /*maille*/) {}
  virtual void smoothing_row(int /*row*/) {}
  virtual void saving_starting() {}
  virtual void minmax_row(int /*row*/) {}
  virtual void minmax_found(int /*min*/, int /*max*/) {}
  // The finished surface in internal units (after the overlay), just before
  // it is converted back into altitude units.
  virtual void before_conversion_back(const IntGrid& /*itab1*/) {}
};

// An observer that maps the reports onto the fraction of the run done: 0.05
// when the computation starts (the rest before is the reading), the passes
// up to 0.50, the smoothing up to 0.85, the search for the extremes up to
// 0.90 (the rest after is the writing).
class FractionObserver : public RunObserver {
 public:
  explicit FractionObserver(int rows) : rows_(rows) {}
  void pass_starting(const PassReport& r) override {
    if (r.degree == 1) first_ = r.to_treat;
    if (first_ > 0) fraction(0.05 + 0.45 * (1.0 - static_cast<double>(r.to_treat) / first_));
  }
  void smoothing_row(int i) override { fraction(0.50 + 0.35 * i / rows_); }
  void saving_starting() override { fraction(0.85); }
  void minmax_row(int i) override { fraction(0.85 + 0.05 * i / rows_); }

 protected:
  virtual void fraction(double f) = 0;

 private:
  int rows_;
  std::int64_t first_ = 0;
};

// A contour value that cannot be held in internal units.
class ConversionError : public std::runtime_error {
 public:
  explicit ConversionError(const ConversionFault& f) : std::runtime_error("contour value out of range"), fault(f) {}
  ConversionFault fault;
};

// The grids of a run.  itab2 is only needed by the literal dilation: the
// fast stages keep their scratch in tab (pixel states) and itab1 (grown
// surface), and the fast dilation's search for settled areas keeps its
// stacks, which hold at most a sixteenth of the pixels in all.
struct RunGrids {
  ByteGrid tab;   // 8-bit preview
  IntGrid itab;   // working surface; holds the raw input on entry
  IntGrid itab1;  // result, in altitude units on return
  IntGrid itab2;  // scratch of the literal dilation
  // Optional: given itab's shape before the run, the dilation keeps in it
  // the record of its passes (stages/dilation.h).  A tiled run proves its
  // result from it.
  IntGrid written_at;

  // Bytes per pixel the grids of a run need.
  static std::uint64_t bytes_per_pixel(bool literal);
  // Throws std::bad_alloc.  With map_early, the pages of the grids the
  // computation writes first (all but itab) are mapped on a thread of their
  // own while the caller reads the input into itab, so that the computation
  // does not stop at each first write; compute_dem waits for that thread.
  void allocate(int nb_lig, int nb_col, bool literal, bool map_early = false);
  // Waits for the early mapping, if one is running.
  void mapped();

 private:
  std::jthread mapping_;
};

struct RunStats {
  int passes = 0;
  std::int64_t growth_sweeps = 0;
  int gap_sweeps = 0;
  int min_al = 0;
  int max_al = 0;
  // Work counters: pixel visits of the dilation and of the gap filling.  The
  // literal stages count one visit per pixel per sweep over the grid; the
  // fast ones count the pixels they actually examine.
  std::int64_t dilation_visits = 0;
  std::int64_t gap_visits = 0;
};

// Runs the computation on g.itab (the raw input samples).  reread fills its
// argument with the raw input again for the overlay.  Throws
// ConversionError.
RunStats compute_dem(RunGrids& g, const RunParams& p, const std::function<void(IntGrid&)>& reread,
                     RunObserver& observer);

}  // namespace tesk
