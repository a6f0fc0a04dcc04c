#include "stages/gap_filling_fast.h"

#include <algorithm>
#include <bit>
#include <climits>
#include <cstring>
#include <vector>

#include "core/units.h"
#include "stages/gap_filling.h"
#include "core/thread_pool.h"

namespace tesk {
namespace {

constexpr std::uint8_t kThisSweep = 1;
constexpr std::uint8_t kNextSweep = 2;

// Candidate columns of one row for the current and the next sweep: flags in
// the byte grid plus the range of columns holding them (lo > hi: none).
struct RowRange {
  int lo = INT_MAX;
  int hi = -1;
  void add(int j) {
    lo = std::min(lo, j);
    hi = std::max(hi, j);
  }
  bool empty() const { return lo > hi; }
};

constexpr int kBlock = 16;

// Whether one of the kBlock values at p is the no-data marker (a loop
// without an early exit, so that it runs in vector registers).
inline bool holds_no_data(const std::int32_t* p) {
  int any = 0;
  for (int k = 0; k < kBlock; ++k) any |= p[k] == kNoData;
  return any != 0;
}

class Filler {
 public:
  Filler(IntGrid& itab, ByteGrid& flags, ThreadPool* pool, CancelCheck cancel)
      : nr_(itab.rows()), nc_(itab.cols()), I_(itab.data()), F_(flags.data()),
        cur_(static_cast<std::size_t>(nr_)), nxt_(static_cast<std::size_t>(nr_)), pool_(pool), cancel_(cancel) {}

  FastGapStats run() {
    FastGapStats stats;
    if (nr_ == 0 || nc_ == 0) {
      stats.sweeps = 1;
      return stats;
    }
    mark_holes();
    // First sweep: every pixel; later sweeps: the candidates only.
    std::int64_t written = first_sweep();
    ++stats.sweeps;
    while (written > 0) {
      written = later_sweep();
      ++stats.sweeps;
    }
    stats.pixels_visited = visited_;
    return stats;
  }

 private:
  // The flags cleared, and the blocks of kBlock pixels holding a no-data
  // pixel marked, on every thread: the first sweep visits only the no-data
  // pixels there are at its start (it writes the pixel it visits, nothing
  // else), so the other blocks can be passed over.
  void mark_holes() {
    nb_ = (nc_ + kBlock - 1) / kBlock;
    bw_ = (nb_ + 63) / 64;
    holes_.assign(static_cast<std::size_t>(nr_) * static_cast<std::size_t>(bw_), 0);
    auto scan = [&](std::int64_t r0, std::int64_t r1, int) {
      std::memset(F_ + index(static_cast<int>(r0), 0), 0, index(static_cast<int>(r1 - r0), 0));
      for (std::int64_t i = r0; i < r1; ++i) {
        cancel_.at_row(i, nc_);
        const std::int32_t* row = I_ + index(static_cast<int>(i), 0);
        std::uint64_t* bits = holes_.data() + static_cast<std::size_t>(i) * static_cast<std::size_t>(bw_);
        for (int b = 0; b < nb_; ++b) {
          const int j = b * kBlock;
          bool any = false;
          if (j + kBlock <= nc_) {
            any = holds_no_data(row + j);
          } else {
            for (int k = j; k < nc_; ++k) any |= row[k] == kNoData;
          }
          if (any) bits[b >> 6] |= std::uint64_t{1} << (b & 63);
        }
      }
    };
    if (pool_ && pool_->size() > 1)
      pool_->for_range(0, nr_, 16, scan);
    else
      scan(0, nr_, 0);
  }

  // The first sweep over the blocks holding no-data pixels; returns the
  // pixels written.
  std::int64_t first_sweep() {
    std::int64_t written = 0;
    for (int i = 0; i < nr_; ++i) {
      cancel_.at_row(i, nc_);
      const std::int32_t* row = I_ + index(i, 0);
      visited_ += nc_;
      const std::uint64_t* bits = holes_.data() + static_cast<std::size_t>(i) * static_cast<std::size_t>(bw_);
      for (int w = 0; w < bw_; ++w) {
        for (std::uint64_t m = bits[w]; m != 0; m &= m - 1) {
          const int j0 = (w * 64 + std::countr_zero(m)) * kBlock;
          const int e = std::min(j0 + kBlock, nc_);
          for (int j = j0; j < e; ++j)
            if (row[j] == kNoData) written += visit(i, j, /*full=*/true);
        }
      }
    }
    return written;
  }

  // A later sweep over the candidates the last one queued; returns the
  // pixels written.
  std::int64_t later_sweep() {
    promote();
    std::int64_t written = 0;
    for (int i = row_min_; i <= row_max_; ++i) {
      cancel_.at_row(i, nc_);
      RowRange& r = cur_[static_cast<std::size_t>(i)];
      // r.hi may grow while the row is treated (right neighbours).
      for (int j = r.lo; j <= r.hi; ++j) {
        std::uint8_t& f = F_[index(i, j)];
        if (!(f & kThisSweep)) continue;
        f = static_cast<std::uint8_t>(f & ~kThisSweep);
        ++visited_;
        if (at(i, j) == kNoData) written += visit(i, j, /*full=*/false);
      }
      r = RowRange{};
    }
    return written;
  }

  std::size_t index(int i, int j) const {
    return static_cast<std::size_t>(i) * static_cast<std::size_t>(nc_) + static_cast<std::size_t>(j);
  }
  std::int32_t at(int i, int j) const { return I_[index(i, j)]; }

  // The literal treatment of one no-data pixel; on a write, queues the
  // no-data pixels of its cross.  In the full first sweep the right and
  // lower neighbours are visited anyway.
  int visit(int i, int j, bool full) {
    std::int32_t vals[4];
    int ico = 0;
    if (i > 0 && at(i - 1, j) != kNoData) vals[ico++] = at(i - 1, j);
    if (j > 0 && at(i, j - 1) != kNoData) vals[ico++] = at(i, j - 1);
    if (j + 1 < nc_ && at(i, j + 1) != kNoData) vals[ico++] = at(i, j + 1);
    if (i + 1 < nr_ && at(i + 1, j) != kNoData) vals[ico++] = at(i + 1, j);
    if (ico == 0) return 0;
    I_[index(i, j)] = gap_mean(vals, ico);
    if (i > 0 && at(i - 1, j) == kNoData) queue_next(i - 1, j);
    if (j > 0 && at(i, j - 1) == kNoData) queue_next(i, j - 1);
    if (!full) {
      if (j + 1 < nc_ && at(i, j + 1) == kNoData) queue_this(i, j + 1);
      if (i + 1 < nr_ && at(i + 1, j) == kNoData) queue_this(i + 1, j);
    }
    return 1;
  }

  void queue_this(int i, int j) {
    F_[index(i, j)] |= kThisSweep;
    cur_[static_cast<std::size_t>(i)].add(j);
    row_max_ = std::max(row_max_, i);
  }
  void queue_next(int i, int j) {
    F_[index(i, j)] |= kNextSweep;
    nxt_[static_cast<std::size_t>(i)].add(j);
    next_min_ = std::min(next_min_, i);
    next_max_ = std::max(next_max_, i);
  }

  // The candidates of the next sweep become those of the current one.
  void promote() {
    row_min_ = next_min_;
    row_max_ = next_max_;
    for (int i = next_min_; i <= next_max_; ++i) {
      RowRange& n = nxt_[static_cast<std::size_t>(i)];
      if (n.empty()) continue;
      for (int j = n.lo; j <= n.hi; ++j) {
        std::uint8_t& f = F_[index(i, j)];
        if (f & kNextSweep) f = kThisSweep;
      }
      cur_[static_cast<std::size_t>(i)] = n;
      n = RowRange{};
    }
    next_min_ = INT_MAX;
    next_max_ = -1;
  }

  int nr_;
  int nc_;
  std::int32_t* I_;
  std::uint8_t* F_;
  std::vector<RowRange> cur_;
  std::vector<RowRange> nxt_;
  int row_min_ = INT_MAX;
  int row_max_ = -1;
  int next_min_ = INT_MAX;
  int next_max_ = -1;
  std::int64_t visited_ = 0;
  int nb_ = 0;  // blocks of kBlock pixels a row
  int bw_ = 0;  // words of block bits a row
  std::vector<std::uint64_t> holes_;  // the blocks holding a no-data pixel before the first sweep
  ThreadPool* pool_;
  CancelCheck cancel_;
};

}  // namespace

FastGapStats fill_gaps_fast(IntGrid& itab, ByteGrid& flags, ThreadPool* pool, CancelCheck cancel) {
  return Filler(itab, flags, pool, cancel).run();
}

}  // namespace tesk
