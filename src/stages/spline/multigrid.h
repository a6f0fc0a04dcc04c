// The multigrid cycle of the spline's solver: Chebyshev smoothing with the
// rows' l1 norms (or the diagonal), Galerkin coarse levels (level.h), full weighting and linear
// interpolation between them, and a banded Cholesky factorisation on the
// coarsest level.  One cycle from zero is the preconditioner of the
// conjugate gradients (solver.h): symmetric, since the smoothing after the
// coarse correction is the adjoint of the one before and the restriction
// the transpose of the interpolation.
//
// Linear interpolation suits a fourth-order operator poorly: a coarse level
// sees a smooth error as stiffer than it is and corrects it too little, and
// the shortfall compounds over the levels.  Each visit of a coarse level
// from one of the finest levels therefore runs its cycle twice: the first
// result, scaled by w = 2, is the start of the second.  With B the coarse
// cycle, the coarse solve becomes the fixed polynomial
// ((1 + w) - w B^-1 A) B^-1: smooth errors (B^-1 A near
// 0) are corrected three times as strongly, and since B^-1 A stays within
// (0, 9/8] on every level (the polynomial times t peaks at (1 + w)^2 / 4w),
// the polynomial stays positive and the preconditioner symmetric positive
// definite.
//
// Every pass runs row by row on the thread pool; each row is computed
// alone, from values the previous pass left, so that the result does not
// depend on how the rows are shared out.
#pragma once

#include <functional>
#include <vector>

#include "core/grid.h"
#include "core/thread_pool.h"
#include "stages/progress.h"
#include "stages/spline/block_factor.h"
#include "stages/spline/edge_bands.h"
#include "stages/spline/level.h"

namespace tesk::spline {

// The coarsest level's matrix, factorised once.
class CoarsestSolver {
 public:
  explicit CoarsestSolver(const Level& L) : factor_(L, Rect{0, L.rows, 0, L.cols}) {}
  // u = A^-1 rhs on that level (a null pivot, from data too sparse to fix a
  // direction, gives that direction nothing).
  void solve(Level& L) const;

 private:
  BlockFactor<double> factor_;
};

struct Hierarchy {
  std::vector<Level> levels;
  std::vector<CoarsestSolver> coarsest;  // one, for levels.back()
  int degree = 1;                        // smoothing steps before and after the coarse correction
  double range = 16;                     // the smoothing damps [top / range, top]
  double second_weight = 0;              // > 0: two coarse cycles a visit (Cycles::v_cycle)
  // Only the visits from the finest levels run the second cycle: below
  // level kSecondCycleLevels the plain cycle corrects as well (the same
  // iterations on every shared set) and the small levels, run on one
  // thread, cost half as much.
  static constexpr std::size_t kSecondCycleLevels = 3;
  // Smoothing scaled per pixel by the sum of the magnitudes of its row of
  // the operator (l1 Jacobi) rather than by its diagonal and one bound of
  // the whole level's spectrum.
  bool l1_smoothing = true;
  // The residual and the smoothing step after it in one pass over a level.
  bool fused_passes = true;
  // Exact solves on the finest level's edge bands, around its coarse
  // correction (none when empty).
  EdgeBands edges;
};

class Cycles {
 public:
  Cycles(Hierarchy& h, ThreadPool& pool, CancelCheck cancel) : h_(h), pool_(pool), cancel_(cancel) {}

  // Full multigrid for the contour values: the right-hand side restricted
  // to every level, the coarsest solved, each finer level started from the
  // interpolation of the one below and given one V-cycle; x receives the
  // interpolation of the second level (the finest level's r is used as
  // scratch).
  void full_multigrid(Grid<double>& x);
  // out = A v on the finest level; with v_dot_out, also the dot product of
  // v and out, summed as dot() sums it, in the same pass.
  template <class T>
  void apply_finest(const Grid<T>& v, Grid<double>& out, double* v_dot_out = nullptr);
  // The finest level's u = one V-cycle from zero for the right-hand side
  // rhs, which must not be the finest level's r; returns the dot product of
  // rhs and u, summed as dot() sums it, taken row by row as the cycle's last
  // smoothing step leaves each row.  started: the caller has already put
  // the first smoothing step from zero in every row of u (first_step_row),
  // while it wrote rhs.
  double precondition(const Grid<double>& rhs, bool started = false);
  // Row i of the finest level's u = the first smoothing step of a cycle
  // from zero for the right-hand side rhs (its row i alone is read).
  void first_step_row(int i, const Grid<double>& rhs);
  // The dot product of two grids of the finest level's shape: row sums
  // added in row order.
  template <class T>
  double dot(const Grid<double>& a, const Grid<T>& b);

  void for_rows(int rows, int cols, const std::function<void(int)>& fn);

 private:
  void v_cycle(std::size_t k, bool from_zero, bool started = false);
  void residual(Level& L);
  void residual_row(Level& L, int i);
  // The residual, then one smoothing step of weight omega, in one pass over
  // the rows (the same values as the two passes); after_step(i), if given,
  // once row i is stepped.
  void residual_then_step(Level& L, double omega, const std::function<void(int)>& after_step);
  // from_zero: u is zero, or, with started, already holds the first step.
  void smooth(Level& L, bool backward, bool from_zero, bool started = false);
  // One smoothing step of row i with the given weight, the residual being
  // the right-hand side when rhs_is_residual.
  void step_row(Level& L, int i, double omega, bool rhs_is_residual);
  // The same on the finest level, for the residual row r.
  void finest_step_row(Level& L, int i, double omega, const double* r);
  // The weight of step s of a smoothing pass on level L.
  double step_weight(const Level& L, int s, bool backward) const;
  void restrict_residual(const Level& fine, Level& coarse);
  // The finest level's residual on columns [0, w) and [cols - w, cols) of
  // row i, one of its interior rows (w at least its edge columns).
  void residual_sides(Level& L, int i, int w);
  // The edge bands' corrections, in their order before the coarse
  // correction, or in the reverse order (backward) after it.
  void edge_solves(Level& L, bool backward);

  Hierarchy& h_;
  ThreadPool& pool_;
  CancelCheck cancel_;
  // While precondition() runs: the row sums of its dot product, which the
  // finest level's last smoothing step fills.
  std::vector<double>* row_dots_ = nullptr;
};

}  // namespace tesk::spline
