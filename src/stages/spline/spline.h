// The contour-fitting thin plate spline: a second way from the contour
// raster to the surface, beside the classic growth (README.md in this
// directory says how it works and why it converges).
//
// Pure: no console, no files, no process-wide state.  Every result is the
// same bytes at every thread count.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "core/grid.h"
#include "stages/progress.h"

namespace tesk {

struct SplineParams {
  // The weight of the curvature penalty, in pixel units; chosen from the
  // contours when empty (spline/lambda_choice.h).
  std::optional<double> lambda;
  // Share of the penalty given to the slope rather than to the curvature,
  // in [0, 1): 0 is the thin plate, values towards 1 a membrane.  When
  // empty, chosen with lambda when lambda is chosen (among a few values,
  // spline/lambda_choice.h), 0 when lambda is given.
  std::optional<double> tension;
  int threads = 1;
  // The solve stops once no pixel moves by more than this in a cycle
  // (internal units: 0.0512 is 1e-4 of the contour interval).
  double tolerance = 0.0512;
  // A solve that has not reached the tolerance after this many cycles is
  // an error.
  int max_cycles = 500;
  // Every value of a hole kept within an interval of the levels around it
  // (spline/holes.h).
  bool bound_holes = true;
};

struct SplineStats {
  double lambda = 0;
  bool lambda_chosen = false;
  double tension = 0;
  bool tension_chosen = false;
  int iterations = 0;          // V-cycles on the full raster
  double last_change = 0;      // largest change of the last cycle, internal units
  double residual_rms = 0;     // root mean square of the normal equations' residual at the end
  std::int64_t bounded_pixels = 0;  // values brought back within their hole's bounds
  int windows = 0;             // windows the choice of lambda fitted (0 for a given lambda)
};

// The lambdas a fit takes, in pixel units.  The cross-validation chooses
// between 0.005 and 50; far beyond this range the penalty or the data term
// falls below what the solve's arithmetic resolves (below 1e-300, or above
// 1e18, the iteration breaks down).
constexpr double kSmallestLambda = 1e-6;
constexpr double kLargestLambda = 1e6;

// Throws std::invalid_argument, with a one-line message naming the option,
// for a lambda outside [kSmallestLambda, kLargestLambda], a tension outside
// [0, 1), a tolerance that is not positive or a thread count below 1.
void check_spline_params(const SplineParams& p);

// How much of a surface the contour pixels of a grid decide.  Contour
// pixels of a single value decide it flat, whatever lies around them.
// Without tension the penalty leaves planes free (their curvature is zero),
// so contour pixels of several values all on one straight line leave the
// slope across it free; with tension, or in a raster of one row or column,
// which has no "across", they decide it.  (Without tension the penalty also
// leaves the saddle r x c free, so pixels on one row and one column decide
// no more than a line; the solve converges to one of the fits there.)
enum class ContourSpread {
  kNone,      // no contour pixel
  kOneValue,  // every contour pixel holds the same value: the surface is that value
  kOneLine,   // several values, every pixel on one straight line, in a raster of two rows and columns or more
  kSurface,   // several values otherwise
};
ContourSpread contour_spread(const IntGrid& contours);

// Fits the surface to the contours (internal units, 512 to the interval,
// kNoData off the contours, as the run holds them after the conversion)
// into out (resized to the contours' shape; internal units, in double).
// Contour pixels of one value give that value everywhere, without a solve.
// progress receives fractions in [0, 1], in increasing order.  Throws
// std::invalid_argument for bad parameters or a raster without a contour
// pixel, RunError for contour pixels of several values on one straight line
// without tension (no surface is decided) or when the solve does not
// converge, Cancelled.
SplineStats fit_spline(const IntGrid& contours, const SplineParams& p, Grid<double>& out,
                       const std::function<void(double)>& progress, CancelCheck cancel);

// Reads the contours (as fit_spline takes them) of the window of the
// raster whose top left pixel is (row, col), as large as `window` already is.
using ContourWindows = std::function<void(int row, int col, IntGrid& window)>;

// The parameters a fit of the raster of rows x cols uses: p with its
// smoothing chosen from the contours, read a window at a time, when p leaves
// it empty (stats tells the choice), and its tension always set: chosen with
// the smoothing when p leaves both empty, else p's or 0.  A fit of the raster held whole and the
// tiles of the same raster make the same choice.  Throws what fit_spline
// throws.
SplineParams choose_params(int rows, int cols, const ContourWindows& read, const SplineParams& p, SplineStats& stats,
                           CancelCheck cancel);

// Bytes per pixel fit_spline needs at most, the output included and the
// contour grid (the run's own) not.
std::uint64_t spline_bytes_per_pixel();

}  // namespace tesk
