#include "tiles/holes.h"

#include <algorithm>
#include <bit>
#include <stdexcept>
#include <string>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "core/units.h"
#include "stages/gap_filling.h"

namespace tesk {

void HoleBorder::add(std::int32_t v) {
  if (kind == Kind::kNone) {
    kind = Kind::kSingle, value = lo = hi = v;
    return;
  }
  if (kind == Kind::kSingle && value != v) kind = Kind::kSeveral, value = 0;
  lo = std::min(lo, v), hi = std::max(hi, v);
}

void HoleBorder::merge(const HoleBorder& other) {
  if (other.kind == Kind::kNone) return;
  add(other.lo);
  add(other.hi);
  if (other.kind == Kind::kSeveral) kind = Kind::kSeveral, value = 0;
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
  BlockVector<std::int32_t> parent;
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

// The lowest and highest value of the data pixels a run of no-data pixels
// has met (hi < lo: none).  A border is of one value exactly when its
// lowest and highest are equal, so this is all of a HoleBorder, and takes
// no branch to gather.
struct Met {
  std::int32_t lo = INT32_MAX, hi = INT32_MIN;
  void add(std::int32_t v) { lo = std::min(lo, v), hi = std::max(hi, v); }
  void merge(const Met& o) { lo = std::min(lo, o.lo), hi = std::max(hi, o.hi); }
  HoleBorder border() const {
    HoleBorder b;
    if (lo <= hi) b.add(lo), b.add(hi);
    return b;
  }
};

// The data pixels of v[first, end) into m.  kNoData, the smallest int,
// adds nothing to the highest; less one, with wrapping, it becomes the
// largest, which adds nothing to the lowest less one either (a data value
// is never kNoData, so the lowest less one never wraps): no branch.
void meet_data(Met& m, const std::int32_t* v, int first, int end) {
  std::int32_t below = m.lo - 1, hi = m.hi;
  for (int j = first; j < end; ++j) {
    const std::int32_t x = v[j];
    below = std::min(below, static_cast<std::int32_t>(static_cast<std::uint32_t>(x) - 1u));
    hi = std::max(hi, x);
  }
  m.lo = below + 1, m.hi = hi;
}

// The no-data pixels of a row as bits, 64 to a word (bit b of word w for
// column 64 w + b), the bits past the row's end clear.
void nodata_bits(const std::int32_t* v, int cols, std::vector<std::uint64_t>& bits) {
  bits.assign(static_cast<std::size_t>(cols + 63) / 64, 0);
  int j = 0;
#if defined(__SSE2__)
  const __m128i none = _mm_set1_epi32(kNoData);
  for (; j + 64 <= cols; j += 64) {
    std::uint64_t w = 0;
    for (int b = 0; b < 64; b += 4) {
      const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(v + j + b));
      const auto m = static_cast<std::uint64_t>(_mm_movemask_ps(_mm_castsi128_ps(_mm_cmpeq_epi32(x, none))));
      w |= m << b;
    }
    bits[static_cast<std::size_t>(j / 64)] = w;
  }
#endif
  for (; j < cols; ++j)
    if (v[j] == kNoData) bits[static_cast<std::size_t>(j / 64)] |= std::uint64_t{1} << (j % 64);
}

// The first column at or after j whose bit is `set` (cols if none).
int next_bit(const std::vector<std::uint64_t>& bits, int j, int cols, bool set) {
  if (j >= cols) return cols;
  auto w = static_cast<std::size_t>(j / 64);
  std::uint64_t word = (set ? bits[w] : ~bits[w]) & (~std::uint64_t{0} << (j % 64));
  while (word == 0) {
    if (++w == bits.size()) return cols;
    word = set ? bits[w] : ~bits[w];
  }
  return std::min(cols, static_cast<int>(w * 64) + std::countr_zero(word));
}

// The labelling of a block up to its final labels: label holds each
// pixel's provisional label (0 at data pixels), number the final label of
// each provisional one (number[0] = 0).
struct Scan {
  IntGrid label;
  BlockVector<std::int32_t> number;
  int edge_labels = 0;
  std::vector<HoleBorder> borders;
};

Scan scan(const IntGrid& block, IntGrid into) {
  const int rows = block.rows(), cols = block.cols();
  Scan out;
  out.label = block.same_shape(into) ? std::move(into) : IntGrid(rows, cols);
  IntGrid& label = out.label;
  // Each run of no-data pixels along a row gets a provisional label (its
  // index + 1), is united with the runs of the row above that share a
  // column, and gathers the border it sees: the data pixels at its ends and
  // those facing it in the rows above and below.  The runs are found from
  // the row's no-data pixels as bits, a word at a time.
  Runs runs;
  BlockVector<Met> seen;
  struct Span {
    int first, end;
    std::int32_t id;
  };
  std::vector<Span> above, here;
  std::vector<std::uint64_t> bits;
  for (int i = 0; i < rows; ++i) {
    const std::int32_t* v = block[i];
    std::int32_t* l = label[i];
    here.clear();
    nodata_bits(v, cols, bits);
    std::fill(l, l + cols, 0);
    for (int j = next_bit(bits, 0, cols, true); j < cols; j = next_bit(bits, j, cols, true)) {
      if (runs.parent.size() >= static_cast<std::size_t>(INT32_MAX))
        throw std::length_error("label_block: too many runs of no-data pixels");
      const auto id = static_cast<std::int32_t>(runs.parent.size());
      runs.parent.push_back(id);
      Met& b = seen.emplace_back();
      const int first = j;
      j = next_bit(bits, j, cols, false);
      std::fill(l + first, l + j, id + 1);
      if (first > 0) b.add(v[first - 1]);
      if (j < cols) b.add(v[j]);
      here.push_back({first, j, id});
    }
    if (i == 0) {
      std::swap(above, here);
      continue;
    }
    const std::int32_t* u = block[i - 1];
    std::size_t a = 0;
    for (const Span& h : here) {
      meet_data(seen[static_cast<std::size_t>(h.id)], u, h.first, h.end);
      while (a < above.size() && above[a].end <= h.first) ++a;
      for (std::size_t k = a; k < above.size() && above[k].first < h.end; ++k) runs.unite(h.id, above[k].id);
    }
    for (const Span& h : above) meet_data(seen[static_cast<std::size_t>(h.id)], v, h.first, h.end);
    std::swap(above, here);
  }
  // Each set's border at its root (the set's first run).
  for (std::size_t r = 0; r < seen.size(); ++r)
    if (const auto root = static_cast<std::size_t>(runs.find(static_cast<std::int32_t>(r))); root != r)
      seen[root].merge(seen[r]);
  // Final labels: the sets met along the edges first, then the others in
  // the order of their first run.
  BlockVector<std::int32_t> number(seen.size(), 0);
  std::int32_t next = 1;
  const auto meet = [&](std::int32_t l) {
    if (l == 0) return;
    const auto root = static_cast<std::size_t>(runs.find(l - 1));
    if (number[root] == 0) {
      number[root] = next++;
      out.borders.push_back(seen[root].border());
    }
  };
  if (rows > 0 && cols > 0) {
    for (int j = 0; j < cols; ++j) meet(label[0][j]);
    for (int j = 0; j < cols; ++j) meet(label[rows - 1][j]);
    for (int i = 0; i < rows; ++i) meet(label[i][0]);
    for (int i = 0; i < rows; ++i) meet(label[i][cols - 1]);
  }
  out.edge_labels = next - 1;
  for (std::size_t r = 0; r < seen.size(); ++r) meet(static_cast<std::int32_t>(r) + 1);
  out.number.resize(seen.size() + 1);
  for (std::size_t r = 0; r < seen.size(); ++r)
    out.number[r + 1] = number[static_cast<std::size_t>(runs.find(static_cast<std::int32_t>(r)))];
  return out;
}

// Each pixel's provisional label replaced through a table of them.
IntGrid relabel(IntGrid label, const BlockVector<std::int32_t>& by_provisional) {
  for (std::int32_t& l : label) l = by_provisional[static_cast<std::size_t>(l)];
  return label;
}

}  // namespace

BlockLabels label_block(const IntGrid& block, IntGrid into) {
  Scan s = scan(block, std::move(into));
  return {relabel(std::move(s.label), s.number), s.edge_labels, std::move(s.borders)};
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
  for (const HoleBorder& b : s.borders) out.insert(out.end(), {static_cast<std::int32_t>(b.kind), b.value, b.lo, b.hi});
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
  s.borders.resize(count(4));
  for (HoleBorder& b : s.borders) {
    const std::int32_t* p = take(4);
    if (p[0] < 0 || p[0] > static_cast<std::int32_t>(HoleBorder::Kind::kSeveral))
      throw std::invalid_argument("decode: not a kind of border");
    b = {static_cast<HoleBorder::Kind>(p[0]), p[1], p[2], p[3]};
  }
  if (at != size) throw std::invalid_argument("decode: more values than one block summary holds");
  return s;
}

namespace {

// The hole values of a scanned block, the borders of its edge labels taken
// from edge_borders.
IntGrid values_of(Scan s, const std::vector<HoleBorder>& edge_borders) {
  if (edge_borders.size() != static_cast<std::size_t>(s.edge_labels))
    throw std::invalid_argument("hole_values: " + std::to_string(edge_borders.size()) + " borders for " +
                                std::to_string(s.edge_labels) + " edge labels");
  std::vector<std::int32_t> value(s.borders.size() + 1, kNoData);
  for (std::size_t k = 0; k < s.borders.size(); ++k)
    value[k + 1] = hole_value(k < edge_borders.size() ? edge_borders[k] : s.borders[k]);
  for (std::int32_t& n : s.number) n = value[static_cast<std::size_t>(n)];
  return relabel(std::move(s.label), s.number);
}

}  // namespace

IntGrid hole_values(const IntGrid& block, const std::vector<HoleBorder>& edge_borders, IntGrid into) {
  return values_of(scan(block, std::move(into)), edge_borders);
}

HoleRanges hole_ranges(const IntGrid& block, const std::vector<HoleBorder>& edge_borders) {
  Scan s = scan(block, {});
  if (edge_borders.size() != static_cast<std::size_t>(s.edge_labels))
    throw std::invalid_argument("hole_ranges: " + std::to_string(edge_borders.size()) + " borders for " +
                                std::to_string(s.edge_labels) + " edge labels");
  std::vector<std::int32_t> lo(s.borders.size() + 1, kNoData), hi(s.borders.size() + 1, kNoData);
  for (std::size_t k = 0; k < s.borders.size(); ++k) {
    const HoleBorder& b = k < edge_borders.size() ? edge_borders[k] : s.borders[k];
    if (b.kind != HoleBorder::Kind::kNone) lo[k + 1] = b.lo, hi[k + 1] = b.hi;
  }
  BlockVector<std::int32_t> number_hi(s.number);
  for (std::int32_t& n : s.number) n = lo[static_cast<std::size_t>(n)];
  for (std::int32_t& n : number_hi) n = hi[static_cast<std::size_t>(n)];
  IntGrid label_copy(s.label.rows(), s.label.cols());  // relabel takes the grid
  std::copy(s.label.begin(), s.label.end(), label_copy.begin());
  HoleRanges r;
  r.lo = relabel(std::move(s.label), s.number);
  r.hi = relabel(std::move(label_copy), number_hi);
  return r;
}

IntGrid raster_hole_values(const IntGrid& raster) {
  Scan s = scan(raster, {});
  const std::vector<HoleBorder> edges(s.borders.begin(), s.borders.begin() + s.edge_labels);
  return values_of(std::move(s), edges);
}

}  // namespace tesk
