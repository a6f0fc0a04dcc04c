#include "tiles/certificate.h"

#include <algorithm>
#include <vector>

#include "stages/dilation.h"
#include "stages/smoothing.h"
#include "tiles/distances.h"

namespace tesk {
namespace {

// The chessboard distance from every pixel to the nearest uncertain one,
// the pixels beyond a cut side counting as uncertain.
void distance_to_uncertain(const ByteGrid& uncertain, CutSides cut, IntGrid& d, CancelCheck cancel) {
  const int rows = d.rows(), cols = d.cols();
  for (int i = 0; i < rows; ++i) {
    std::int32_t edge = kFar;
    if (cut.top) edge = std::min(edge, i + 1);
    if (cut.bottom) edge = std::min(edge, rows - i);
    for (int j = 0; j < cols; ++j) {
      std::int32_t v = uncertain[i][j] ? 0 : edge;
      if (cut.left) v = std::min(v, j + 1);
      if (cut.right) v = std::min(v, cols - j);
      d[i][j] = v;
    }
  }
  chessboard_transform(d, cancel);
}

// How far from a no-data pixel of layer d a pass reads to decide what it
// writes there.  Its grown value comes from within d of it.  Its midpoint
// needs the grown values of the cross neighbours that may be greater: one
// of layer d - 1 or d grows from within that layer of it, so within d + 1
// of the pixel; one of layer d + 1 grows from the pixel itself among
// others, is never greater, and needs only to be known to lie in layer
// d + 1: no data within d of it.
std::int32_t reach(const IntGrid& layer, int i, int j) {
  const std::int32_t d = layer[i][j];
  std::int32_t beside = 0;
  if (i > 0) beside = std::max(beside, layer[i - 1][j]);
  if (j > 0) beside = std::max(beside, layer[i][j - 1]);
  if (j + 1 < layer.cols()) beside = std::max(beside, layer[i][j + 1]);
  if (i + 1 < layer.rows()) beside = std::max(beside, layer[i + 1][j]);
  return std::max(d, std::min(beside, d) + 1);
}

// Marks certain every pixel of each hole the dilation left (a set of
// pixels never written, connected through their cross) that holds no
// uncertain pixel.
void certify_holes(const IntGrid& written_at, const ByteGrid& uncertain, ByteGrid& certain, CancelCheck cancel) {
  const int rows = written_at.rows(), cols = written_at.cols();
  ByteGrid seen(rows, cols);
  std::vector<std::size_t> stack, hole;
  const auto open = [&](int i, int j) { return written_at[i][j] == kNeverWritten && !seen[i][j]; };
  for (int i0 = 0; i0 < rows; ++i0) {
    cancel.at_row(i0, cols);
    for (int j0 = 0; j0 < cols; ++j0) {
      if (!open(i0, j0)) continue;
      seen[i0][j0] = 1;
      stack.assign(1, static_cast<std::size_t>(i0) * cols + j0);
      hole.clear();
      bool sure = true;
      while (!stack.empty()) {
        const std::size_t x = stack.back();
        stack.pop_back();
        hole.push_back(x);
        const int i = static_cast<int>(x / cols), j = static_cast<int>(x % cols);
        sure = sure && !uncertain[i][j];
        const auto visit = [&](int k, int l) {
          if (!open(k, l)) return;
          seen[k][l] = 1;
          stack.push_back(static_cast<std::size_t>(k) * cols + l);
        };
        if (i > 0) visit(i - 1, j);
        if (j > 0) visit(i, j - 1);
        if (j + 1 < cols) visit(i, j + 1);
        if (i + 1 < rows) visit(i + 1, j);
      }
      if (sure)
        for (const std::size_t x : hole) certain.data()[x] = 1;
    }
  }
}

}  // namespace

ByteGrid certain_after_gap_filling(const IntGrid& written_at, int passes, CutSides cut, CancelCheck cancel) {
  const int rows = written_at.rows(), cols = written_at.cols();
  ByteGrid uncertain(rows, cols);
  IntGrid layer(rows, cols), dist(rows, cols);
  bool grew = true;
  for (int k = 1; k <= passes; ++k) {
    growth_layers(written_at, k, layer, cancel);
    if (grew) distance_to_uncertain(uncertain, cut, dist, cancel);
    grew = false;
    // A no-data pixel stays certain through the pass only when everything
    // the pass reads for it is certain; a data pixel never changes.
    for (int i = 0; i < rows; ++i) {
      cancel.at_row(i, cols);
      for (int j = 0; j < cols; ++j) {
        if (uncertain[i][j] || written_at[i][j] < k) continue;
        if (dist[i][j] <= reach(layer, i, j)) uncertain[i][j] = 1, grew = true;
      }
    }
  }
  ByteGrid certain(rows, cols);
  for (std::size_t x = 0; x < certain.size(); ++x)
    certain.data()[x] = !uncertain.data()[x] && written_at.data()[x] != kNeverWritten;
  certify_holes(written_at, uncertain, certain, cancel);
  return certain;
}

ByteGrid certain_after_smoothing(const ByteGrid& certain, const Window& tile, int raster_rows, int raster_cols,
                                 int maille) {
  const int rows = certain.rows(), cols = certain.cols(), n = maille;
  // Along the rows: whether the window's columns are certain in each row.
  ByteGrid across(rows, cols);
  std::vector<int> before(static_cast<std::size_t>(cols) + 1);
  for (int i = 0; i < rows; ++i) {
    for (int j = 0; j < cols; ++j) before[j + 1] = before[j] + !certain[i][j];
    for (int j = 0; j < cols; ++j) {
      const int c = window_first(tile.col0 + j, n, raster_cols) - tile.col0;
      across[i][j] = c >= 0 && c + n < cols && before[c + n + 1] == before[c];
    }
  }
  // Then down the columns, over the window's rows.
  IntGrid above(rows + 1, cols);
  for (int i = 0; i < rows; ++i)
    for (int j = 0; j < cols; ++j) above[i + 1][j] = above[i][j] + !across[i][j];
  ByteGrid out(rows, cols);
  for (int i = 0; i < rows; ++i) {
    const int r = window_first(tile.row0 + i, n, raster_rows) - tile.row0;
    if (r < 0 || r + n >= rows) continue;
    for (int j = 0; j < cols; ++j) out[i][j] = above[r + n + 1][j] == above[r][j];
  }
  return out;
}

}  // namespace tesk
