// The straight-line walks of a pass: row after row over the active rows,
// each row swept over its runs of active tiles with the row kernels, the
// columns shared among the threads as lanes (lanes.h).
//
// At step p of a walk in direction dir: the second sweep of row p, the
// midpoints of row p - 1 (its neighbours' grown values are then final), the
// first sweep of the next pass of row p - 2 (the midpoints of it and its
// neighbours are then committed).  The chains run to the right when the walk
// goes down, to the left when it goes up; a pass's two sweeps go opposite
// ways.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "core/function_ref.h"
#include "stages/dilation/lanes.h"
#include "stages/dilation/states.h"
#include "stages/dilation/tiles.h"
#include "stages/dilation/dilation_fast.h"

namespace tesk {
class ThreadPool;
}

namespace tesk::dilation {

// The kinds of walk: the first sweep of a pass alone; the second sweep and
// the midpoints of a pass; the second sweep and the midpoints of a pass
// with the first sweep of the next one.
enum class Walk { kFirst, kSecond, kFused };

class Walker {
 public:
  // rows: the active rows, in increasing order, shared with the pass driver.
  // cancel: polled by every lane (see leave()).
  Walker(const Surface& g, std::vector<int>& rows, Tiles& tiles, const FastDilationLimits& limits,
         ThreadPool* pool, CancelCheck cancel);

  // Once the tiles are set up: the lanes and the row buffers.
  void setup();

  // One walk in direction dir (+1: down the rows, -1: up).  now: this
  // pass's active tiles; next: the next pass's (a fused walk).  keep_all:
  // no component was found unchanged by the last pass.
  void walk(Walk kind, int dir, const TileSet& now, const TileSet* next, bool keep_all);

  // After a walk with first sweeps: keeps in rows the rows still holding
  // grown pixels, adds up the counts; returns the pixels grown.
  std::int64_t end_first_sweeps(int dir, Tally& tally);
  // After a walk with second sweeps: adds up the counts, raises layers to
  // the deepest layer; returns the pixels written.
  std::int64_t end_second_sweeps(Tally& tally, int& layers);

 private:
  using Publish = FunctionRef<void()>;
  using Sweep = FunctionRef<void(int, int, Key)>;
  using Across = FunctionRef<void(Key*, Key*, Key*)>;

  // lanes.cpp: cutting the columns, keeping step, merging.
  void split_columns();
  void cut_lanes(std::vector<ColumnLane>& lanes, bool whole);
  bool cut_parts(int dir, const TileSet& t, std::vector<ColumnLane>& lanes);
  bool wait_for(const std::atomic<int>& a, int at_least) const;
  void poll(int step) const;
  void leave(Progress& mine);
  void ask_merge(int step);
  void take_all_columns(ColumnLane& L, int at);

  // walks.cpp: the walks.
  void lane_walk(int k, Walk kind, int dir, bool columns, const TileSet& now, const TileSet& first_tiles);
  void loose_first_walk(int dir, const TileSet& t);
  void loose_lane_walk(int k, int dir, const TileSet& t);
  int row_at(std::size_t p, int dir) const {
    return dir > 0 ? rows_[p] : rows_[rows_.size() - 1 - p];
  }

  // sweeps.cpp: one row over one lane's columns.
  const Key* data_keys(ColumnLane& L, int i, const TileSet& t);
  void edge_data_keys(const ColumnLane& L, int i, Key* keys) const;
  void fill_outside(ColumnLane& L, int i, const std::uint64_t* active, const std::uint64_t* next, Key* keys,
                    int skip);
  int lane_runs(ColumnLane& L, int i, const std::uint64_t* active, bool rtl, Key* keys, bool edge_to_publish,
                Sweep sweep, Publish publish);
  void first_sweep(ColumnLane& L, int q, int dir, const TileSet& t, bool edge_to_publish, Publish publish,
                   const Across* across = nullptr);
  void second_sweep(ColumnLane& L, int p, int dir, const TileSet& t, bool edge_to_publish, Publish publish);
  void midpoint_row(ColumnLane& L, int i, const TileSet& t, RowCounts& counts);
  void prefetch_next(ColumnLane& L, int p, int dir, const TileSet& t);

  Surface g_;
  std::vector<int>& rows_;
  Tiles& tiles_;
  ThreadPool* pool_;
  CancelCheck cancel_;
  // A lane has stopped before the end of the walk (cancelled): the others
  // stop at their next step or wait.
  std::atomic<bool> stopped_{false};
  bool keep_all_ = false;
  bool first_alone_ = false;  // the current walk has first sweeps only
  // Limits (see FastDilationLimits).
  int min_lane_tiles_ = 32;
  std::int64_t lane_row_tiles_ = 16;
  int max_lanes_ = 1;
  int spin_limit_ = 1 << 8;
  int forced_merge_;
  int late_lane_us_ = 0;
  // One lane for all columns; when there are several threads, one lane per
  // thread for its columns, and one per thread for all columns, which walk
  // parts of the rows.  lanes_ is the set the current walk uses.
  std::vector<ColumnLane> lane_sets_[3];
  std::vector<ColumnLane>* lanes_ = &lane_sets_[0];
  std::unique_ptr<Progress[]> progress_;
  std::vector<Key> first_keys_[3], second_keys_[3];  // shared by lanes that keep step
  std::vector<Key> far_row_;
  std::vector<std::int32_t> low_row_;
  std::vector<std::int64_t> part_prefix_;
  std::vector<std::pair<Key, Key>> edge_snap_;  // see loose_first_walk
  // When the processors are busy (lanes.cpp).
  std::atomic<int> merge_at_;
  bool merged_ = false;
  int busy_walks_ = 0;
};

}  // namespace tesk::dilation
