#include "stages/spline/level.h"

#include <algorithm>
#include <cmath>

namespace tesk::spline {
namespace {

bool same_row(const Band& b, int i, int k) {
  for (int o = -2; o <= 2; ++o)
    if (b.at(i, o) != b.at(k, o)) return false;
  return true;
}

// The contiguous run of indices around the middle whose rows are the
// middle row in every factor, and which lie two points or more from the
// ends: [lo, hi), empty when there is none.
void interior_run(int n, const std::array<const Band*, 4>& bands, int& lo, int& hi) {
  const int mid = n / 2;
  auto interior = [&](int i) {
    if (i < 2 || i >= n - 2) return false;
    for (const Band* b : bands)
      if (!same_row(*b, i, mid)) return false;
    return true;
  };
  lo = hi = 0;
  if (!interior(mid)) return;
  lo = mid;
  hi = mid + 1;
  while (interior(lo - 1)) --lo;
  while (interior(hi)) ++hi;
}

}  // namespace

double Level::coefficient(int i, int j, int a, int b) const {
  if (i + a < 0 || i + a >= rows || j + b < 0 || j + b >= cols) return 0.0;
  double s = 0;
  for (const KronTerm& t : terms) s += t.y.at(i, a) * t.x.at(j, b);
  return s;
}

void Level::finish() {
  interior_run(cols, {&terms[0].x, &terms[1].x, &terms[2].x, &terms[3].x}, jlo, jhi);
  interior_run(rows, {&terms[0].y, &terms[1].y, &terms[2].y, &terms[3].y}, ilo, ihi);
  if (ilo == ihi || jlo == jhi) ilo = ihi = jlo = jhi = 0;
  interior = Stencil{};
  if (ihi > ilo) {
    for (int a = -2; a <= 2; ++a)
      for (int b = -2; b <= 2; ++b) {
        const double v = coefficient(ilo, jlo, a, b);
        interior.s[static_cast<std::size_t>(a + 2)][static_cast<std::size_t>(b + 2)] = v;
        if (v != 0.0) {
          interior.offsets.push_back({a, b});
          interior.values.push_back(v);
        }
      }
  }
  diag_x.assign(terms.size() * static_cast<std::size_t>(cols), 0.0);
  diag_y.assign(terms.size() * static_cast<std::size_t>(rows), 0.0);
  for (std::size_t t = 0; t < terms.size(); ++t) {
    for (int j = 0; j < cols; ++j) diag_x[t * static_cast<std::size_t>(cols) + static_cast<std::size_t>(j)] = terms[t].x.at(j, 0);
    for (int i = 0; i < rows; ++i) diag_y[t * static_cast<std::size_t>(rows) + static_cast<std::size_t>(i)] = terms[t].y.at(i, 0);
  }
  // Gershgorin's bound of D^-1 A over the products alone: a data weight
  // adds the same amount to a row's sum and to its diagonal, which can only
  // lower the ratio.
  auto ratio = [&](int i, int j) {
    double sum = 0;
    for (int a = -2; a <= 2; ++a)
      for (int b = -2; b <= 2; ++b) sum += std::fabs(coefficient(i, j, a, b));
    const double dg = kron_diag(i, j);
    return dg > 0 ? sum / dg : 0.0;
  };
  double top = 1.0;
  for (int i = 0; i < rows; ++i) {
    const bool edge_row = i < ilo || i >= ihi;
    for (int j = 0; j < cols; ++j) {
      if (!edge_row && j == jlo) j = jhi;
      if (j >= cols) break;
      top = std::max(top, ratio(i, j));
    }
  }
  if (ihi > ilo) top = std::max(top, ratio(ilo, jlo));
  spectrum_top = top;
}

Level finest_level(const IntGrid& contours, double lambda, double tension) {
  Level L;
  L.rows = contours.rows();
  L.cols = contours.cols();
  L.contours = &contours;
  const double k = lambda * (1.0 - tension);
  const double g = lambda * tension;
  const Band dc = Band::second_difference(L.cols), dr = Band::second_difference(L.rows);
  const Band ic = Band::identity(L.cols), ir = Band::identity(L.rows);
  const Band dct = dc.transpose(), drt = dr.transpose();
  L.terms[0] = {dct.product(dc).scaled(k).plus(Band::path_laplacian(L.cols).scaled(g)), ir};
  L.terms[1] = {dct, dr.scaled(k)};
  L.terms[2] = {dc, drt.scaled(k)};
  L.terms[3] = {ic, drt.product(dr).scaled(k).plus(Band::path_laplacian(L.rows).scaled(g))};
  L.finish();
  L.u = Grid<float>(L.rows, L.cols);
  return L;
}

bool worth_coarsening(int rows, int cols) {
  return rows >= 4 && cols >= 4 && static_cast<std::int64_t>(rows) * cols > 512;
}

Level coarse_level(const Level& fine) {
  const Transfer tr(fine.rows), tc(fine.cols);
  Level L;
  L.rows = tr.nc;
  L.cols = tc.nc;
  for (std::size_t t = 0; t < fine.terms.size(); ++t)
    L.terms[t] = {galerkin(fine.terms[t].x, tc), galerkin(fine.terms[t].y, tr)};
  L.finish();
  // The data term lumped onto the diagonal: row sums of P' M P, that is P'
  // applied to the fine weights.  It keeps the coarse operator's action on
  // smooth vectors, which is all the coarse correction needs.
  Grid<double> m(L.rows, L.cols);
  for (int i = 0; i < fine.rows; ++i)
    for (int j = 0; j < fine.cols; ++j) {
      const double w = fine.weight(i, j);
      if (w == 0.0) continue;
      const int ri[2] = {tr.c0[static_cast<std::size_t>(i)], tr.c1[static_cast<std::size_t>(i)]};
      const double wi[2] = {tr.w0[static_cast<std::size_t>(i)], tr.w1[static_cast<std::size_t>(i)]};
      const int cj[2] = {tc.c0[static_cast<std::size_t>(j)], tc.c1[static_cast<std::size_t>(j)]};
      const double wj[2] = {tc.w0[static_cast<std::size_t>(j)], tc.w1[static_cast<std::size_t>(j)]};
      for (int a = 0; a < 2; ++a)
        for (int b = 0; b < 2; ++b)
          if (ri[a] >= 0 && cj[b] >= 0) m[ri[a]][cj[b]] += wi[a] * w * wj[b];
    }
  L.m = Grid<float>(L.rows, L.cols);
  std::copy(m.begin(), m.end(), L.m.begin());
  L.f = Grid<float>(L.rows, L.cols);
  L.u = Grid<float>(L.rows, L.cols);
  L.r_own = Grid<double>(L.rows, L.cols);  // L.r is set once the level has its place
  return L;
}

void Level::inverse_diagonal_row(int i, double* inv) const {
  double a[4];
  for (std::size_t t = 0; t < 4; ++t) a[t] = diag_y[t * static_cast<std::size_t>(rows) + static_cast<std::size_t>(i)];
  const double* x0 = &diag_x[0];
  const double* x1 = x0 + cols;
  const double* x2 = x1 + cols;
  const double* x3 = x2 + cols;
  if (contours) {
    const std::int32_t* c = (*contours)[i];
    for (int j = 0; j < cols; ++j) {
      const double dg = a[0] * x0[j] + a[1] * x1[j] + a[2] * x2[j] + a[3] * x3[j] + (c[j] != INT32_MIN ? 1.0 : 0.0);
      inv[j] = dg > 0 ? 1.0 / dg : 0.0;
    }
  } else {
    const float* w = m[i];
    for (int j = 0; j < cols; ++j) {
      const double dg = a[0] * x0[j] + a[1] * x1[j] + a[2] * x2[j] + a[3] * x3[j] + static_cast<double>(w[j]);
      inv[j] = dg > 0 ? 1.0 / dg : 0.0;
    }
  }
}

template <class T>
void apply_products_row(const Level& L, const Grid<T>& u, int i, double* out) {
  const bool edge_row = i < L.ilo || i >= L.ihi;
  auto generic = [&](int j0, int j1) {
    for (int j = j0; j < j1; ++j) {
      double s = 0;
      for (int a = -2; a <= 2; ++a) {
        if (i + a < 0 || i + a >= L.rows) continue;
        const T* ur = u[i + a];
        for (int b = -2; b <= 2; ++b) {
          const double c = L.coefficient(i, j, a, b);
          if (c != 0.0) s += c * static_cast<double>(ur[j + b]);
        }
      }
      out[j] += s;
    }
  };
  if (edge_row) {
    generic(0, L.cols);
    return;
  }
  generic(0, L.jlo);
  const std::size_t n = L.interior.values.size();
  for (std::size_t k = 0; k < n; ++k) {
    const double c = L.interior.values[k];
    const T* ur = u[i + L.interior.offsets[k][0]] + L.interior.offsets[k][1];
    for (int j = L.jlo; j < L.jhi; ++j) out[j] += c * static_cast<double>(ur[j]);
  }
  generic(L.jhi, L.cols);
}

template void apply_products_row<float>(const Level&, const Grid<float>&, int, double*);
template void apply_products_row<double>(const Level&, const Grid<double>&, int, double*);

}  // namespace tesk::spline
