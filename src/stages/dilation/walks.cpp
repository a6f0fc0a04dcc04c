#include "stages/dilation/walker.h"

#include <algorithm>
#include <cassert>
#include <chrono>
#include <climits>
#include <thread>

#include "core/thread_pool.h"
#include "core/threads.h"
#include "core/units.h"
#include "stages/dilation/row_kernels.h"

namespace tesk::dilation {
namespace {

using dilation_keys::kFarKey;

// After a merge, this many walks use one lane before lanes are tried again.
constexpr int kBusyWalks = 4;
// Sleeps closer together than this many steps ask for a merge.
constexpr int kSleepWindow = 64;

}  // namespace

Walker::Walker(const Surface& g, std::vector<int>& rows, Tiles& tiles, const FastDilationLimits& limits,
               ThreadPool* pool, CancelCheck cancel)
    : g_(g), rows_(rows), tiles_(tiles), pool_(pool), cancel_(cancel) {
  if (limits.min_lane_tiles > 0) min_lane_tiles_ = limits.min_lane_tiles;
  if (limits.lane_row_tiles > 0) lane_row_tiles_ = limits.lane_row_tiles;
  forced_merge_ = limits.merge_at_step > 0 ? limits.merge_at_step : INT_MAX;
  late_lane_us_ = limits.late_lane_us;
  merge_at_.store(INT_MAX, std::memory_order_relaxed);
  const int cpus = usable_cpus();
  max_lanes_ = limits.max_lanes > 0 ? limits.max_lanes : cpus;
  // Lanes keep step: spin long while each can have a processor, briefly
  // when they may have to take turns.
  spin_limit_ = std::min(max_lanes_, pool ? pool->size() : 1) <= cpus ? 1 << 10 : 1 << 6;
}

void Walker::setup() {
  const std::size_t wide = static_cast<std::size_t>(g_.nc) + 2;
  far_row_.assign(wide, kFarKey);
  low_row_.assign(static_cast<std::size_t>(g_.nc), kNoData);
  split_columns();
}

// One walk over the active rows, every lane on its own thread.  Lanes of
// columns keep step at every row: worth it only while the rows hold enough
// active tiles.  Otherwise, when rows without grown pixels cut the walk
// into parts of about the same work, the threads walk those parts (nothing
// a part reads changes in another); otherwise one thread walks.
void Walker::walk(Walk kind, int dir, const TileSet& now, const TileSet* next, bool keep_all) {
  keep_all_ = keep_all;
  const int n = static_cast<int>(rows_.size());
  if (merged_) {
    // The last walk merged its lanes: their columns back, and one lane
    // for the next few walks.
    cut_lanes(lane_sets_[1], false);
    merged_ = false;
    if (forced_merge_ == INT_MAX) busy_walks_ = kBusyWalks;
  }
  const bool columns = busy_walks_ == 0 && !lane_sets_[1].empty() &&
                       now.cover >= lane_row_tiles_ * static_cast<std::int64_t>(n);
  if (busy_walks_ > 0) --busy_walks_;
  merge_at_.store(forced_merge_, std::memory_order_relaxed);
  const bool parts = !columns && !lane_sets_[2].empty() && kind != Walk::kFused && cut_parts(dir, now, lane_sets_[2]);
  lanes_ = &lane_sets_[columns ? 1 : parts ? 2 : 0];
  const int nl = static_cast<int>(lanes_->size());
  for (int k = 0; k < nl; ++k) {
    ColumnLane& L = (*lanes_)[static_cast<std::size_t>(k)];
    if (!parts) {
      L.pb = 0;
      L.pe = n;
    }
    // A walk of first sweeps alone over lanes of columns lets the lanes
    // drift apart (see loose_first_walk); the others keep step and share
    // their keys.
    const bool own = !L.shared || (kind == Walk::kFirst && columns);
    L.first_keys = own ? L.own_first : first_keys_;
    L.second_keys = own ? L.own_second : second_keys_;
    L.dk_row[0] = L.dk_row[1] = L.dk_row[2] = -2;
    L.first = L.second = L.mid = RowCounts{};
    L.grew.assign(static_cast<std::size_t>(n), 0);
    for (auto* a : {&progress_[k].second, &progress_[k].second_edge, &progress_[k].first, &progress_[k].first_edge,
                    &progress_[k].mid, &progress_[k].step})
      a->store(-1, std::memory_order_relaxed);
  }
  const TileSet& first_tiles = kind == Walk::kFused ? *next : now;
  first_alone_ = kind == Walk::kFirst;
  if (kind == Walk::kFirst && columns) {
    loose_first_walk(dir, now);
    return;
  }
  if (nl == 1) {
    lane_walk(0, kind, dir, columns, now, first_tiles);
  } else if (nl > 1) {  // (none for an empty grid)
    pool_->for_range(0, nl, 1, [&](std::int64_t b, std::int64_t e, int) {
      for (std::int64_t k = b; k < e; ++k) {
        try {
          lane_walk(static_cast<int>(k), kind, dir, columns, now, first_tiles);
        } catch (...) {
          leave(progress_[k]);
          throw;
        }
      }
    });
  }
}

// The walk of lane k (see walker.h for the order of a step).
void Walker::lane_walk(int k, Walk kind, int dir, bool columns, const TileSet& now, const TileSet& first_tiles) {
  const int n = static_cast<int>(rows_.size());
  const int nl = static_cast<int>(lanes_->size());
  const bool rtl = dir < 0;
  const bool second = kind != Walk::kFirst;
  const bool first = kind != Walk::kSecond;
  const int lag = kind == Walk::kFused ? 2 : 0;
  const int tail = kind == Walk::kFirst ? 0 : kind == Walk::kSecond ? 1 : 2;
  ColumnLane& L = (*lanes_)[static_cast<std::size_t>(k)];
  const int up_lane = rtl ? k + 1 : k - 1;
  const int down_lane = rtl ? k - 1 : k + 1;
  const Progress* ups = columns && up_lane >= 0 && up_lane < nl ? &progress_[up_lane] : nullptr;
  const Progress* downs = columns && down_lane >= 0 && down_lane < nl ? &progress_[down_lane] : nullptr;
  Progress& mine = progress_[k];
  const int pb = L.pb, pe = L.pe;
  int sleeps[2] = {INT_MIN / 2, INT_MIN / 2};  // the steps of the last two sleeps
  if (late_lane_us_ > 0 && columns && k == nl - 1) std::this_thread::sleep_for(std::chrono::microseconds(late_lane_us_));
  for (int p = pb; p < pe + tail; ++p) {
    poll(p);
    const int merge_at = merge_at_.load(std::memory_order_acquire);
    if ((ups || downs) && p >= merge_at) {
      // The merge is asked for a step ahead of every lane (ask_merge), so
      // every lane meets it at that very step: the others stop before it,
      // the first takes every column from it on.  The bytes cannot depend
      // on when it comes.
      assert(p == merge_at);
      if (k > 0) return;
      take_all_columns(L, merge_at);
      ups = downs = nullptr;
    }
    bool slept = false;
    if (second) {
      // The second sweep, then the midpoints, which read the grown
      // values of both lanes' edges.
      if (downs) slept |= wait_for(downs->second_edge, std::min(p, n) - 1);
      if (ups) slept |= wait_for(ups->second, std::min(p, n - 1));
      if (p < pe) {
        second_sweep(L, p, dir, now, ups != nullptr, [&] { publish(mine.second_edge, p); });
        publish(mine.second, p);
      }
      if (p > pb && p <= pe) midpoint_row(L, row_at(static_cast<std::size_t>(p - 1), dir), now, L.mid);
      publish(mine.mid, p);
    }
    const int q = p - lag;
    if (first && q >= pb && q < pe) {
      if (ups) slept |= wait_for(ups->first, q);
      if (downs) {
        slept |= wait_for(downs->first_edge, q - 1);
        if (second) slept |= wait_for(downs->mid, p - 1);
      }
      first_sweep(L, q, dir, first_tiles, ups != nullptr, [&] { publish(mine.first_edge, q); });
      publish(mine.first, q);
    }
    publish(mine.step, p);
    // Lone pauses of the machine are no reason to merge: only sleeps
    // that come close together are.
    if (slept) {
      if (p - sleeps[0] < kSleepWindow && p - sleeps[1] < kSleepWindow) ask_merge(p);
      sleeps[0] = sleeps[1];
      sleeps[1] = p;
    }
  }
}

// A walk of first sweeps alone over lanes of columns, going down.  Data
// pixels keep their keys during it (a pixel written by the last pass
// becomes data with the value it holds), so the data keys at the lanes'
// edges are taken beforehand, and a lane reads a key of the lane beside
// it only where both sides of the edge are active tiles: the key at the
// end of the lane upstream (its carry, and the row before's), the key at
// the start of the lane downstream (the row before's).  It waits only
// for those, so the lanes drift apart where the rows do not cross their
// edges.
void Walker::loose_first_walk(int dir, const TileSet& t) {
  const int n = static_cast<int>(rows_.size());
  const int nl = static_cast<int>(lanes_->size());
  // The data keys on both sides of each edge, by row.
  edge_snap_.assign(static_cast<std::size_t>(nl) * static_cast<std::size_t>(g_.nr), {kFarKey, kFarKey});
  for (int k = 1; k < nl; ++k) {
    const int c = (*lanes_)[static_cast<std::size_t>(k)].c0;
    for (int i = 0; i < g_.nr; ++i) {
      const std::size_t row = g_.index(i, 0);
      Key pair[4];
      std::int32_t m[2];
      data_key_row(2, g_.S + row + c - 1, g_.I + row + c - 1, pair, m);
      edge_snap_[static_cast<std::size_t>(k) * static_cast<std::size_t>(g_.nr) + static_cast<std::size_t>(i)] = {pair[1], pair[2]};
    }
  }
  for (ColumnLane& L : *lanes_) {
    L.edge_keys.assign(static_cast<std::size_t>(n), kFarKey);
    L.end_keys.assign(static_cast<std::size_t>(n), kFarKey);
  }
  pool_->for_range(0, nl, 1, [&](std::int64_t b, std::int64_t e, int) {
    for (std::int64_t k = b; k < e; ++k) {
      try {
        loose_lane_walk(static_cast<int>(k), dir, t);
      } catch (...) {
        leave(progress_[k]);
        throw;
      }
    }
  });
}

// The loose walk of lane k.
void Walker::loose_lane_walk(int k, int dir, const TileSet& t) {
  const int n = static_cast<int>(rows_.size());
  const int nl = static_cast<int>(lanes_->size());
  auto tile_on = Tiles::on;
  ColumnLane& L = (*lanes_)[static_cast<std::size_t>(k)];
  ColumnLane* left = k > 0 ? &(*lanes_)[static_cast<std::size_t>(k - 1)] : nullptr;
  ColumnLane* right = k + 1 < nl ? &(*lanes_)[static_cast<std::size_t>(k + 1)] : nullptr;
  Progress& mine = progress_[k];
  if (late_lane_us_ > 0 && k == nl - 1) std::this_thread::sleep_for(std::chrono::microseconds(late_lane_us_));
  for (int q = 0; q < n; ++q) {
    poll(q);
    const int i = row_at(static_cast<std::size_t>(q), dir);
    const std::uint64_t* active = tiles_.active(t, i);
    const std::uint64_t* before = tiles_.active(t, i - dir);
    const bool after = q > 0 && row_at(static_cast<std::size_t>(q - 1), dir) == i - dir;
    auto snap = [&](int edge_lane, int r) {
      return edge_snap_[static_cast<std::size_t>(edge_lane) * static_cast<std::size_t>(g_.nr) + static_cast<std::size_t>(r)];
    };
    // Fills what the sweep reads across the edges, before it runs.
    auto across = [&](Key* mid, Key* pk, Key* cur) {
      if (left && tile_on(active, L.t0)) {
        mid[L.c0] = snap(k, i).first;
        if (after && tile_on(before, L.t0 - 1)) {
          wait_for(progress_[k - 1].first, q - 1);
          pk[L.c0] = left->end_keys[static_cast<std::size_t>(q - 1)];
        } else if (i - dir >= 0 && i - dir < g_.nr) {  // (beyond the grid pk is all far)
          pk[L.c0] = snap(k, i - dir).first;
        }
        if (tile_on(active, L.t0 - 1)) {
          wait_for(progress_[k - 1].first, q);
          cur[L.c0] = left->end_keys[static_cast<std::size_t>(q)];
        }
      }
      if (right && tile_on(active, L.t1 - 1)) {
        mid[L.c1 + 1] = snap(k + 1, i).second;
        if (after && tile_on(before, L.t1)) {
          wait_for(progress_[k + 1].first_edge, q - 1);
          pk[L.c1 + 1] = right->edge_keys[static_cast<std::size_t>(q - 1)];
        } else if (i - dir >= 0 && i - dir < g_.nr) {
          pk[L.c1 + 1] = snap(k + 1, i - dir).second;
        }
      }
    };
    const Across fill = across;
    Key* cur = L.first_keys[q % 3].data();
    first_sweep(L, q, dir, t, left != nullptr, [&] {
      L.edge_keys[static_cast<std::size_t>(q)] = cur[L.c0 + 1];
      publish(mine.first_edge, q);
    }, &fill);
    L.end_keys[static_cast<std::size_t>(q)] = cur[L.c1];
    publish(mine.first, q);
  }
}

std::int64_t Walker::end_first_sweeps(int dir, Tally& tally) {
  const std::size_t n = rows_.size();
  std::int64_t grown = 0;
  for (ColumnLane& L : *lanes_) {
    grown += L.first.grown;
    tally.dropped += L.first.dropped;
    tally.visited += L.first.grown + L.first.unreached;
  }
  // grew is by walk position: back to row order.
  std::size_t out = 0;
  for (std::size_t r = 0; r < n; ++r) {
    const std::size_t p = dir > 0 ? r : n - 1 - r;
    bool any = false;
    for (const ColumnLane& L : *lanes_) any |= L.grew[p] != 0;
    if (any) rows_[out++] = rows_[r];
  }
  rows_.resize(out);
  return grown;
}

std::int64_t Walker::end_second_sweeps(Tally& tally, int& deepest) {
  std::int64_t written = 0;
  std::uint32_t layers = 0, dying_layers = 0;
  for (const ColumnLane& L : *lanes_) {
    tally.visited += L.second.unreached + L.mid.reached;
    written += L.mid.written;
    layers = std::max(layers, L.mid.layers);
    dying_layers = std::max(dying_layers, L.mid.dying_layers);
  }
  deepest = std::max(deepest, static_cast<int>(layers));
  tally.dying_layers = std::max(tally.dying_layers, static_cast<int>(dying_layers));
  return written;
}

}  // namespace tesk::dilation
