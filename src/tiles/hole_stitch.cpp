#include "tiles/hole_stitch.h"

#include <algorithm>
#include <stdexcept>
#include <string>

#include "core/units.h"

namespace tesk {
namespace {

// The edge labels of every block, one node each, in a union-find whose
// roots gather the borders of their sets.
struct Nodes {
  std::vector<std::size_t> parent;
  std::vector<HoleBorder> border;
  std::size_t find(std::size_t x) {
    while (parent[x] != x) x = parent[x] = parent[parent[x]];
    return x;
  }
  void unite(std::size_t a, std::size_t b) {
    a = find(a), b = find(b);
    if (a != b) parent[std::max(a, b)] = std::min(a, b);
  }
};

[[noreturn]] void refuse(std::size_t k, const std::string& what) {
  throw std::invalid_argument("stitch: the summary of block " + std::to_string(k) + " " + what);
}

// Checks that an edge covers length pixels with runs of labels the summary
// has borders for.
void check_edge(const Edge& e, int length, std::size_t labels, std::size_t k) {
  long long covered = 0;
  for (const EdgeRun& r : e) {
    if (r.length <= 0 || r.label < 0 || static_cast<std::size_t>(r.label) > labels)
      refuse(k, "has an edge run that is empty or of a label it has no border for");
    covered += r.length;
  }
  if (covered != length) refuse(k, "has an edge of another length than the block's side");
}

// Calls f(ra, rb) for each stretch along a seam where the runs ra of edge a
// and rb of edge b face each other (a and b: the same pixels along it).
template <class F>
void facing(const Edge& a, const Edge& b, F&& f) {
  std::size_t ia = 0, ib = 0;
  std::int32_t left_a = a.empty() ? 0 : a[0].length, left_b = b.empty() ? 0 : b[0].length;
  while (ia < a.size() && ib < b.size()) {
    f(a[ia], b[ib]);
    const std::int32_t step = std::min(left_a, left_b);
    left_a -= step, left_b -= step;
    if (left_a == 0 && ++ia < a.size()) left_a = a[ia].length;
    if (left_b == 0 && ++ib < b.size()) left_b = b[ib].length;
  }
}

// Calls f(a, b, k, n) for each pair of edges facing each other across a
// seam: a of block k, b of block n.
template <class F>
void seams(std::size_t down, std::size_t across, const std::vector<BlockSummary>& blocks, F&& f) {
  for (std::size_t k = 0; k < blocks.size(); ++k) {
    if (k / across + 1 < down) f(blocks[k].bottom, blocks[k + across].top, k, k + across);
    if (k % across + 1 < across) f(blocks[k].right, blocks[k + 1].left, k, k + 1);
  }
}

// Two edges that face each other across a seam: holes facing holes are one,
// data facing a hole is on its border.
void join(const Edge& a, const Edge& b, std::size_t first_a, std::size_t first_b, Nodes& n) {
  facing(a, b, [&](const EdgeRun& ra, const EdgeRun& rb) {
    const std::size_t na = first_a + static_cast<std::size_t>(ra.label) - 1;
    const std::size_t nb = first_b + static_cast<std::size_t>(rb.label) - 1;
    if (ra.label > 0 && rb.label > 0)
      n.unite(na, nb);
    else if (ra.label > 0)
      n.border[na].add(rb.value);
    else if (rb.label > 0)
      n.border[nb].add(ra.value);
  });
}

}  // namespace

std::vector<std::vector<HoleBorder>> stitch(const BlockLayout& layout, const std::vector<BlockSummary>& blocks) {
  const auto& rs = layout.row_starts;
  const auto& cs = layout.col_starts;
  const auto increasing = [](const std::vector<int>& s) {
    return s.size() >= 2 && s.front() == 0 && std::adjacent_find(s.begin(), s.end(), std::greater_equal<>()) == s.end();
  };
  if (!increasing(rs) || !increasing(cs))
    throw std::invalid_argument("stitch: the layout's starts must rise from 0, a block holding a pixel");
  const std::size_t down = rs.size() - 1, across = cs.size() - 1;
  if (blocks.size() != down * across)
    throw std::invalid_argument("stitch: " + std::to_string(blocks.size()) + " summaries for a layout of " +
                                std::to_string(down * across) + " blocks");
  std::vector<std::size_t> first(blocks.size() + 1, 0);
  for (std::size_t k = 0; k < blocks.size(); ++k) {
    const BlockSummary& b = blocks[k];
    const std::size_t bi = k / across, bj = k % across;
    const Window w{rs[bi], cs[bj], rs[bi + 1] - rs[bi], cs[bj + 1] - cs[bj]};
    if (b.where.row0 != w.row0 || b.where.col0 != w.col0 || b.where.rows != w.rows || b.where.cols != w.cols)
      refuse(k, "lies elsewhere than the layout puts it");
    for (const Edge* e : {&b.top, &b.bottom}) check_edge(*e, w.cols, b.borders.size(), k);
    for (const Edge* e : {&b.left, &b.right}) check_edge(*e, w.rows, b.borders.size(), k);
    first[k + 1] = first[k] + b.borders.size();
  }
  Nodes n;
  n.parent.resize(first.back());
  for (std::size_t x = 0; x < n.parent.size(); ++x) n.parent[x] = x;
  n.border.reserve(first.back());
  for (const BlockSummary& b : blocks) n.border.insert(n.border.end(), b.borders.begin(), b.borders.end());
  seams(down, across, blocks, [&](const Edge& a, const Edge& b, std::size_t k, std::size_t m) {
    join(a, b, first[k], first[m], n);
  });
  // Each set's border at its root, then read back for every node.
  for (std::size_t x = 0; x < n.parent.size(); ++x)
    if (const std::size_t r = n.find(x); r != x) n.border[r].merge(n.border[x]);
  std::vector<std::vector<HoleBorder>> out(blocks.size());
  for (std::size_t k = 0; k < blocks.size(); ++k)
    for (std::size_t x = first[k]; x < first[k + 1]; ++x) out[k].push_back(n.border[n.find(x)]);
  return out;
}

bool fillable_across_seams(const BlockLayout& layout, const std::vector<BlockSummary>& blocks,
                           const std::vector<std::vector<HoleBorder>>& stitched) {
  const std::size_t down = layout.row_starts.size() - 1, across = layout.col_starts.size() - 1;
  if (blocks.size() != down * across || stitched.size() != blocks.size())
    throw std::invalid_argument("fillable_across_seams: the summaries and their borders must fit the layout");
  bool found = false;
  seams(down, across, blocks, [&](const Edge& a, const Edge& b, std::size_t k, std::size_t) {
    facing(a, b, [&](const EdgeRun& ra, const EdgeRun& rb) {
      found = found || (ra.label > 0 && rb.label > 0 &&
                        hole_value(stitched[k].at(static_cast<std::size_t>(ra.label) - 1)) != kNoData);
    });
  });
  return found;
}

}  // namespace tesk
