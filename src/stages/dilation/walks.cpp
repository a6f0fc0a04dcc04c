#include <algorithm>
#include <cstdlib>

#include "core/thread_pool.h"
#include "core/units.h"
#include "stages/dilation/walker.h"

namespace tesk::dilation {

using dilation_keys::kFarKey;

Walker::Walker(const Surface& g, std::vector<int>& rows, Tiles& tiles, ThreadPool* pool)
    : g_(g), rows_(rows), tiles_(tiles), pool_(pool) {}

void Walker::setup() {
  const std::size_t wide = static_cast<std::size_t>(g_.nc) + 2;
  const std::size_t nc = static_cast<std::size_t>(g_.nc);
  far_row_.assign(wide, kFarKey);
  low_row_.assign(nc, kNoData);
  parts_.resize(pool_ && pool_->size() > 1 ? static_cast<std::size_t>(pool_->size()) : 1);
  for (WalkPart& P : parts_) {
    for (auto& b : P.dk) b.assign(wide, kFarKey);
    for (auto& b : P.first_keys) b.assign(wide, kFarKey);
    for (auto& b : P.second_keys) b.assign(wide, kFarKey);
    P.g_pad.assign(wide, kNoData);
    P.m_row.assign(nc, kNoData);
    P.m1.assign(nc, 0);
    P.m2.assign(nc, 0);
    P.tiles_a.assign(static_cast<std::size_t>(tiles_.words()), 0);
    P.tiles_b.assign(static_cast<std::size_t>(tiles_.words()), 0);
    P.runs.reserve(static_cast<std::size_t>(tiles_.count()));
  }
}

void Walker::walk(Walk kind, int dir, const TileSet& now, const TileSet* next, bool keep_all) {
  keep_all_ = keep_all;
  first_alone_ = kind == Walk::kFirst;
  const int n = static_cast<int>(rows_.size());
  // A fused walk reads the row before across any gap (the next pass's
  // first sweep follows two rows behind): it is never cut.
  const bool cut = parts_.size() > 1 && kind != Walk::kFused && cut_parts(dir, now);
  used_ = cut ? static_cast<int>(parts_.size()) : 1;
  for (int k = 0; k < used_; ++k) {
    WalkPart& P = parts_[static_cast<std::size_t>(k)];
    if (!cut) {
      P.pb = 0;
      P.pe = n;
    }
    P.dk_row[0] = P.dk_row[1] = P.dk_row[2] = -2;
    P.first = P.second = P.mid = RowCounts{};
    P.grew.assign(static_cast<std::size_t>(n), 0);
  }
  const TileSet& first_tiles = kind == Walk::kFused ? *next : now;
  if (used_ == 1) {
    walk_part(parts_[0], kind, dir, now, first_tiles);
    return;
  }
  pool_->for_range(0, used_, 1, [&](std::int64_t b, std::int64_t e, int) {
    for (std::int64_t k = b; k < e; ++k) walk_part(parts_[static_cast<std::size_t>(k)], kind, dir, now, first_tiles);
  });
}

// Cuts the walk's positions into one part per thread, only where
// consecutive active rows are not next to each other, at the cuts nearest
// to an even share of the active tiles.  Returns false when that leaves a
// part with more than three quarters of them, or a part empty.
bool Walker::cut_parts(int dir, const TileSet& t) {
  const int n = static_cast<int>(rows_.size());
  const int parts = static_cast<int>(parts_.size());
  prefix_.assign(static_cast<std::size_t>(n) + 1, 0);
  for (int p = 0; p < n; ++p) {
    const std::int64_t c = tiles_.count_bits(tiles_.active(t, row_at(static_cast<std::size_t>(p), dir)));
    prefix_[static_cast<std::size_t>(p) + 1] = prefix_[static_cast<std::size_t>(p)] + c;
  }
  const std::int64_t total = prefix_[static_cast<std::size_t>(n)];
  const auto off = [&](int x, std::int64_t target) { return std::llabs(prefix_[static_cast<std::size_t>(x)] - target); };
  int from = 0;
  for (int k = 0; k < parts; ++k) {
    int cut = n;
    if (k + 1 < parts) {
      const std::int64_t target = total * (k + 1) / parts;
      cut = -1;
      for (int p = from + 1; p < n; ++p) {
        if (row_at(static_cast<std::size_t>(p - 1), dir) + dir == row_at(static_cast<std::size_t>(p), dir)) continue;
        if (cut < 0 || off(p, target) < off(cut, target)) cut = p;
      }
      if (cut < 0) return false;
    }
    const std::int64_t share = prefix_[static_cast<std::size_t>(cut)] - prefix_[static_cast<std::size_t>(from)];
    if (cut == from || 4 * share > 3 * total) return false;
    parts_[static_cast<std::size_t>(k)].pb = from;
    parts_[static_cast<std::size_t>(k)].pe = cut;
    from = cut;
  }
  return true;
}

// The steps of one part (see walker.h for the order of a step).
void Walker::walk_part(WalkPart& P, Walk kind, int dir, const TileSet& now, const TileSet& first_tiles) {
  const bool second = kind != Walk::kFirst;
  const bool first = kind != Walk::kSecond;
  const int lag = kind == Walk::kFused ? 2 : 0;
  const int tail = kind == Walk::kFirst ? 0 : kind == Walk::kSecond ? 1 : 2;
  for (int p = P.pb; p < P.pe + tail; ++p) {
    if (second) {
      if (p < P.pe) second_sweep(P, p, dir, now);
      if (p > P.pb && p <= P.pe) midpoint_row(P, row_at(static_cast<std::size_t>(p - 1), dir), now, P.mid);
    }
    const int q = p - lag;
    if (first && q >= P.pb && q < P.pe) first_sweep(P, q, dir, first_tiles);
  }
}

std::int64_t Walker::end_first_sweeps(int dir, Tally& tally) {
  const std::size_t n = rows_.size();
  std::int64_t grown = 0;
  for (int k = 0; k < used_; ++k) {
    const WalkPart& P = parts_[static_cast<std::size_t>(k)];
    grown += P.first.grown;
    tally.dropped += P.first.dropped;
    tally.visited += P.first.grown + P.first.unreached;
  }
  // grew is by walk position: back to row order.
  std::size_t out = 0;
  for (std::size_t r = 0; r < n; ++r) {
    const std::size_t p = dir > 0 ? r : n - 1 - r;
    bool any = false;
    for (int k = 0; k < used_; ++k) any |= parts_[static_cast<std::size_t>(k)].grew[p] != 0;
    if (any) rows_[out++] = rows_[r];
  }
  rows_.resize(out);
  return grown;
}

std::int64_t Walker::end_second_sweeps(Tally& tally, int& deepest) {
  std::int64_t written = 0;
  std::uint32_t layers = 0, dying_layers = 0;
  for (int k = 0; k < used_; ++k) {
    const WalkPart& P = parts_[static_cast<std::size_t>(k)];
    tally.visited += P.second.unreached + P.mid.reached;
    written += P.mid.written;
    layers = std::max(layers, P.mid.layers);
    dying_layers = std::max(dying_layers, P.mid.dying_layers);
  }
  deepest = std::max(deepest, static_cast<int>(layers));
  tally.dying_layers = std::max(tally.dying_layers, static_cast<int>(dying_layers));
  return written;
}

}  // namespace tesk::dilation
