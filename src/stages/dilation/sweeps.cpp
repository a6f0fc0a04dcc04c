#include <algorithm>

#include "core/units.h"
#include "stages/dilation/row_kernels.h"
#include "stages/dilation/walker.h"

namespace tesk::dilation {
namespace {

using dilation_keys::kFarKey;

// Asks for the cache line at p.  (In assembly: the compiler deletes loops
// of prefetch built-ins as if they did nothing.)
inline void prefetch_line(const void* p) {
#if defined(__x86_64__) || defined(__i386__)
  asm volatile("prefetcht0 %0" : : "m"(*static_cast<const char*>(p)));
#else
  __builtin_prefetch(p, 1, 3);
#endif
}

}  // namespace


// The data keys of row i over the lane's tiles that the sweeps of rows
// i - 1 to i + 1 read (their active tiles and the neighbours of those),
// from a cache of three rows; data pixels do not change during a walk,
// except by the midpoints of a row, which are committed before any sweep
// asks for its keys.
const Key* Walker::data_keys(ColumnLane& L, int i, const TileSet& t) {
  if (i < 0 || i >= g_.nr) return far_row_.data();
  const int slot = i % 3;
  Key* out = L.dk[static_cast<std::size_t>(slot)].data();
  if (L.dk_row[slot] != i) {
    const std::uint64_t* a = tiles_.active(t, i - 1);
    const std::uint64_t* b = tiles_.active(t, i);
    const std::uint64_t* c = tiles_.active(t, i + 1);
    for (int w = 0; w < tiles_.words(); ++w) L.tiles_a[static_cast<std::size_t>(w)] = a[w] | b[w] | c[w];
    tiles_.widen(L.tiles_a.data(), L.tiles_b.data());
    for (int w = 0; w < tiles_.words(); ++w) L.tiles_b[static_cast<std::size_t>(w)] &= L.own[static_cast<std::size_t>(w)];
    const std::size_t row = g_.index(i, 0);
    tiles_.for_runs(L.tiles_b.data(), [&](int x0, int x1) {
      data_key_row(x1 - x0, g_.S + row + x0, g_.I + row + x0, out + x0, L.m1.data());
    });
    L.dk_row[slot] = i;
  }
  return out;
}

// The data keys of row i at the pixels just outside the lane, into keys:
// the sweeps read them there (a row's cross neighbours, a row of data
// keys standing for the row before).
void Walker::edge_data_keys(const ColumnLane& L, int i, Key* keys) const {
  if (i < 0 || i >= g_.nr) return;
  const std::size_t row = g_.index(i, 0);
  std::int32_t m;
  if (L.c0 > 0) data_key_row(1, g_.S + row + L.c0 - 1, g_.I + row + L.c0 - 1, keys + L.c0 - 1, &m);
  if (L.c1 < g_.nc) data_key_row(1, g_.S + row + L.c1, g_.I + row + L.c1, keys + L.c1, &m);
}

// After a sweep of row i: where the row swept next (its active tiles:
// next) reads row i's keys outside row i's runs (active), row i's data
// keys, over the lane's tiles.
// skip: a tile left alone (-1: none).
void Walker::fill_outside(ColumnLane& L, int i, const std::uint64_t* active, const std::uint64_t* next, Key* keys,
                  int skip) {
  tiles_.widen(next, L.tiles_a.data());
  for (int w = 0; w < tiles_.words(); ++w)
    L.tiles_a[static_cast<std::size_t>(w)] &= ~active[w] & L.own[static_cast<std::size_t>(w)];
  if (skip >= 0) L.tiles_a[static_cast<std::size_t>(skip >> 6)] &= ~(std::uint64_t{1} << (skip & 63));
  const std::size_t row = g_.index(i, 0);
  tiles_.for_runs(L.tiles_a.data(), [&](int a, int b) {
    data_key_row(b - a, g_.S + row + a, g_.I + row + a, keys + a, L.m1.data());
  });
}

// Sweeps the runs of the lane's active tiles in row i (the buffer keys)
// in the chains' order with sweep(a, b, carry); the carry into a run is
// the key of the pixel before it when that pixel lies in the lane
// upstream and its tile is active, kFarKey otherwise (the pixel before a
// run is then data or dead: see "Straight-line walks").  When a lane
// upstream reads this lane's edge (edge_to_publish), the edge keys come
// first: a short first piece of the run there, or the data keys of the
// edge tile when it is not active; then publish() is called.  Returns the
// tile whose data keys were put that way (-1: none).
int Walker::lane_runs(ColumnLane& L, int i, const std::uint64_t* active, bool rtl, Key* keys, bool edge_to_publish,
                      Sweep sweep, Publish publish) {
  for (int w = 0; w < tiles_.words(); ++w) L.tiles_a[static_cast<std::size_t>(w)] = active[w] & L.own[static_cast<std::size_t>(w)];
  auto tile_on = [&](int t) { return Tiles::on(active, t); };
  L.runs.clear();
  tiles_.for_runs(L.tiles_a.data(), [&](int a, int b) { L.runs.emplace_back(a, b); });
  int filled = -1;
  const int edge_tile = rtl ? L.t1 - 1 : L.t0;
  if (edge_to_publish && !tile_on(edge_tile)) {
    const std::size_t row = g_.index(i, 0);
    const int a = edge_tile * kTile, b = std::min(g_.nc, a + kTile);
    data_key_row(b - a, g_.S + row + a, g_.I + row + a, keys + a, L.m1.data());
    filled = edge_tile;
    publish();
    edge_to_publish = false;
  }
  constexpr int kEdgePiece = 4 * kTile;
  if (!rtl) {
    for (const auto& [a, b] : L.runs) {
      const Key carry = a == L.c0 && a > 0 && tile_on(L.t0 - 1) ? keys[a] : kFarKey;
      if (edge_to_publish && a == L.c0 && b - a > kEdgePiece) {
        sweep(a, a + kEdgePiece, carry);
        publish();
        sweep(a + kEdgePiece, b, keys[a + kEdgePiece]);
      } else {
        sweep(a, b, carry);
        if (edge_to_publish && a == L.c0) publish();
      }
    }
  } else {
    for (auto r = L.runs.rbegin(); r != L.runs.rend(); ++r) {
      const auto [a, b] = *r;
      const Key carry = b == L.c1 && b < g_.nc && tile_on(L.t1) ? keys[b + 1] : kFarKey;
      if (edge_to_publish && b == L.c1 && b - a > kEdgePiece) {
        sweep(b - kEdgePiece, b, carry);
        publish();
        sweep(a, b - kEdgePiece, keys[b - kEdgePiece + 1]);
      } else {
        sweep(a, b, carry);
        if (edge_to_publish && b == L.c1) publish();
      }
    }
  }
  return filled;
}

// The first sweep of a pass (settling, layer 1, the chain) of the row at
// position q, over the lane's columns.  across, when given, fills what
// the sweep reads across the lane's edges (mid, pk, cur) instead of the
// grid and the shared keys.
void Walker::first_sweep(ColumnLane& L, int q, int dir, const TileSet& t, bool edge_to_publish, Publish publish,
                         const Across* across) {
  const int i = row_at(static_cast<std::size_t>(q), dir);
  const bool rtl = dir < 0;
  const Key* up = data_keys(L, i - 1, t);
  Key* mid = const_cast<Key*>(data_keys(L, i, t));
  const Key* down = data_keys(L, i + 1, t);
  const bool after = q > 0 && row_at(static_cast<std::size_t>(q - 1), dir) == i - dir;
  Key* pk = after ? L.first_keys[(q - 1) % 3].data() : const_cast<Key*>(dir > 0 ? up : down);
  Key* cur = L.first_keys[q % 3].data();
  if (first_alone_) prefetch_next(L, q, dir, t);
  if (across) {
    (*across)(mid, pk, cur);
  } else {
    edge_data_keys(L, i, mid);
    if (!after) edge_data_keys(L, i - dir, pk);
  }
  const std::size_t row = g_.index(i, 0);
  const std::int64_t grown_before = L.first.grown;
  const std::uint64_t* active = tiles_.active(t, i);
  const int filled = lane_runs(
      L, i, active, rtl, cur, edge_to_publish,
      [&](int a, int b, Key carry) {
        forward_row(b - a, g_.S + row + a, g_.I + row + a, g_.G + row + a, up + a, mid + a, down + a, pk + a, cur + a,
                    carry, keep_all_, rtl, L.m1.data(), L.m2.data(), L.first);
      },
      publish);
  if (q + 1 < static_cast<int>(rows_.size()) && row_at(static_cast<std::size_t>(q + 1), dir) == i + dir)
    fill_outside(L, i, active, tiles_.active(t, i + dir), cur, filled);
  if (L.first.grown != grown_before) L.grew[static_cast<std::size_t>(q)] = 1;
}

// Asks for the lane's active tiles of the next row of the walk (after
// position p) to be brought into the cache while this one is swept: the
// first sweep of a walk to reach a row waits on memory otherwise, the
// lanes' pieces of a row being too short for the processor to see the
// stream coming.
void Walker::prefetch_next(ColumnLane& L, int p, int dir, const TileSet& t) {
  if (p + 1 >= static_cast<int>(rows_.size())) return;
  const int i = row_at(static_cast<std::size_t>(p + 1), dir);
  const std::uint64_t* active = tiles_.active(t, i);
  const std::size_t row = g_.index(i, 0);
  for (int w = L.t0 >> 6; w <= (L.t1 - 1) >> 6; ++w) {
    std::uint64_t bits = active[w] & L.own[static_cast<std::size_t>(w)];
    while (bits) {
      const int tile = w * 64 + std::countr_zero(bits);
      bits &= bits - 1;
      const std::size_t x = row + static_cast<std::size_t>(tile) * kTile;
      // A tile is 16 bytes of states and 64 of each int grid.
      if ((tile & 3) == 0) prefetch_line(g_.S + x);
      prefetch_line(g_.I + x);
      prefetch_line(g_.G + x);
    }
  }
}

// The second sweep of a pass of the row at position p, over the lane's
// columns; the labels are left in itab and the grown surface.
void Walker::second_sweep(ColumnLane& L, int p, int dir, const TileSet& t, bool edge_to_publish, Publish publish) {
  const int i = row_at(static_cast<std::size_t>(p), dir);
  const bool rtl = dir < 0;
  prefetch_next(L, p, dir, t);
  const bool after = p > 0 && row_at(static_cast<std::size_t>(p - 1), dir) == i - dir;
  const Key* nk;
  if (after) {
    nk = L.second_keys[(p - 1) % 3].data();
  } else {
    // The row before holds no grown pixel: its data pixels' keys.
    Key* d = const_cast<Key*>(data_keys(L, i - dir, t));
    edge_data_keys(L, i - dir, d);
    nk = d;
  }
  Key* cur = L.second_keys[p % 3].data();
  const std::size_t row = g_.index(i, 0);
  const std::uint64_t* active = tiles_.active(t, i);
  const int filled = lane_runs(
      L, i, active, rtl, cur, edge_to_publish,
      [&](int a, int b, Key carry) {
        backward_row(b - a, g_.S + row + a, g_.I + row + a, g_.G + row + a, nk + a, cur + a, carry, rtl, L.m1.data(),
                     L.m2.data(), L.second);
      },
      publish);
  if (p + 1 < static_cast<int>(rows_.size()) && row_at(static_cast<std::size_t>(p + 1), dir) == i + dir)
    fill_outside(L, i, active, tiles_.active(t, i + dir), cur, filled);
}

// The last step of the growth (itab back to the marker, reached pixels
// flagged) and the midpoints of row i over the lane's columns.
void Walker::midpoint_row(ColumnLane& L, int i, const TileSet& t, RowCounts& counts) {
  const std::size_t row = g_.index(i, 0);
  const std::int32_t* up = i == 0 ? low_row_.data() : g_.G + row - static_cast<std::size_t>(g_.nc);
  const std::int32_t* down = i + 1 == g_.nr ? low_row_.data() : g_.G + row + static_cast<std::size_t>(g_.nc);
  std::int32_t* pad = L.g_pad.data();
  const std::uint64_t* active = tiles_.active(t, i);
  for (int w = 0; w < tiles_.words(); ++w) L.tiles_b[static_cast<std::size_t>(w)] = active[w] & L.own[static_cast<std::size_t>(w)];
  tiles_.for_runs(L.tiles_b.data(), [&](int a, int b) {
    settle_labels_row(b - a, g_.S + row + a, g_.I + row + a, counts);
    // The run's grown values and their left and right neighbours, the
    // marker (never greater) beyond the grid.
    const int l = std::max(a - 1, 0), e = std::min(b + 1, g_.nc);
    std::copy(g_.G + row + l, g_.G + row + e, pad + l + 1);
    midpoint_proposals(b - a, up + a, pad + a, down + a, L.m_row.data());
    if (g_.record)
      record_midpoints(b - a, g_.S + row + a, L.m_row.data(), g_.record->written_at + row + a, g_.record->pass);
    commit_midpoints(b - a, g_.S + row + a, g_.I + row + a, L.m_row.data(), counts);
  });
}

}  // namespace tesk::dilation
