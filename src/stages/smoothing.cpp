#include "stages/smoothing.h"

#include <climits>
#include <cmath>
#include <new>
#include <stdexcept>

#include "core/nrutil.h"
#include "core/units.h"

namespace tesk {

long double Fact(int n) {
  if (n == 0) return 1.0L;
  if (n < 0) return 0.0L;
  long double l = 1.0L;
  for (int i = 2; i <= n; ++i) l = i * l;
  return l;
}

std::int32_t Comb(int p, int n) {
  const long double fn = Fact(n);
  const long double fp = Fact(p);
  const long double fnp = Fact(n - p);
  const long double q = fn / (fp * fnp) + 0.5L;
  return static_cast<std::int32_t>(q);
}

float bernstein_weight(int k, int n, std::int32_t C, double t, double s) {
  if (k == n) return static_cast<float>(C * std::pow(t, static_cast<double>(n)));
  if (k == 0) return static_cast<float>(C * std::pow(s, static_cast<double>(n)));
  const double first = C * std::pow(s, static_cast<double>(n - k));
  return static_cast<float>(first * std::pow(t, static_cast<double>(k)));
}

int window_first(int pos, int n, int size) {
  int first = pos - (n >> 1);
  if (first < 0) first = 0;
  if (first + n >= size) first = size - 1 - n;
  return first;
}

namespace {

// The first and last columns (or rows) of the window of degree n around the
// whole part of x, moved inside [0, size).
void spline_window(double x, int n, int size, int& first, int& last) {
  double whole = 0.0;
  std::modf(x, &whole);
  first = static_cast<int>(whole - (n >> 1));
  last = first + n;
  if (first < 0) {
    first = 0;
    last = n;
  }
  if (last >= size) {
    last = size - 1;
    first = last - n;
  }
}

}  // namespace

double InterpolePointSpline(const IntGrid& itab, double x, double y, int n) {
  float** U = fmatrice(n + 1, 1);
  float** B = fmatrice(n + 1, n + 1);
  float** V = fmatrice(1, n + 1);
  float** M = fmatrice(1, n + 1);
  if (!U || !B || !V || !M) {
    frfmatrice(U, 1);
    frfmatrice(B, n + 1);
    frfmatrice(V, n + 1);
    frfmatrice(M, n + 1);
    throw std::bad_alloc();
  }

  int bxi, bxf, byi, byf;
  spline_window(x, n, itab.cols(), bxi, bxf);
  spline_window(y, n, itab.rows(), byi, byf);

  const double xfrac = (x - bxi) / (bxf - bxi);
  const double yfrac = (y - byi) / (byf - byi);
  const double ixfrac = 1 - xfrac;
  const double iyfrac = 1 - yfrac;

  for (int k = 0; k <= n; ++k) {
    const std::int32_t Combi = Comb(k, n);
    U[0][k] = bernstein_weight(k, n, Combi, yfrac, iyfrac);
    V[k][0] = bernstein_weight(k, n, Combi, xfrac, ixfrac);
  }

  for (int r = byi; r <= byf; ++r) {
    for (int c = bxi; c <= bxf; ++c) {
      const int ii = r - byi;
      const int jj = c - bxi;
      B[ii][jj] = static_cast<float>(itab[r][c]);
    }
  }

  for (int ii = 0; ii <= n; ++ii)
    for (int jj = 0; jj <= n; ++jj)
      M[ii][0] = static_cast<float>(static_cast<double>(M[ii][0]) +
                                    static_cast<double>(B[ii][jj]) * static_cast<double>(V[jj][0]));

  double z = 0.0;
  for (int ii = 0; ii <= n; ++ii) z = z + static_cast<double>(U[0][ii]) * static_cast<double>(M[ii][0]);

  frfmatrice(U, 1);
  frfmatrice(B, n + 1);
  frfmatrice(V, n + 1);
  frfmatrice(M, n + 1);
  return z;
}

std::int32_t smoothed_to_int(double z) {
  const std::int32_t v = trunc_to_int(z);
  return v == kNoData ? INT_MIN + 1 : v;
}

void smooth_literal(const IntGrid& itab, IntGrid& itab1, int maille, const RowCallback& on_row, CancelCheck cancel) {
  if (maille < 2 || maille > kMaxMaille || !window_fits(itab.rows(), itab.cols(), maille))
    throw std::invalid_argument("smoothing window does not fit the image");
  for (int i = 0; i < itab.rows(); ++i) {
    if (on_row) on_row(i);
    cancel.poll();  // a row costs (maille + 1)^2 a pixel
    const int byi = window_first(i, maille, itab.rows());
    for (int j = 0; j < itab.cols(); ++j) {
      const int bxi = window_first(j, maille, itab.cols());
      bool nodata = false;
      for (int r = byi; r <= byi + maille && !nodata; ++r)
        for (int c = bxi; c <= bxi + maille; ++c) nodata = nodata || itab[r][c] == kNoData;
      if (nodata) continue;
      itab1[i][j] = smoothed_to_int(InterpolePointSpline(itab, j, i, maille));
    }
  }
}

}  // namespace tesk
