// The straight-line walks of a pass: row after row over the active rows,
// each row swept over its runs of active tiles (tiles.h) with the row
// kernels (row_kernels.h).
//
// At step p of a walk in direction dir: the second sweep of row p, the
// midpoints of row p - 1 (its neighbours' grown values are then final), the
// first sweep of the next pass of row p - 2 (the midpoints of it and its
// neighbours are then committed).  The chains run to the right when the walk
// goes down, to the left when it goes up; a pass's two sweeps go opposite
// ways.
//
// With several threads, a walk whose active rows fall into groups with rows
// without grown pixels between them is cut there into parts of about the
// same work, one per thread: nothing a part reads changes in another.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "stages/dilation/keys.h"
#include "stages/dilation/states.h"
#include "stages/dilation/tiles.h"

namespace tesk {
class ThreadPool;
}

namespace tesk::dilation {

using dilation_keys::Key;

// The kinds of walk: the first sweep of a pass alone; the second sweep and
// the midpoints of a pass; the second sweep and the midpoints of a pass
// with the first sweep of the next one.
enum class Walk { kFirst, kSecond, kFused };

// A part of a walk: the positions it takes, its row buffers and its counts.
// Key buffers hold a row with one kFarKey cell on each side, so the
// neighbours of the first and last columns need no test.
struct WalkPart {
  int pb = 0, pe = 0;                           // positions [pb, pe) of the walk
  std::vector<Key> dk[3];                       // data keys of three rows
  int dk_row[3] = {-2, -2, -2};                 // ... and which rows
  std::vector<Key> first_keys[3], second_keys[3];  // each sweep's keys of the last three rows
  std::vector<std::int32_t> g_pad, m_row, m1, m2;
  std::vector<std::uint64_t> tiles_a, tiles_b;
  std::vector<std::pair<int, int>> runs;
  std::vector<std::uint8_t> grew;  // by position: the first sweep grew a pixel of that row
  RowCounts first, second, mid;    // of the part's sweeps and midpoints
};

class Walker {
 public:
  // rows: the active rows, in increasing order, shared with the pass driver.
  Walker(const Surface& g, std::vector<int>& rows, Tiles& tiles, ThreadPool* pool);

  // Once the tiles are set up: the row buffers.
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
  // walks.cpp
  bool cut_parts(int dir, const TileSet& t);
  void walk_part(WalkPart& P, Walk kind, int dir, const TileSet& now, const TileSet& first_tiles);
  int row_at(std::size_t p, int dir) const { return dir > 0 ? rows_[p] : rows_[rows_.size() - 1 - p]; }

  // sweeps.cpp: one row of a part.
  const Key* data_keys(WalkPart& P, int i, const TileSet& t);
  void fill_outside(WalkPart& P, int i, const std::uint64_t* active, const std::uint64_t* next, Key* keys);
  void first_sweep(WalkPart& P, int q, int dir, const TileSet& t);
  void second_sweep(WalkPart& P, int p, int dir, const TileSet& t);
  void midpoint_row(WalkPart& P, int i, const TileSet& t, RowCounts& counts);
  void prefetch_next(int p, int dir, const TileSet& t);

  Surface g_;
  std::vector<int>& rows_;
  Tiles& tiles_;
  ThreadPool* pool_;
  bool keep_all_ = false;
  bool first_alone_ = false;  // the current walk has first sweeps only
  std::vector<WalkPart> parts_;  // one per thread
  int used_ = 1;                 // parts the current walk uses
  std::vector<Key> far_row_;
  std::vector<std::int32_t> low_row_;
  std::vector<std::int64_t> prefix_;
};

}  // namespace tesk::dilation
