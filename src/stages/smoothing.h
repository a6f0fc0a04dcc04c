// Bernstein window smoothing.
//
// Every pixel of the result becomes the height, over that pixel, of the
// Bezier patch whose control net is a window of maille + 1 by maille + 1
// pixels of the surface.  The window is placed around the pixel (reaching
// one pixel further toward the higher indices for odd maille) and shifted,
// never shrunk, at the borders.  Weights, window samples and row sums are
// single-precision floats, the result a double truncated toward zero.
#pragma once

#include <cstdint>

#include "core/grid.h"
#include "stages/progress.h"

namespace tesk {

// Largest window degree: from 34 on some binomial coefficients leave the
// 32-bit range.
inline constexpr int kMaxMaille = 33;

// n! in extended precision; 0 for negative n.
long double Fact(int n);

// The binomial coefficient C(n, p), 0 <= p <= n <= kMaxMaille.
std::int32_t Comb(int p, int n);

// Bernstein weight of index k of degree n, with C = Comb(k, n), for the
// parameter t and its complement s = 1 - t, rounded to float.  The factor
// whose exponent would be 0 is taken as exactly 1.
float bernstein_weight(int k, int n, std::int32_t C, double t, double s);

// First index of the window of degree n for position pos on an axis of
// `size` pixels (size >= n + 1).
int window_first(int pos, int n, int size);

// The smoothed value at column x, row y of itab with a window of degree n
// (1 <= n <= kMaxMaille, itab at least n + 1 by n + 1).  Allocates its four
// small work matrices and frees them again, as the classic routine does.
double InterpolePointSpline(const IntGrid& itab, double x, double y, int n);

// Whether the window of degree maille fits the image.
inline bool window_fits(int rows, int cols, int maille) { return rows > maille && cols > maille; }

// A smoothed value as stored: truncated toward zero, saturated so that it can
// never take the no-data marker's value.
std::int32_t smoothed_to_int(double z);

// The literal smoothing stage: sets every pixel of itab1 from itab, calling
// on_row before each row.  A pixel whose window holds a no-data sample keeps
// its itab1 value.  Needs 2 <= maille <= kMaxMaille and window_fits().
void smooth_literal(const IntGrid& itab, IntGrid& itab1, int maille, const RowCallback& on_row,
                    CancelCheck cancel = {});

}  // namespace tesk
