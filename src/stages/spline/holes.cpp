#include "stages/spline/holes.h"

#include <algorithm>
#include <atomic>
#include <limits>
#include <vector>

namespace tesk::spline {
namespace {

// Union-find over the provisional labels of one pass: parent[k] == k at a
// root; a union keeps the smaller label as the root.
int find(std::vector<int>& parent, int k) {
  while (parent[static_cast<std::size_t>(k)] != k) {
    const int up = parent[static_cast<std::size_t>(parent[static_cast<std::size_t>(k)])];
    parent[static_cast<std::size_t>(k)] = up;  // path halving
    k = up;
  }
  return k;
}

void unite(std::vector<int>& parent, int a, int b) {
  a = find(parent, a);
  b = find(parent, b);
  if (a != b) parent[static_cast<std::size_t>(std::max(a, b))] = std::min(a, b);
}

}  // namespace

std::int64_t bound_holes(const IntGrid& contours, Grid<double>& surface, double interval, ThreadPool& pool,
                         CancelCheck cancel) {
  const int rows = contours.rows(), cols = contours.cols();
  // The holes labelled row by row: each pixel without a contour takes the
  // label of its left or upper neighbour (both, united, when they differ),
  // or a new one.
  IntGrid label(rows, cols);  // -1 on the contours
  std::vector<int> parent;
  for (int i = 0; i < rows; ++i) {
    cancel.at_row(i, cols);
    const std::int32_t* c = contours[i];
    int* l = label[i];
    const int* up = i > 0 ? label[i - 1] : nullptr;
    for (int j = 0; j < cols; ++j) {
      if (c[j] != INT32_MIN) {
        l[j] = -1;
        continue;
      }
      const int left = j > 0 ? l[j - 1] : -1, above = up ? up[j] : -1;
      if (left >= 0 && above >= 0) {
        l[j] = left;
        if (left != above) unite(parent, left, above);
      } else if (left >= 0 || above >= 0) {
        l[j] = std::max(left, above);
      } else {
        l[j] = static_cast<int>(parent.size());
        parent.push_back(l[j]);
      }
    }
  }
  // Every label pointed at its hole's root: a union leaves each label's
  // parent below it, so in increasing order a parent is a root already.
  for (std::size_t k = 0; k < parent.size(); ++k) parent[k] = parent[static_cast<std::size_t>(parent[k])];
  // Each hole's lowest and highest bordering level, on its root.
  std::vector<double> lo(parent.size(), std::numeric_limits<double>::infinity());
  std::vector<double> hi(parent.size(), -std::numeric_limits<double>::infinity());
  auto border = [&](int k, std::int32_t v) {
    const auto r = static_cast<std::size_t>(parent[static_cast<std::size_t>(k)]);
    lo[r] = std::min(lo[r], static_cast<double>(v));
    hi[r] = std::max(hi[r], static_cast<double>(v));
  };
  for (int i = 0; i < rows; ++i) {
    cancel.at_row(i, cols);
    const std::int32_t* c = contours[i];
    for (int j = 0; j < cols; ++j) {
      if (c[j] == INT32_MIN) continue;
      if (i > 0 && label[i - 1][j] >= 0) border(label[i - 1][j], c[j]);
      if (i + 1 < rows && label[i + 1][j] >= 0) border(label[i + 1][j], c[j]);
      if (j > 0 && label[i][j - 1] >= 0) border(label[i][j - 1], c[j]);
      if (j + 1 < cols && label[i][j + 1] >= 0) border(label[i][j + 1], c[j]);
    }
  }
  // Each pixel clamped on its own: the rows go to the threads.
  std::atomic<std::int64_t> changed{0};
  pool.for_range(0, rows, 8, [&](std::int64_t r0, std::int64_t r1, int) {
    std::int64_t n = 0;
    for (auto i = static_cast<int>(r0); i < r1; ++i) {
      cancel.at_row(i, cols);
      const int* l = label[i];
      double* s = surface[i];
      for (int j = 0; j < cols; ++j) {
        if (l[j] < 0) continue;
        const auto r = static_cast<std::size_t>(parent[static_cast<std::size_t>(l[j])]);
        if (!(lo[r] <= hi[r])) continue;  // no border
        const double b = std::clamp(s[j], lo[r] - interval, hi[r] + interval);
        if (b != s[j]) {
          s[j] = b;
          ++n;
        }
      }
    }
    changed += n;
  });
  return changed.load();
}

}  // namespace tesk::spline
