// One-dimensional pieces of the spline's operators: banded matrices of
// half-width 2 and the linear interpolation from a coarse axis to a fine one.
//
// Every operator of the solver, at every level, is a sum of Kronecker
// products X (along the columns) times Y (along the rows) of such banded
// matrices, plus a diagonal data term: the Galerkin coarsening of a
// Kronecker product is the Kronecker product of the coarsened factors, so
// that coarse operators are built from a few vectors of the raster's side.
#pragma once

#include <array>
#include <vector>

namespace tesk::spline {

// An n x n matrix with entries only on the diagonals -2..2: at(i, k) is
// entry (i, i + k).  Entries outside the matrix are zero.
struct Band {
  int n = 0;
  std::vector<std::array<double, 5>> rows;

  explicit Band(int size = 0) : n(size), rows(static_cast<std::size_t>(size), std::array<double, 5>{}) {}
  double at(int i, int k) const { return rows[static_cast<std::size_t>(i)][static_cast<std::size_t>(k + 2)]; }
  double& at(int i, int k) { return rows[static_cast<std::size_t>(i)][static_cast<std::size_t>(k + 2)]; }

  static Band identity(int n);
  // The second difference (1, -2, 1) on the points that have both
  // neighbours; the first and last rows are zero (natural edges).
  static Band second_difference(int n);
  // The path graph's Laplacian: sum over neighbouring pairs of (u_a - u_b)^2
  // is u' G u.
  static Band path_laplacian(int n);
  Band transpose() const;
  Band product(const Band& b) const;  // this * b; the result must stay within the band
  Band scaled(double s) const;
  Band plus(const Band& b) const;
};

// Linear interpolation from a coarse axis of nc = nf / 2 + 1 points to a
// fine one of nf: coarse point I sits on fine point 2I, and every odd fine
// point is the midpoint of two coarse ones.  With an even nf the last coarse
// point lies one fine point beyond the end: the coarse axis keeps its
// spacing of two up to the edge.  (Putting that point on the last fine
// point instead gave the coarse levels a pair of points one fine step
// apart, whose modes along the edge the cycle corrected so poorly that the
// last row or column alone held the solve up: 25 iterations on
// jacksboro8x, against 15 with the even spacing.)
struct Transfer {
  int nf = 0;
  int nc = 0;
  // Fine point x takes weight w0[x] of coarse point c0[x] and, when c1[x]
  // >= 0, weight w1[x] of c1[x].
  std::vector<int> c0, c1;
  std::vector<double> w0, w1;

  // The same as up to two consecutive coarse points: weight wt[4 x + k] of
  // coarse point start[x] + k, k < count[x].
  std::vector<int> start, count;
  std::vector<double> wt;

  explicit Transfer(int fine = 0);
  // Fine points in the support of coarse point I: first..last.
  int first(int I) const { return I == 0 ? 0 : 2 * I - 1; }
  int last(int I) const { return 2 * I + 1 < nf ? 2 * I + 1 : nf - 1; }
  // The weight of coarse point I at fine point x (0 outside its support).
  double weight(int x, int I) const {
    const auto k = I - start[static_cast<std::size_t>(x)];
    return k >= 0 && k < count[static_cast<std::size_t>(x)] ? wt[4 * static_cast<std::size_t>(x) + static_cast<std::size_t>(k)] : 0.0;
  }
};

// P' X P for the interpolation P of t: the Galerkin coarse image of X.
Band galerkin(const Band& x, const Transfer& t);

}  // namespace tesk::spline
