// The search for the components that can no longer change (see states.h):
// after a pass, every grown pixel still without data that is connected to a
// pixel the pass wrote is flagged kFlooded; the others are dropped by the
// next pass, after one more pass measures their layers.
//
// It runs only once the pixels still grown are few: before that nearly
// every component changes, and the search would cost more than it saves.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "stages/dilation/states.h"
#include "stages/progress.h"
#include "stages/dilation/tiles.h"

namespace tesk {
class ThreadPool;
}

namespace tesk::dilation {

class Flood {
 public:
  // capacity: the entries of each thread's stack (a pixel index each; 0
  // never floods); min_block_rows: the shortest block of rows a thread
  // takes.
  Flood(std::size_t capacity, int min_block_rows, ThreadPool* pool);

  // Floods from the pixels written by the pass (rows: the rows it grew; t:
  // their active tiles).  Returns false when it gave up (a stack
  // overflowed, or the capacity is 0): the next pass must then grow again
  // everything this pass grew.
  // cancel is polled every 2^16 pixels a thread visits.
  bool run(const Surface& g, const std::vector<int>& rows, const Tiles& tiles, const TileSet& t,
           std::int64_t written, std::int64_t& visited_total, CancelCheck cancel = {});

 private:
  // A block of rows: its part of the active row list, its first and last
  // rows, its stack.
  struct Block {
    std::size_t begin = 0, end = 0;
    int lo = 0, hi = -1;
    std::vector<std::uint32_t> stack;
  };

  int split_rows(const std::vector<int>& rows, const Tiles& tiles, const TileSet& t);
  template <class F>
  void run_blocks(int nb, F&& f);
  void flood_from(const Surface& g, std::size_t x, std::size_t lo, std::size_t hi, std::size_t cap,
                  std::vector<std::uint32_t>& stack, std::atomic<bool>& overflow, std::int64_t& visited,
                  CancelCheck cancel);

  std::size_t cap_;
  int min_block_rows_;
  ThreadPool* pool_;
  std::vector<Block> blocks_;
  std::vector<std::uint32_t> stack_;  // across the block edges
  std::vector<std::int64_t> prefix_;
};

}  // namespace tesk::dilation
