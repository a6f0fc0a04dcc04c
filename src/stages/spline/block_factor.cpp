#include "stages/spline/block_factor.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace tesk::spline {
namespace {

int half_width(Rect r) {
  return 2 * std::min(r.rows(), r.cols()) + 2;
}

}  // namespace

template <class T>
std::uint64_t BlockFactor<T>::bytes(Rect r) {
  return static_cast<std::uint64_t>(r.rows()) * static_cast<std::uint64_t>(r.cols()) *
         static_cast<std::uint64_t>(half_width(r) + 1) * sizeof(T);
}

template <class T>
BlockFactor<T>::BlockFactor(const Level& L, Rect r, CancelCheck cancel)
    : rect_(r), by_rows_(r.cols() <= r.rows()), n_(r.rows() * r.cols()), band_(half_width(r)) {
  const auto w = static_cast<std::size_t>(band_ + 1);
  factor_.assign(static_cast<std::size_t>(n_) * w, T(0));
  const auto inside = [&](int i, int j) { return i >= r.i0 && i < r.i1 && j >= r.j0 && j < r.j1; };
  // Column by column (left-looking): column p of the factor from column p
  // of the matrix, computed in double from the level, less the products of
  // the columns before it, summed in double whatever the storage.  No
  // matrix beside the factor.
  std::vector<double> s(w);
  for (int p = 0; p < n_; ++p) {
    cancel.at_row(p, static_cast<std::int64_t>(band_ + 1) * (band_ + 1));
    const int i = by_rows_ ? r.i0 + p / r.cols() : r.i0 + p % r.rows();
    const int j = by_rows_ ? r.j0 + p % r.cols() : r.j0 + p / r.rows();
    std::fill(s.begin(), s.end(), 0.0);
    for (int a = -2; a <= 2; ++a)
      for (int b = -2; b <= 2; ++b) {
        if (!inside(i + a, j + b)) continue;
        const std::size_t q = index(i + a, j + b);
        if (q < static_cast<std::size_t>(p)) continue;
        const bool data = std::abs(a) <= 1 && std::abs(b) <= 1;  // the data term's 3 x 3
        s[q - static_cast<std::size_t>(p)] += L.coefficient(i, j, a, b) + (data ? L.data_entry(i, j, a, b) : 0.0);
      }
    const double diag = s[0];
    const int kmax = std::min(band_, n_ - 1 - p);
    for (int k = std::max(0, p - band_); k < p; ++k) {
      const T* col = &factor_[static_cast<std::size_t>(k) * w];
      const auto off = static_cast<std::size_t>(p - k);
      const double t = static_cast<double>(col[off]);
      if (t == 0.0) continue;
      const int m_end = std::min(kmax, band_ - (p - k));
      for (int m = 0; m <= m_end; ++m) s[static_cast<std::size_t>(m)] -= static_cast<double>(col[off + static_cast<std::size_t>(m)]) * t;
    }
    T* out = &factor_[static_cast<std::size_t>(p) * w];
    if (!(s[0] > 1e-10 * diag) || !(s[0] > 0)) continue;  // a null pivot: the column stays zero
    const double l = std::sqrt(s[0]);
    out[0] = static_cast<T>(l);
    for (int m = 1; m <= kmax; ++m) out[m] = static_cast<T>(s[static_cast<std::size_t>(m)] / l);
  }
}

template <class T>
void BlockFactor<T>::solve(std::vector<double>& y) const {
  const auto w = static_cast<std::size_t>(band_ + 1);
  for (int p = 0; p < n_; ++p) {
    const T* col = &factor_[static_cast<std::size_t>(p) * w];
    if (col[0] == 0) {
      y[static_cast<std::size_t>(p)] = 0.0;
      continue;
    }
    const double v = y[static_cast<std::size_t>(p)] / static_cast<double>(col[0]);
    y[static_cast<std::size_t>(p)] = v;
    const int kmax = std::min(band_, n_ - 1 - p);
    for (int k = 1; k <= kmax; ++k) y[static_cast<std::size_t>(p + k)] -= static_cast<double>(col[k]) * v;
  }
  for (int p = n_ - 1; p >= 0; --p) {
    const T* col = &factor_[static_cast<std::size_t>(p) * w];
    if (col[0] == 0) {
      y[static_cast<std::size_t>(p)] = 0.0;
      continue;
    }
    double s = y[static_cast<std::size_t>(p)];
    const int kmax = std::min(band_, n_ - 1 - p);
    for (int k = 1; k <= kmax; ++k) s -= static_cast<double>(col[k]) * y[static_cast<std::size_t>(p + k)];
    y[static_cast<std::size_t>(p)] = s / static_cast<double>(col[0]);
  }
}

template class BlockFactor<double>;
template class BlockFactor<float>;

}  // namespace tesk::spline
