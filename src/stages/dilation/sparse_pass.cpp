#include "stages/dilation/sparse_pass.h"

#include <algorithm>
#include <climits>

#include "core/units.h"

namespace tesk::dilation {
namespace {

// A pixel written by the pass becomes data once the rows that read its grown
// value are done.
void settle(const Surface& g, int i, const std::vector<int>& cols) {
  const std::size_t row = g.index(i, 0);
  for (const int j : cols) {
    const std::size_t x = row + static_cast<std::size_t>(j);
    g.G[x] = g.I[x];
    g.S[x] = static_cast<std::uint8_t>((g.S[x] & kBorder) | kFresh);
  }
}

// Settles what the previous pass left (its written pixels become data,
// the components it found unchanged are flagged or dropped), then layer
// 1: every grown pixel with a data pixel in its cross takes the smallest
// of them.  Keeps only the rows holding grown pixels active.
std::int64_t first_layer(const Surface& g, std::vector<int>& rows, bool keep_all, Tally& tally, CancelCheck cancel) {
  std::int64_t grown = 0;
  std::size_t kept = 0;
  for (std::size_t r = 0; r < rows.size(); ++r) {
    cancel.at_row(static_cast<std::int64_t>(r), g.nc);
    const int i = rows[r];
    bool grows = false;
    g.for_each_active(i, [&](int j, std::size_t x) {
      const std::uint8_t b = g.S[x];
      const std::uint8_t border = b & kBorder;
      const std::uint8_t s = b & kStateBits;
      if (s == kData || s == kDead) return;
      if (s == kFresh) {
        // Written by the last pass: its value becomes its grown value.
        g.S[x] = border | kData;
        g.G[x] = g.I[x];
        return;
      }
      std::uint8_t dying = 0;
      if (s != kFlooded) {
        // Grown by the last pass but connected to nothing it wrote.
        if (b & kDying) {
          g.S[x] = border | kDead;
          ++tally.dropped;
          return;
        }
        if (!keep_all) dying = kDying;
      }
      grows = true;
      ++grown;
      ++tally.visited;
      bool any = false;
      std::int32_t alti = INT_MAX;
      // A data pixel's value is read from itab: one written by the last
      // pass may not be settled yet.
      auto source = [&](std::size_t q) {
        if ((kDataStates >> g.st(q)) & 1u) {
          any = true;
          alti = std::min(alti, g.I[q]);
        }
      };
      if (i > 0) source(x - static_cast<std::size_t>(g.nc));
      if (j > 0) source(x - 1);
      if (j + 1 < g.nc) source(x + 1);
      if (i + 1 < g.nr) source(x + static_cast<std::size_t>(g.nc));
      if (any) g.G[x] = alti;
      g.S[x] = border | dying | (any ? kLayer1 : kUnreached);
    });
    if (grows) rows[kept++] = i;
  }
  rows.resize(kept);
  return grown;
}

constexpr std::int32_t kFar = INT_MAX;  // no distance yet

// Takes the label of q into (d, v) if q offers a smaller one.
inline void offer(const Surface& g, std::size_t q, std::int32_t& d, std::int32_t& v) {
  const std::uint8_t s = g.st(q);
  std::int32_t dq, vq;
  if (s == kData) {
    dq = 1;
    vq = g.I[q];
  } else if (s == kLayer1 || s == kUnreached) {
    dq = g.I[q];
    vq = g.G[q];
  } else {
    return;  // dead: never next to a grown pixel
  }
  if (dq == kFar) return;
  if (dq + 1 < d || (dq + 1 == d && vq < v)) {
    d = dq + 1;
    v = vq;
  }
}

// One step of a sweep at pixel x = (i, j): the labels of the row before it
// (di = -1, a forward sweep) or after it (+1, backward) and of the pixel
// just swept.
inline void relax(const Surface& g, Tally& tally, int i, int j, std::size_t x, int di) {
  if (g.st(x) != kUnreached) return;
  ++tally.visited;
  std::int32_t d = g.I[x];
  std::int32_t v = g.G[x];
  const int k = i + di;
  if (k >= 0 && k < g.nr) {
    const std::size_t w = static_cast<std::size_t>(g.nc);
    const std::size_t y = di < 0 ? x - w : x + w;
    if (j > 0) offer(g, y - 1, d, v);
    offer(g, y, d, v);
    if (j + 1 < g.nc) offer(g, y + 1, d, v);
  }
  if (di < 0 ? j > 0 : j + 1 < g.nc) offer(g, di < 0 ? x - 1 : x + 1, d, v);
  g.I[x] = d;
  g.G[x] = v;
}

// The growth of a pass, layers 2 and beyond.  A pixel's layer d and value
// v, compared as (d, v), satisfy: a data pixel counts as (1, its value), a
// layer-1 pixel is (1, the smallest data value of its cross), and any other
// grown pixel p is the smallest (d + 1, v) over the (d, v) of its ring.
// That is the literal growth: a pixel of layer k >= 3 takes the smallest
// value of its ring pixels of layer k - 1 (ring neighbours' layers differ
// by at most one), a pixel of layer 2 the smallest value of its ring
// pixels that are data or of layer 1.  So d is one more than the
// chessboard distance to the nearest data or layer-1 pixel, and v the
// smallest value among the nearest ones.  Every pixel on a shortest path
// from a nearest one to p is nearer still, so no-data and in p's component:
// the distance needs no obstacles, and for it one forward and one backward
// sweep with the 3 x 3 neighbourhood are exact (a shortest path can always
// take its steps down or to the right first).  The pair is compared as a
// whole, so the value travels with the distance.
//
// d lives in itab during the sweeps (the grown pixels are no-data there)
// and is put back to the marker afterwards.  Returns the deepest layer.
int grow(const Surface& g, const std::vector<int>& rows, Tally& tally, CancelCheck cancel) {
  // One poll every so many rows of each scan.
  std::int64_t scanned = 0;
  auto poll = [&] { cancel.at_row(scanned++, g.nc); };
  for (const int i : rows) {
    poll();
    g.for_each_active(i, [&](int, std::size_t x) {
      const std::uint8_t s = g.st(x);
      if (s == kLayer1) g.I[x] = 1;
      else if (s == kUnreached) g.I[x] = kFar;
    });
  }
  for (const int i : rows) {
    poll();
    g.for_each_active(i, [&](int j, std::size_t x) { relax(g, tally, i, j, x, -1); });
  }
  for (auto r = rows.rbegin(); r != rows.rend(); ++r) {
    poll();
    const int i = *r;
    g.for_each_active_reversed(i, [&](int j, std::size_t x) { relax(g, tally, i, j, x, +1); });
  }
  int layers = 0;
  for (const int i : rows) {
    poll();
    g.for_each_active(i, [&](int, std::size_t x) {
      const std::uint8_t s = g.st(x);
      if (s != kLayer1 && s != kUnreached) return;
      const std::int32_t d = g.I[x];
      g.I[x] = kNoData;
      if (d == kFar) return;
      layers = std::max(layers, d);
      if (g.S[x] & kDying) tally.dying_layers = std::max(tally.dying_layers, d);
      g.set_state(x, kReached);
    });
  }
  return layers;
}

// The midpoints of the reached pixels, written into itab.  The grown value
// of a written pixel becomes its new data value one row later, once the
// rows that read it as grown value are done.
std::int64_t midpoints(const Surface& g, const std::vector<int>& rows, Tally& tally, CancelCheck cancel) {
  std::int64_t modif = 0;
  std::vector<int> prev_row;
  std::vector<int> cur_row;
  int prev_i = -1;
  for (std::size_t r = 0; r < rows.size(); ++r) {
    const int i = rows[r];
    cancel.at_row(static_cast<std::int64_t>(r), g.nc);
    cur_row.clear();
    g.for_each_active(i, [&](int j, std::size_t x) {
      if (g.st(x) != kReached) return;
      ++tally.visited;
      const std::int32_t v = g.G[x];
      bool any = false;
      std::int32_t alt = 0;
      if (i > 0 && g.G[x - g.nc] > v) any = true, alt = g.G[x - g.nc];
      if (j > 0 && g.G[x - 1] > v) any = true, alt = g.G[x - 1];
      if (j + 1 < g.nc && g.G[x + 1] > v) any = true, alt = g.G[x + 1];
      if (i + 1 < g.nr && g.G[x + g.nc] > v) any = true, alt = g.G[x + g.nc];
      if (!any) return;
      const std::int64_t sum = static_cast<std::int64_t>(alt) + v;
      const std::int32_t m = static_cast<std::int32_t>(static_cast<double>(sum) * 0.5 + 0.5);
      if (m == kNoData) return;
      g.I[x] = m;
      g.set_state(x, kCommit);
      if (g.record) g.record->written_at[x] = g.record->pass;
      cur_row.push_back(j);
      ++modif;
    });
    // Rows not active hold no grown pixel: nothing there reads row prev_i.
    if (prev_i >= 0) settle(g, prev_i, prev_row);
    prev_row.swap(cur_row);
    prev_i = i;
  }
  if (prev_i >= 0) settle(g, prev_i, prev_row);
  return modif;
}
}  // namespace

SparseResult sparse_pass(const Surface& g, std::vector<int>& rows, bool keep_all, Tally& tally,
                         CancelCheck cancel) {
  SparseResult r;
  r.grown = first_layer(g, rows, keep_all, tally, cancel);
  r.layers = grow(g, rows, tally, cancel);
  r.written = midpoints(g, rows, tally, cancel);
  return r;
}

}  // namespace tesk::dilation
