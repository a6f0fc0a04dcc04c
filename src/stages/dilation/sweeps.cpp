#include <algorithm>
#include <bit>

#include "core/units.h"
#include "stages/dilation/row_kernels.h"
#include "stages/dilation/walker.h"

namespace tesk::dilation {
namespace {

using dilation_keys::kFarKey;

// Calls sweep(a, b) for each run [a, b) of the active tiles of a row, in
// the order the chains run (right to left with rtl).  A run's chain starts
// from kFarKey: the pixel before it is data or dead (see tiles.h).
template <class Sweep>
void for_runs_in_order(const Tiles& tiles, const std::uint64_t* active, bool rtl,
                       std::vector<std::pair<int, int>>& runs, Sweep&& sweep) {
  runs.clear();
  tiles.for_runs(active, [&](int a, int b) { runs.emplace_back(a, b); });
  if (rtl) std::reverse(runs.begin(), runs.end());
  for (const auto& [a, b] : runs) sweep(a, b);
}

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

// Asks for the active tiles of the next row of the walk (after position p)
// to be brought into the cache while this one is swept: a sweep to reach a
// row waits on memory otherwise, its runs being too short for the processor
// to see the stream coming.
void Walker::prefetch_next(int p, int dir, const TileSet& t) {
  if (p + 1 >= static_cast<int>(rows_.size())) return;
  const int i = row_at(static_cast<std::size_t>(p + 1), dir);
  const std::uint64_t* active = tiles_.active(t, i);
  const std::size_t row = g_.index(i, 0);
  for (int w = 0; w < tiles_.words(); ++w) {
    std::uint64_t bits = active[w];
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

// The data keys of row i over the tiles that the sweeps of rows i - 1 to
// i + 1 read (their active tiles and the neighbours of those), from a cache
// of three rows; data pixels do not change during a walk, except by the
// midpoints of a row, which are committed before any sweep asks for its
// keys.
const Key* Walker::data_keys(WalkPart& P, int i, const TileSet& t) {
  if (i < 0 || i >= g_.nr) return far_row_.data();
  const int slot = i % 3;
  Key* out = P.dk[static_cast<std::size_t>(slot)].data();
  if (P.dk_row[slot] != i) {
    const std::uint64_t* a = tiles_.active(t, i - 1);
    const std::uint64_t* b = tiles_.active(t, i);
    const std::uint64_t* c = tiles_.active(t, i + 1);
    for (int w = 0; w < tiles_.words(); ++w) P.tiles_a[static_cast<std::size_t>(w)] = a[w] | b[w] | c[w];
    tiles_.widen(P.tiles_a.data(), P.tiles_b.data());
    const std::size_t row = g_.index(i, 0);
    tiles_.for_runs(P.tiles_b.data(), [&](int x0, int x1) {
      data_key_row(x1 - x0, g_.S + row + x0, g_.I + row + x0, out + x0, P.m1.data());
    });
    P.dk_row[slot] = i;
  }
  return out;
}

// After a sweep of row i: where the row swept next (its active tiles: next)
// reads row i's keys outside row i's runs (active), row i's data keys.
void Walker::fill_outside(WalkPart& P, int i, const std::uint64_t* active, const std::uint64_t* next, Key* keys) {
  tiles_.widen(next, P.tiles_a.data());
  for (int w = 0; w < tiles_.words(); ++w) P.tiles_a[static_cast<std::size_t>(w)] &= ~active[w];
  const std::size_t row = g_.index(i, 0);
  tiles_.for_runs(P.tiles_a.data(), [&](int a, int b) {
    data_key_row(b - a, g_.S + row + a, g_.I + row + a, keys + a, P.m1.data());
  });
}

// The first sweep of a pass (settling, layer 1, the chain) of the row at
// position q.
void Walker::first_sweep(WalkPart& P, int q, int dir, const TileSet& t) {
  const int i = row_at(static_cast<std::size_t>(q), dir);
  const bool rtl = dir < 0;
  const Key* up = data_keys(P, i - 1, t);
  const Key* mid = data_keys(P, i, t);
  const Key* down = data_keys(P, i + 1, t);
  const bool after = q > 0 && row_at(static_cast<std::size_t>(q - 1), dir) == i - dir;
  const Key* pk = after ? P.first_keys[(q - 1) % 3].data() : dir > 0 ? up : down;
  Key* cur = P.first_keys[q % 3].data();
  if (first_alone_) prefetch_next(q, dir, t);
  const std::size_t row = g_.index(i, 0);
  const std::int64_t grown_before = P.first.grown;
  const std::uint64_t* active = tiles_.active(t, i);
  for_runs_in_order(tiles_, active, rtl, P.runs, [&](int a, int b) {
    forward_row(b - a, g_.S + row + a, g_.I + row + a, g_.G + row + a, up + a, mid + a, down + a, pk + a, cur + a,
                kFarKey, keep_all_, rtl, P.m1.data(), P.m2.data(), P.first);
  });
  if (q + 1 < static_cast<int>(rows_.size()) && row_at(static_cast<std::size_t>(q + 1), dir) == i + dir)
    fill_outside(P, i, active, tiles_.active(t, i + dir), cur);
  if (P.first.grown != grown_before) P.grew[static_cast<std::size_t>(q)] = 1;
}

// The second sweep of a pass of the row at position p; the labels are left
// in itab and the grown surface.
void Walker::second_sweep(WalkPart& P, int p, int dir, const TileSet& t) {
  const int i = row_at(static_cast<std::size_t>(p), dir);
  const bool rtl = dir < 0;
  prefetch_next(p, dir, t);
  const bool after = p > 0 && row_at(static_cast<std::size_t>(p - 1), dir) == i - dir;
  // When the row before holds no grown pixel: its data pixels' keys.
  const Key* nk = after ? P.second_keys[(p - 1) % 3].data() : data_keys(P, i - dir, t);
  Key* cur = P.second_keys[p % 3].data();
  const std::size_t row = g_.index(i, 0);
  const std::uint64_t* active = tiles_.active(t, i);
  for_runs_in_order(tiles_, active, rtl, P.runs, [&](int a, int b) {
    backward_row(b - a, g_.S + row + a, g_.I + row + a, g_.G + row + a, nk + a, cur + a, kFarKey, rtl, P.m1.data(),
                 P.m2.data(), P.second);
  });
  if (p + 1 < static_cast<int>(rows_.size()) && row_at(static_cast<std::size_t>(p + 1), dir) == i + dir)
    fill_outside(P, i, active, tiles_.active(t, i + dir), cur);
}

// The last step of the growth (itab back to the marker, reached pixels
// flagged) and the midpoints of row i.
void Walker::midpoint_row(WalkPart& P, int i, const TileSet& t, RowCounts& counts) {
  const std::size_t row = g_.index(i, 0);
  const std::int32_t* up = i == 0 ? low_row_.data() : g_.G + row - static_cast<std::size_t>(g_.nc);
  const std::int32_t* down = i + 1 == g_.nr ? low_row_.data() : g_.G + row + static_cast<std::size_t>(g_.nc);
  std::int32_t* pad = P.g_pad.data();
  tiles_.for_runs(tiles_.active(t, i), [&](int a, int b) {
    settle_labels_row(b - a, g_.S + row + a, g_.I + row + a, counts);
    // The run's grown values and their left and right neighbours, the
    // marker (never greater) beyond the grid.
    const int l = std::max(a - 1, 0), e = std::min(b + 1, g_.nc);
    std::copy(g_.G + row + l, g_.G + row + e, pad + l + 1);
    midpoint_proposals(b - a, up + a, pad + a, down + a, P.m_row.data());
    commit_midpoints(b - a, g_.S + row + a, g_.I + row + a, P.m_row.data(), counts);
  });
}

}  // namespace tesk::dilation
