// The pass loop of the fast dilation: which walks each pass takes, and the
// flood after it.  See stages/dilation/dilation_fast.h for how a pass works.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "core/thread_pool.h"
#include "core/units.h"
#include "stages/dilation/flood.h"
#include "stages/dilation/sparse_pass.h"
#include "stages/dilation/states.h"
#include "stages/dilation/tiles.h"
#include "stages/dilation/walker.h"
#include "stages/dilation/dilation_fast.h"

namespace tesk {
namespace {

using namespace dilation;

// The capacity of each thread's flood stack.
std::size_t stack_capacity(const FastDilationLimits& limits, std::size_t pixels) {
  return limits.stack_capacity ? limits.stack_capacity : std::max<std::size_t>(4096, pixels / 16);
}

class PassDriver {
 public:
  PassDriver(IntGrid& itab, IntGrid& grown, ByteGrid& state, const FastDilationLimits& limits, ThreadPool* pool,
             CancelCheck cancel, PassRecord* record)
      : g_{itab.rows(), itab.cols(), itab.data(), grown.data(), state.data(), record},
        pool_(pool),
        cancel_(cancel),
        // Stack entries are 32-bit pixel indices; a larger grid never drops a
        // component.
        flood_(itab.size() > 0xffffffffULL ? 0 : stack_capacity(limits, itab.size()), limits.min_block_rows > 0 ? limits.min_block_rows : 256, pool),
        walker_(g_, rows_, tiles_, limits, pool, cancel),
        dense_share_(limits.dense_share) {
    flood_limit_ = limits.flood_limit ? limits.flood_limit : stack_capacity(limits, itab.size());
  }

  // Marks the states and the grown surface of data pixels; every no-data
  // pixel is grown by the first pass.  Returns the number of no-data pixels.
  std::int64_t setup() {
    // The first writes to the state and surface grids: on every thread, so
    // that their pages are also first touched in parallel.
    std::vector<std::int64_t> counts(pool_ ? static_cast<std::size_t>(pool_->size()) : 1, 0);
    auto mark = [&](std::int64_t r0, std::int64_t r1, int piece) {
      std::int64_t nd_count = 0;
      for (std::int64_t r = r0; r < r1; ++r) {
        cancel_.at_row(r, g_.nc);
        const std::size_t x0 = g_.index(static_cast<int>(r), 0), x1 = x0 + static_cast<std::size_t>(g_.nc);
        for (std::size_t x = x0; x < x1; ++x) {
          const bool nd = g_.I[x] == kNoData;
          g_.S[x] = nd ? kFlooded : kData;
          g_.G[x] = g_.I[x];
          nd_count += nd;
        }
      }
      counts[static_cast<std::size_t>(piece)] = nd_count;
    };
    if (pool_)
      pool_->for_range(0, g_.nr, 16, mark);
    else
      mark(0, g_.nr, 0);
    std::int64_t nodata = 0;
    for (const std::int64_t c : counts) nodata += c;
    live_ = nodata;
    tiles_.setup(g_.nr, g_.nc);
    walker_.setup();
    if (g_.nr == 0 || g_.nc == 0) return 0;
    for (int i = 0; i < g_.nr; ++i) {
      g_.S[g_.index(i, 0)] |= kBorder;
      g_.S[g_.index(i, g_.nc - 1)] |= kBorder;
    }
    for (int j = 0; j < g_.nc; ++j) {
      g_.S[g_.index(0, j)] |= kBorder;
      g_.S[g_.index(g_.nr - 1, j)] |= kBorder;
    }
    rows_.resize(static_cast<std::size_t>(g_.nr));
    for (int i = 0; i < g_.nr; ++i) rows_[static_cast<std::size_t>(i)] = i;
    return nodata;
  }

  // One pass; returns the number of pixels written into itab.
  std::int64_t pass(std::int64_t& sweeps) {
    tally_.dying_layers = 0;
    if (first_done_) {
      // Its first sweep was walked with the last pass's midpoints.
      first_done_ = false;
      grown_ = grown_next_;
      return finish_pass(sweeps);
    }
    // Until only a handful of pixels are still grown, the active tiles of
    // the active rows are walked with straight-line code; then the pass
    // visits the grown pixels one by one.
    const bool dense =
        static_cast<double>(live_) >= dense_share_ * static_cast<double>(rows_.size()) * static_cast<double>(g_.nc);
    if (dense) {
      TileSet& t = tiles_.current();
      tiles_.mark(t, g_, rows_, pool_, cancel_);
      walker_.walk(Walk::kFirst, +1, t, nullptr, keep_all_);
      first_dir_ = +1;
      grown_ = walker_.end_first_sweeps(first_dir_, tally_);
      return finish_pass(sweeps);
    }
    const SparseResult r = sparse_pass(g_, rows_, keep_all_, tally_, cancel_);
    grown_ = r.grown;
    return end_pass(r.layers, r.written, sweeps, /*flood_allowed=*/true);
  }

  // Once the loop ends: a first sweep done ahead for a pass that does not
  // come leaves the layers of its unreached pixels in itab; they go back
  // to the marker.
  void finish() {
    if (!first_done_) return;
    first_done_ = false;
    for (std::size_t r = 0; r < rows_.size(); ++r) {
      const int i = rows_[r];
      cancel_.at_row(static_cast<std::int64_t>(r), g_.nc);
      const std::size_t row = g_.index(i, 0);
      for (int j = 0; j < g_.nc; ++j)
        if (g_.st(row + static_cast<std::size_t>(j)) == kUnreached) g_.I[row + static_cast<std::size_t>(j)] = kNoData;
    }
  }

  const Tally& tally() const { return tally_; }

 private:
  // The rest of a pass walked with straight-line code, after its first
  // sweep: one walk the other way with the second sweep and the midpoints.
  // While a pass grows far more pixels than a flood would take on (so that
  // none follows it), that walk also takes the next pass's first sweep;
  // every later pass has been grown anyway after a skipped flood, so the
  // result is the same.
  std::int64_t finish_pass(std::int64_t& sweeps) {
    int layers = 0;
    const bool fuse = static_cast<std::uint64_t>(grown_) / 2 > flood_limit_;
    const int dir = -first_dir_;
    std::int64_t written;
    if (fuse) {
      keep_all_ = true;
      // Settling and this pass's commits leave grown pixels grown and data
      // and dead pixels as they are: the next pass's active tiles are
      // already known.
      TileSet& next = tiles_.next();
      tiles_.mark(next, g_, rows_, pool_, cancel_);
      walker_.walk(Walk::kFused, dir, tiles_.current(), &next, keep_all_);
      written = walker_.end_second_sweeps(tally_, layers);
      grown_next_ = walker_.end_first_sweeps(dir, tally_);
      tiles_.advance();
      first_done_ = true;
      first_dir_ = dir;
    } else {
      walker_.walk(Walk::kSecond, dir, tiles_.current(), nullptr, keep_all_);
      written = walker_.end_second_sweeps(tally_, layers);
    }
    return end_pass(layers, written, sweeps, /*flood_allowed=*/!fuse);
  }

  // What every pass ends with: its sweeps counted, the pixels still grown,
  // and the flood for the components that can no longer change.
  std::int64_t end_pass(int layers, std::int64_t written, std::int64_t& sweeps, bool flood_allowed) {
    // The literal passes sweep the whole grid: one sweep per layer of the
    // deepest component, dead ones included, plus the sweep that finds
    // nothing.
    sweeps += 1 + std::max({layers, dead_layers_, 1});
    live_ = grown_ - written;
    // Until the pixels still grown are few, nearly every component changes:
    // everything grown is grown again.
    if (flood_allowed && static_cast<std::uint64_t>(grown_ - written) <= flood_limit_)
      keep_all_ = !flood_.run(g_, rows_, tiles_, tiles_.current(), written, tally_.visited, cancel_);
    else
      keep_all_ = true;
    dead_layers_ = std::max(dead_layers_, tally_.dying_layers);
    return written;
  }

  Surface g_;
  ThreadPool* pool_;
  CancelCheck cancel_;
  std::vector<int> rows_;  // rows holding pixels grown by the current pass, increasing
  Tiles tiles_;
  Flood flood_;
  Walker walker_;
  Tally tally_;
  std::size_t flood_limit_ = 0;
  double dense_share_ = 0;
  bool keep_all_ = false;        // no flood after the last pass, or it gave up: all it grew stays grown
  std::int64_t grown_ = 0;       // pixels grown by the current pass
  bool first_done_ = false;      // the next pass's first sweep is done
  std::int64_t grown_next_ = 0;  // and grew this many pixels
  int first_dir_ = 1;            // the direction of the current pass's first sweep
  int dead_layers_ = 0;          // deepest layer of the dropped components
  std::int64_t live_ = 0;        // grown pixels still without data after the last pass
};

}  // namespace

FastDilationStats dilate_fast(IntGrid& itab, IntGrid& grown, ByteGrid& state, const PassCallback& on_pass,
                              FastDilationLimits limits, ThreadPool* pool, CancelCheck cancel, IntGrid* written_at) {
  FastDilationStats stats;
  PassRecord record;
  if (written_at) {
    start_record(itab, *written_at);
    record.written_at = written_at->data();
  }
  PassDriver driver(itab, grown, state, limits, pool, cancel, written_at ? &record : nullptr);
  std::int64_t nodata = driver.setup();
  std::int64_t modif = 1;
  while (modif > 0) {
    PassReport report;
    report.degree = stats.passes + 1;
    report.to_treat = nodata;
    report.previous_modified = stats.passes > 0 ? modif : 0;
    report.growth_sweeps = stats.growth_sweeps;
    if (on_pass) on_pass(report);
    record.pass = ++stats.passes;
    modif = driver.pass(stats.growth_sweeps);
    nodata -= modif;
  }
  driver.finish();
  stats.pixels_visited = driver.tally().visited;
  stats.pixels_dropped = driver.tally().dropped;
  return stats;
}

}  // namespace tesk
