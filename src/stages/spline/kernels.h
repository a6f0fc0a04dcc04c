// The row loops of the spline's solver that take its time, compiled for
// several CPU levels (core/cpu_kernels.h).  Each computes every column on
// its own, in a fixed order of operations, so that every copy gives the
// same bytes.
#pragma once

#include <cstdint>

namespace tesk::spline {

// out[j] = sum over a, b in -2..2 (a first) of s[(a + 2) * 5 + b + 2] *
// rows[a + 2][j + b], for j in [j0, j1).
void stencil_row(const double* s, const float* const* rows, int j0, int j1, double* out);
void stencil_row(const double* s, const double* const* rows, int j0, int j1, double* out);

// d[j] = 1 / d[j] where d[j] > 0, else 0.
void invert_positive(double* d, int n);

// The residual of a row of the finest level over the columns [j0, j1)
// where its penalty is the interior stencil s, whose entries are zero
// outside the 13 points within distance 2 (a + b <= 2):
// r[j] = (g[j] - (c[j] is a contour ? u[j] : 0)) - stencil.
void finest_residual_interior(const double* s, const float* const* rows, const double* g, const int* c, int j0,
                              int j1, double* r);

// The residual of a row of the finest level, r holding the products:
// r[j] = (g[j] - (c[j] is a contour ? u[j] : 0)) - r[j].
void finest_residual(const double* g, const int* c, const float* u, int n, double* r);

// The data term of a coarse row: out[j] += c[j] u0[j] + e[j] u0[j + 1] +
// e[j - 1] u0[j - 1] + (below and above, from the planes of this row and
// the row above); ends without the neighbours they lack.  The products and
// their sum in single precision, the sum added to out[j] in double: the
// weights are not negative and their terms do not cancel the way the
// penalty's differences do, whose sums need double (in single precision
// there, a raster with wide holes needed over 500 iterations instead of
// 101).
void data_row(const float* c, const float* e, const float* s_below, const float* se_below, const float* sw_below,
              const float* s_above, const float* se_above, const float* sw_above, const float* up, const float* u0,
              const float* down, int n, double* out);
// The same with the planes in sixteenths (level.h), each read as
// from_sixteenths gives it: exact, so the same products and sums.
inline float from_sixteenths(std::uint8_t v) { return static_cast<float>(v) * 0.0625f; }
void data_row(const std::uint8_t* c, const std::uint8_t* e, const std::uint8_t* s_below, const std::uint8_t* se_below,
              const std::uint8_t* sw_below, const std::uint8_t* s_above, const std::uint8_t* se_above,
              const std::uint8_t* sw_above, const float* up, const float* u0, const float* down, int n, double* out);

// The finest level's operator on the interior columns [j0, j1) of a row:
// out[j] = (c[j] is a contour ? v[j] : 0) + the 13-point stencil s of v.
void finest_apply_interior(const double* s, const double* const* rows, const int* c, int j0, int j1, double* out);
void finest_apply_interior(const double* s, const float* const* rows, const int* c, int j0, int j1, double* out);

// One damped Jacobi step: u[j] += omega r[j] / d[j], d[j] = a[0] x0[j] +
// a[1] x1[j] + a[2] x2[j] + a[3] x3[j] + the data weight (1 on a contour
// pixel c[j] of the finest level, w[j] on a coarse level; no step where d
// is not positive).
void jacobi_step_finest(const double* a, const double* const* x, const int* c, const double* r, double omega, int n,
                        float* u);
void jacobi_step_coarse(const double* a, const double* const* x, const float* w, const float* r, double omega, int n,
                        float* u);

// The same on the finest level, inv[j] inv0[j] off the contours and
// inv1[j] on them (c[j] not kNoData).
void damped_step_finest(const double* inv0, const double* inv1, const int* c, const double* r, double omega, int n,
                        float* u);

// The transfers along a row between a fine row of n points and the coarse
// one of Transfer(n) (banded.h), on the points where they follow the regular
// pattern (a fine point 2J is coarse point J, a fine point 2J + 1 takes half
// of J and half of J + 1), with the operations, in order, of the literal
// sums over Transfer's weights:
// interpolation, fine points y in [0, n - 1): v = 0 + 1 c[y / 2], or
// (0 + 0.5 c[(y - 1) / 2]) + 0.5 c[(y + 1) / 2]; out[y] = v (add: out[y] + v);
void interpolate_row(const double* coarse, int n, bool add, float* out);
void interpolate_row(const double* coarse, int n, bool add, double* out);
// restriction, coarse points J in [1, (n - 1) / 2): out[J] = ((0 + 0.5 f[2J - 1]) +
// 1 f[2J]) + 0.5 f[2J + 1].
void restrict_row(const double* fine, int n, float* out);

// One damped l1-Jacobi step of a coarse row in one pass: d[j] = pen[j] + the
// sum of the magnitudes of row j of the data term (data_row's sum with every
// u 1, in its order and precision), inv = 1 / d[j] where d[j] > 0, else 0,
// then u[j] += omega * inv * r[j]: the operations of inverse_l1_row and
// damped_step.
void l1_step_coarse(const double* pen, const float* c, const float* e, const float* s_below, const float* se_below,
                    const float* sw_below, const float* s_above, const float* se_above, const float* sw_above,
                    const float* r, double omega, int n, float* u);
void l1_step_coarse(const double* pen, const std::uint8_t* c, const std::uint8_t* e, const std::uint8_t* s_below,
                    const std::uint8_t* se_below, const std::uint8_t* sw_below, const std::uint8_t* s_above,
                    const std::uint8_t* se_above, const std::uint8_t* sw_above, const float* r, double omega, int n,
                    float* u);

// u[j] += omega * inv[j] * r[j]
void damped_step(const double* inv, const double* r, double omega, int n, float* u);
void damped_step(const double* inv, const float* r, double omega, int n, float* u);

}  // namespace tesk::spline
