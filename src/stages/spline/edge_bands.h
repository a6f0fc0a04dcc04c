// Exact solves on the bands along the finest level's edges, a part of the
// preconditioner's cycle.
//
// Where the contours stop short of the raster's edge, the strip between
// them and the edge is a pocket the surface may bend in almost freely: at a
// natural edge the curvature across it is not penalised, so an error there
// that vanishes on the contours and grows towards the edge costs almost
// nothing.  Such an error is too smooth for the smoothing steps and, pinned
// by contours a few pixels apart, too narrow for the coarse levels, whose
// data term spreads each contour over its neighbours; the cycle corrects it
// a little each iteration.  On jacksboro8x the conjugate gradients brought
// every pixel farther than 48 from the edges within the tolerance after 14
// iterations, and the last column after 22.  Solving exactly on bands as
// deep as the pockets removes those errors in one step: with bands of 20
// pixels the same solve took 11 iterations.
//
// Four bands: the top and bottom ones across the whole width, the left and
// right ones between them.  A band's correction is u += A_b^-1 (f - A u)_b,
// the residual taken after the bands before it have moved u.  The top and
// bottom bands are too far apart to share a stencil, and so are the left
// and right ones: each pair is solved side by side, on two threads, with the
// same bytes as one after the other.  Before the coarse correction the pairs
// go top-bottom then left-right, after it in the reverse order: the
// correction after is the adjoint of the one before, and each, an
// A-orthogonal projection's complement, does not increase the error's
// energy, so the cycle stays a symmetric positive definite preconditioner
// (multigrid.h).
#pragma once

#include <cstdint>
#include <vector>

#include "core/grid.h"
#include "core/thread_pool.h"
#include "stages/progress.h"
#include "stages/spline/block_factor.h"
#include "stages/spline/level.h"

namespace tesk::spline {

class EdgeBands {
 public:
  EdgeBands() = default;
  // Bands `width` pixels deep on level L (none when the level is too small
  // for them: see fits()), factored side by side on the pool's threads.
  EdgeBands(const Level& L, int width, ThreadPool& pool, CancelCheck cancel = {});

  // Whether bands `width` deep fit level L: at least 2 deep, within the
  // level's edge rows and columns (whose stencils the residual's kernels
  // treat apart), and with two rows and columns between opposite bands.
  static bool fits(const Level& L, int width);
  // The bytes the bands of a raster hold, their factors and the scratch of
  // a pair's solves (UINT64_MAX for bands that do not fit the raster).
  static std::uint64_t bytes(int rows, int cols, int width);

  bool empty() const { return width_ == 0; }
  int width() const { return width_; }
  // The bands solved together: the top and bottom ones (0), the left and
  // right ones (1).
  const std::vector<BlockFactor<float>>& pair(int k) const { return pairs_[k]; }

  // u += A_b^-1 r_b on band b of pair k, r the residual on its pixels; the
  // two bands of a pair may be corrected at once.
  void correct(int k, int b, const Grid<double>& r, Grid<float>& u) const {
    correct(pairs_[k][static_cast<std::size_t>(b)], r, u, scratch_[b]);
  }
  // The same for any block, y its scratch.
  static void correct(const BlockFactor<float>& block, const Grid<double>& r, Grid<float>& u,
                      std::vector<double>& y);

 private:
  int width_ = 0;
  std::vector<BlockFactor<float>> pairs_[2];
  mutable std::vector<double> scratch_[2];  // one for each band of a pair
};

// The depth of the bands for a raster of contours: the depth of the pockets
// along its edges (the distance from an edge pixel inwards to the first
// contour, at most kMaxEdgeBand), 9 edge pixels in 10 being at most that
// deep; within `spare` bytes.  0: no bands.
inline constexpr int kMaxEdgeBand = 32;
int edge_band_width(const IntGrid& contours, std::uint64_t spare);

}  // namespace tesk::spline
