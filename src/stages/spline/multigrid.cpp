#include "stages/spline/multigrid.h"

#include "stages/spline/kernels.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <utility>

namespace tesk::spline {
namespace {

// The interpolation of a coarse level onto a fine grid, into target (or
// added to it).
template <class T>
void interpolate(const Level& coarse, Grid<T>& target, bool add, ThreadPool& pool, CancelCheck cancel) {
  const Transfer tr(target.rows()), tc(target.cols());
  pool.for_range(0, target.rows(), row_grain(target.rows(), target.cols()), [&](std::int64_t x0, std::int64_t x1, int) {
    std::vector<double> row0(static_cast<std::size_t>(coarse.cols));
    for (auto xx = x0; xx < x1; ++xx) {
      const int x = static_cast<int>(xx);
      cancel.at_row(x, target.cols());
      const auto xs = static_cast<std::size_t>(x);
      std::fill(row0.begin(), row0.end(), 0.0);
      for (int k = 0; k < tr.count[xs]; ++k) {
        const float* e = coarse.u[tr.start[xs] + k];
        const double w = tr.wt[4 * xs + static_cast<std::size_t>(k)];
        for (int J = 0; J < coarse.cols; ++J) row0[static_cast<std::size_t>(J)] += w * static_cast<double>(e[J]);
      }
      T* u = target[x];
      interpolate_row(row0.data(), target.cols(), add, u);
      for (int y = std::max(0, target.cols() - 1); y < target.cols(); ++y) {
        const auto ys = static_cast<std::size_t>(y);
        const double* rr = &row0[static_cast<std::size_t>(tc.start[ys])];
        const double* ww = &tc.wt[4 * ys];
        double v = 0;
        for (int k = 0; k < tc.count[ys]; ++k) v += ww[k] * rr[k];
        u[y] = static_cast<T>(add ? static_cast<double>(u[y]) + v : v);
      }
    }
  });
}

// The products' diagonal along row i: a[t] * x[t][j] summed over t.
void diagonal_terms(const Level& L, int i, double a[4], const double* x[4]) {
  for (std::size_t t = 0; t < 4; ++t) {
    a[t] = L.diag_y[t * static_cast<std::size_t>(L.rows) + static_cast<std::size_t>(i)];
    x[t] = &L.diag_x[t * static_cast<std::size_t>(L.cols)];
  }
}

}  // namespace

void CoarsestSolver::solve(Level& L) const {
  std::vector<double> y(static_cast<std::size_t>(factor_.size()));
  for (int i = 0; i < L.rows; ++i)
    for (int j = 0; j < L.cols; ++j) y[factor_.index(i, j)] = L.rhs(i, j);
  factor_.solve(y);
  for (int i = 0; i < L.rows; ++i)
    for (int j = 0; j < L.cols; ++j) L.u[i][j] = static_cast<float>(y[factor_.index(i, j)]);
}

void Cycles::for_rows(int rows, int cols, const std::function<void(int)>& fn) {
  // A small level is not worth waking the other threads for.
  if (static_cast<std::int64_t>(rows) * cols < kParallelPixels) {
    for (int i = 0; i < rows; ++i) {
      cancel_.at_row(i, cols);
      fn(i);
    }
    return;
  }
  pool_.for_range(0, rows, kRowGrain, [&](std::int64_t r0, std::int64_t r1, int) {
    for (auto i = r0; i < r1; ++i) {
      cancel_.at_row(i, cols);
      fn(static_cast<int>(i));
    }
  });
}

void Cycles::residual(Level& L) {
  for_rows(L.rows, L.cols, [&](int i) { residual_row(L, i); });
}

void Cycles::residual_then_step(Level& L, double omega, const std::function<void(int)>& after_step) {
  // Each piece's rows in order, the step two rows behind the residual: the
  // residuals that read a row's old value (those within two of it) are
  // taken by then.  The two rows at each end of a piece have neighbours in
  // another piece, whose residuals may not be: they are stepped after.
  std::vector<std::pair<int, int>> pieces(static_cast<std::size_t>(pool_.size()), {0, 0});
  const auto step = [&](int i) {
    step_row(L, i, omega, false);
    if (after_step) after_step(i);
  };
  const auto piece = [&](int r0, int r1, int k) {
    pieces[static_cast<std::size_t>(k)] = {r0, r1};
    for (int i = r0; i < r1; ++i) {
      cancel_.at_row(i, L.cols);
      residual_row(L, i);
      if (i - 2 >= r0 + 2 && i - 2 < r1 - 2) step(i - 2);
    }
  };
  if (static_cast<std::int64_t>(L.rows) * L.cols < kParallelPixels)
    piece(0, L.rows, 0);
  else
    pool_.for_range(0, L.rows, kRowGrain, [&](std::int64_t r0, std::int64_t r1, int k) {
      piece(static_cast<int>(r0), static_cast<int>(r1), k);
    });
  for (const auto& [r0, r1] : pieces)
    for (int i = r0; i < r1; ++i)
      if (i < r0 + 2 || i >= r1 - 2) step(i);
}

void Cycles::residual_row(Level& L, int i) {
  thread_local std::vector<double> row;
  if (!L.contours) row.resize(static_cast<std::size_t>(L.cols));
  double* r = L.contours ? (*L.r)[i] : row.data();
  const float* u = L.u[i];
  if (L.contours) {
    const std::int32_t* c = (*L.contours)[i];
    const double* g = (*L.rhs_grid)[i];
    if (i >= L.ilo && i < L.ihi) {
      // The interior columns in one pass, the edge columns as below.
      const float* rows[5] = {L.u[i - 2], L.u[i - 1], u, L.u[i + 1], L.u[i + 2]};
      finest_residual_interior(&L.interior.s[0][0], rows, g, c, L.jlo, L.jhi, r);
      apply_products_row_edges(L, L.u, i, r);
      finest_residual(g, c, u, L.jlo, r);
      finest_residual(g + L.jhi, c + L.jhi, u + L.jhi, L.cols - L.jhi, r + L.jhi);
    } else {
      apply_products_row(L, L.u, i, r);
      finest_residual(g, c, u, L.cols, r);
    }
  } else {
    apply_products_row(L, L.u, i, r);
    const float* f = L.f[i];
    L.apply_data_row(L.u, i, r);
    float* out = L.r32[i];
    for (int j = 0; j < L.cols; ++j) out[j] = static_cast<float>(static_cast<double>(f[j]) - r[j]);
  }
}

void Cycles::residual_sides(Level& L, int i, int w) {
  double* r = (*L.r)[i];
  const float* u = L.u[i];
  const std::int32_t* c = (*L.contours)[i];
  const double* g = (*L.rhs_grid)[i];
  const float* rows[5] = {L.u[i - 2], L.u[i - 1], u, L.u[i + 1], L.u[i + 2]};
  finest_residual_interior(&L.interior.s[0][0], rows, g, c, L.jlo, w, r);
  finest_residual_interior(&L.interior.s[0][0], rows, g, c, L.cols - w, L.jhi, r);
  apply_products_row_edges(L, L.u, i, r);
  finest_residual(g, c, u, L.jlo, r);
  finest_residual(g + L.jhi, c + L.jhi, u + L.jhi, L.cols - L.jhi, r + L.jhi);
}

void Cycles::edge_solves(Level& L, bool backward) {
  const EdgeBands& bands = h_.edges;
  if (bands.empty()) return;
  const int w = bands.width();
  for (const int k : backward ? std::array{1, 0} : std::array{0, 1}) {
    // The residual on the pair's pixels, from u as the bands before left it:
    // the top and bottom rows whole, or the sides of the rows between.
    const int n = k == 0 ? 2 * w : L.rows - 2 * w;
    pool_.for_range(0, n, kRowGrain, [&](std::int64_t t0, std::int64_t t1, int) {
      for (auto t = t0; t < t1; ++t) {
        const int i = static_cast<int>(k == 0 ? (t < w ? t : L.rows - 2 * w + t) : w + t);
        cancel_.at_row(i, L.cols);
        if (k == 0) residual_row(L, i);
        else residual_sides(L, i, w);
      }
    });
    const auto& pair = bands.pair(k);
    pool_.for_range(0, static_cast<std::int64_t>(pair.size()), 1, [&](std::int64_t b0, std::int64_t b1, int) {
      for (auto b = b0; b < b1; ++b) bands.correct(k, static_cast<int>(b), *L.r, L.u);
    });
  }
}

// Chebyshev's polynomial of the given degree over [top / range, top],
// applied as that many damped Jacobi steps whose weights are the inverses
// of its roots: no vector beside the iterate and the residual.  After the
// coarse correction the steps run in the reverse order, which makes the
// cycle symmetric.  Scaled per pixel by its row's l1 norm, the spectrum
// lies within (0, 1] by Gershgorin's theorem wherever the level is; scaled
// by the diagonal, it lies within the level's bound spectrum_top, which its
// worst pixel sets.
double Cycles::step_weight(const Level& L, int s, bool backward) const {
  const double top = (h_.l1_smoothing ? 1.0 : L.spectrum_top) * 1.05;
  const double bottom = top / h_.range;
  const double theta = (top + bottom) / 2, delta = (top - bottom) / 2;
  const int n = h_.degree;
  const int k = backward ? n - 1 - s : s;
  return 1 / (theta + delta * std::cos(M_PI * (2 * k + 1) / (2 * n)));
}

void Cycles::finest_step_row(Level& L, int i, double omega, const double* r) {
  if (h_.l1_smoothing) {
    const double* inv0 = L.finest_inverse_l1_row(i);
    damped_step_finest(inv0, inv0 + L.cols, (*L.contours)[i], r, omega, L.cols, L.u[i]);
    return;
  }
  double a[4];
  const double* x[4];
  diagonal_terms(L, i, a, x);
  jacobi_step_finest(a, x, (*L.contours)[i], r, omega, L.cols, L.u[i]);
}

void Cycles::step_row(Level& L, int i, double omega, bool rhs_is_residual) {
  if (L.contours) {
    finest_step_row(L, i, omega, rhs_is_residual ? (*L.rhs_grid)[i] : (*L.r)[i]);
    return;
  }
  if (h_.l1_smoothing && L.data_neighbours()) {
    L.with_data_rows(i, [&](auto c, auto e, auto sb, auto seb, auto swb, auto sa, auto sea, auto swa) {
      l1_step_coarse(L.penalty_l1_row(i), c, e, sb, seb, swb, sa, sea, swa, rhs_is_residual ? L.f[i] : L.r32[i],
                     omega, L.cols, L.u[i]);
    });
    return;
  }
  if (h_.l1_smoothing) {
    thread_local std::vector<double> inv;
    thread_local std::vector<float> ones;
    inv.resize(static_cast<std::size_t>(L.cols));
    if (ones.size() < static_cast<std::size_t>(L.cols)) ones.assign(static_cast<std::size_t>(L.cols), 1.0f);
    L.inverse_l1_row(i, inv.data(), ones.data());
    damped_step(inv.data(), rhs_is_residual ? L.f[i] : L.r32[i], omega, L.cols, L.u[i]);
    return;
  }
  double a[4];
  const double* x[4];
  diagonal_terms(L, i, a, x);
  thread_local std::vector<float> scratch;
  jacobi_step_coarse(a, x, L.centre_row(i, scratch), rhs_is_residual ? L.f[i] : L.r32[i], omega, L.cols, L.u[i]);
}

void Cycles::smooth(Level& L, bool backward, bool from_zero, bool started) {
  const int n = h_.degree;
  // The finest level's last step after the coarse correction ends the
  // preconditioner: each row's share of its dot product is taken there.
  std::vector<double>* dots = backward && L.contours ? row_dots_ : nullptr;
  for (int s = started ? 1 : 0; s < n; ++s) {
    const double omega = step_weight(L, s, backward);
    // From zero, the first residual is the right-hand side itself.
    const bool rhs_is_residual = from_zero && s == 0;
    const auto dot_row = [&](int i) {
      double d = 0;
      const double* x = (*L.rhs_grid)[i];
      const float* y = L.u[i];
      for (int j = 0; j < L.cols; ++j) d += x[j] * static_cast<double>(y[j]);
      (*dots)[static_cast<std::size_t>(i)] = d;
    };
    const bool last = dots && s + 1 == n;
    if (!rhs_is_residual && h_.fused_passes) {
      residual_then_step(L, omega, last ? std::function<void(int)>(dot_row) : nullptr);
      continue;
    }
    if (!rhs_is_residual) residual(L);
    for_rows(L.rows, L.cols, [&](int i) {
      // From zero, each row is cleared as its first step comes to it.
      if (rhs_is_residual) std::fill(L.u[i], L.u[i] + L.cols, 0.0f);
      step_row(L, i, omega, rhs_is_residual);
      if (last) dot_row(i);
    });
  }
}

void Cycles::restrict_residual(const Level& fine, Level& coarse) {
  const Transfer tr(fine.rows), tc(fine.cols);
  for_rows(coarse.rows, fine.cols * 3, [&](int I) {
    thread_local std::vector<double> acc;
    acc.assign(static_cast<std::size_t>(fine.cols), 0.0);
    for (int x = tr.first(I); x <= tr.last(I); ++x) {
      const double wx = tr.weight(x, I);
      if (wx == 0.0) continue;
      if (fine.contours) {
        const double* r = (*fine.r)[x];
        for (int y = 0; y < fine.cols; ++y) acc[static_cast<std::size_t>(y)] += wx * r[y];
      } else {
        const float* r = fine.r32[x];
        for (int y = 0; y < fine.cols; ++y) acc[static_cast<std::size_t>(y)] += wx * static_cast<double>(r[y]);
      }
    }
    float* f = coarse.f[I];
    restrict_row(acc.data(), fine.cols, f);
    for (int J = 0; J < coarse.cols; ++J) {
      if (J == 1) J = std::max(1, (fine.cols - 1) / 2);
      if (J >= coarse.cols) break;
      double s = 0;
      for (int y = tc.first(J); y <= tc.last(J); ++y) s += tc.weight(y, J) * acc[static_cast<std::size_t>(y)];
      f[J] = static_cast<float>(s);
    }
  });
}

void Cycles::v_cycle(std::size_t k, bool from_zero, bool started) {
  Level& L = h_.levels[k];
  if (k + 1 == h_.levels.size()) {
    h_.coarsest.front().solve(L);
    return;
  }
  smooth(L, false, from_zero, started);
  if (k == 0) edge_solves(L, false);
  residual(L);
  Level& C = h_.levels[k + 1];
  restrict_residual(L, C);
  if (h_.degree == 0) std::fill(C.u.begin(), C.u.end(), 0.0f);
  v_cycle(k + 1, true);
  if (h_.second_weight > 0 && k + 2 < h_.levels.size() && k < Hierarchy::kSecondCycleLevels) {
    // A second cycle on the coarse level from the first one's result
    // scaled by w: the coarse solve becomes ((1 + w) - w B^-1 A) B^-1, a
    // fixed polynomial in the coarse cycle, still symmetric and positive.
    const float w = static_cast<float>(h_.second_weight);
    for_rows(C.rows, C.cols, [&](int i) {
      float* u = C.u[i];
      for (int j = 0; j < C.cols; ++j) u[j] *= w;
    });
    v_cycle(k + 1, false);
  }
  interpolate(C, L.u, true, pool_, cancel_);
  if (k == 0) edge_solves(L, true);
  smooth(L, true, false);
}

void Cycles::full_multigrid(Grid<double>& x) {
  Level& top = h_.levels.front();
  const std::size_t last = h_.levels.size() - 1;
  if (last == 0) {
    h_.coarsest.front().solve(top);
    std::copy(top.u.begin(), top.u.end(), x.begin());
    return;
  }
  for_rows(top.rows, top.cols, [&](int i) {
    for (int j = 0; j < top.cols; ++j) (*top.r)[i][j] = top.rhs(i, j);
  });
  for (std::size_t k = 0; k < last; ++k) {
    if (k > 0) {
      Level& L = h_.levels[k];
      std::copy(L.f.begin(), L.f.end(), L.r32.begin());
    }
    restrict_residual(h_.levels[k], h_.levels[k + 1]);
  }
  h_.coarsest.front().solve(h_.levels[last]);
  for (std::size_t k = last - 1; k >= 1; --k) {
    interpolate(h_.levels[k + 1], h_.levels[k].u, false, pool_, cancel_);
    v_cycle(k, false);
  }
  interpolate(h_.levels[1], x, false, pool_, cancel_);
}

template <class T>
void Cycles::apply_finest(const Grid<T>& v, Grid<double>& out, double* v_dot_out) {
  const Level& L = h_.levels.front();
  std::vector<double> sums(v_dot_out ? static_cast<std::size_t>(L.rows) : 0);
  for_rows(L.rows, L.cols, [&](int i) {
    double* o = out[i];
    const T* x = v[i];
    const std::int32_t* c = (*L.contours)[i];
    if (i >= L.ilo && i < L.ihi) {
      const T* rows[5] = {v[i - 2], v[i - 1], x, v[i + 1], v[i + 2]};
      finest_apply_interior(&L.interior.s[0][0], rows, c, L.jlo, L.jhi, o);
      apply_products_row_edges(L, v, i, o);
      for (const auto& [j0, j1] : {std::pair{0, L.jlo}, std::pair{L.jhi, L.cols}})
        for (int j = j0; j < j1; ++j) o[j] = (c[j] != INT32_MIN ? static_cast<double>(x[j]) : 0.0) + o[j];
    } else {
      apply_products_row(L, v, i, o);
      for (int j = 0; j < L.cols; ++j) o[j] = (c[j] != INT32_MIN ? static_cast<double>(x[j]) : 0.0) + o[j];
    }
    if (v_dot_out) {
      // While the row is still in cache: the same products, in the same
      // order, as dot(out, v).
      double s = 0;
      for (int j = 0; j < L.cols; ++j) s += o[j] * static_cast<double>(x[j]);
      sums[static_cast<std::size_t>(i)] = s;
    }
  });
  if (v_dot_out) {
    double total = 0;
    for (const double s : sums) total += s;
    *v_dot_out = total;
  }
}

template void Cycles::apply_finest<float>(const Grid<float>&, Grid<double>&, double*);
template void Cycles::apply_finest<double>(const Grid<double>&, Grid<double>&, double*);

double Cycles::precondition(const Grid<double>& rhs, bool started) {
  Level& L = h_.levels.front();
  L.rhs_grid = &rhs;
  if (h_.levels.size() == 1 || h_.degree == 0) {
    if (!started) std::fill(L.u.begin(), L.u.end(), 0.0f);
    v_cycle(0, true, started);
    return dot(rhs, L.u);
  }
  std::vector<double> sums(static_cast<std::size_t>(L.rows));
  row_dots_ = &sums;
  struct Reset {
    std::vector<double>*& p;
    ~Reset() { p = nullptr; }
  } reset{row_dots_};  // also when the cycle throws (cancelled)
  v_cycle(0, true, started);
  double total = 0;
  for (const double s : sums) total += s;
  return total;
}

void Cycles::first_step_row(int i, const Grid<double>& rhs) {
  Level& L = h_.levels.front();
  std::fill(L.u[i], L.u[i] + L.cols, 0.0f);
  if (h_.levels.size() > 1 && h_.degree > 0) finest_step_row(L, i, step_weight(L, 0, false), rhs[i]);
}

template <class T>
double Cycles::dot(const Grid<double>& a, const Grid<T>& b) {
  std::vector<double> sums(static_cast<std::size_t>(a.rows()));
  for_rows(a.rows(), a.cols(), [&](int i) {
    double s = 0;
    const double* x = a[i];
    const T* y = b[i];
    for (int j = 0; j < a.cols(); ++j) s += x[j] * static_cast<double>(y[j]);
    sums[static_cast<std::size_t>(i)] = s;
  });
  double total = 0;
  for (const double s : sums) total += s;
  return total;
}

template double Cycles::dot<float>(const Grid<double>&, const Grid<float>&);
template double Cycles::dot<double>(const Grid<double>&, const Grid<double>&);

}  // namespace tesk::spline
