#include <algorithm>
#include <cassert>
#include <climits>
#include <cstdlib>

#include "core/thread_pool.h"
#include "core/units.h"
#include "stages/dilation/walker.h"

namespace tesk::dilation {

using dilation_keys::kFarKey;

// Spins for a while, then sleeps until the value is published (the lane
// waited for may not be running: another process may hold its processor,
// or the lanes outnumber the processors).
// Returns whether it had to sleep for a lane that had started the walk
// (a thread of the pool may take a while to wake up at its start).
bool Walker::wait_for(const std::atomic<int>& a, int at_least) const {
  const bool started = a.load(std::memory_order_relaxed) >= 0;
  for (int spins = 0; spins < spin_limit_; ++spins) {
    if (a.load(std::memory_order_acquire) >= at_least) {
      if (stopped_.load(std::memory_order_relaxed)) throw Cancelled();
      return false;
    }
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
  }
  for (;;) {
    const int v = a.load(std::memory_order_acquire);
    if (v >= at_least) {
      if (stopped_.load(std::memory_order_relaxed)) throw Cancelled();
      return started;
    }
    a.wait(v, std::memory_order_acquire);
  }
}

// Stopping in the middle of a walk.
//
// A lane stops when the run is cancelled, or when a lane it waits for has
// stopped.  It raises stopped_, then publishes every count of its own at
// its largest, so that a lane waiting for it wakes; that lane sees
// stopped_ (raised before the count it woke on) and stops in turn, without
// reading what the stopped lane has not written.  Every lane thus leaves
// its walk, and the pool rethrows Cancelled once all have.

void Walker::poll(int step) const {
  if (stopped_.load(std::memory_order_relaxed)) throw Cancelled();
  cancel_.at_row(step, g_.nc);
}

void Walker::leave(Progress& mine) {
  stopped_.store(true, std::memory_order_relaxed);
  for (auto* a : {&mine.second, &mine.second_edge, &mine.first, &mine.first_edge, &mine.mid, &mine.step})
    publish(*a, INT_MAX);
}

// When the processors are busy.
//
// Lanes that keep step at every row need every lane's thread running at
// once: when another process takes a processor, each hand-over waits for
// the scheduler, and a walk slows a hundredfold.  A lane that had to sleep
// three times within a few dozen steps asks for the walk to be merged: from a step a few ahead of every lane,
// the first lane walks the whole rows alone (the others stop after the
// step before, which the first waits for), and the next walks use one
// lane (or parts of the rows) before lanes are tried again.  (A walk of
// first sweeps alone, whose lanes drift apart and seldom wait, is walked
// to its end the same way.)

// Asks for the merge from the step after `step` plus the lanes' spread.
void Walker::ask_merge(int step) {
  const int at = step + static_cast<int>(lanes_->size()) + 1;
  int cur = merge_at_.load(std::memory_order_relaxed);
  while (at < cur && !merge_at_.compare_exchange_weak(cur, at, std::memory_order_acq_rel)) {
  }
}

// The first lane takes every column from step `at` on: the other lanes
// have done every step before it.
void Walker::take_all_columns(ColumnLane& L, int at) {
  for (std::size_t k = 1; k < lanes_->size(); ++k) {
    wait_for(progress_[k].step, at - 1);
    assert(progress_[k].step.load(std::memory_order_acquire) == at - 1);
  }
  L.t0 = 0;
  L.t1 = tiles_.count();
  L.c0 = 0;
  L.c1 = g_.nc;
  tiles_.set_range(L.own.data(), 0, tiles_.count());
  L.dk_row[0] = L.dk_row[1] = L.dk_row[2] = -2;
  merged_ = true;
}

// Cuts the columns into lanes (once: the count depends only on the width
// and the pool).
void Walker::split_columns() {
  int nl = 1;
  // Never more lanes than processors: lanes keep step, and one whose
  // thread waits for a processor holds the others up.
  if (pool_ && pool_->size() > 1) nl = std::clamp(tiles_.count() / min_lane_tiles_, 1, std::min(pool_->size(), max_lanes_));
  progress_ = std::make_unique<Progress[]>(static_cast<std::size_t>(nl));
  const std::size_t wide = static_cast<std::size_t>(g_.nc) + 2;
  for (auto& b : first_keys_) b.assign(wide, kFarKey);
  for (auto& b : second_keys_) b.assign(wide, kFarKey);
  lane_sets_[0].resize(1);
  lane_sets_[1].resize(nl > 1 ? static_cast<std::size_t>(nl) : 0);
  lane_sets_[2].resize(nl > 1 ? static_cast<std::size_t>(nl) : 0);
  cut_lanes(lane_sets_[0], false);
  cut_lanes(lane_sets_[1], false);
  cut_lanes(lane_sets_[2], true);
}

// whole: every lane takes every column (and has keys of its own).
void Walker::cut_lanes(std::vector<ColumnLane>& lanes, bool whole) {
  const int nl = static_cast<int>(lanes.size());
  const std::size_t wide = static_cast<std::size_t>(g_.nc) + 2;
  for (int k = 0; k < nl; ++k) {
    ColumnLane& L = lanes[static_cast<std::size_t>(k)];
    L.t0 = whole ? 0 : static_cast<int>(static_cast<std::int64_t>(tiles_.count()) * k / nl);
    L.t1 = whole ? tiles_.count() : static_cast<int>(static_cast<std::int64_t>(tiles_.count()) * (k + 1) / nl);
    for (auto& b : L.own_first) b.assign(wide, kFarKey);
    for (auto& b : L.own_second) b.assign(wide, kFarKey);
    L.shared = !whole;
    L.c0 = L.t0 * kTile;
    L.c1 = std::min(g_.nc, L.t1 * kTile);
    for (auto& v : L.dk) v.assign(wide, kFarKey);
    L.g_pad.assign(wide, kNoData);
    L.m_row.assign(static_cast<std::size_t>(g_.nc), kNoData);
    L.m1.assign(static_cast<std::size_t>(g_.nc), 0);
    L.m2.assign(static_cast<std::size_t>(g_.nc), 0);
    L.own.assign(static_cast<std::size_t>(tiles_.words()), 0);
    tiles_.set_range(L.own.data(), L.t0, L.t1);
    L.tiles_a.assign(static_cast<std::size_t>(tiles_.words()), 0);
    L.tiles_b.assign(static_cast<std::size_t>(tiles_.words()), 0);
    // Never more runs than tiles: a lane must not allocate (nor throw)
    // while the others wait for it.
    L.runs.reserve(static_cast<std::size_t>(tiles_.count()));
  }
}

// Cuts the walk's positions into one part per lane of lanes, only where
// consecutive active rows are not next to each other, at the cuts nearest
// to an even share of the active tiles.  Returns false when that leaves
// a part with more than three quarters of them, or a part empty.
bool Walker::cut_parts(int dir, const TileSet& t, std::vector<ColumnLane>& lanes) {
  const int n = static_cast<int>(rows_.size());
  const int parts = static_cast<int>(lanes.size());
  std::vector<std::int64_t>& prefix = part_prefix_;
  prefix.assign(static_cast<std::size_t>(n) + 1, 0);
  for (int p = 0; p < n; ++p) {
    const std::int64_t c = tiles_.count_bits(tiles_.active(t, row_at(static_cast<std::size_t>(p), dir)));
    prefix[static_cast<std::size_t>(p) + 1] = prefix[static_cast<std::size_t>(p)] + c;
  }
  const std::int64_t total = prefix[static_cast<std::size_t>(n)];
  int from = 0;
  for (int k = 0; k < parts; ++k) {
    int cut = n;
    if (k + 1 < parts) {
      const std::int64_t target = total * (k + 1) / parts;
      cut = -1;
      for (int p = from + 1; p < n; ++p) {
        if (row_at(static_cast<std::size_t>(p - 1), dir) + dir == row_at(static_cast<std::size_t>(p), dir)) continue;
        const auto off = [&](int x) { return std::llabs(prefix[static_cast<std::size_t>(x)] - target); };
        if (cut < 0 || off(p) < off(cut)) cut = p;
      }
      if (cut < 0) return false;
    }
    const std::int64_t share = prefix[static_cast<std::size_t>(cut)] - prefix[static_cast<std::size_t>(from)];
    if (cut == from || 4 * share > 3 * total) return false;
    lanes[static_cast<std::size_t>(k)].pb = from;
    lanes[static_cast<std::size_t>(k)].pe = cut;
    from = cut;
  }
  return true;
}

}  // namespace tesk::dilation
