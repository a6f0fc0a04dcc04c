#include "run/source_survey.h"

#include <algorithm>
#include <atomic>
#include <limits>
#include <memory>
#include <mutex>

#include "core/units.h"
#include "run/tile_flight.h"
#include "stages/conversion.h"

namespace tesk {
namespace {

// The rows of each strip: as many as the budget allows, up to 4 Mpx (taller
// strips save little: the seams between them are few), at least one.
std::vector<int> strip_starts(int rows, int cols, std::uint64_t budget) {
  const auto pixels = static_cast<std::int64_t>(std::min<std::uint64_t>(budget / kStripBytesPerPixel, 4 << 20));
  const int n = static_cast<int>(std::clamp<std::int64_t>(pixels / std::max(cols, 1), 1, std::max(rows, 1)));
  std::vector<int> starts;
  for (int i = 0; i < rows; i += n) starts.push_back(i);
  starts.push_back(rows);
  return starts;
}

// A strip of the source: its samples as read (raw, or altitudes with NaN
// off the contours) and in internal units, kNoData off the contours.  A
// value internal units cannot hold is left out of the internal grid (it is
// the survey's to report).
class Strip {
 public:
  Strip(gdal::Source& src, int equid) : src_(src), equid_(equid) {}

  void read(int row0, int rows) {
    const int cols = src_.cols();
    if (internal_.rows() != rows) internal_ = IntGrid(rows, cols), raw_ = IntGrid(src_.raw() ? rows : 0, cols);
    row0_ = row0;
    if (src_.raw()) {
      src_.read_raw_window(row0, 0, raw_);
      const std::int32_t ival = static_cast<std::int32_t>(src_.nodata());
      for (std::size_t k = 0; k < raw_.size(); ++k) {
        const std::int32_t v = raw_.data()[k];
        internal_.data()[k] = v == ival ? kNoData : to_internal(v, equid_).value_or(kNoData);
      }
      return;
    }
    real_.resize(internal_.size());
    for (int i = 0; i < rows; ++i) {
      double* row = real_.data() + static_cast<std::size_t>(i) * static_cast<std::size_t>(cols);
      src_.read_altitudes(row0 + i, row);
      convert_row_to_internal(row, cols, std::numeric_limits<double>::quiet_NaN(), equid_, internal_[i]);
    }
  }

  // The strip as the survey reads it.
  BlockRows rows() const {
    BlockRows b;
    b.rows = internal_.rows();
    b.cols = internal_.cols();
    b.row0 = row0_;
    const std::size_t cols = static_cast<std::size_t>(b.cols);
    if (src_.raw()) {
      b.raw_nodata = static_cast<std::int32_t>(src_.nodata());
      b.read_raw = [this](int i, std::int32_t* row) { std::copy(raw_[i], raw_[i] + raw_.cols(), row); };
    } else {
      b.read_real = [this, cols](int i, double* row) {
        std::copy(real_.data() + i * cols, real_.data() + (i + 1) * cols, row);
      };
    }
    return b;
  }

  const IntGrid& internal() const { return internal_; }
  int row0() const { return row0_; }

 private:
  gdal::Source& src_;
  int equid_;
  int row0_ = 0;
  IntGrid internal_, raw_;
  BlockVector<double> real_;
};

// A strip and the grid its holes are labelled into.  Once a strip is done
// with, its grids serve the next one: each is written whole, and grids
// mapped afresh for every strip cost the kernel's zeroing of their pages
// (docs/performance.md).
struct StripWork {
  StripWork(gdal::Source& src, int equid) : strip(src, equid) {}
  Strip strip;
  IntGrid labels;
};

// The strips' grids, as many as are in use at once: a lease goes back to
// the pool when it is destroyed.
class StripPool {
 public:
  StripPool(gdal::Source& src, int equid) : src_(src), equid_(equid) {}
  struct Return {
    StripPool* pool;
    void operator()(StripWork* w) const {
      const std::lock_guard lock(pool->m_);
      pool->free_.emplace_back(w);
    }
  };
  using Lease = std::unique_ptr<StripWork, Return>;
  Lease lease() {
    std::unique_ptr<StripWork> w;
    {
      const std::lock_guard lock(m_);
      if (!free_.empty()) w = std::move(free_.back()), free_.pop_back();
    }
    if (!w) w = std::make_unique<StripWork>(src_, equid_);
    return Lease(w.release(), Return{this});
  }

 private:
  gdal::Source& src_;
  int equid_;
  std::mutex m_;
  std::vector<std::unique_ptr<StripWork>> free_;
};

// Strips of the source on up to `flight` threads at once: each read in turn
// (one thread reads the source at a time), then work(k, strip) on its thread;
// take(k, result) runs on the calling thread in the strips' order, so that
// nothing taken depends on which strip finished first (run/tile_flight.h).
// Each strip in flight, and the one being taken, holds a share of the
// budget: the strips are cut for flight + 1 of them.  Once `done` is set,
// the strips not yet read give T{} without being read.  The pool outlives
// every result, which may hold its strip's lease.
template <class T, class Work, class Take>
void strips_in_flight(gdal::Source& src, int equid, const BlockLayout& strips, int flight, CancelCheck cancel,
                      const std::atomic<bool>& done, Work work, Take take) {
  std::mutex reading;
  std::atomic<bool> stop{false};
  StripPool pool(src, equid);
  const int count = static_cast<int>(strips.row_starts.size()) - 1;
  in_flight<T>(
      count, flight, stop,
      [&](int k) {
        const int row0 = strips.row_starts[static_cast<std::size_t>(k)];
        const int rows = strips.row_starts[static_cast<std::size_t>(k) + 1] - row0;
        cancel.poll();
        if (done.load(std::memory_order_relaxed)) return T{};
        StripPool::Lease w = pool.lease();
        {
          const std::lock_guard lock(reading);
          w->strip.read(row0, rows);
        }
        return work(k, std::move(w));
      },
      take, [] {});
}

int strip_flight(int threads) { return std::max(1, threads); }

}  // namespace

SourceSurvey survey_source(gdal::Source& src, int equid, std::uint64_t budget, int threads, CancelCheck cancel) {
  SourceSurvey s;
  const int flight = strip_flight(threads);
  s.strips = {strip_starts(src.rows(), src.cols(), budget / static_cast<std::uint64_t>(flight + 1)), {0, src.cols()}};
  // The survey itself runs in the strips' order on the calling thread: the
  // no-data runs of each column go on from one strip into the next.  The
  // holes of each strip are labelled on its own thread.
  struct Surveyed {
    StripPool::Lease work;
    BlockSummary holes;
  };
  std::vector<int> column_runs;
  std::atomic<bool> faulted{false};  // strips after a fault are neither read nor surveyed
  strips_in_flight<Surveyed>(
      src, equid, s.strips, flight, cancel, faulted,
      [&](int, StripPool::Lease w) {
        Surveyed r;
        const Strip& strip = w->strip;
        BlockLabels labels = label_block(strip.internal(), std::move(w->labels));
        r.holes = summarise({strip.row0(), 0, strip.internal().rows(), src.cols()}, strip.internal(), labels);
        w->labels = std::move(labels.label);
        r.work = std::move(w);
        return r;
      },
      [&](int, Surveyed& r) {
        if (faulted) return;
        s.raster.merge(survey_block(r.work->strip.rows(), equid, &column_runs, cancel));
        if (s.raster.fault) {  // the first in row order: refused with its row and column
          faulted = true;
          return;
        }
        s.holes.push_back(std::move(r.holes));
      });
  return s;
}

namespace {

// Every strip of the source again, in internal units, with the borders of
// its edge labels stitched over the whole raster: f(its lease, its borders)
// on the strips' threads, then put(its first row, f's result) in their
// order.
template <class T, class F, class Put>
void for_each_strip(gdal::Source& src, int equid, const SourceSurvey& survey, int threads, CancelCheck cancel, F&& f,
                    Put&& put) {
  const std::vector<std::vector<HoleBorder>> borders = stitch(survey.strips, survey.holes);
  const std::atomic<bool> never{false};
  strips_in_flight<T>(
      src, equid, survey.strips, strip_flight(threads), cancel, never,
      [&](int k, StripPool::Lease w) { return f(std::move(w), borders[static_cast<std::size_t>(k)]); },
      [&](int k, T& r) { put(survey.strips.row_starts[static_cast<std::size_t>(k)], r); });
}

}  // namespace

bool write_hole_values(gdal::Source& src, int equid, const SourceSurvey& survey, gdal::TileStore& store, int threads,
                       CancelCheck cancel) {
  bool any = false;
  // Each strip's values into its labels' grid, which then serves a strip
  // after it.
  for_each_strip<StripPool::Lease>(
      src, equid, survey, threads, cancel,
      [](StripPool::Lease w, const std::vector<HoleBorder>& b) {
        w->labels = hole_values(w->strip.internal(), b, std::move(w->labels));
        return w;
      },
      [&](int row0, const StripPool::Lease& w) {
        const IntGrid& values = w->labels;
        any = any || std::any_of(values.begin(), values.end(), [](std::int32_t v) { return v != kNoData; });
        store.put(row0, 0, values);
      });
  return any;
}

void write_hole_ranges(gdal::Source& src, int equid, const SourceSurvey& survey, gdal::TileStore& lo,
                       gdal::TileStore& hi, int threads, CancelCheck cancel) {
  for_each_strip<HoleRanges>(
      src, equid, survey, threads, cancel,
      [](StripPool::Lease w, const std::vector<HoleBorder>& b) { return hole_ranges(w->strip.internal(), b); },
      [&](int row0, const HoleRanges& r) {
        lo.put(row0, 0, r.lo);
        hi.put(row0, 0, r.hi);
      });
}

}  // namespace tesk
