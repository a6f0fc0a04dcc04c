#include "stages/dilation/tiles.h"

#include <cstring>

#include "core/thread_pool.h"

namespace tesk::dilation {
namespace {

// A short gap between active tiles is walked too: cheaper than starting
// another run.
constexpr int kBridge = 4;

}  // namespace

void Tiles::setup(int nr, int nc) {
  nr_ = nr;
  nc_ = nc;
  nt_ = (nc + kTile - 1) / kTile;
  tw_ = (nt_ + 63) / 64;
  for (TileSet& t : sets_) {
    t.bits.assign(static_cast<std::size_t>(nr) * static_cast<std::size_t>(tw_), 0);
    t.stamp.assign(static_cast<std::size_t>(nr), 0);
  }
  none_.assign(static_cast<std::size_t>(tw_), 0);
}

void Tiles::mark(TileSet& t, const Surface& g, const std::vector<int>& rows, ThreadPool* pool, CancelCheck cancel) {
  t.pass = ++stamp_;
  // The state bits below kDead's: zero for data and dead pixels only.
  static_assert(kDead == 0x20 && kFlooded < 0x20 && kData == 0);
  constexpr std::uint64_t kStateLow = 0x1f1f1f1f1f1f1f1fULL;
  std::vector<std::int64_t> cover(pool ? static_cast<std::size_t>(pool->size()) : 1, 0);
  auto work = [&](std::int64_t r0, std::int64_t r1, int piece) {
    std::int64_t tiles = 0;
    for (std::int64_t r = r0; r < r1; ++r) {
      cancel.at_row(r, nc_);
      const int i = rows[static_cast<std::size_t>(r)];
      std::uint64_t* m = t.bits.data() + static_cast<std::size_t>(i) * static_cast<std::size_t>(tw_);
      std::fill(m, m + tw_, std::uint64_t{0});
      const std::uint8_t* s = g.S + g.index(i, 0);
      int last = -1;  // the last active tile
      for (int u = 0; u < nt_; ++u) {
        const int a = u * kTile;
        bool active = false;
        if (a + kTile <= nc_) {
          std::uint64_t w0, w1;
          std::memcpy(&w0, s + a, 8);
          std::memcpy(&w1, s + a + 8, 8);
          active = ((w0 | w1) & kStateLow) != 0;
        } else {
          for (int j = a; j < nc_; ++j) active |= (s[j] & 0x1f) != 0;
        }
        if (!active) continue;
        set_range(m, last >= 0 && u - last - 1 <= kBridge ? last + 1 : u, u + 1);
        last = u;
      }
      t.stamp[static_cast<std::size_t>(i)] = t.pass;
      tiles += count_bits(m);
    }
    cover[static_cast<std::size_t>(piece)] = tiles;
  };
  const auto n = static_cast<std::int64_t>(rows.size());
  if (pool && pool->size() > 1)
    pool->for_range(0, n, 64, work);
  else
    work(0, n, 0);
  t.cover = 0;
  for (const std::int64_t c : cover) t.cover += c;
}

void Tiles::widen(const std::uint64_t* m, std::uint64_t* out) const {
  for (int w = 0; w < tw_; ++w) {
    const std::uint64_t x = m[w];
    std::uint64_t y = x | (x << 1) | (x >> 1);
    if (w > 0) y |= m[w - 1] >> 63;
    if (w + 1 < tw_) y |= m[w + 1] << 63;
    out[w] = y;
  }
  if (nt_ % 64) out[tw_ - 1] &= (std::uint64_t{1} << (nt_ % 64)) - 1;
}

}  // namespace tesk::dilation
