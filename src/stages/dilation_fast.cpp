#include "stages/dilation_fast.h"

#include <algorithm>
#include <bit>
#include <climits>
#include <cstring>
#include <vector>

#include "core/units.h"

namespace tesk {
namespace {

// Pixel states kept in the byte grid during the dilation (the low six bits).
// A data pixel of itab is kData; the other states describe a no-data pixel.
//
// Why pixels can be dropped for good: call two no-data pixels connected when
// they are 8-neighbours, and a component a maximal connected set of them.
// Everything a pass computes in a component (layers, grown values,
// midpoints) reads only the component and the data pixels around it, since
// growth steps and cross neighbours never leave it except onto data pixels.
// A pixel a pass writes cannot be an 8-neighbour of another component (they
// would be one).  So a component in which a pass wrote nothing is grown
// identically, and again writes nothing, in every later pass: it is dead.
// After a pass, the components that may still change are exactly those
// connected to a pixel the pass wrote; a flood from the written pixels finds
// them.  The set grown by a pass is therefore always a union of whole
// components, and a grown pixel never has a dead 8-neighbour.
//
// Each dead component's layer count is still part of the sweep count of
// every later pass; it is measured once, in one extra pass during which the
// component is grown (flagged kDying) and then dropped.
enum : std::uint8_t {
  kData = 0,       // data pixel of itab
  kUnreached = 1,  // no-data, grown this pass, not reached by the growth (yet)
  kReached = 2,    // reached in a layer older than the previous one
  kMarkA = 3,      // reached in an odd layer not yet expanded
  kMarkB = 4,      // reached in an even layer not yet expanded
  kCommit = 5,     // midpoint written into itab this pass, grown value not yet replaced
  kFresh = 6,      // written by the pass just done: a data pixel from the next pass on
  kFlooded = 7,    // no-data, connected to a pixel written by the pass just done
  kDead = 0x20,    // no-data pixel of a component that can no longer change
};
constexpr std::uint8_t kStateBits = 0x3f;
// Flags: a no-data pixel grown only to measure its component's layer count
// before it is dropped; a pixel of the first or last row or column, whose
// neighbourhoods must be clipped (the others use fixed offsets).
constexpr std::uint8_t kDying = 0x40;
constexpr std::uint8_t kBorder = 0x80;

// The scans skip eight interior data or dead pixels at a time: a word whose
// bytes are each 0 or kDead.
constexpr std::uint64_t kSkippable = 0x2020202020202020ULL;

constexpr std::uint64_t bit(std::uint8_t s) { return std::uint64_t{1} << s; }
constexpr std::uint64_t kDataStates = bit(kData) | bit(kFresh);
constexpr std::uint64_t kFloodable = bit(kUnreached) | bit(kReached);

class Grower {
 public:
  Grower(IntGrid& itab, IntGrid& grown, ByteGrid& state, FastDilationLimits limits)
      : nr_(itab.rows()), nc_(itab.cols()), I_(itab.data()), G_(grown.data()), S_(state.data()) {
    const std::size_t n = itab.size();
    cap_ = limits.frontier_capacity ? limits.frontier_capacity : std::max<std::size_t>(4096, n / 16);
    flood_limit_ = limits.flood_limit ? limits.flood_limit : cap_;
    // List entries are 32-bit pixel indices; a larger grid always finds its
    // frontiers by scanning and never drops a component.
    if (n > 0xffffffffULL) cap_ = 0;
    front_.reserve(cap_);
    next_.reserve(cap_);
  }

  // Marks the states and the grown surface of data pixels; every no-data
  // pixel is grown by the first pass.  Returns the number of no-data pixels.
  std::int64_t setup() {
    std::int64_t nodata = 0;
    const std::size_t n = static_cast<std::size_t>(nr_) * static_cast<std::size_t>(nc_);
    for (std::size_t x = 0; x < n; ++x) {
      const bool nd = I_[x] == kNoData;
      S_[x] = nd ? kFlooded : kData;
      G_[x] = I_[x];
      nodata += nd;
    }
    if (n == 0) return 0;
    for (int i = 0; i < nr_; ++i) {
      S_[index(i, 0)] |= kBorder;
      S_[index(i, nc_ - 1)] |= kBorder;
    }
    for (int j = 0; j < nc_; ++j) {
      S_[index(0, j)] |= kBorder;
      S_[index(nr_ - 1, j)] |= kBorder;
    }
    const std::ptrdiff_t w = nc_;
    const std::ptrdiff_t off[8] = {-w - 1, -w, -w + 1, -1, 1, w - 1, w, w + 1};
    std::copy(off, off + 8, ring_);
    rows_.resize(static_cast<std::size_t>(nr_));
    for (int i = 0; i < nr_; ++i) rows_[static_cast<std::size_t>(i)] = i;
    return nodata;
  }

  // One pass; returns the number of pixels written into itab.
  std::int64_t pass(std::int64_t& sweeps) {
    front_.clear();
    dying_layers_ = 0;
    grown_ = 0;
    bool front_overflow = false;
    std::int64_t found = first_layer(front_overflow);
    int layers = found > 0 ? 1 : 0;
    for (int k = 2; found > 0; ++k) {
      const std::uint8_t prev = (k - 1) % 2 ? kMarkA : kMarkB;
      const std::uint8_t cur = k % 2 ? kMarkA : kMarkB;
      next_.clear();
      bool next_overflow = false;
      found = 0;
      if (!front_overflow) {
        for (const std::uint32_t f : front_) found += expand(f, cur, k, next_overflow);
      } else {
        for_each_in_state(prev, [&](std::size_t f) { found += expand(f, cur, k, next_overflow); });
      }
      if (found > 0) layers = k;
      front_.swap(next_);
      front_overflow = next_overflow;
    }
    // The literal passes sweep the whole grid: one sweep per layer of the
    // deepest component, dead ones included, plus the sweep that finds
    // nothing.
    sweeps += 1 + std::max({layers, dead_layers_, 1});
    const std::int64_t modif = midpoints();
    // Until the pixels still grown are few, nearly every component changes:
    // everything grown is grown again.
    if (static_cast<std::uint64_t>(grown_ - modif) <= flood_limit_)
      flood(modif);
    else
      keep_all_ = true;
    dead_layers_ = std::max(dead_layers_, dying_layers_);
    return modif;
  }

  std::int64_t visited() const { return visited_; }
  std::int64_t dropped() const { return dropped_; }

 private:
  std::size_t index(int i, int j) const {
    return static_cast<std::size_t>(i) * static_cast<std::size_t>(nc_) + static_cast<std::size_t>(j);
  }
  std::uint8_t st(std::size_t x) const { return S_[x] & kStateBits; }
  // Changes the state, keeping the flags.
  void set_state(std::size_t x, std::uint8_t s) {
    S_[x] = static_cast<std::uint8_t>((S_[x] & (kBorder | kDying)) | s);
  }

  // Calls visit(j, x) for every pixel of row i except interior data and
  // dead pixels, which are skipped a word at a time.  visit may change any
  // state; the bytes are read again after each call.
  template <class Visit>
  void for_each_active_row(int i, Visit&& visit) {
    const std::size_t row = index(i, 0);
    int j = 0;
    while (j < nc_) {
      if (j + 8 <= nc_) {
        std::uint64_t w;
        std::memcpy(&w, S_ + row + static_cast<std::size_t>(j), sizeof w);
        w &= ~kSkippable;
        if (w == 0) {
          j += 8;
          continue;
        }
        // Straight to the first byte that is not skipped.
        if constexpr (std::endian::native == std::endian::little) j += std::countr_zero(w) / 8;
      }
      visit(j, row + static_cast<std::size_t>(j));
      ++j;
    }
  }

  // Calls visit(x) for every pixel of the active rows whose state is s,
  // eight pixels at a time: a word with no byte in state s is skipped.
  // visit may change any state; the bytes are read again after each call.
  template <class Visit>
  void for_each_in_state(std::uint8_t s, Visit&& visit) {
    constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
    constexpr std::uint64_t kStates = kOnes * kStateBits;
    constexpr std::uint64_t kHigh = kOnes * 0x80;
    for (const int i : rows_) {
      const std::size_t row = index(i, 0);
      int j = 0;
      while (j < nc_) {
        if (j + 8 <= nc_) {
          std::uint64_t w;
          std::memcpy(&w, S_ + row + static_cast<std::size_t>(j), sizeof w);
          // Bytes in state s become zero; the lowest flagged byte of the
          // zero-byte test is always a true zero (flags above it may not be).
          const std::uint64_t m = (w & kStates) ^ (kOnes * s);
          const std::uint64_t z = (m - kOnes) & ~m & kHigh;
          if (z == 0) {
            j += 8;
            continue;
          }
          if constexpr (std::endian::native == std::endian::little) j += std::countr_zero(z) / 8;
        }
        const std::size_t x = row + static_cast<std::size_t>(j);
        if (st(x) == s) visit(x);
        ++j;
      }
    }
  }

  // Calls f(q) for each pixel q of the ring around x, clipped to the grid.
  template <class F>
  void for_ring(std::size_t x, F&& f) const {
    if (!(S_[x] & kBorder)) {
      for (const std::ptrdiff_t o : ring_) f(x + static_cast<std::size_t>(o));
      return;
    }
    const int xi = static_cast<int>(x / static_cast<std::size_t>(nc_));
    const int xj = static_cast<int>(x % static_cast<std::size_t>(nc_));
    for (int qi = std::max(xi - 1, 0); qi <= std::min(xi + 1, nr_ - 1); ++qi)
      for (int qj = std::max(xj - 1, 0); qj <= std::min(xj + 1, nc_ - 1); ++qj)
        if (qi != xi || qj != xj) f(index(qi, qj));
  }

  void push(std::vector<std::uint32_t>& list, std::size_t x, bool& overflow) {
    if (list.size() < cap_)
      list.push_back(static_cast<std::uint32_t>(x));
    else
      overflow = true;
  }

  // Settles what the previous pass left (its written pixels become data,
  // the components it found unchanged are flagged or dropped), then layer
  // 1: every grown pixel with a data pixel in its cross takes the smallest
  // of them.  Keeps only the rows holding grown pixels active.
  std::int64_t first_layer(bool& overflow) {
    std::int64_t found = 0;
    std::size_t kept = 0;
    for (std::size_t r = 0; r < rows_.size(); ++r) {
      const int i = rows_[r];
      bool grows = false;
      for_each_active_row(i, [&](int j, std::size_t x) {
        const std::uint8_t b = S_[x];
        const std::uint8_t border = b & kBorder;
        const std::uint8_t s = b & kStateBits;
        if (s == kData || s == kDead) return;
        if (s == kFresh) {
          S_[x] = border | kData;
          return;
        }
        std::uint8_t dying = 0;
        if (s != kFlooded) {
          // Grown by the last pass but connected to nothing it wrote.
          if (b & kDying) {
            S_[x] = border | kDead;
            ++dropped_;
            return;
          }
          if (!keep_all_) dying = kDying;
        }
        grows = true;
        ++grown_;
        ++visited_;
        bool any = false;
        std::int32_t alti = INT_MAX;
        auto source = [&](std::size_t q) {
          if ((kDataStates >> st(q)) & 1u) {
            any = true;
            alti = std::min(alti, G_[q]);
          }
        };
        if (i > 0) source(x - static_cast<std::size_t>(nc_));
        if (j > 0) source(x - 1);
        if (j + 1 < nc_) source(x + 1);
        if (i + 1 < nr_) source(x + static_cast<std::size_t>(nc_));
        if (any) {
          G_[x] = alti;
          S_[x] = border | dying | kMarkA;
          push(front_, x, overflow);
          ++found;
          if (dying) dying_layers_ = std::max(dying_layers_, 1);
        } else {
          S_[x] = border | dying | kUnreached;
        }
      });
      if (grows) rows_[kept++] = i;
    }
    rows_.resize(kept);
    return found;
  }

  // Expands the frontier pixel f of the previous layer k - 1: each unreached
  // pixel of its ring joins layer k.  A pixel of layer k takes the smallest
  // value among its ring pixels reached before layer k, and those that can
  // hold the smallest are exactly the pixels of layer k - 1 next to it: it
  // has no ring pixel of a layer below k - 1 (it would be in the layer after
  // that one); a data pixel of its ring is diagonal (layer 1 would hold it
  // otherwise), so k = 2 and each of the two pixels between them is in
  // layer 1 with a value no larger (the data pixel is in its cross).  So f
  // gives its value to the ring pixels of layer k it meets, each keeping the
  // smallest it is given.  Returns how many joined.
  std::int64_t expand(std::size_t f, std::uint8_t cur, int k, bool& overflow) {
    ++visited_;
    set_state(f, kReached);
    std::int64_t found = 0;
    const std::int32_t v = G_[f];
    auto give = [&](std::size_t q) {
      const std::uint8_t s = st(q);
      if (s == cur) {
        G_[q] = std::min(G_[q], v);
      } else if (s == kUnreached) {
        ++visited_;
        G_[q] = v;
        set_state(q, cur);
        push(next_, q, overflow);
        ++found;
      }
    };
    if (!(S_[f] & kBorder)) {
      for (const std::ptrdiff_t o : ring_) give(f + static_cast<std::size_t>(o));
    } else {
      for_ring(f, give);
    }
    // f and what it reached lie in one component, dying or not.
    if (found > 0 && (S_[f] & kDying)) dying_layers_ = std::max(dying_layers_, k);
    return found;
  }

  // The midpoints of the reached pixels, written into itab.  The grown value
  // of a written pixel becomes its new data value one row later, once the
  // rows that read it as grown value are done.
  std::int64_t midpoints() {
    std::int64_t modif = 0;
    std::vector<int> prev_row;
    std::vector<int> cur_row;
    int prev_i = -1;
    for (const int i : rows_) {
      cur_row.clear();
      for_each_active_row(i, [&](int j, std::size_t x) {
        if (st(x) != kReached) return;
        ++visited_;
        const std::int32_t g = G_[x];
        bool any = false;
        std::int32_t alt = 0;
        if (i > 0 && G_[x - nc_] > g) any = true, alt = G_[x - nc_];
        if (j > 0 && G_[x - 1] > g) any = true, alt = G_[x - 1];
        if (j + 1 < nc_ && G_[x + 1] > g) any = true, alt = G_[x + 1];
        if (i + 1 < nr_ && G_[x + nc_] > g) any = true, alt = G_[x + nc_];
        if (!any) return;
        const std::int64_t sum = static_cast<std::int64_t>(alt) + g;
        const std::int32_t m = static_cast<std::int32_t>(static_cast<double>(sum) * 0.5 + 0.5);
        if (m == kNoData) return;
        I_[x] = m;
        set_state(x, kCommit);
        cur_row.push_back(j);
        ++modif;
      });
      // Rows not active hold no grown pixel: nothing there reads row prev_i.
      if (prev_i >= 0) settle(prev_i, prev_row);
      prev_row.swap(cur_row);
      prev_i = i;
    }
    if (prev_i >= 0) settle(prev_i, prev_row);
    return modif;
  }

  void settle(int i, const std::vector<int>& cols) {
    const std::size_t row = index(i, 0);
    for (const int j : cols) {
      const std::size_t x = row + static_cast<std::size_t>(j);
      G_[x] = I_[x];
      S_[x] = static_cast<std::uint8_t>((S_[x] & kBorder) | kFresh);
    }
  }

  // Marks kFlooded every grown pixel still without data that is connected
  // to a pixel written by this pass.  The stack is bounded: when it
  // overflows, the next pass keeps growing everything this pass grew.
  void flood(std::int64_t modif) {
    keep_all_ = false;
    if (modif == 0) return;
    std::vector<std::uint32_t>& stack = next_;
    stack.clear();
    if (cap_ == 0) {
      keep_all_ = true;
      return;
    }
    auto mark = [&](std::size_t q) {
      if (keep_all_ || !((kFloodable >> st(q)) & 1u)) return;
      if (stack.size() == cap_) {
        keep_all_ = true;
        return;
      }
      S_[q] = static_cast<std::uint8_t>((S_[q] & kBorder) | kFlooded);
      stack.push_back(static_cast<std::uint32_t>(q));
    };
    for (const int i : rows_) {
      for_each_active_row(i, [&](int, std::size_t x) {
        if (keep_all_ || st(x) != kFresh) return;
        for_ring(x, [&](std::size_t q) {
          mark(q);
          while (!stack.empty() && !keep_all_) {
            const std::size_t y = stack.back();
            stack.pop_back();
            ++visited_;
            for_ring(y, mark);
          }
        });
      });
      if (keep_all_) return;
    }
  }

  int nr_;
  int nc_;
  std::int32_t* I_;
  std::int32_t* G_;
  std::uint8_t* S_;
  std::size_t cap_ = 0;
  std::vector<std::uint32_t> front_;
  std::vector<std::uint32_t> next_;
  std::vector<int> rows_;       // rows holding pixels grown by the current pass, increasing
  std::size_t flood_limit_ = 0;
  bool keep_all_ = false;       // no flood after the last pass, or it gave up: all it grew stays grown
  std::int64_t grown_ = 0;      // pixels grown by the current pass
  std::int64_t dropped_ = 0;
  int dying_layers_ = 0;        // deepest layer of the components grown for the last time
  int dead_layers_ = 0;         // deepest layer of the dropped components
  std::int64_t visited_ = 0;
  std::ptrdiff_t ring_[8] = {};
};

}  // namespace

FastDilationStats dilate_fast(IntGrid& itab, IntGrid& grown, ByteGrid& state, const PassCallback& on_pass,
                              FastDilationLimits limits) {
  FastDilationStats stats;
  Grower grower(itab, grown, state, limits);
  std::int64_t nodata = grower.setup();
  std::int64_t modif = 1;
  while (modif > 0) {
    PassReport report;
    report.degree = stats.passes + 1;
    report.to_treat = nodata;
    report.previous_modified = stats.passes > 0 ? modif : 0;
    if (on_pass) on_pass(report);
    ++stats.passes;
    modif = grower.pass(stats.growth_sweeps);
    nodata -= modif;
  }
  stats.pixels_visited = grower.visited();
  stats.pixels_dropped = grower.dropped();
  return stats;
}

}  // namespace tesk
