#include "stages/spline/level.h"

#include "stages/spline/kernels.h"

#include <algorithm>
#include <cmath>
#include <utility>

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
  const int edge_rows = ilo + (rows - ihi);
  edge_stencils.clear();
  if (ihi > ilo) {
    const int edge_cols = jlo + (cols - jhi);
    edge_stencils.resize(static_cast<std::size_t>(edge_rows + 1) * static_cast<std::size_t>(edge_cols + 1) * 25);
    for (int e = 0; e <= edge_rows; ++e)
      for (int f = 0; f <= edge_cols; ++f) {
        // A representative of each class: the edge row or column itself,
        // ilo or jlo for the interior.
        const int i = e < ilo ? e : e < edge_rows ? ihi + (e - ilo) : ilo;
        const int j = f < jlo ? f : f < edge_cols ? jhi + (f - jlo) : jlo;
        double* s = &edge_stencils[(static_cast<std::size_t>(e) * static_cast<std::size_t>(edge_cols + 1) +
                                    static_cast<std::size_t>(f)) * 25];
        for (int a = -2; a <= 2; ++a)
          for (int b = -2; b <= 2; ++b) s[(a + 2) * 5 + b + 2] = coefficient(i, j, a, b);
      }
  }
  penalty_l1.assign(static_cast<std::size_t>(edge_rows + 1) * static_cast<std::size_t>(cols), 0.0);
  auto l1 = [&](int i, int j) {
    double sum = 0;
    for (int a = -2; a <= 2; ++a)
      for (int b = -2; b <= 2; ++b) sum += std::fabs(coefficient(i, j, a, b));
    return sum;
  };
  for (int e = 0; e <= edge_rows; ++e) {
    // Every interior row has the same coefficients: ilo stands for them.
    const int i = e < ilo ? e : e < edge_rows ? ihi + (e - ilo) : ilo;
    double* out = &penalty_l1[static_cast<std::size_t>(e) * static_cast<std::size_t>(cols)];
    double interior_l1 = 0;
    for (const double v : interior.values) interior_l1 += std::fabs(v);
    for (int j = 0; j < cols; ++j)
      out[j] = e == edge_rows && ihi > ilo && j >= jlo && j < jhi ? interior_l1 : l1(i, j);
  }
  finest_inverse_l1.clear();
  if (contours) {
    finest_inverse_l1.resize(2 * penalty_l1.size());
    for (int e = 0; e <= edge_rows; ++e)
      for (int w = 0; w < 2; ++w) {
        const double* pen = &penalty_l1[static_cast<std::size_t>(e) * static_cast<std::size_t>(cols)];
        double* inv = &finest_inverse_l1[(2 * static_cast<std::size_t>(e) + static_cast<std::size_t>(w)) *
                                         static_cast<std::size_t>(cols)];
        for (int j = 0; j < cols; ++j) inv[j] = pen[j] + (w ? 1.0 : 0.0);
        invert_positive(inv, cols);
      }
  }
  // Gershgorin's bound of D^-1 A over the products alone: on the finest
  // level a data weight adds the same amount to a row's sum and to its
  // diagonal, which can only lower the ratio; the coarse levels' data
  // terms are added by data_bound().
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

namespace {

void set_penalty(Level& L, double k, double g) {
  L.kappa = k;
  L.gamma = g;
  const Band dc = Band::second_difference(L.cols), dr = Band::second_difference(L.rows);
  const Band ic = Band::identity(L.cols), ir = Band::identity(L.rows);
  const Band dct = dc.transpose(), drt = dr.transpose();
  L.terms[0] = {dct.product(dc).scaled(k).plus(Band::path_laplacian(L.cols).scaled(g)), ir};
  L.terms[1] = {dct, dr.scaled(k)};
  L.terms[2] = {dc, drt.scaled(k)};
  L.terms[3] = {ic, drt.product(dr).scaled(k).plus(Band::path_laplacian(L.rows).scaled(g))};
  L.finish();
}

}  // namespace

Level finest_level(const IntGrid& contours, double lambda, double tension) {
  Level L;
  L.rows = contours.rows();
  L.cols = contours.cols();
  L.contours = &contours;
  set_penalty(L, lambda * (1.0 - tension), lambda * tension);
  L.u = Grid<float>(L.rows, L.cols);
  return L;
}

bool worth_coarsening(int rows, int cols) {
  return rows >= 4 && cols >= 4 && static_cast<std::int64_t>(rows) * cols > 512;
}

namespace {

// Where the coupled pairs of a fine column j and its neighbour j + b land:
// for each coarse point of j (its first, then its second), the coarse points
// of j + b, each as its weight and the plane that receives the pair when the
// pair's coarse rows are the same (plane[0]) or the next (plane[1]); -1 where
// the pair is not stored.  Only the coarse points that exist are listed, in
// order.
struct ColumnTargets {
  int n = 0;
  double q[2] = {0, 0};
  signed char plane[2][2] = {{-1, -1}, {-1, -1}};  // plane[target][row offset]
};
struct ColumnReach {
  int k[2] = {-1, -1};  // the coarse points of j
  double p[2] = {0, 0};
  ColumnTargets to[3][2];  // [b + 1][which coarse point of j]
};

std::vector<ColumnReach> column_reach(const Transfer& lc, int cols) {
  std::vector<ColumnReach> reach(static_cast<std::size_t>(cols));
  for (int j = 0; j < cols; ++j) {
    ColumnReach& c = reach[static_cast<std::size_t>(j)];
    const auto xj = static_cast<std::size_t>(j);
    c.k[0] = lc.c0[xj], c.k[1] = lc.c1[xj];
    c.p[0] = lc.w0[xj], c.p[1] = lc.w1[xj];
    for (int b = -1; b <= 1; ++b) {
      const int yj = j + b;
      if (yj < 0 || yj >= cols) continue;
      const auto sj = static_cast<std::size_t>(yj);
      const int lj[2] = {lc.c0[sj], lc.c1[sj]};
      const double qj[2] = {lc.w0[sj], lc.w1[sj]};
      for (int p2 = 0; p2 < 2; ++p2) {
        if (c.k[p2] < 0) continue;
        ColumnTargets& t = c.to[b + 1][p2];
        for (int q2 = 0; q2 < 2; ++q2) {
          if (lj[q2] < 0) continue;
          const int dj = lj[q2] - c.k[p2];
          t.q[t.n] = qj[q2];
          t.plane[t.n][0] = static_cast<signed char>(dj == 0 ? 0 : dj == 1 ? 1 : -1);
          t.plane[t.n][1] = static_cast<signed char>(dj == 0 ? 2 : dj == 1 ? 3 : dj == -1 ? 4 : -1);
          ++t.n;
        }
      }
    }
  }
  return reach;
}

// Row k of the data term's exact Galerkin image into acc (five planes of
// cols, zeroed here): every pair of fine pixels the fine data term couples,
// spread onto the pairs of coarse points whose interpolation reaches them,
// of which only those whose first point lies on row k.  Only the pairs
// stored (centre and the forward neighbours) are kept; the others are
// their mirror images.  The fine rows are visited in increasing order, so
// each coarse entry receives its sums in the same order whichever rows a
// thread computes; within a row, by column, then by neighbour.
void coarse_data_row(const Level& fine, const Transfer& lr, const std::vector<ColumnReach>& reach, int coarse_cols,
                     int k, int i0, int i1, double* acc) {
  const auto cols = static_cast<std::size_t>(coarse_cols);
  std::fill(acc, acc + 5 * cols, 0.0);
  const bool centre_only = fine.contours || !fine.data_neighbours();
  thread_local std::vector<float> scratch;
  for (int i = i0; i <= i1; ++i) {
    const auto xi = static_cast<std::size_t>(i);
    // The fine row's own weight towards row k (lr.c0 and lr.c1 differ, so
    // at most one of them is k).
    const int p1 = lr.c0[xi] == k ? 0 : lr.c1[xi] == k ? 1 : -1;
    if (p1 < 0) continue;
    const double pi = p1 == 0 ? lr.w0[xi] : lr.w1[xi];
    // For each neighbouring fine row i + a: the coarse rows it reaches
    // that are stored from row k (k itself, offset 0, or the next, 1),
    // with their weights.
    struct Towards {
      int n = 0;
      int di[2] = {0, 0};
      double qi[2] = {0, 0};
    } rows[3];
    for (int a = -1; a <= 1; ++a) {
      const int yi = i + a;
      if (yi < 0 || yi >= fine.rows || (a != 0 && centre_only)) continue;
      const auto si = static_cast<std::size_t>(yi);
      const int li[2] = {lr.c0[si], lr.c1[si]};
      const double q[2] = {lr.w0[si], lr.w1[si]};
      Towards& t = rows[a + 1];
      for (int q1 = 0; q1 < 2; ++q1)
        if (li[q1] >= 0 && (li[q1] - k == 0 || li[q1] - k == 1)) {
          t.di[t.n] = li[q1] - k;
          t.qi[t.n] = q[q1];
          ++t.n;
        }
    }
    // Row i's data term entries towards i + a, j + b, as data_entry reads
    // them.
    const Level::FloatRows d = fine.contours ? Level::FloatRows{} : fine.float_data_rows(i, scratch);
    const float* mc = d.c;
    const float* me = centre_only ? nullptr : d.e;
    const float* below[3] = {};  // msw, ms, mse of row i, towards row i + 1
    const float* above[3] = {};  // mse, ms, msw of row i - 1, towards row i - 1
    if (!centre_only && i + 1 < fine.rows) below[0] = d.sw_below, below[1] = d.s_below, below[2] = d.se_below;
    if (!centre_only && i > 0) above[0] = d.se_above, above[1] = d.s_above, above[2] = d.sw_above;
    const std::int32_t* contour = fine.contours ? (*fine.contours)[i] : nullptr;
    for (int j = 0; j < fine.cols; ++j) {
      // The finest level couples a contour pixel with itself only.
      if (contour && contour[j] == INT32_MIN) continue;
      const ColumnReach& c = reach[static_cast<std::size_t>(j)];
      for (int a = -1; a <= 1; ++a) {
        const Towards& t = rows[a + 1];
        if (t.n == 0) continue;
        for (int b = -1; b <= 1; ++b) {
          if (centre_only && b != 0) continue;
          const int yj = j + b;
          if (yj < 0 || yj >= fine.cols) continue;
          double v = 0;
          if (a == 0 && b == 0) v = contour ? 1.0 : static_cast<double>(mc[j]);
          else if (a == 0) v = b == 1 ? me[j] : me[j - 1];
          else if (a == 1) v = below[b + 1][j];
          else v = above[b + 1][j + b];
          if (v == 0.0) continue;
          for (int p2 = 0; p2 < 2; ++p2) {
            const ColumnTargets& to = c.to[b + 1][p2];
            if (to.n == 0) continue;
            const double left = pi * c.p[p2] * v;
            double* row = acc + static_cast<std::size_t>(c.k[p2]);
            for (int q1 = 0; q1 < t.n; ++q1)
              for (int q2 = 0; q2 < to.n; ++q2) {
                const int plane = to.plane[q2][t.di[q1]];
                if (plane >= 0) row[static_cast<std::size_t>(plane) * cols] += left * t.qi[q1] * to.q[q2];
              }
          }
        }
      }
    }
  }
}

}  // namespace

Level coarse_level(const Level& fine, ThreadPool& pool) {
  const Transfer lr(fine.rows), lc(fine.cols);
  Level L;
  L.rows = lr.nc;
  L.cols = lc.nc;
  for (std::size_t t = 0; t < fine.terms.size(); ++t)
    L.terms[t] = {galerkin(fine.terms[t].x, lc), galerkin(fine.terms[t].y, lr)};
  L.finish();
  // The fine rows whose interpolation reaches each coarse row.
  std::vector<int> first(static_cast<std::size_t>(L.rows), fine.rows), last(static_cast<std::size_t>(L.rows), -1);
  for (int i = 0; i < fine.rows; ++i)
    for (const int k : {lr.c0[static_cast<std::size_t>(i)], lr.c1[static_cast<std::size_t>(i)]})
      if (k >= 0) {
        first[static_cast<std::size_t>(k)] = std::min(first[static_cast<std::size_t>(k)], i);
        last[static_cast<std::size_t>(k)] = std::max(last[static_cast<std::size_t>(k)], i);
      }
  const std::vector<ColumnReach> reach = column_reach(lc, fine.cols);
  Grid<float>* planes[5] = {&L.mc, &L.me, &L.ms, &L.mse, &L.msw};
  for (Grid<float>* g : planes) *g = Grid<float>(L.rows, L.cols);
  const std::int64_t grain = row_grain(L.rows, L.cols);
  pool.for_range(0, L.rows, grain, [&](std::int64_t r0, std::int64_t r1, int) {
    std::vector<double> acc(5 * static_cast<std::size_t>(L.cols));
    for (auto k = r0; k < r1; ++k) {
      const auto kk = static_cast<std::size_t>(k);
      coarse_data_row(fine, lr, reach, L.cols, static_cast<int>(k), first[kk], last[kk], acc.data());
      for (int p = 0; p < 5; ++p)
        std::copy(acc.begin() + p * L.cols, acc.begin() + (p + 1) * L.cols, (*planes[p])[k]);
    }
  });
  // Gershgorin's bound again, with the data term: the largest of the rows'
  // own.
  double interior_abs = 0;
  for (const double v : L.interior.values) interior_abs += std::fabs(v);
  std::vector<double> row_top(static_cast<std::size_t>(L.rows), 1.0);
  pool.for_range(0, L.rows, grain, [&](std::int64_t r0, std::int64_t r1, int) {
    for (auto i = static_cast<int>(r0); i < r1; ++i) {
      double top = 1.0;
      for (int j = 0; j < L.cols; ++j) {
        const bool inside = i >= L.ilo && i < L.ihi && j >= L.jlo && j < L.jhi;
        double sum = 0;
        if (inside) {
          sum = interior_abs;
        } else {
          for (int a = -2; a <= 2; ++a)
            for (int b = -2; b <= 2; ++b) sum += std::fabs(L.coefficient(i, j, a, b));
        }
        if (i > 0 && i + 1 < L.rows && j > 0 && j + 1 < L.cols) {
          // data_entry's reads away from the edges, in its order.
          const float e[9] = {L.mse[i - 1][j - 1], L.ms[i - 1][j], L.msw[i - 1][j + 1],
                              L.me[i][j - 1],      L.mc[i][j],     L.me[i][j],
                              L.msw[i][j],         L.ms[i][j],     L.mse[i][j]};
          for (const float v : e) sum += std::fabs(static_cast<double>(v));
        } else {
          for (int a = -1; a <= 1; ++a)
            for (int b = -1; b <= 1; ++b) sum += std::fabs(L.data_entry(i, j, a, b));
        }
        const double dg = L.kron_diag(i, j) + L.mc[i][j];
        if (dg > 0) top = std::max(top, sum / dg);
      }
      row_top[static_cast<std::size_t>(i)] = top;
    }
  });
  L.spectrum_top = *std::max_element(row_top.begin(), row_top.end());
  if (fine.contours) L.store_sixteenths(pool);
  L.f = Grid<float>(L.rows, L.cols);
  L.u = Grid<float>(L.rows, L.cols);
  L.r32 = Grid<float>(L.rows, L.cols);
  return L;
}

void Level::inverse_l1_row(int i, double* inv, const float* ones) const {
  const int edge = i < ilo ? i : i >= ihi ? ilo + (i - ihi) : ilo + (rows - ihi);
  const double* pen = &penalty_l1[static_cast<std::size_t>(edge) * static_cast<std::size_t>(cols)];
  std::copy(pen, pen + cols, inv);
  if (contours) {
    const std::int32_t* c = (*contours)[i];
    for (int j = 0; j < cols; ++j) inv[j] += c[j] != INT32_MIN ? 1.0 : 0.0;
  } else {
    const bool below = i + 1 < rows, above = i > 0;
    if (!data_neighbours()) {
      for (int j = 0; j < cols; ++j) inv[j] += static_cast<double>(mc[i][j]);
    } else {
      with_data_rows(i, [&](auto c, auto e, auto sb, auto seb, auto swb, auto sa, auto sea, auto swa) {
        data_row(c, e, sb, seb, swb, sa, sea, swa, above ? ones : nullptr, ones, below ? ones : nullptr, cols, inv);
      });
    }
  }
  invert_positive(inv, cols);
}

namespace {

// out[j] for j in [j0, j1) of row i, coefficient by coefficient (a, then b,
// in order; zero coefficients, those towards missing neighbours among them,
// skipped): from the stored stencils, or from the factors when the level has
// none.
template <class T>
void edge_columns(const Level& L, const Grid<T>& u, int i, int j0, int j1, double* out) {
  for (int j = j0; j < j1; ++j) {
    const double* st = L.edge_stencils.empty() ? nullptr : L.edge_stencil(i, j);
    double s = 0;
    for (int a = -2; a <= 2; ++a) {
      if (i + a < 0 || i + a >= L.rows) continue;
      const T* ur = u[i + a];
      for (int b = -2; b <= 2; ++b) {
        const double c = st ? st[(a + 2) * 5 + b + 2] : L.coefficient(i, j, a, b);
        if (c != 0.0) s += c * static_cast<double>(ur[j + b]);
      }
    }
    out[j] = s;
  }
}

}  // namespace

template <class T>
void apply_products_row(const Level& L, const Grid<T>& u, int i, double* out) {
  const bool edge_row = i < L.ilo || i >= L.ihi;
  if (edge_row) {
    edge_columns(L, u, i, 0, L.cols, out);
    return;
  }
  edge_columns(L, u, i, 0, L.jlo, out);
  const T* rows[5] = {u[i - 2], u[i - 1], u[i], u[i + 1], u[i + 2]};
  stencil_row(&L.interior.s[0][0], rows, L.jlo, L.jhi, out);
  edge_columns(L, u, i, L.jhi, L.cols, out);
}

template <class T>
void apply_products_row_edges(const Level& L, const Grid<T>& u, int i, double* out) {
  edge_columns(L, u, i, 0, L.jlo, out);
  edge_columns(L, u, i, L.jhi, L.cols, out);
}

template void apply_products_row_edges<float>(const Level&, const Grid<float>&, int, double*);
template void apply_products_row_edges<double>(const Level&, const Grid<double>&, int, double*);
template void apply_products_row<float>(const Level&, const Grid<float>&, int, double*);
template void apply_products_row<double>(const Level&, const Grid<double>&, int, double*);

}  // namespace tesk::spline
