// The Cholesky factor of a level's matrix restricted to a rectangle of its
// pixels: the pixels outside the rectangle are held, those inside solved
// for exactly.  The pixels are numbered along the rectangle's longer side,
// which makes the matrix banded, of half-width twice the shorter side plus
// 2 (the stencils reach two pixels each way), and the factor as narrow.
//
// The coarsest level is such a rectangle, the whole level; so is each band
// along the finest level's edges (edge_bands.h), whose factors are stored
// in single precision: each column summed in double from the columns
// stored before it, then rounded, a factor F still gives the symmetric
// positive definite F F' to solve with, which is all a preconditioner
// needs.
#pragma once

#include <cstdint>
#include <vector>

#include "stages/progress.h"
#include "stages/spline/level.h"

namespace tesk::spline {

struct Rect {
  int i0 = 0, i1 = 0, j0 = 0, j1 = 0;  // rows [i0, i1), columns [j0, j1)
  int rows() const { return i1 - i0; }
  int cols() const { return j1 - j0; }
};

template <class T>
class BlockFactor {
 public:
  BlockFactor() = default;
  // Polls cancel as the columns go (a band of a large raster takes seconds).
  BlockFactor(const Level& L, Rect r, CancelCheck cancel = {});

  // The bytes the factor of a rectangle holds.
  static std::uint64_t bytes(Rect r);

  const Rect& rect() const { return rect_; }
  int size() const { return n_; }
  // The position of pixel (i, j) of the level among the unknowns.
  std::size_t index(int i, int j) const {
    return static_cast<std::size_t>(by_rows_ ? (i - rect_.i0) * rect_.cols() + (j - rect_.j0)
                                             : (j - rect_.j0) * rect_.rows() + (i - rect_.i0));
  }
  // y = A^-1 y, y ordered by index() (a null pivot, from data too sparse to
  // fix a direction, gives that direction nothing).
  void solve(std::vector<double>& y) const;

 private:
  Rect rect_;
  bool by_rows_ = true;  // numbered row by row (else column by column)
  int n_ = 0;
  int band_ = 0;
  std::vector<T> factor_;  // n_ x (band_ + 1): factor_[p * (band_ + 1) + k] = L(p + k, p)
};

}  // namespace tesk::spline
