// The choice of lambda from the contours themselves, by cross-validation
// that holds out whole contour lines.
//
// A few windows of fixed size, spread over the raster by a fixed rule and
// kept where the contours are, are read through a callback.  In each, the
// levels are dealt into folds (every third level); the spline is fitted to
// the lines of the other folds and scored on the pixels of the held-out
// lines.  The lambda with the least mean squared error over all windows and
// folds is taken, refined by a parabola through its neighbours in log
// lambda, and halved (the held-out lines lie in gaps twice as wide as those
// of the whole raster, where the best lambda is larger).  The choice reads
// the same windows of the same raster whether the run is whole or by
// tiles, and its cost does not grow with the raster.
#pragma once

#include <functional>
#include <vector>

#include "core/grid.h"
#include "core/thread_pool.h"
#include "stages/progress.h"

namespace tesk::spline {

// Fills window (already of the size wanted) with the contours (internal
// units, kNoData off the contours) whose top left pixel is (row, col).
using WindowReader = std::function<void(int row, int col, IntGrid& window)>;

struct LambdaChoice {
  double lambda = 1;
  double tension = 0;
  double score = 0;             // the least mean squared error of the held-out lines (0 with no window)
  int windows = 0;
  std::vector<double> lambdas;  // the candidates tried (for the tension chosen)
  std::vector<double> scores;   // the score of each (mean squared error of the held-out lines)
};

// Lambda for the given tension.
LambdaChoice choose_lambda(int rows, int cols, const WindowReader& read, double tension, ThreadPool& pool,
                           CancelCheck cancel);
// Lambda and the tension together: the same scan for each of a few
// tensions, the one whose best candidate scores least kept.
LambdaChoice choose_lambda_and_tension(int rows, int cols, const WindowReader& read, ThreadPool& pool,
                                       CancelCheck cancel);

}  // namespace tesk::spline
