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
  kReached = 2,    // reached by the growth of this pass
  kLayer1 = 3,     // no-data with a data pixel in its cross: layer 1 of this pass
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
    cap_ = limits.stack_capacity ? limits.stack_capacity : std::max<std::size_t>(4096, n / 16);
    flood_limit_ = limits.flood_limit ? limits.flood_limit : cap_;
    // Stack entries are 32-bit pixel indices; a larger grid never drops a
    // component.
    if (n > 0xffffffffULL) cap_ = 0;
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
    dying_layers_ = 0;
    grown_ = 0;
    first_layer();
    const int layers = grow();
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

  // The same walk from the last column to the first.
  template <class Visit>
  void for_each_active_row_reversed(int i, Visit&& visit) {
    const std::size_t row = index(i, 0);
    int j = nc_ - 1;
    while (j >= 0) {
      if (j >= 7) {
        std::uint64_t w;
        std::memcpy(&w, S_ + row + static_cast<std::size_t>(j - 7), sizeof w);
        w &= ~kSkippable;
        if (w == 0) {
          j -= 8;
          continue;
        }
        // Straight to the last byte that is not skipped.
        if constexpr (std::endian::native == std::endian::little) j -= std::countl_zero(w) / 8;
      }
      visit(j, row + static_cast<std::size_t>(j));
      --j;
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

  // Settles what the previous pass left (its written pixels become data,
  // the components it found unchanged are flagged or dropped), then layer
  // 1: every grown pixel with a data pixel in its cross takes the smallest
  // of them.  Keeps only the rows holding grown pixels active.
  void first_layer() {
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
        if (any) G_[x] = alti;
        S_[x] = border | dying | (any ? kLayer1 : kUnreached);
      });
      if (grows) rows_[kept++] = i;
    }
    rows_.resize(kept);
  }

  // The growth of a pass, layers 2 and beyond.  A pixel's layer d and value
  // v, compared as (d, v), satisfy: a data pixel counts as (1, its value), a
  // layer-1 pixel is (1, the smallest data value of its cross), and any other
  // grown pixel p is the smallest (d + 1, v) over the (d, v) of its ring.
  // That is the literal growth: a pixel of layer k >= 3 takes the smallest
  // value of its ring pixels of layer k - 1 (ring neighbours' layers differ
  // by at most one), a pixel of layer 2 the smallest value of its ring
  // pixels that are data or of layer 1.  So d is one more than the
  // chessboard distance to the nearest data or layer-1 pixel, and v the
  // smallest value among the nearest ones.  Every pixel on a shortest path
  // from a nearest one to p is nearer still, so no-data and in p's component:
  // the distance needs no obstacles, and for it one forward and one backward
  // sweep with the 3 x 3 neighbourhood are exact (a shortest path can always
  // take its steps down or to the right first).  The pair is compared as a
  // whole, so the value travels with the distance.
  //
  // d lives in itab during the sweeps (the grown pixels are no-data there)
  // and is put back to the marker afterwards.  Returns the deepest layer.
  int grow() {
    constexpr std::int32_t kFar = INT_MAX;
    for (const int i : rows_) {
      for_each_active_row(i, [&](int, std::size_t x) {
        const std::uint8_t s = st(x);
        if (s == kLayer1) I_[x] = 1;
        else if (s == kUnreached) I_[x] = kFar;
      });
    }
    // Takes the label of q into (d, v) if q offers a smaller one.
    auto offer = [&](std::size_t q, std::int32_t& d, std::int32_t& v) {
      const std::uint8_t s = st(q);
      std::int32_t dq;
      if (s == kData) dq = 1;
      else if (s == kLayer1 || s == kUnreached) dq = I_[q];
      else return;  // dead: never next to a grown pixel
      if (dq == kFar) return;
      const std::int32_t vq = G_[q];
      if (dq + 1 < d || (dq + 1 == d && vq < v)) {
        d = dq + 1;
        v = vq;
      }
    };
    const std::size_t w = static_cast<std::size_t>(nc_);
    auto relax = [&](int i, int j, std::size_t x, int di) {
      if (st(x) != kUnreached) return;
      ++visited_;
      std::int32_t d = I_[x];
      std::int32_t v = G_[x];
      const int k = i + di;
      if (k >= 0 && k < nr_) {
        const std::size_t y = di < 0 ? x - w : x + w;
        if (j > 0) offer(y - 1, d, v);
        offer(y, d, v);
        if (j + 1 < nc_) offer(y + 1, d, v);
      }
      if (di < 0 ? j > 0 : j + 1 < nc_) offer(di < 0 ? x - 1 : x + 1, d, v);
      I_[x] = d;
      G_[x] = v;
    };
    for (const int i : rows_) for_each_active_row(i, [&](int j, std::size_t x) { relax(i, j, x, -1); });
    for (auto r = rows_.rbegin(); r != rows_.rend(); ++r) {
      const int i = *r;
      for_each_active_row_reversed(i, [&](int j, std::size_t x) { relax(i, j, x, +1); });
    }
    int layers = 0;
    for (const int i : rows_) {
      for_each_active_row(i, [&](int, std::size_t x) {
        const std::uint8_t s = st(x);
        if (s != kLayer1 && s != kUnreached) return;
        const std::int32_t d = I_[x];
        I_[x] = kNoData;
        if (d == kFar) return;
        layers = std::max(layers, d);
        if (S_[x] & kDying) dying_layers_ = std::max(dying_layers_, d);
        set_state(x, kReached);
      });
    }
    return layers;
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
    std::vector<std::uint32_t>& stack = stack_;
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
  std::vector<std::uint32_t> stack_;  // the flood's, bounded by cap_
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
