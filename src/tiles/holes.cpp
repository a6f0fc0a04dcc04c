#include "tiles/holes.h"

#include <algorithm>
#include <stdexcept>
#include <string>

#include "core/units.h"
#include "stages/gap_filling.h"

namespace tesk {

void HoleBorder::add(std::int32_t v) {
  if (kind == Kind::kNone)
    kind = Kind::kSingle, value = v;
  else if (kind == Kind::kSingle && value != v)
    kind = Kind::kSeveral, value = 0;
}

void HoleBorder::merge(const HoleBorder& other) {
  if (other.kind == Kind::kSeveral)
    kind = Kind::kSeveral, value = 0;
  else if (other.kind == Kind::kSingle)
    add(other.value);
}

bool mean_keeps(std::int32_t v) {
  const std::int32_t copies[4] = {v, v, v, v};
  for (int k = 1; k <= 4; ++k)
    if (gap_mean(copies, k) != v) return false;
  return true;
}

std::int32_t hole_value(const HoleBorder& border) {
  return border.kind == HoleBorder::Kind::kSingle && mean_keeps(border.value) ? border.value : kNoData;
}

namespace {

// Union-find over the runs of no-data pixels met while scanning a block.
struct Runs {
  std::vector<std::int32_t> parent;
  std::int32_t find(std::int32_t x) {
    while (parent[static_cast<std::size_t>(x)] != x) {
      auto& p = parent[static_cast<std::size_t>(x)];
      p = parent[static_cast<std::size_t>(p)];
      x = p;
    }
    return x;
  }
  // The smaller index stays the root: the root of a set is its first run.
  void unite(std::int32_t a, std::int32_t b) {
    a = find(a), b = find(b);
    if (a < b) parent[static_cast<std::size_t>(b)] = a;
    if (b < a) parent[static_cast<std::size_t>(a)] = b;
  }
};

// Appends one pixel of an edge to its runs.
void extend(Edge& e, std::int32_t label, std::int32_t value) {
  if (label > 0) value = 0;
  if (!e.empty() && e.back().label == label && e.back().value == value) {
    ++e.back().length;
    return;
  }
  e.push_back({1, label, value});
}

}  // namespace

BlockLabels label_block(const IntGrid& block) {
  const int rows = block.rows(), cols = block.cols();
  BlockLabels out;
  out.label = IntGrid(rows, cols);
  IntGrid& label = out.label;
  // Each run of no-data pixels along a row gets a provisional label (its
  // index + 1), united with the runs of the row above that share a column.
  Runs runs;
  for (int i = 0; i < rows; ++i) {
    const std::int32_t* v = block[i];
    std::int32_t* l = label[i];
    const std::int32_t* above = i > 0 ? label[i - 1] : nullptr;
    for (int j = 0; j < cols;) {
      if (v[j] != kNoData) {
        ++j;
        continue;
      }
      if (runs.parent.size() >= static_cast<std::size_t>(INT32_MAX))
        throw std::length_error("label_block: too many runs of no-data pixels");
      const auto id = static_cast<std::int32_t>(runs.parent.size());
      runs.parent.push_back(id);
      for (const int s = j; j < cols && v[j] == kNoData; ++j) {
        l[j] = id + 1;
        if (above && above[j] != 0 && (j == s || above[j] != above[j - 1])) runs.unite(id, above[j] - 1);
      }
    }
  }
  // Final labels: the sets met along the edges first, then the others in
  // the order of their first run.
  std::vector<std::int32_t> number(runs.parent.size(), 0);
  std::int32_t next = 1;
  const auto meet = [&](std::int32_t l) {
    if (l == 0) return;
    std::int32_t& n = number[static_cast<std::size_t>(runs.find(l - 1))];
    if (n == 0) n = next++;
  };
  if (rows > 0 && cols > 0) {
    for (int j = 0; j < cols; ++j) meet(label[0][j]);
    for (int j = 0; j < cols; ++j) meet(label[rows - 1][j]);
    for (int i = 0; i < rows; ++i) meet(label[i][0]);
    for (int i = 0; i < rows; ++i) meet(label[i][cols - 1]);
  }
  out.edge_labels = next - 1;
  for (std::size_t r = 0; r < number.size(); ++r) meet(static_cast<std::int32_t>(r) + 1);
  for (std::size_t r = 0; r < number.size(); ++r)
    number[r] = number[static_cast<std::size_t>(runs.find(static_cast<std::int32_t>(r)))];
  for (std::int32_t& l : label)
    if (l != 0) l = number[static_cast<std::size_t>(l - 1)];

  // The borders: the data pixels of the cross of each hole pixel.
  out.borders.resize(static_cast<std::size_t>(next - 1));
  for (int i = 0; i < rows; ++i)
    for (int j = 0; j < cols; ++j) {
      const std::int32_t l = label[i][j];
      if (l == 0) continue;
      HoleBorder& b = out.borders[static_cast<std::size_t>(l - 1)];
      if (i > 0 && block[i - 1][j] != kNoData) b.add(block[i - 1][j]);
      if (j > 0 && block[i][j - 1] != kNoData) b.add(block[i][j - 1]);
      if (j + 1 < cols && block[i][j + 1] != kNoData) b.add(block[i][j + 1]);
      if (i + 1 < rows && block[i + 1][j] != kNoData) b.add(block[i + 1][j]);
    }
  return out;
}

BlockSummary summarise(const Window& where, const IntGrid& block, const BlockLabels& labels) {
  const IntGrid& l = labels.label;
  if (!block.same_shape(l) || block.rows() != where.rows || block.cols() != where.cols)
    throw std::invalid_argument("summarise: the window, the block and its labels differ in size");
  BlockSummary s;
  s.where = where;
  const int rows = block.rows(), cols = block.cols();
  if (rows > 0 && cols > 0) {
    for (int j = 0; j < cols; ++j) extend(s.top, l[0][j], block[0][j]);
    for (int j = 0; j < cols; ++j) extend(s.bottom, l[rows - 1][j], block[rows - 1][j]);
    for (int i = 0; i < rows; ++i) extend(s.left, l[i][0], block[i][0]);
    for (int i = 0; i < rows; ++i) extend(s.right, l[i][cols - 1], block[i][cols - 1]);
  }
  s.borders.assign(labels.borders.begin(), labels.borders.begin() + labels.edge_labels);
  return s;
}

std::vector<std::int32_t> encode(const BlockSummary& s) {
  std::vector<std::int32_t> out = {s.where.row0, s.where.col0, s.where.rows, s.where.cols};
  for (const Edge* e : {&s.top, &s.bottom, &s.left, &s.right}) {
    out.push_back(static_cast<std::int32_t>(e->size()));
    for (const EdgeRun& r : *e) out.insert(out.end(), {r.length, r.label, r.value});
  }
  out.push_back(static_cast<std::int32_t>(s.borders.size()));
  for (const HoleBorder& b : s.borders) out.insert(out.end(), {static_cast<std::int32_t>(b.kind), b.value});
  return out;
}

BlockSummary decode(const std::int32_t* data, std::size_t size) {
  std::size_t at = 0;
  const auto take = [&](std::size_t n) {
    if (size - at < n) throw std::invalid_argument("decode: the array ends inside a block summary");
    const std::int32_t* p = data + at;
    at += n;
    return p;
  };
  const auto count = [&](std::size_t width) {
    const std::int32_t n = *take(1);
    if (n < 0 || static_cast<std::size_t>(n) > (size - at) / width)
      throw std::invalid_argument("decode: a count that the array cannot hold");
    return static_cast<std::size_t>(n);
  };
  BlockSummary s;
  const std::int32_t* w = take(4);
  s.where = {w[0], w[1], w[2], w[3]};
  for (Edge* e : {&s.top, &s.bottom, &s.left, &s.right}) {
    e->resize(count(3));
    for (EdgeRun& r : *e) {
      const std::int32_t* p = take(3);
      r = {p[0], p[1], p[2]};
    }
  }
  s.borders.resize(count(2));
  for (HoleBorder& b : s.borders) {
    const std::int32_t* p = take(2);
    if (p[0] < 0 || p[0] > static_cast<std::int32_t>(HoleBorder::Kind::kSeveral))
      throw std::invalid_argument("decode: not a kind of border");
    b = {static_cast<HoleBorder::Kind>(p[0]), p[1]};
  }
  if (at != size) throw std::invalid_argument("decode: more values than one block summary holds");
  return s;
}

IntGrid hole_values(const BlockLabels& labels, const std::vector<HoleBorder>& edge_borders) {
  if (edge_borders.size() != static_cast<std::size_t>(labels.edge_labels))
    throw std::invalid_argument("hole_values: " + std::to_string(edge_borders.size()) + " borders for " +
                                std::to_string(labels.edge_labels) + " edge labels");
  std::vector<std::int32_t> value(labels.borders.size());
  for (std::size_t k = 0; k < value.size(); ++k)
    value[k] = hole_value(k < edge_borders.size() ? edge_borders[k] : labels.borders[k]);
  IntGrid out(labels.label.rows(), labels.label.cols());
  std::transform(labels.label.begin(), labels.label.end(), out.begin(), [&](std::int32_t l) {
    return l == 0 ? kNoData : value[static_cast<std::size_t>(l - 1)];
  });
  return out;
}

IntGrid raster_hole_values(const IntGrid& raster) {
  const BlockLabels labels = label_block(raster);
  return hole_values(labels, {labels.borders.begin(), labels.borders.begin() + labels.edge_labels});
}

}  // namespace tesk
