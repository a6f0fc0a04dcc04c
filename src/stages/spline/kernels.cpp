#include "stages/spline/kernels.h"

#include <climits>
#include <cstdint>

#include "core/cpu_kernels.h"

namespace tesk::spline {
namespace {

template <class T>
inline void stencil(const double* s, const T* const* rows, int j0, int j1, double* out) {
  const T* r0 = rows[0];
  const T* r1 = rows[1];
  const T* r2 = rows[2];
  const T* r3 = rows[3];
  const T* r4 = rows[4];
  for (int j = j0; j < j1; ++j) {
    double v = 0;
    const T* rr[5] = {r0, r1, r2, r3, r4};
    for (int a = 0; a < 5; ++a)
      for (int b = 0; b < 5; ++b) v += s[a * 5 + b] * static_cast<double>(rr[a][j + b - 2]);
    out[j] = v;
  }
}

// The 13-point interior stencil of the finest level along a row, summed in
// a fixed order, and the pixel's data term (its own value on a contour, 0
// off it): finish(j, data term, stencil sum) uses them.
template <class T, class F>
inline void interior_row(const double* s, const T* const* rows, const int* c, int j0, int j1, F&& finish) {
  const T* m2 = rows[0];
  const T* m1 = rows[1];
  const T* z0 = rows[2];
  const T* p1 = rows[3];
  const T* p2 = rows[4];
  const double s02 = s[2], s11 = s[6], s12 = s[7], s13 = s[8], s20 = s[10], s21 = s[11], s22 = s[12], s23 = s[13],
               s24 = s[14], s31 = s[16], s32 = s[17], s33 = s[18], s42 = s[22];
  for (int j = j0; j < j1; ++j) {
    double v = s02 * static_cast<double>(m2[j]);
    v += s11 * static_cast<double>(m1[j - 1]);
    v += s12 * static_cast<double>(m1[j]);
    v += s13 * static_cast<double>(m1[j + 1]);
    v += s20 * static_cast<double>(z0[j - 2]);
    v += s21 * static_cast<double>(z0[j - 1]);
    v += s22 * static_cast<double>(z0[j]);
    v += s23 * static_cast<double>(z0[j + 1]);
    v += s24 * static_cast<double>(z0[j + 2]);
    v += s31 * static_cast<double>(p1[j - 1]);
    v += s32 * static_cast<double>(p1[j]);
    v += s33 * static_cast<double>(p1[j + 1]);
    v += s42 * static_cast<double>(p2[j]);
    finish(j, c[j] != INT32_MIN ? static_cast<double>(z0[j]) : 0.0, v);
  }
}

template <class T>
inline void apply_interior(const double* s, const T* const* rows, const int* c, int j0, int j1, double* out) {
  interior_row(s, rows, c, j0, j1, [out](int j, double w, double v) { out[j] = w + v; });
}

template <class T>
inline void interpolate_regular(const double* c, int n, bool add, T* out) {
  for (int y = 0; y + 1 < n; ++y) {
    const int J = y >> 1;
    const double v = (y & 1) == 0 ? 0.0 + 1.0 * c[J] : (0.0 + 0.5 * c[J]) + 0.5 * c[J + 1];
    out[y] = static_cast<T>(add ? static_cast<double>(out[y]) + v : v);
  }
}

}  // namespace

TESK_CPU_KERNEL
void interpolate_row(const double* coarse, int n, bool add, float* out) {
  interpolate_regular(coarse, n, add, out);
}

TESK_CPU_KERNEL
void interpolate_row(const double* coarse, int n, bool add, double* out) {
  interpolate_regular(coarse, n, add, out);
}

TESK_CPU_KERNEL
void restrict_row(const double* f, int n, float* out) {
  for (int J = 1; J < (n - 1) / 2; ++J)
    out[J] = static_cast<float>(((0.0 + 0.5 * f[2 * J - 1]) + 1.0 * f[2 * J]) + 0.5 * f[2 * J + 1]);
}

TESK_CPU_KERNEL
void stencil_row(const double* s, const float* const* rows, int j0, int j1, double* out) {
  stencil(s, rows, j0, j1, out);
}

TESK_CPU_KERNEL
void stencil_row(const double* s, const double* const* rows, int j0, int j1, double* out) {
  stencil(s, rows, j0, j1, out);
}

TESK_CPU_KERNEL
void invert_positive(double* d, int n) {
  for (int j = 0; j < n; ++j) d[j] = d[j] > 0 ? 1.0 / d[j] : 0.0;
}

TESK_CPU_KERNEL
void finest_residual_interior(const double* s, const float* const* rows, const double* g, const int* c, int j0,
                              int j1, double* r) {
  interior_row(s, rows, c, j0, j1, [g, r](int j, double w, double v) { r[j] = (g[j] - w) - v; });
}

TESK_CPU_KERNEL
void finest_apply_interior(const double* s, const double* const* rows, const int* c, int j0, int j1, double* out) {
  apply_interior(s, rows, c, j0, j1, out);
}

TESK_CPU_KERNEL
void finest_apply_interior(const double* s, const float* const* rows, const int* c, int j0, int j1, double* out) {
  apply_interior(s, rows, c, j0, j1, out);
}

TESK_CPU_KERNEL
void jacobi_step_finest(const double* a, const double* const* x, const int* c, const double* r, double omega, int n,
                        float* u) {
  const double a0 = a[0], a1 = a[1], a2 = a[2], a3 = a[3];
  const double* x0 = x[0];
  const double* x1 = x[1];
  const double* x2 = x[2];
  const double* x3 = x[3];
  for (int j = 0; j < n; ++j) {
    const double d = a0 * x0[j] + a1 * x1[j] + a2 * x2[j] + a3 * x3[j] + (c[j] != INT32_MIN ? 1.0 : 0.0);
    const double step = d > 0 ? omega * r[j] / d : 0.0;
    u[j] = static_cast<float>(static_cast<double>(u[j]) + step);
  }
}

TESK_CPU_KERNEL
void jacobi_step_coarse(const double* a, const double* const* x, const float* w, const float* r, double omega, int n,
                        float* u) {
  const double a0 = a[0], a1 = a[1], a2 = a[2], a3 = a[3];
  const double* x0 = x[0];
  const double* x1 = x[1];
  const double* x2 = x[2];
  const double* x3 = x[3];
  for (int j = 0; j < n; ++j) {
    const double d = a0 * x0[j] + a1 * x1[j] + a2 * x2[j] + a3 * x3[j] + static_cast<double>(w[j]);
    const double step = d > 0 ? omega * static_cast<double>(r[j]) / d : 0.0;
    u[j] = static_cast<float>(static_cast<double>(u[j]) + step);
  }
}

TESK_CPU_KERNEL
void finest_residual(const double* g, const int* c, const float* u, int n, double* r) {
  for (int j = 0; j < n; ++j) {
    const double w = c[j] != INT32_MIN ? static_cast<double>(u[j]) : 0.0;
    r[j] = (g[j] - w) - r[j];
  }
}

// A plane's value in single precision: a float's own, a byte's sixteenths
// (exact, and so the same products and sums as the float planes give).
inline float plane(float v) { return v; }
inline float plane(std::uint8_t v) { return from_sixteenths(v); }

template <class P>
inline void data_row_of(const P* c, const P* e, const P* s_below, const P* se_below, const P* sw_below,
                        const P* s_above, const P* se_above, const P* sw_above, const float* up, const float* u0,
                        const float* down, int n, double* out) {
  // Every coefficient towards a missing neighbour is zero, so the ends
  // differ only in the neighbours they may not read.
  auto one = [&](int j) {
    float v = plane(c[j]) * u0[j];
    if (j + 1 < n) v += plane(e[j]) * u0[j + 1];
    if (j > 0) v += plane(e[j - 1]) * u0[j - 1];
    if (down) {
      v += plane(s_below[j]) * down[j];
      if (j + 1 < n) v += plane(se_below[j]) * down[j + 1];
      if (j > 0) v += plane(sw_below[j]) * down[j - 1];
    }
    if (up) {
      v += plane(s_above[j]) * up[j];
      if (j > 0) v += plane(se_above[j - 1]) * up[j - 1];
      if (j + 1 < n) v += plane(sw_above[j + 1]) * up[j + 1];
    }
    out[j] += v;
  };
  if (n <= 2 || !up || !down) {
    for (int j = 0; j < n; ++j) one(j);
    return;
  }
  one(0);
  for (int j = 1; j + 1 < n; ++j) {
    float v = plane(c[j]) * u0[j];
    v += plane(e[j]) * u0[j + 1];
    v += plane(e[j - 1]) * u0[j - 1];
    v += plane(s_below[j]) * down[j];
    v += plane(se_below[j]) * down[j + 1];
    v += plane(sw_below[j]) * down[j - 1];
    v += plane(s_above[j]) * up[j];
    v += plane(se_above[j - 1]) * up[j - 1];
    v += plane(sw_above[j + 1]) * up[j + 1];
    out[j] += v;
  }
  one(n - 1);
}

TESK_CPU_KERNEL
void data_row(const float* c, const float* e, const float* s_below, const float* se_below, const float* sw_below,
              const float* s_above, const float* se_above, const float* sw_above, const float* up, const float* u0,
              const float* down, int n, double* out) {
  data_row_of(c, e, s_below, se_below, sw_below, s_above, se_above, sw_above, up, u0, down, n, out);
}

TESK_CPU_KERNEL
void data_row(const std::uint8_t* c, const std::uint8_t* e, const std::uint8_t* s_below, const std::uint8_t* se_below,
              const std::uint8_t* sw_below, const std::uint8_t* s_above, const std::uint8_t* se_above,
              const std::uint8_t* sw_above, const float* up, const float* u0, const float* down, int n, double* out) {
  data_row_of(c, e, s_below, se_below, sw_below, s_above, se_above, sw_above, up, u0, down, n, out);
}

TESK_CPU_KERNEL
void damped_step(const double* inv, const double* r, double omega, int n, float* u) {
  for (int j = 0; j < n; ++j) u[j] = static_cast<float>(static_cast<double>(u[j]) + omega * inv[j] * r[j]);
}

template <class P>
inline void l1_step_coarse_of(const double* pen, const P* c, const P* e, const P* s_below, const P* se_below,
                              const P* sw_below, const P* s_above, const P* se_above, const P* sw_above, const float* r,
                              double omega, int n, float* u) {
  const bool below = s_below != nullptr, above = s_above != nullptr;
  auto step = [&](int j, float v) {
    double d = pen[j];
    d += static_cast<double>(v);
    const double inv = d > 0 ? 1.0 / d : 0.0;
    u[j] = static_cast<float>(static_cast<double>(u[j]) + omega * inv * static_cast<double>(r[j]));
  };
  auto one = [&](int j) {
    float v = plane(c[j]);
    if (j + 1 < n) v += plane(e[j]);
    if (j > 0) v += plane(e[j - 1]);
    if (below) {
      v += plane(s_below[j]);
      if (j + 1 < n) v += plane(se_below[j]);
      if (j > 0) v += plane(sw_below[j]);
    }
    if (above) {
      v += plane(s_above[j]);
      if (j > 0) v += plane(se_above[j - 1]);
      if (j + 1 < n) v += plane(sw_above[j + 1]);
    }
    step(j, v);
  };
  if (n <= 2 || !below || !above) {
    for (int j = 0; j < n; ++j) one(j);
    return;
  }
  one(0);
  for (int j = 1; j + 1 < n; ++j) {
    float v = plane(c[j]);
    v += plane(e[j]);
    v += plane(e[j - 1]);
    v += plane(s_below[j]);
    v += plane(se_below[j]);
    v += plane(sw_below[j]);
    v += plane(s_above[j]);
    v += plane(se_above[j - 1]);
    v += plane(sw_above[j + 1]);
    step(j, v);
  }
  one(n - 1);
}

TESK_CPU_KERNEL
void l1_step_coarse(const double* pen, const float* c, const float* e, const float* s_below, const float* se_below,
                    const float* sw_below, const float* s_above, const float* se_above, const float* sw_above,
                    const float* r, double omega, int n, float* u) {
  l1_step_coarse_of(pen, c, e, s_below, se_below, sw_below, s_above, se_above, sw_above, r, omega, n, u);
}

TESK_CPU_KERNEL
void l1_step_coarse(const double* pen, const std::uint8_t* c, const std::uint8_t* e, const std::uint8_t* s_below,
                    const std::uint8_t* se_below, const std::uint8_t* sw_below, const std::uint8_t* s_above,
                    const std::uint8_t* se_above, const std::uint8_t* sw_above, const float* r, double omega, int n,
                    float* u) {
  l1_step_coarse_of(pen, c, e, s_below, se_below, sw_below, s_above, se_above, sw_above, r, omega, n, u);
}

TESK_CPU_KERNEL
void damped_step_finest(const double* inv0, const double* inv1, const int* c, const double* r, double omega, int n,
                        float* u) {
  for (int j = 0; j < n; ++j) {
    const double inv = c[j] != INT32_MIN ? inv1[j] : inv0[j];
    u[j] = static_cast<float>(static_cast<double>(u[j]) + omega * inv * r[j]);
  }
}

TESK_CPU_KERNEL
void damped_step(const double* inv, const float* r, double omega, int n, float* u) {
  for (int j = 0; j < n; ++j)
    u[j] = static_cast<float>(static_cast<double>(u[j]) + omega * inv[j] * static_cast<double>(r[j]));
}

}  // namespace tesk::spline
