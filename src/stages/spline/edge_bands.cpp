#include "stages/spline/edge_bands.h"

#include <algorithm>
#include <array>
#include <cstdint>

namespace tesk::spline {
namespace {

// The four bands of a raster, as two pairs.
std::array<Rect, 4> band_rects(int rows, int cols, int w) {
  return {Rect{0, w, 0, cols}, Rect{rows - w, rows, 0, cols}, Rect{w, rows - w, 0, w},
          Rect{w, rows - w, cols - w, cols}};
}

}  // namespace

bool EdgeBands::fits(const Level& L, int width) {
  return width >= 2 && L.ihi > L.ilo && L.jhi > L.jlo && width >= L.ilo && width >= L.rows - L.ihi &&
         width >= L.jlo && width >= L.cols - L.jhi && L.rows - 2 * width >= 2 && L.cols - 2 * width >= 2;
}

std::uint64_t EdgeBands::bytes(int rows, int cols, int width) {
  if (width <= 0) return 0;
  if (rows - 2 * width < 2 || cols - 2 * width < 2) return UINT64_MAX;
  std::uint64_t total = 0;
  for (const Rect& r : band_rects(rows, cols, width)) total += BlockFactor<float>::bytes(r);
  // The scratch: the larger band of each kind, a double a pixel.
  const auto most = static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(std::max(rows, cols));
  return total + 2 * most * sizeof(double);
}

EdgeBands::EdgeBands(const Level& L, int width, ThreadPool& pool, CancelCheck cancel) {
  if (!fits(L, width)) return;
  width_ = width;
  const std::array<Rect, 4> rects = band_rects(L.rows, L.cols, width);
  std::array<BlockFactor<float>, 4> factors;
  pool.for_range(0, 4, 1, [&](std::int64_t k0, std::int64_t k1, int) {
    for (auto k = k0; k < k1; ++k) factors[static_cast<std::size_t>(k)] = BlockFactor<float>(L, rects[static_cast<std::size_t>(k)], cancel);
  });
  std::size_t most = 0;
  for (std::size_t k = 0; k < 4; ++k) {
    most = std::max(most, static_cast<std::size_t>(factors[k].size()));
    pairs_[k / 2].push_back(std::move(factors[k]));
  }
  for (auto& y : scratch_) y.resize(most);
}

void EdgeBands::correct(const BlockFactor<float>& block, const Grid<double>& r, Grid<float>& u,
                        std::vector<double>& y) {
  y.resize(static_cast<std::size_t>(block.size()));
  const Rect& rect = block.rect();
  for (int i = rect.i0; i < rect.i1; ++i)
    for (int j = rect.j0; j < rect.j1; ++j) y[block.index(i, j)] = r[i][j];
  block.solve(y);
  for (int i = rect.i0; i < rect.i1; ++i)
    for (int j = rect.j0; j < rect.j1; ++j)
      u[i][j] = static_cast<float>(static_cast<double>(u[i][j]) + y[block.index(i, j)]);
}

int edge_band_width(const IntGrid& contours, std::uint64_t spare) {
  const int rows = contours.rows(), cols = contours.cols();
  if (rows < 4 || cols < 4) return 0;
  // Each edge pixel's depth: inwards, along the row or column, to the first
  // contour pixel.
  std::vector<int> depths;
  depths.reserve(2 * (static_cast<std::size_t>(rows) + static_cast<std::size_t>(cols)));
  const auto depth = [&](int i, int j, int di, int dj) {
    int d = 0;
    while (d < kMaxEdgeBand && i >= 0 && i < rows && j >= 0 && j < cols && contours[i][j] == INT32_MIN) {
      ++d;
      i += di;
      j += dj;
    }
    return d;
  };
  for (int j = 0; j < cols; ++j) {
    depths.push_back(depth(0, j, 1, 0));
    depths.push_back(depth(rows - 1, j, -1, 0));
  }
  for (int i = 0; i < rows; ++i) {
    depths.push_back(depth(i, 0, 0, 1));
    depths.push_back(depth(i, cols - 1, 0, -1));
  }
  const auto nth = depths.begin() + static_cast<std::ptrdiff_t>(depths.size() * 9 / 10);
  std::nth_element(depths.begin(), nth, depths.end());
  // No deeper than leaves two rows and columns between opposite bands.
  int w = std::min(*nth, (std::min(rows, cols) - 2) / 2);
  while (w > 0 && EdgeBands::bytes(rows, cols, w) > spare) --w;
  return w;
}

}  // namespace tesk::spline
