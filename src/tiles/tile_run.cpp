#include "tiles/tile_run.h"

#include <algorithm>
#include <stdexcept>
#include <string>
#include <vector>

#include "stages/conversion.h"
#include "stages/smoothing.h"
#include "tiles/certificate.h"
#include "tiles/holes.h"

namespace tesk {
namespace {

// Keeps the core of the finished surface in internal units and the growth
// sweeps made before each pass, and passes the caller's requests to stop on.
class TileObserver : public RunObserver {
 public:
  TileObserver(const RunObserver* outer, const Window& core, const Window& tile, IntGrid& internal)
      : outer_(outer), core_(core), tile_(tile), internal_(internal) {}

  bool cancel_requested() const override { return outer_ && outer_->cancel_requested(); }
  void pass_starting(const PassReport& r) override { sweeps_before.push_back(r.growth_sweeps); }
  void before_conversion_back(const IntGrid& itab1) override {
    for (int i = 0; i < core_.rows; ++i) {
      const std::int32_t* from = itab1[core_.row0 - tile_.row0 + i] + (core_.col0 - tile_.col0);
      std::copy(from, from + core_.cols, internal_[i]);
    }
  }

  std::vector<std::int64_t> sweeps_before;

 private:
  const RunObserver* outer_;
  Window core_, tile_;
  IntGrid& internal_;
};

// The input of a tile in internal units, as the stages would convert it.
void to_internal_units(IntGrid& g, const RunParams& p, CancelCheck cancel) {
  if (p.internal_input) return;
  if (const auto fault = convert_to_internal(g, p.ival, p.equid, cancel)) throw ConversionError(*fault);
}

// Gives the pixels of the tile that lie in a hole the whole raster's survey
// found fillable their hole's value, as data.  Returns where it did.
ByteGrid fill_holes(IntGrid& itab, const Window& tile, const WindowReader& hole_values) {
  IntGrid value(tile.rows, tile.cols);
  hole_values(tile, value);
  ByteGrid filled(tile.rows, tile.cols);
  std::int32_t kept = kNoData;  // the last value checked
  for (std::size_t x = 0; x < itab.size(); ++x) {
    const std::int32_t v = value.data()[x];
    if (v == kNoData) continue;
    if (itab.data()[x] != kNoData || (v != kept && !mean_keeps(v)))
      throw std::invalid_argument("run_tile: a hole value at row " + std::to_string(tile.row0 + x / tile.cols) +
                                  ", column " + std::to_string(tile.col0 + x % tile.cols) +
                                  (itab.data()[x] != kNoData ? " falls on a data pixel"
                                                             : " is one the gap filling does not keep"));
    kept = v;
    itab.data()[x] = v;
    filled.data()[x] = 1;
  }
  return filled;
}

}  // namespace

WindowReader window_reader(const IntGrid& raster) {
  return [&raster](const Window& w, IntGrid& out) {
    for (int i = 0; i < w.rows; ++i) {
      const std::int32_t* from = raster[w.row0 + i] + w.col0;
      std::copy(from, from + w.cols, out[i]);
    }
  };
}

TileResult run_tile(const TileRequest& req, const RunParams& p, const WindowReader& read, const RunObserver* observer,
                    const WindowReader& hole_values) {
  if (!valid(req)) throw std::invalid_argument("run_tile: the core must lie inside the raster and the halo be >= 0");
  const Window tile = tile_extent(req);
  const Window& core = req.core;
  TileResult res;
  res.core = core;
  res.internal = IntGrid(core.rows, core.cols);
  res.altitude = IntGrid(core.rows, core.cols);
  res.certain = ByteGrid(core.rows, core.cols);

  RunGrids g;
  g.allocate(tile.rows, tile.cols, p.literal);
  g.written_at = IntGrid(tile.rows, tile.cols);
  read(tile, g.itab);
  // The whole raster decides whether to smooth; a tile too small for the
  // window then leaves its pixels unsmoothed, and the certificate unproven.
  const bool smooth = p.maille > 1 && window_fits(req.raster_rows, req.raster_cols, p.maille);
  RunParams tp = p;
  if (!smooth) tp.maille = 1;
  TileObserver watch(observer, core, tile, res.internal);
  const auto stop = [observer] { return observer && observer->cancel_requested(); };
  const CancelCheck cancel(stop);
  // With hole values the input is converted here, the holes filled, and
  // the stages take it as converted; the overlay reads the true input.
  ByteGrid filled;
  std::function<void(IntGrid&)> reread = [&](IntGrid& raw) { read(tile, raw); };
  try {
    if (hole_values) {
      to_internal_units(g.itab, p, cancel);
      filled = fill_holes(g.itab, tile, hole_values);
      tp.internal_input = true;
      reread = [&](IntGrid& raw) {
        read(tile, raw);
        to_internal_units(raw, p, cancel);
      };
    }
    res.stats = compute_dem(g, tp, reread, watch);
  } catch (ConversionError& e) {
    e.fault.row += tile.row0;
    e.fault.col += tile.col0;
    throw;
  }

  // The working surface and the preview are not read again: their memory
  // goes back before the certificate takes its own.
  g.itab = {};
  g.itab2 = {};
  g.tab = {};
  const CutSides cut = cut_sides(tile, req.raster_rows, req.raster_cols);
  // The sweeps of each pass, from those made before each and in all.
  std::vector<std::int64_t> sweeps = watch.sweeps_before;
  if (sweeps.size() == static_cast<std::size_t>(res.stats.passes)) {
    sweeps.push_back(res.stats.growth_sweeps);
    for (std::size_t k = 0; k + 1 < sweeps.size(); ++k) sweeps[k] = sweeps[k + 1] - sweeps[k];
    sweeps.pop_back();
  }
  ByteGrid certain = certain_after_gap_filling(g.written_at, res.stats.passes, sweeps, cut, cancel, p.threads);
  if (smooth) certain = certain_after_smoothing(certain, tile, req.raster_rows, req.raster_cols, p.maille);

  for (int i = 0; i < core.rows; ++i) {
    const int ti = core.row0 - tile.row0 + i, tj = core.col0 - tile.col0;
    std::copy(g.itab1[ti] + tj, g.itab1[ti] + tj + core.cols, res.altitude[i]);
    for (int j = 0; j < core.cols; ++j) {
      // The overlay writes the input's own contour values, known exactly;
      // a filled hole is no contour.
      const bool contour = g.written_at[ti][tj + j] == 0 && (filled.empty() || !filled[ti][tj + j]);
      const bool proven = certain[ti][tj + j] || (p.overlay && contour);
      res.certain[i][j] = proven;
      res.uncertain += !proven;
    }
  }
  res.certified = res.uncertain == 0;
  return res;
}

Window unproven_box(const TileResult& r) {
  int i0 = r.core.rows, i1 = -1, j0 = r.core.cols, j1 = -1;
  for (int i = 0; i < r.core.rows; ++i)
    for (int j = 0; j < r.core.cols; ++j)
      if (!r.certain[i][j]) i0 = std::min(i0, i), i1 = std::max(i1, i), j0 = std::min(j0, j), j1 = std::max(j1, j);
  if (i1 < 0) return {r.core.row0, r.core.col0, 0, 0};
  return {r.core.row0 + i0, r.core.col0 + j0, i1 - i0 + 1, j1 - j0 + 1};
}

void take_proven(TileResult& r, const TileResult& patch) {
  const Window &a = r.core, &b = patch.core;
  if (b.row0 < a.row0 || b.col0 < a.col0 || b.row0 + b.rows > a.row0 + a.rows || b.col0 + b.cols > a.col0 + a.cols)
    throw std::invalid_argument("take_proven: the patch's core must lie within the tile's");
  for (int i = 0; i < b.rows; ++i) {
    const int ti = b.row0 - a.row0 + i, tj = b.col0 - a.col0;
    for (int j = 0; j < b.cols; ++j) {
      if (!patch.certain[i][j] || r.certain[ti][tj + j]) continue;
      r.internal[ti][tj + j] = patch.internal[i][j];
      r.altitude[ti][tj + j] = patch.altitude[i][j];
      r.certain[ti][tj + j] = 1;
      --r.uncertain;
    }
  }
  r.certified = r.uncertain == 0;
  r.stats.passes = std::max(r.stats.passes, patch.stats.passes);
  r.stats.growth_sweeps += patch.stats.growth_sweeps;
  r.stats.gap_sweeps = std::max(r.stats.gap_sweeps, patch.stats.gap_sweeps);
}

}  // namespace tesk
