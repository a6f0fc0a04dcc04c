// Lanes of columns.
//
// With more than one thread, a walk whose rows hold enough active tiles
// cuts the columns into lanes of whole tiles, one per thread, and every
// lane walks every active row over its own columns (other walks are cut
// into parts of the rows, or walked on one thread: see walk()).  A row's
// chains run from lane to lane, and a row reads the row before it (in the
// walk's order) and its own cross neighbours one pixel across the lanes'
// edges, so the lanes keep step (a walk of first sweeps alone less
// closely: see loose_first_walk).  Upstream
// and downstream follow the chains: the lane on the left when they run to
// the right, on the right otherwise.  A lane's edge is its first pixel
// in the chains' order, the one its upstream lane reads: the lane puts
// its keys there first, and says so, before it sweeps the rest of the
// row.  Before a sweep a lane waits for the lane upstream to have swept
// that row (its carry) and for the lane downstream to have put its edge
// keys of the row before; before a first sweep in a walk with midpoints,
// also for the lane downstream to have taken the midpoints of the row
// being swept (their commits, which the sweep reads as data, and their
// reading of the grown surface, which the sweep changes).  Every sweep then
// computes what one sweep over whole rows computes, and the result does
// not depend on the number of lanes.
#pragma once

#include <atomic>
#include <cstdint>
#include <utility>
#include <vector>

#include "stages/dilation/keys.h"
#include "stages/dilation/states.h"

namespace tesk::dilation {

using dilation_keys::Key;

// A lane of columns of the straight-line walks (see above):
// its row buffers and counts.
struct ColumnLane {
  int t0 = 0, t1 = 0;  // its tiles
  int c0 = 0, c1 = 0;  // its columns
  std::vector<Key> dk[3];
  int dk_row[3] = {-2, -2, -2};
  std::vector<std::int32_t> g_pad, m_row, m1, m2;
  std::vector<std::uint64_t> own, tiles_a, tiles_b;
  std::vector<std::pair<int, int>> runs;
  std::vector<std::uint8_t> grew;  // by walk position: the first sweep grew a pixel of that row
  RowCounts first, second, mid;    // of the walk's sweeps and midpoints
  int pb = 0, pe = 0;              // the positions of the walk it takes
  // The keys of the last three rows of each sweep: the lane's own, or
  // shared by the lanes of one walk.
  std::vector<Key> own_first[3], own_second[3];
  std::vector<Key>* first_keys = nullptr;
  std::vector<Key>* second_keys = nullptr;
  bool shared = false;  // the lanes share their keys in walks that keep step
  // A walk of first sweeps alone: the keys at the lane's first and last
  // pixels, by walk position, for the lanes beside it.
  std::vector<Key> edge_keys, end_keys;
};

// How far a lane has got in the current walk.
struct alignas(64) Progress {
  std::atomic<int> second{-1};       // the last row position whose second sweep is done
  std::atomic<int> second_edge{-1};  // ... whose second sweep's edge keys are put
  std::atomic<int> first{-1};        // the last row position whose first sweep is done
  std::atomic<int> first_edge{-1};   // ... whose first sweep's edge keys are put
  std::atomic<int> mid{-1};          // the last step whose midpoints are done
  std::atomic<int> step{-1};         // the last step done
};

// Publishes a lane's progress and wakes the lanes waiting for it.
inline void publish(std::atomic<int>& a, int v) {
  a.store(v, std::memory_order_release);
  a.notify_all();
}

}  // namespace tesk::dilation
