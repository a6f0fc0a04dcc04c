#include "stages/dilation_fast.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <vector>

#include "core/units.h"

namespace tesk {
namespace {

// Pixel states kept in the byte grid during the dilation.  A data pixel of
// itab is kData for the whole stage (its grown value is its own value); the
// other states describe a no-data pixel within the current pass.
enum : std::uint8_t {
  kData = 0,       // data pixel of itab
  kUnreached = 1,  // no-data, not reached by the growth (yet)
  kReached = 2,    // reached in a layer older than the previous one
  kMarkA = 3,      // reached in an odd layer not yet expanded
  kMarkB = 4,      // reached in an even layer not yet expanded
  kCommit = 5,     // midpoint written into itab this pass, grown value not yet replaced
};
// Added to the state of the pixels of the first and last rows and columns,
// whose neighbourhoods must be clipped; the others use fixed offsets.
constexpr std::uint8_t kBorder = 0x80;
constexpr std::uint8_t kStateBits = 0x7f;

class Grower {
 public:
  Grower(IntGrid& itab, IntGrid& grown, ByteGrid& state, std::size_t capacity)
      : nr_(itab.rows()), nc_(itab.cols()), I_(itab.data()), G_(grown.data()), S_(state.data()) {
    const std::size_t n = itab.size();
    cap_ = capacity ? capacity : std::max<std::size_t>(4096, n / 16);
    // Frontier entries are 32-bit pixel indices; a larger grid always finds
    // its frontiers by scanning.
    if (n > 0xffffffffULL) cap_ = 0;
    front_.reserve(cap_);
    next_.reserve(cap_);
  }

  // Marks the states and the grown surface of data pixels; returns the
  // number of no-data pixels.
  std::int64_t setup() {
    std::int64_t nodata = 0;
    const std::size_t n = static_cast<std::size_t>(nr_) * static_cast<std::size_t>(nc_);
    for (std::size_t x = 0; x < n; ++x) {
      const bool nd = I_[x] == kNoData;
      S_[x] = nd ? kUnreached : kData;
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
    return nodata;
  }

  // One pass; returns the number of pixels written into itab.
  std::int64_t pass(std::int64_t& sweeps) {
    front_.clear();
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
        for (const std::uint32_t f : front_) found += expand(f, prev, cur, next_overflow);
      } else {
        const std::size_t n = static_cast<std::size_t>(nr_) * static_cast<std::size_t>(nc_);
        for (std::size_t f = 0; f < n; ++f)
          if (st(f) == prev) found += expand(f, prev, cur, next_overflow);
      }
      if (found > 0) layers = k;
      front_.swap(next_);
      front_overflow = next_overflow;
    }
    sweeps += 1 + std::max(layers, 1);
    return midpoints();
  }

  std::int64_t visited() const { return visited_; }

 private:
  std::size_t index(int i, int j) const {
    return static_cast<std::size_t>(i) * static_cast<std::size_t>(nc_) + static_cast<std::size_t>(j);
  }
  // Whether the eight states from x on are all interior data pixels (zero
  // bytes): the scans skip them a word at a time.
  bool all_interior_data(std::size_t x) const {
    std::uint64_t w;
    std::memcpy(&w, S_ + x, sizeof w);
    return w == 0;
  }
  std::uint8_t st(std::size_t x) const { return S_[x] & kStateBits; }
  void set_state(std::size_t x, std::uint8_t s) { S_[x] = static_cast<std::uint8_t>((S_[x] & kBorder) | s); }

  void push(std::vector<std::uint32_t>& list, std::size_t x, bool& overflow) {
    if (list.size() < cap_)
      list.push_back(static_cast<std::uint32_t>(x));
    else
      overflow = true;
  }

  // Layer 1: every no-data pixel with a data pixel in its cross takes the
  // smallest of them.  Also resets the states of the other no-data pixels.
  std::int64_t first_layer(bool& overflow) {
    std::int64_t found = 0;
    for (int i = 0; i < nr_; ++i) {
      const std::size_t row = index(i, 0);
      for (int j = 0; j < nc_; ++j) {
        const std::size_t x = row + static_cast<std::size_t>(j);
        if (j + 8 <= nc_ && all_interior_data(x)) {
          j += 7;
          continue;
        }
        const std::uint8_t sx = S_[x];
        if (sx == kData) continue;  // interior data pixel
        if ((sx & kStateBits) == kData) continue;
        ++visited_;
        bool any = false;
        std::int32_t alti = INT_MAX;
        if (i > 0 && st(x - nc_) == kData) {
          any = true;
          alti = std::min(alti, G_[x - nc_]);
        }
        if (j > 0 && st(x - 1) == kData) {
          any = true;
          alti = std::min(alti, G_[x - 1]);
        }
        if (j + 1 < nc_ && st(x + 1) == kData) {
          any = true;
          alti = std::min(alti, G_[x + 1]);
        }
        if (i + 1 < nr_ && st(x + nc_) == kData) {
          any = true;
          alti = std::min(alti, G_[x + nc_]);
        }
        if (any) {
          G_[x] = alti;
          set_state(x, kMarkA);
          push(front_, x, overflow);
          ++found;
        } else {
          set_state(x, kUnreached);
        }
      }
    }
    return found;
  }

  // Expands the frontier pixel f of the previous layer: each unreached pixel
  // of its ring joins the current layer with the smallest value among its
  // ring pixels reached before this layer.  Returns how many joined.
  std::int64_t expand(std::size_t f, std::uint8_t prev, std::uint8_t cur, bool& overflow) {
    ++visited_;
    set_state(f, kReached);
    const unsigned sources = (1u << kData) | (1u << kReached) | (1u << prev);
    std::int64_t found = 0;
    if (!(S_[f] & kBorder)) {
      for (const std::ptrdiff_t o : ring_) {
        const std::size_t q = f + static_cast<std::size_t>(o);
        if (st(q) != kUnreached) continue;
        join(q, sources, cur, overflow);
        ++found;
      }
      return found;
    }
    const int fi = static_cast<int>(f / static_cast<std::size_t>(nc_));
    const int fj = static_cast<int>(f % static_cast<std::size_t>(nc_));
    for (int qi = std::max(fi - 1, 0); qi <= std::min(fi + 1, nr_ - 1); ++qi) {
      for (int qj = std::max(fj - 1, 0); qj <= std::min(fj + 1, nc_ - 1); ++qj) {
        const std::size_t q = index(qi, qj);
        if (st(q) != kUnreached) continue;
        join(q, sources, cur, overflow);
        ++found;
      }
    }
    return found;
  }

  // q joins the current layer: the smallest value among its ring pixels
  // whose state is one of the sources (a bit set of states).
  void join(std::size_t q, unsigned sources, std::uint8_t cur, bool& overflow) {
    ++visited_;
    std::int32_t alti = INT_MAX;
    if (!(S_[q] & kBorder)) {
      for (const std::ptrdiff_t o : ring_) {
        const std::size_t r = q + static_cast<std::size_t>(o);
        const std::int32_t v = (sources >> st(r)) & 1u ? G_[r] : INT_MAX;
        alti = std::min(alti, v);
      }
    } else {
      const int qi = static_cast<int>(q / static_cast<std::size_t>(nc_));
      const int qj = static_cast<int>(q % static_cast<std::size_t>(nc_));
      for (int ri = std::max(qi - 1, 0); ri <= std::min(qi + 1, nr_ - 1); ++ri) {
        for (int rj = std::max(qj - 1, 0); rj <= std::min(qj + 1, nc_ - 1); ++rj) {
          const std::size_t r = index(ri, rj);
          if ((sources >> st(r)) & 1u) alti = std::min(alti, G_[r]);
        }
      }
    }
    G_[q] = alti;
    set_state(q, cur);
    push(next_, q, overflow);
  }

  // The midpoints of the reached pixels, written into itab.  The grown value
  // of a written pixel becomes its new data value one row later, once the
  // rows that read it as grown value are done.
  std::int64_t midpoints() {
    std::int64_t modif = 0;
    std::vector<int> prev_row;
    std::vector<int> cur_row;
    for (int i = 0; i < nr_; ++i) {
      const std::size_t row = static_cast<std::size_t>(i) * static_cast<std::size_t>(nc_);
      cur_row.clear();
      for (int j = 0; j < nc_; ++j) {
        const std::size_t x = row + static_cast<std::size_t>(j);
        if (j + 8 <= nc_ && all_interior_data(x)) {
          j += 7;
          continue;
        }
        if (st(x) != kReached) continue;
        ++visited_;
        const std::int32_t g = G_[x];
        bool any = false;
        std::int32_t alt = 0;
        if (i > 0 && G_[x - nc_] > g) any = true, alt = G_[x - nc_];
        if (j > 0 && G_[x - 1] > g) any = true, alt = G_[x - 1];
        if (j + 1 < nc_ && G_[x + 1] > g) any = true, alt = G_[x + 1];
        if (i + 1 < nr_ && G_[x + nc_] > g) any = true, alt = G_[x + nc_];
        if (!any) continue;
        const std::int64_t sum = static_cast<std::int64_t>(alt) + g;
        const std::int32_t m = static_cast<std::int32_t>(static_cast<double>(sum) * 0.5 + 0.5);
        if (m == kNoData) continue;
        I_[x] = m;
        set_state(x, kCommit);
        cur_row.push_back(j);
        ++modif;
      }
      if (i > 0) settle(i - 1, prev_row);
      prev_row.swap(cur_row);
    }
    if (nr_ > 0) settle(nr_ - 1, prev_row);
    return modif;
  }

  void settle(int i, const std::vector<int>& cols) {
    const std::size_t row = static_cast<std::size_t>(i) * static_cast<std::size_t>(nc_);
    for (const int j : cols) {
      G_[row + static_cast<std::size_t>(j)] = I_[row + static_cast<std::size_t>(j)];
      set_state(row + static_cast<std::size_t>(j), kData);
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
  std::int64_t visited_ = 0;
  std::ptrdiff_t ring_[8] = {};
};

}  // namespace

FastDilationStats dilate_fast(IntGrid& itab, IntGrid& grown, ByteGrid& state, const PassCallback& on_pass,
                              std::size_t frontier_capacity) {
  FastDilationStats stats;
  Grower grower(itab, grown, state, frontier_capacity);
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
  return stats;
}

}  // namespace tesk
