// What a run tells its caller once it is done.
#pragma once

#include <string>
#include <vector>

#include <optional>

#include "stages/pipeline.h"
#include "stages/spline/spline.h"

namespace tesk {

// Its passes and sweeps, and the range of its result as the output's type
// holds it (over the mask's inside for a file run; whole units may reach
// beyond the int range, exact in a double all the same).
struct ResultStats {
  RunStats run;                      // the classic stages' passes and sweeps
  std::optional<SplineStats> spline;  // the fit of a spline
  double minimum = 0;
  double maximum = 0;
  bool whole = false;  // the result holds whole units (an integer type)
};

// A file run's, with the remarks for after the progress (a value moved off
// the no-data value), which mention options as the warnings do.
struct FileRunResult {
  ResultStats stats;
  std::vector<std::string> notes;
};

}  // namespace tesk
