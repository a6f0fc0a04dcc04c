// One level of the spline's multigrid hierarchy: its operator and vectors.
//
// The operator of a level is A = M + sum over t of X_t (x) Y_t: M a
// diagonal data term, each X_t a banded matrix along the columns and each
// Y_t one along the rows (banded.h).  On the finest level M is 1 on the
// contour pixels and 0 elsewhere, and the four products are the penalty
// lambda ((1 - tension) L'L + tension G) written out: with L = D (x) I + I
// (x) D (D the second difference with natural edges) and G = Gc (x) I + I
// (x) Gr (path Laplacians),
//   L'L = D'D (x) I + D' (x) D + D (x) D' + I (x) D'D.
// Away from the edges the products add up to one constant 5 x 5 stencil,
// which is applied as such; the edge bands take theirs from stencils stored
// per class of row and column (a few rows and columns of each edge).
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

#include "core/grid.h"
#include "core/thread_pool.h"
#include "stages/spline/banded.h"

namespace tesk::spline {

// The passes over a level share its rows out to the threads in pieces of at
// least kRowGrain rows, and only from kParallelPixels pixels on: a smaller
// level is not worth waking the other threads for.
constexpr std::int64_t kRowGrain = 8;
constexpr std::int64_t kParallelPixels = std::int64_t{1} << 16;
// The grain of a pass over a level of this shape: the whole level, in one
// piece run by the caller, below kParallelPixels.
inline std::int64_t row_grain(int rows, int cols) {
  return static_cast<std::int64_t>(rows) * cols < kParallelPixels ? std::max(rows, 1) : kRowGrain;
}

struct KronTerm {
  Band x;  // along the columns (index j)
  Band y;  // along the rows (index i)
};

struct Stencil {
  std::array<std::array<double, 5>, 5> s{};  // s[a + 2][b + 2]: coefficient of u[i + a][j + b]
  // Its nonzero entries, in a fixed order.
  std::vector<std::array<int, 2>> offsets;
  std::vector<double> values;
};

template <class P, class F>
void rows_of(const Grid<P>& c, const Grid<P>& e, const Grid<P>& s, const Grid<P>& se, const Grid<P>& sw, int i,
             F&& f) {
  const bool below = i + 1 < c.rows(), above = i > 0;
  const P* none = nullptr;
  f(c[i], e[i], below ? s[i] : none, below ? se[i] : none, below ? sw[i] : none, above ? s[i - 1] : none,
    above ? se[i - 1] : none, above ? sw[i - 1] : none);
}

struct Level {
  int rows = 0;
  int cols = 0;
  double kappa = 0, gamma = 0;  // the penalty's weights of curvature and slope on this level
  std::array<KronTerm, 4> terms;
  Stencil interior;             // the sum of the products on [ilo, ihi) x [jlo, jhi)
  int ilo = 0, ihi = 0, jlo = 0, jhi = 0;
  std::vector<double> diag_x;   // diag_x[t * cols + j] = X_t(j, j)
  std::vector<double> diag_y;   // diag_y[t * rows + i] = Y_t(i, i)
  // The data term: on the finest level the contour grid (1 where it is not
  // kNoData), elsewhere the Galerkin image of the level above, a symmetric
  // stencil of 3 x 3 pixels kept as five planes: the centre, and the
  // coefficients towards the east, south, south-east and south-west
  // neighbours (those towards the others are their neighbours' own).
  const IntGrid* contours = nullptr;
  Grid<float> mc, me, ms, mse, msw;
  // The first coarse level's planes in sixteenths instead: an image of 0/1
  // weights through interpolation weights of 1 and 1/2 on each axis holds
  // multiples of 1/16 up to 36/16, the same values as in single precision
  // in a quarter of the bytes (the float planes are then empty).
  Grid<std::uint8_t> mc8, me8, ms8, mse8, msw8;
  bool sixteenths() const { return !mc8.empty(); }
  // Whether the data term reaches the neighbours (else the centre alone).
  bool data_neighbours() const { return !me.empty() || sixteenths(); }
  // f(c, e, s_below, se_below, sw_below, s_above, se_above, sw_above): the
  // rows of the planes data_row reads for row i, of either type (a level
  // with neighbours).
  template <class F>
  void with_data_rows(int i, F&& f) const {
    if (sixteenths()) rows_of(mc8, me8, ms8, mse8, msw8, i, f);
    else rows_of(mc, me, ms, mse, msw, i, f);
  }
  // The same rows in single precision: the planes' own, or converted into
  // scratch.
  struct FloatRows {
    const float *c = nullptr, *e = nullptr, *s_below = nullptr, *se_below = nullptr, *sw_below = nullptr,
                *s_above = nullptr, *se_above = nullptr, *sw_above = nullptr;
  };
  FloatRows float_data_rows(int i, std::vector<float>& scratch) const;
  // The centre plane's row i alone, likewise.
  const float* centre_row(int i, std::vector<float>& scratch) const;
  // The planes into sixteenths when every value is one (as on the first
  // coarse level); otherwise they stay as they are.
  void store_sixteenths(ThreadPool& pool);
  // The right-hand side: on the finest level rhs_grid, elsewhere f.
  const Grid<double>* rhs_grid = nullptr;
  Grid<float> f;
  // The iterate (on the finest level, the preconditioner's output).  The
  // coarse levels and the preconditioner only need to be close: their
  // vectors are stored in single precision, every sum taken in double but
  // the coarse data term's (kernels.h).
  Grid<float> u;
  // The residual: on the finest level the solver's grid (in double), on
  // the coarse ones r32.
  Grid<double>* r = nullptr;
  Grid<float> r32;
  double spectrum_top = 0;      // bound of the largest eigenvalue of D^-1 A
  // The sum of the magnitudes of the products' coefficients in each row of
  // the operator: a row of cols for each edge row (those above ilo, then
  // those from ihi on), then one that every interior row shares.
  std::vector<double> penalty_l1;
  // The finest level's inverse row sums, which take only two values a
  // column of each row of penalty_l1, the data weight being 0 or 1: for
  // each row of penalty_l1, cols values for weight 0, then cols for 1.
  std::vector<double> finest_inverse_l1;
  // The products' 5 x 5 stencils of the edge bands: every row in [ilo, ihi)
  // has the same coefficients, and so has every column in [jlo, jhi), so one
  // stencil serves each pair of a row class (each edge row, then the
  // interior) and a column class (likewise).  Empty when the level has no
  // interior; coefficient() then serves.
  std::vector<double> edge_stencils;

  // The stencil of row (i, j) of the products from edge_stencils: s[(a + 2)
  // * 5 + b + 2] the coefficient of u[i + a][j + b].
  const double* edge_stencil(int i, int j) const {
    const int ri = i < ilo ? i : i >= ihi ? ilo + (i - ihi) : ilo + (rows - ihi);
    const int cj = j < jlo ? j : j >= jhi ? jlo + (j - jhi) : jlo + (cols - jhi);
    const auto width = static_cast<std::size_t>(jlo + (cols - jhi) + 1);
    return &edge_stencils[(static_cast<std::size_t>(ri) * width + static_cast<std::size_t>(cj)) * 25];
  }

  // Sets ilo..jhi, the interior stencil, the diagonals and the spectrum
  // bound from the terms.
  void finish();
  // The coefficient of u[i + a][j + b] in row (i, j) of the products.
  double coefficient(int i, int j, int a, int b) const;
  // Diagonal of the products at (i, j).
  double kron_diag(int i, int j) const {
    double s = 0;
    for (std::size_t t = 0; t < terms.size(); ++t)
      s += diag_y[t * static_cast<std::size_t>(rows) + static_cast<std::size_t>(i)] *
           diag_x[t * static_cast<std::size_t>(cols) + static_cast<std::size_t>(j)];
    return s;
  }
  double weight(int i, int j) const {
    if (contours) return (*contours)[i][j] != INT32_MIN ? 1.0 : 0.0;
    return sixteenths() ? mc8[i][j] / 16.0 : static_cast<double>(mc[i][j]);
  }
  // The data term's coefficient of u[i + a][j + b] in row (i, j), a and b
  // in -1..1.
  double data_entry(int i, int j, int a, int b) const;
  // Row i of the data term applied to u, added to out.
  void apply_data_row(const Grid<float>& u, int i, double* out) const;
  double rhs(int i, int j) const {
    if (rhs_grid) return (*rhs_grid)[i][j];
    if (contours) return (*contours)[i][j] != INT32_MIN ? static_cast<double>((*contours)[i][j]) : 0.0;
    return static_cast<double>(f[i][j]);
  }
  // 1 / (sum of the magnitudes of row (i, j) of A) along row i, into
  // inv[0, cols); 0 where that sum is not positive.  ones is cols floats of
  // 1 (the data term's entries are never negative, so its sums are the data
  // term applied to ones).
  void inverse_l1_row(int i, double* inv, const float* ones) const;
  // The row of penalty_l1 for row i.
  const double* penalty_l1_row(int i) const {
    const int edge = i < ilo ? i : i >= ihi ? ilo + (i - ihi) : ilo + (rows - ihi);
    return &penalty_l1[static_cast<std::size_t>(edge) * static_cast<std::size_t>(cols)];
  }
  // On the finest level, the inverse row sums of row i for data weight 0
  // (then cols further on, for weight 1).
  const double* finest_inverse_l1_row(int i) const {
    const int edge = i < ilo ? i : i >= ihi ? ilo + (i - ihi) : ilo + (rows - ihi);
    return &finest_inverse_l1[static_cast<std::size_t>(edge) * 2 * static_cast<std::size_t>(cols)];
  }
};

// The finest level for a raster of the contours' shape.
Level finest_level(const IntGrid& contours, double lambda, double tension);
// The Galerkin coarse level of `fine` (its vectors allocated, zero), its
// rows computed on the pool's threads.
Level coarse_level(const Level& fine, ThreadPool& pool);
// Whether a level of this shape is coarsened further.
bool worth_coarsening(int rows, int cols);

// out[j] for j in [0, cols) of row i: the products applied to u (without
// the data term).
template <class T>
void apply_products_row(const Level& L, const Grid<T>& u, int i, double* out);
// The same on the edge columns only, [0, jlo) and [jhi, cols), of an
// interior row.
template <class T>
void apply_products_row_edges(const Level& L, const Grid<T>& u, int i, double* out);

}  // namespace tesk::spline
