// What the contour values of a source say about the interval a user gave:
// how many contour pixels hold a value that is not a multiple of it (such a
// value comes back lower: the conversion into internal units truncates),
// and how many intervals their range spans.  Nothing here changes a value.
#pragma once

#include <cstdint>
#include <cmath>
#include <limits>

#include "core/grid.h"

namespace tesk {

struct ContourSurvey {
  std::int64_t pixels = 0;        // contour pixels seen
  std::int64_t off_interval = 0;  // of them, values that are not multiples of the interval
  double example = 0;             // the first such value
  double lo = std::numeric_limits<double>::infinity();
  double hi = -std::numeric_limits<double>::infinity();

  // One contour value (not a no-data sample); equid must not be 0.
  void add(double v, int equid) { note(v, std::fmod(v, static_cast<double>(equid)) != 0.0); }
  // The same for a whole number: its remainder taken in integers, which is
  // what fmod gives a whole number, at a fraction of its cost.
  void add(std::int32_t v, int equid) { note(v, static_cast<std::int64_t>(v) % equid != 0); }
  // Adds another part of the same source, read after this one.
  void merge(const ContourSurvey& o) {
    if (off_interval == 0 && o.off_interval > 0) example = o.example;
    pixels += o.pixels;
    off_interval += o.off_interval;
    if (o.lo < lo) lo = o.lo;
    if (o.hi > hi) hi = o.hi;
  }
  // Intervals between the lowest and the highest value (0 without pixels).
  double intervals(int equid) const;

 private:
  void note(double v, bool off) {
    ++pixels;
    if (v < lo) lo = v;
    if (v > hi) hi = v;
    if (off && off_interval++ == 0) example = v;
  }
};

// The survey of raw samples: every sample but ival is a contour value.
ContourSurvey survey_raw(const IntGrid& raw, int ival, int equid);

}  // namespace tesk
