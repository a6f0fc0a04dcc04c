#include "stages/spline/banded.h"

#include <stdexcept>

namespace tesk::spline {

Band Band::identity(int n) {
  Band b(n);
  for (int i = 0; i < n; ++i) b.at(i, 0) = 1.0;
  return b;
}

Band Band::second_difference(int n) {
  Band b(n);
  for (int i = 1; i + 1 < n; ++i) {
    b.at(i, -1) = 1.0;
    b.at(i, 0) = -2.0;
    b.at(i, 1) = 1.0;
  }
  return b;
}

Band Band::path_laplacian(int n) {
  Band b(n);
  for (int i = 0; i + 1 < n; ++i) {
    b.at(i, 0) += 1.0;
    b.at(i + 1, 0) += 1.0;
    b.at(i, 1) -= 1.0;
    b.at(i + 1, -1) -= 1.0;
  }
  return b;
}

Band Band::transpose() const {
  Band t(n);
  for (int i = 0; i < n; ++i)
    for (int k = -2; k <= 2; ++k)
      if (i + k >= 0 && i + k < n) t.at(i + k, -k) = at(i, k);
  return t;
}

Band Band::product(const Band& b) const {
  Band p(n);
  for (int i = 0; i < n; ++i)
    for (int k = -2; k <= 2; ++k) {
      const int m = i + k;
      if (m < 0 || m >= n || at(i, k) == 0.0) continue;
      for (int l = -2; l <= 2; ++l) {
        const int j = m + l;
        if (j < 0 || j >= n || b.at(m, l) == 0.0) continue;
        if (j - i < -2 || j - i > 2) throw std::logic_error("spline: band product leaves the band");
        p.at(i, j - i) += at(i, k) * b.at(m, l);
      }
    }
  return p;
}

Band Band::scaled(double s) const {
  Band r = *this;
  for (auto& row : r.rows)
    for (double& v : row) v *= s;
  return r;
}

Band Band::plus(const Band& b) const {
  Band r = *this;
  for (int i = 0; i < n; ++i)
    for (int k = -2; k <= 2; ++k) r.at(i, k) += b.at(i, k);
  return r;
}

Transfer::Transfer(int fine) : nf(fine), nc(fine % 2 == 1 ? (fine + 1) / 2 : fine / 2 + 1) {
  if (fine <= 1) nc = fine;
  start.assign(static_cast<std::size_t>(nf), 0);
  count.assign(static_cast<std::size_t>(nf), 0);
  wt.assign(4 * static_cast<std::size_t>(nf), 0.0);
  const auto n = static_cast<std::size_t>(nf);
  c0.assign(n, -1);
  c1.assign(n, -1);
  w0.assign(n, 0.0);
  w1.assign(n, 0.0);
  for (int x = 0; x < nf; ++x) {
    const auto xs = static_cast<std::size_t>(x);
    if (x % 2 == 0) {
      c0[xs] = x / 2;
      w0[xs] = 1.0;
    } else {
      c0[xs] = (x - 1) / 2;
      c1[xs] = (x + 1) / 2;
      w0[xs] = 0.5;
      w1[xs] = 0.5;
    }
  }
  for (int x = 0; x < nf; ++x) {
    const auto xs = static_cast<std::size_t>(x);
    start[xs] = c0[xs];
    count[xs] = c1[xs] >= 0 ? 2 : 1;
    wt[4 * xs] = w0[xs];
    wt[4 * xs + 1] = w1[xs];
  }
}

Band galerkin(const Band& x, const Transfer& t) {
  Band c(t.nc);
  for (int i = 0; i < t.nf; ++i)
    for (int k = -2; k <= 2; ++k) {
      const int j = i + k;
      if (j < 0 || j >= t.nf) continue;
      const double v = x.at(i, k);
      if (v == 0.0) continue;
      const int ci[2] = {t.c0[static_cast<std::size_t>(i)], t.c1[static_cast<std::size_t>(i)]};
      const double wi[2] = {t.w0[static_cast<std::size_t>(i)], t.w1[static_cast<std::size_t>(i)]};
      const int cj[2] = {t.c0[static_cast<std::size_t>(j)], t.c1[static_cast<std::size_t>(j)]};
      const double wj[2] = {t.w0[static_cast<std::size_t>(j)], t.w1[static_cast<std::size_t>(j)]};
      for (int a = 0; a < 2; ++a)
        for (int b = 0; b < 2; ++b) {
          if (ci[a] < 0 || cj[b] < 0) continue;
          const int off = cj[b] - ci[a];
          if (off < -2 || off > 2) throw std::logic_error("spline: coarse band leaves the band");
          c.at(ci[a], off) += wi[a] * v * wj[b];
        }
    }
  return c;
}

}  // namespace tesk::spline
