#include "stages/smoothing_fast.h"

#include <algorithm>
#include <stdexcept>
#include <vector>

#include "core/cpu_kernels.h"
#include "core/units.h"
#include "stages/smoothing.h"

namespace tesk {
namespace {

// The weights of degree n for every position along an axis of `size`
// pixels: w[pos * (n + 1) + k] is the weight of window index k, as
// InterpolePointSpline stores it in U (rows) or V (columns).
std::vector<float> axis_weights(int size, int n) {
  std::vector<std::int32_t> comb(static_cast<std::size_t>(n) + 1);
  for (int k = 0; k <= n; ++k) comb[static_cast<std::size_t>(k)] = Comb(k, n);
  std::vector<float> w(static_cast<std::size_t>(size) * static_cast<std::size_t>(n + 1));
  for (int pos = 0; pos < size; ++pos) {
    const int first = window_first(pos, n, size);
    const int last = first + n;
    const double frac = (static_cast<double>(pos) - first) / (last - first);
    const double ifrac = 1 - frac;
    for (int k = 0; k <= n; ++k)
      w[static_cast<std::size_t>(pos) * static_cast<std::size_t>(n + 1) + static_cast<std::size_t>(k)] =
          bernstein_weight(k, n, comb[static_cast<std::size_t>(k)], frac, ifrac);
  }
  return w;
}

// One pixel, in the literal order: row sums in float, the total in double.
double smooth_pixel(const IntGrid& itab, int byi, int bxi, const float* U, const float* V, int n) {
  double z = 0.0;
  for (int ii = 0; ii <= n; ++ii) {
    const std::int32_t* src = itab[byi + ii] + bxi;
    float m = 0.0f;
    for (int jj = 0; jj <= n; ++jj)
      m = static_cast<float>(static_cast<double>(m) +
                             static_cast<double>(static_cast<float>(src[jj])) * static_cast<double>(V[jj]));
    z = z + static_cast<double>(U[ii]) * static_cast<double>(m);
  }
  return z;
}

// smoothed_to_int in a form the compiler can keep in vector registers:
// truncation toward zero, saturating at INT_MAX and at INT_MIN + 1 (the
// marker's value is never produced), NaN giving 0.
inline std::int32_t store_smoothed(double z) {
  double c = z < -2147483647.0 ? -2147483647.0 : z;
  c = c > 2147483647.0 ? 2147483647.0 : c;
  c = z == z ? c : 0.0;
  return static_cast<std::int32_t>(c);
}

// The interior columns [ja, jb) of one row, whose windows start at j - half
// and share the weights V: one window row at a time over all the columns,
// so that the loops over the columns run in vector registers.  The per-pixel
// order of every addition is that of smooth_pixel.
TESK_CPU_KERNEL
void smooth_row_interior(const std::int32_t* const* rows, int ja, int jb, int half, const float* U,
                         const float* V, int n, float* m, double* z, std::int32_t* out) {
  const int w = jb - ja;
  for (int k = 0; k < w; ++k) z[k] = 0.0;
  for (int ii = 0; ii <= n; ++ii) {
    const std::int32_t* src = rows[ii] + ja - half;
    for (int k = 0; k < w; ++k) m[k] = 0.0f;
    for (int jj = 0; jj <= n; ++jj) {
      const double v = static_cast<double>(V[jj]);
      const std::int32_t* s = src + jj;
      for (int k = 0; k < w; ++k)
        m[k] = static_cast<float>(static_cast<double>(m[k]) + static_cast<double>(static_cast<float>(s[k])) * v);
    }
    const double u = static_cast<double>(U[ii]);
    for (int k = 0; k < w; ++k) z[k] = z[k] + u * static_cast<double>(m[k]);
  }
  for (int k = 0; k < w; ++k) out[ja + k] = store_smoothed(z[k]);
}

bool window_has_nodata(const IntGrid& itab, int byi, int bxi, int n) {
  for (int r = byi; r <= byi + n; ++r)
    for (int c = bxi; c <= bxi + n; ++c)
      if (itab[r][c] == kNoData) return true;
  return false;
}

}  // namespace

void smooth_fast(const IntGrid& itab, IntGrid& itab1, int maille, const RowCallback& on_row, ThreadPool& pool,
                 CancelCheck cancel) {
  const int n = maille;
  if (n < 2 || n > kMaxMaille || !window_fits(itab.rows(), itab.cols(), n))
    throw std::invalid_argument("smoothing window does not fit the image");
  const int nr = itab.rows();
  const int nc = itab.cols();
  const int half = n >> 1;
  const std::vector<float> wy = axis_weights(nr, n);
  const std::vector<float> wx = axis_weights(nc, n);
  bool any_nodata = false;
  for (int i = 0; i < nr && !any_nodata; ++i) {
    cancel.at_row(i, nc);
    any_nodata = std::find(itab[i], itab[i] + nc, kNoData) != itab[i] + nc;
  }
  // Interior columns: the window starts at j - half.
  const int ja = half;
  const int jb = nc - n + half;  // exclusive

  auto rows_job = [&](std::int64_t r0, std::int64_t r1, int) {
    std::vector<float> m(static_cast<std::size_t>(nc));
    std::vector<double> z(static_cast<std::size_t>(nc));
    std::vector<const std::int32_t*> rows(static_cast<std::size_t>(n) + 1);
    for (int i = static_cast<int>(r0); i < static_cast<int>(r1); ++i) {
      cancel.poll();  // a row costs (maille + 1)^2 a pixel
      const int byi = window_first(i, n, nr);
      const float* U = &wy[static_cast<std::size_t>(i) * static_cast<std::size_t>(n + 1)];
      std::int32_t* out = itab1[i];
      if (any_nodata) {
        for (int j = 0; j < nc; ++j) {
          const int bxi = window_first(j, n, nc);
          if (window_has_nodata(itab, byi, bxi, n)) continue;
          out[j] = smoothed_to_int(
              smooth_pixel(itab, byi, bxi, U, &wx[static_cast<std::size_t>(j) * static_cast<std::size_t>(n + 1)], n));
        }
        continue;
      }
      for (int j = 0; j < nc; ++j) {
        if (j == ja && jb > ja) {
          for (int ii = 0; ii <= n; ++ii) rows[static_cast<std::size_t>(ii)] = itab[byi + ii];
          smooth_row_interior(rows.data(), ja, jb, half, U,
                              &wx[static_cast<std::size_t>(ja) * static_cast<std::size_t>(n + 1)], n, m.data(),
                              z.data(), out);
          j = jb - 1;
          continue;
        }
        const int bxi = window_first(j, n, nc);
        out[j] = smoothed_to_int(
            smooth_pixel(itab, byi, bxi, U, &wx[static_cast<std::size_t>(j) * static_cast<std::size_t>(n + 1)], n));
      }
    }
  };

  // Blocks of rows: the callbacks of a block, in order, then its rows shared
  // among the threads.
  const int block = 32 * pool.size();
  for (int b0 = 0; b0 < nr; b0 += block) {
    const int b1 = std::min(nr, b0 + block);
    if (on_row)
      for (int i = b0; i < b1; ++i) on_row(i);
    pool.for_range(b0, b1, 8, rows_job);
  }
}

}  // namespace tesk
