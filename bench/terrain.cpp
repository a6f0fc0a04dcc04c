#include "terrain.h"

#include <algorithm>
#include <cmath>
#include <random>
#include <utility>

namespace tesk::bench {

ContourRaster make_contour_raster(int rows, int cols, std::uint32_t seed, int interval, std::vector<float>* terrain) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  // Terrain in metres, single precision (4 bytes a pixel, freed on return).
  std::vector<float> h(static_cast<std::size_t>(rows) * static_cast<std::size_t>(cols), 600.0f);
  // One hill per 120 x 120 pixels on average, sigma 25..85 pixels, height
  // -100..+200 m.
  const double area = static_cast<double>(rows) * cols;
  const int hills = std::max(1, static_cast<int>(area / (120.0 * 120.0)));
  for (int k = 0; k < hills; ++k) {
    const double ci = unit(rng) * rows;
    const double cj = unit(rng) * cols;
    const double sigma = 25.0 + 60.0 * unit(rng);
    const double amp = -100.0 + 300.0 * unit(rng);
    const int r = static_cast<int>(3.0 * sigma);
    const int i0 = std::max(0, static_cast<int>(ci) - r), i1 = std::min(rows - 1, static_cast<int>(ci) + r);
    const int j0 = std::max(0, static_cast<int>(cj) - r), j1 = std::min(cols - 1, static_cast<int>(cj) + r);
    const double inv = -1.0 / (2.0 * sigma * sigma);
    std::vector<double> gx(static_cast<std::size_t>(j1 - j0 + 1));
    for (int j = j0; j <= j1; ++j) gx[static_cast<std::size_t>(j - j0)] = std::exp((j - cj) * (j - cj) * inv);
    for (int i = i0; i <= i1; ++i) {
      const double gy = amp * std::exp((i - ci) * (i - ci) * inv);
      float* row = &h[static_cast<std::size_t>(i) * static_cast<std::size_t>(cols)];
      for (int j = j0; j <= j1; ++j) row[j] += static_cast<float>(gy * gx[static_cast<std::size_t>(j - j0)]);
    }
  }
  ContourRaster out;
  out.rows = rows;
  out.cols = cols;
  out.samples.assign(h.size(), 65500);
  std::size_t contours = 0;
  auto level = [&](std::size_t x) { return static_cast<long>(std::floor(h[x] / interval)); };
  for (int i = 0; i < rows; ++i) {
    for (int j = 0; j < cols; ++j) {
      const std::size_t x = static_cast<std::size_t>(i) * static_cast<std::size_t>(cols) + static_cast<std::size_t>(j);
      const long l = level(x);
      long top = -1;
      if (j + 1 < cols && level(x + 1) != l) top = std::max(l, level(x + 1));
      if (i + 1 < rows && level(x + static_cast<std::size_t>(cols)) != l)
        top = std::max(top, std::max(l, level(x + static_cast<std::size_t>(cols))));
      if (top < 0) continue;
      const long v = top * interval;
      if (v < 0 || v >= 65500) continue;
      out.samples[x] = static_cast<std::uint16_t>(v);
      ++contours;
    }
  }
  out.contour_share = static_cast<double>(contours) / static_cast<double>(h.size());
  if (terrain) *terrain = std::move(h);
  return out;
}

}  // namespace tesk::bench
