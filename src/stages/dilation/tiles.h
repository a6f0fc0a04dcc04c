// The active tiles of the straight-line walks.
//
// Within a row the walks visit only the runs of active tiles: 16-pixel tiles
// holding a pixel that is neither data nor dead when the pass starts.
// Nothing changes outside them, and there a pixel's key after either sweep
// is its data key: a data pixel keeps its own (d = 1 beats any offered key),
// and a dead pixel's key is never read by a grown pixel.  So where the next
// row reads this row's keys outside its runs, the data keys are put in.  A
// run's chain may start from kFarKey: the pixel before it is data or dead,
// and a grown pixel beside a data pixel (in its cross) is of layer 1, whose
// own key no chained key beats.
#pragma once

#include <algorithm>
#include <bit>
#include <cstdint>
#include <vector>

#include "stages/dilation/states.h"
#include "stages/progress.h"

namespace tesk {
class ThreadPool;
}

namespace tesk::dilation {

constexpr int kTile = 16;

// The active tiles of one pass: words() words of bits a row; a row's bits
// are those of the pass when its stamp is the set's, none otherwise.
struct TileSet {
  std::vector<std::uint64_t> bits;
  std::vector<int> stamp;
  int pass = 0;
  std::int64_t cover = 0;  // active tiles, all rows together
};

// The tile geometry of a grid, and two tile sets: the current pass's and
// the next one's (a walk may sweep both).
class Tiles {
 public:
  void setup(int nr, int nc);

  int count() const { return nt_; }  // tiles a row
  int words() const { return tw_; }   // words of bits a row

  TileSet& current() { return sets_[current_]; }
  TileSet& next() { return sets_[1 - current_]; }
  void advance() { current_ = 1 - current_; }

  // Marks into t the active tiles of the given rows (on the pool's threads
  // when it has several).
  void mark(TileSet& t, const Surface& g, const std::vector<int>& rows, ThreadPool* pool, CancelCheck cancel = {});

  // Row i's bits in t (none outside the grid or for a row t did not mark).
  const std::uint64_t* active(const TileSet& t, int i) const {
    if (i < 0 || i >= nr_ || t.stamp[static_cast<std::size_t>(i)] != t.pass) return none_.data();
    return t.bits.data() + static_cast<std::size_t>(i) * static_cast<std::size_t>(tw_);
  }
  static bool on(const std::uint64_t* m, int tile) { return ((m[tile >> 6] >> (tile & 63)) & 1u) != 0; }
  std::int64_t count_bits(const std::uint64_t* m) const {
    std::int64_t c = 0;
    for (int w = 0; w < tw_; ++w) c += std::popcount(m[w]);
    return c;
  }

  // Calls f(a, b) for each run [a, b) of pixels made of consecutive tiles
  // set in m.
  template <class F>
  void for_runs(const std::uint64_t* m, F&& f) const {
    int t = 0;
    while (t < nt_) {
      int w = t >> 6;
      std::uint64_t bits = m[w] & (~std::uint64_t{0} << (t & 63));
      while (bits == 0) {
        if (++w >= tw_) return;
        bits = m[w];
      }
      const int t0 = w * 64 + std::countr_zero(bits);
      std::uint64_t gaps = ~m[w] & (~std::uint64_t{0} << (t0 & 63));
      while (gaps == 0 && ++w < tw_) gaps = ~m[w];
      const int t1 = w >= tw_ ? nt_ : std::min(nt_, w * 64 + std::countr_zero(gaps));
      f(t0 * kTile, std::min(nc_, t1 * kTile));
      t = t1;
    }
  }

  // out: the tiles of m and their left and right neighbours.
  void widen(const std::uint64_t* m, std::uint64_t* out) const;

  // Sets in m the tiles [t0, t1).
  void set_range(std::uint64_t* m, int t0, int t1) const {
    for (int t = t0; t < t1; ++t) m[t >> 6] |= std::uint64_t{1} << (t & 63);
  }

 private:
  int nr_ = 0;
  int nc_ = 0;
  int nt_ = 0;
  int tw_ = 0;
  TileSet sets_[2];
  int current_ = 0;
  int stamp_ = 0;
  std::vector<std::uint64_t> none_;
};

}  // namespace tesk::dilation
