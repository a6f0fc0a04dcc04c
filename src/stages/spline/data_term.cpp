// The data term's planes of the coarse levels: their entries, their rows as
// the kernels read them, and the first level's in sixteenths.
#include <cmath>

#include "stages/spline/kernels.h"
#include "stages/spline/level.h"

namespace tesk::spline {

void Level::store_sixteenths(ThreadPool& pool) {
  Grid<float>* planes[5] = {&mc, &me, &ms, &mse, &msw};
  for (const Grid<float>* g : planes) {
    if (g->empty()) return;
    for (const float v : *g)
      if (!(v >= 0 && v <= 255.0f / 16 && v * 16 == std::floor(v * 16))) return;
  }
  Grid<std::uint8_t>* bytes[5] = {&mc8, &me8, &ms8, &mse8, &msw8};
  for (int p = 0; p < 5; ++p) {
    Grid<std::uint8_t> b(rows, cols);
    const Grid<float>& g = *planes[p];
    pool.for_range(0, rows, row_grain(rows, cols), [&](std::int64_t r0, std::int64_t r1, int) {
      for (auto i = r0; i < r1; ++i)
        for (int j = 0; j < cols; ++j) b[i][j] = static_cast<std::uint8_t>(g[i][j] * 16);
    });
    *bytes[p] = std::move(b);
    *planes[p] = Grid<float>();
  }
}

Level::FloatRows Level::float_data_rows(int i, std::vector<float>& scratch) const {
  FloatRows d;
  const float** out[8] = {&d.c, &d.e, &d.s_below, &d.se_below, &d.sw_below, &d.s_above, &d.se_above, &d.sw_above};
  if (!sixteenths()) {
    d.c = mc[i];
    if (!me.empty())
      rows_of(mc, me, ms, mse, msw, i, [&](auto... row) {
        int k = 0;
        for (const float* r : {row...}) *out[k++] = r;
      });
    return d;
  }
  const auto n = static_cast<std::size_t>(cols);
  scratch.resize(8 * n);
  rows_of(mc8, me8, ms8, mse8, msw8, i, [&](auto... row) {
    int k = 0;
    for (const std::uint8_t* r : {row...}) {
      if (r) {
        float* f = scratch.data() + static_cast<std::size_t>(k) * n;
        for (std::size_t j = 0; j < n; ++j) f[j] = from_sixteenths(r[j]);
        *out[k] = f;
      }
      ++k;
    }
  });
  return d;
}

const float* Level::centre_row(int i, std::vector<float>& scratch) const {
  if (!sixteenths()) return mc[i];
  scratch.resize(static_cast<std::size_t>(cols));
  for (int j = 0; j < cols; ++j) scratch[static_cast<std::size_t>(j)] = from_sixteenths(mc8[i][j]);
  return scratch.data();
}

double Level::data_entry(int i, int j, int a, int b) const {
  if (i + a < 0 || i + a >= rows || j + b < 0 || j + b >= cols) return 0.0;
  if (contours) return a == 0 && b == 0 ? weight(i, j) : 0.0;
  if (a == 0 && b == 0) return weight(i, j);
  if (!data_neighbours()) return 0.0;
  if (sixteenths()) {
    if (a == 0) return (b == 1 ? me8[i][j] : me8[i][j - 1]) / 16.0;
    if (b == 0) return (a == 1 ? ms8[i][j] : ms8[i - 1][j]) / 16.0;
    if (a == b) return (a == 1 ? mse8[i][j] : mse8[i - 1][j - 1]) / 16.0;
    return (a == 1 ? msw8[i][j] : msw8[i - 1][j + 1]) / 16.0;
  }
  if (a == 0) return b == 1 ? me[i][j] : me[i][j - 1];
  if (b == 0) return a == 1 ? ms[i][j] : ms[i - 1][j];
  if (a == b) return a == 1 ? mse[i][j] : mse[i - 1][j - 1];
  return a == 1 ? msw[i][j] : msw[i - 1][j + 1];
}

void Level::apply_data_row(const Grid<float>& u, int i, double* out) const {
  if (!data_neighbours()) {
    const float* c = mc[i];
    const float* v = u[i];
    for (int j = 0; j < cols; ++j) out[j] += c[j] * v[j];
    return;
  }
  const bool below = i + 1 < rows, above = i > 0;
  with_data_rows(i, [&](auto c, auto e, auto sb, auto seb, auto swb, auto sa, auto sea, auto swa) {
    data_row(c, e, sb, seb, swb, sa, sea, swa, above ? u[i - 1] : nullptr, u[i], below ? u[i + 1] : nullptr, cols,
             out);
  });
}

}  // namespace tesk::spline
