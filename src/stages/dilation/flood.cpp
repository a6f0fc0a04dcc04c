#include "stages/dilation/flood.h"

#include <algorithm>
#include <bit>

#include "core/thread_pool.h"

namespace tesk::dilation {

Flood::Flood(std::size_t capacity, int min_block_rows, ThreadPool* pool)
    : cap_(capacity), min_block_rows_(min_block_rows), pool_(pool) {}

// Cuts rows into blocks of about the same number of active tiles of t;
// returns their count.
int Flood::split_rows(const std::vector<int>& rows, const Tiles& tiles, const TileSet& t) {
  const std::size_t n = rows.size();
  int nb = 1;
  if (pool_ && pool_->size() > 1) {
    const std::size_t per = static_cast<std::size_t>(min_block_rows_);
    nb = static_cast<int>(std::min<std::size_t>(static_cast<std::size_t>(pool_->size()), std::max<std::size_t>(1, n / per)));
  }
  if (blocks_.size() < static_cast<std::size_t>(nb)) blocks_.resize(static_cast<std::size_t>(nb));
  std::vector<std::int64_t>& prefix = prefix_;
  prefix.assign(n + 1, 0);
  for (std::size_t r = 0; r < n; ++r) {
    const std::uint64_t* m = tiles.active(t, rows[r]);
    std::int64_t c = 1;  // a row without tiles still costs its scan
    c += tiles.count_bits(m);
    prefix[r + 1] = prefix[r] + c;
  }
  std::size_t from = 0;
  for (int k = 0; k < nb; ++k) {
    Block& B = blocks_[static_cast<std::size_t>(k)];
    B.begin = from;
    if (k + 1 == nb) {
      B.end = n;
    } else {
      const std::int64_t target = prefix[n] * (k + 1) / nb;
      B.end = static_cast<std::size_t>(std::lower_bound(prefix.begin() + static_cast<std::ptrdiff_t>(from),
                                                        prefix.end(), target) - prefix.begin());
      B.end = std::clamp(B.end, from, n);
    }
    from = B.end;
    B.lo = B.begin < B.end ? rows[B.begin] : 0;
    B.hi = B.begin < B.end ? rows[B.end - 1] : -1;
  }
  return nb;
}

// Runs f(block) for the nb blocks, on the pool's threads when there are
// several.
template <class F>
void Flood::run_blocks(int nb, F&& f) {
  if (nb == 1) {
    f(blocks_[0]);
    return;
  }
  pool_->for_range(0, nb, 1, [&](std::int64_t b, std::int64_t e, int) {
    for (std::int64_t k = b; k < e; ++k) f(blocks_[static_cast<std::size_t>(k)]);
  });
}


// Marks kFlooded every grown pixel still without data that is connected
// to a pixel written by this pass.  With several threads each block of
// rows floods from its own written pixels without leaving the block; a
// component that crosses a block edge is then flooded on across it from
// the two rows at the edge.  That finds everything: a pixel left out is
// next to a flooded or written pixel only across an edge.
bool Flood::run(const Surface& g, const std::vector<int>& rows, const Tiles& tiles, const TileSet& t,
                std::int64_t written, std::int64_t& visited_total, CancelCheck cancel) {
  if (written == 0) return true;
  if (cap_ == 0) return false;
  const int nb = split_rows(rows, tiles, t);
  std::atomic<bool> overflow{false};
  std::vector<std::int64_t> visits(static_cast<std::size_t>(nb), 0);
  run_blocks(nb, [&](Block& L) {
    if (L.begin == L.end) return;
    const std::size_t lo = g.index(L.lo, 0), hi = g.index(L.hi + 1, 0);
    const std::size_t cap = cap_;
    std::int64_t& visited = visits[static_cast<std::size_t>(&L - blocks_.data())];
    L.stack.clear();
    for (std::size_t r = L.begin; r < L.end && !overflow; ++r) {
      g.for_each_active(rows[r], [&](int, std::size_t x) {
        if (g.st(x) == kFresh && !overflow) flood_from(g, x, lo, hi, cap, L.stack, overflow, visited, cancel);
      });
    }
  });
  for (const std::int64_t v : visits) visited_total += v;
  if (overflow) return false;
  // Across the block edges, on the calling thread, unbounded by blocks.
  std::vector<std::uint32_t>& stack = stack_;
  stack.clear();
  const std::size_t all = g.index(g.nr, 0);
  for (int k = 1; k < nb; ++k) {
    const Block& L = blocks_[static_cast<std::size_t>(k)];
    if (L.begin == L.end || L.begin == 0 || rows[L.begin - 1] + 1 != L.lo) continue;
    for (const int i : {L.lo - 1, L.lo}) {
      const std::size_t row = g.index(i, 0);
      for (int j = 0; j < g.nc && !overflow; ++j) {
        const std::uint8_t s = g.st(row + static_cast<std::size_t>(j));
        if (s == kFresh || s == kFlooded)
          flood_from(g, row + static_cast<std::size_t>(j), 0, all, cap_, stack, overflow, visited_total, cancel);
      }
    }
  }
  return !overflow;
}

// Floods, within the pixels [lo, hi), every floodable pixel connected to
// the ring of x.
void Flood::flood_from(const Surface& g, std::size_t x, std::size_t lo, std::size_t hi, std::size_t cap, std::vector<std::uint32_t>& stack,
                std::atomic<bool>& overflow, std::int64_t& visited, CancelCheck cancel) {
  auto mark = [&](std::size_t q) {
    if (q < lo || q >= hi || !((kFloodable >> g.st(q)) & 1u)) return;
    if (stack.size() == cap) {
      overflow = true;
      return;
    }
    g.S[q] = static_cast<std::uint8_t>((g.S[q] & kBorder) | kFlooded);
    stack.push_back(static_cast<std::uint32_t>(q));
  };
  g.for_ring(x, [&](std::size_t q) {
    mark(q);
    while (!stack.empty() && !overflow) {
      const std::size_t y = stack.back();
      stack.pop_back();
      if ((++visited & 0xffff) == 0) cancel.poll();
      g.for_ring(y, mark);
    }
  });
  stack.clear();
}

}  // namespace tesk::dilation
