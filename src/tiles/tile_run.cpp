#include "tiles/tile_run.h"

#include <algorithm>
#include <stdexcept>

#include "stages/smoothing.h"
#include "tiles/certificate.h"

namespace tesk {
namespace {

// Keeps the core of the finished surface in internal units, and passes the
// caller's requests to stop on.
class TileObserver : public RunObserver {
 public:
  TileObserver(const RunObserver* outer, const Window& core, const Window& tile, IntGrid& internal)
      : outer_(outer), core_(core), tile_(tile), internal_(internal) {}

  bool cancel_requested() const override { return outer_ && outer_->cancel_requested(); }
  void before_conversion_back(const IntGrid& itab1) override {
    for (int i = 0; i < core_.rows; ++i) {
      const std::int32_t* from = itab1[core_.row0 - tile_.row0 + i] + (core_.col0 - tile_.col0);
      std::copy(from, from + core_.cols, internal_[i]);
    }
  }

 private:
  const RunObserver* outer_;
  Window core_, tile_;
  IntGrid& internal_;
};

}  // namespace

WindowReader window_reader(const IntGrid& raster) {
  return [&raster](const Window& w, IntGrid& out) {
    for (int i = 0; i < w.rows; ++i) {
      const std::int32_t* from = raster[w.row0 + i] + w.col0;
      std::copy(from, from + w.cols, out[i]);
    }
  };
}

TileResult run_tile(const TileRequest& req, const RunParams& p, const WindowReader& read, const RunObserver* observer) {
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
  try {
    res.stats = compute_dem(g, tp, [&](IntGrid& raw) { read(tile, raw); }, watch);
  } catch (ConversionError& e) {
    e.fault.row += tile.row0;
    e.fault.col += tile.col0;
    throw;
  }

  const auto stop = [observer] { return observer && observer->cancel_requested(); };
  const CancelCheck cancel(stop);
  const CutSides cut = cut_sides(tile, req.raster_rows, req.raster_cols);
  ByteGrid certain = certain_after_gap_filling(g.written_at, res.stats.passes, cut, cancel);
  if (smooth) certain = certain_after_smoothing(certain, tile, req.raster_rows, req.raster_cols, p.maille);

  for (int i = 0; i < core.rows; ++i) {
    const int ti = core.row0 - tile.row0 + i, tj = core.col0 - tile.col0;
    std::copy(g.itab1[ti] + tj, g.itab1[ti] + tj + core.cols, res.altitude[i]);
    for (int j = 0; j < core.cols; ++j) {
      // The overlay writes the input's own contour values, known exactly.
      const bool proven = certain[ti][tj + j] || (p.overlay && g.written_at[ti][tj + j] == 0);
      res.certain[i][j] = proven;
      res.uncertain += !proven;
    }
  }
  res.certified = res.uncertain == 0;
  return res;
}

}  // namespace tesk
