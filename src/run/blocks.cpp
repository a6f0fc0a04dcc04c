#include "run/blocks.h"

#include <limits>
#include <stdexcept>

#include "core/run_error.h"
#include "run/fill.h"
#include "tiles/fitted_tile.h"
#include "run/method.h"
#include "run/reading.h"
#include "stages/conversion.h"

namespace tesk {

namespace {

// The block in internal units, kNoData off the contours; nothing when a
// value does not fit them.
std::optional<IntGrid> internal_units(const Samples& block, const FillOptions& o) {
  const ContourReader in = contour_reader(block, o.nodata, o.surface.interval, "contours");
  IntGrid g(in.rows, in.cols);
  try {
    in.read(g, nullptr, {});
  } catch (const RunError&) {
    return std::nullopt;
  }
  if (in.raw_nodata && convert_to_internal(g, *in.raw_nodata, o.surface.interval)) return std::nullopt;
  return g;
}

// A tile's core as fill writes it, when o.out holds its range.
template <class G>
TileFill tile_fill(const G& core, bool certified, std::int64_t uncertain, const FillOptions& o, void* out) {
  TileFill f;
  f.certified = certified;
  f.uncertain = uncertain;
  const ResultStats range = result_range(core, o.surface.interval, o.out);
  f.minimum = range.minimum;
  f.maximum = range.maximum;
  const auto r = int_range(o.out);
  f.written = !r || (r->holds(f.minimum) && r->holds(f.maximum));
  if (f.written) write_result(core, o.surface.interval, o.out, out);
  return f;
}

}  // namespace

BlockSurvey survey_samples(const Samples& block, const FillOptions& o, std::int64_t row0, std::int64_t col0) {
  BlockRows b;
  b.rows = static_cast<int>(block.rows);
  b.cols = static_cast<int>(block.cols);
  b.row0 = row0;
  b.col0 = col0;
  if (raw_samples(block.type)) {
    b.raw_nodata = static_cast<std::int32_t>(*o.nodata);
    b.read_raw = [&](int i, std::int32_t* row) { with_type(block.type, [&](auto t) { read_row<decltype(t)>(block, i, row); }); };
  } else {
    const double off = as_sample(o.nodata.value_or(std::numeric_limits<double>::quiet_NaN()), block.type);
    b.read_real = [&, off](int i, double* row) {
      with_type(block.type, [&](auto t) { read_row<decltype(t)>(block, i, row); });
      for (int j = 0; j < b.cols; ++j)
        if (row[j] == off) row[j] = std::numeric_limits<double>::quiet_NaN();
    };
  }
  BlockSurvey survey{survey_block(b, o.surface.interval), std::nullopt};
  if (survey.raster.fault) return survey;
  if (const auto g = internal_units(block, o))
    survey.holes = summarise({static_cast<int>(row0), static_cast<int>(col0), b.rows, b.cols}, *g, label_block(*g));
  return survey;
}

IntGrid block_hole_values(const Samples& block, const FillOptions& o, const std::vector<HoleBorder>& edge_borders) {
  const auto g = internal_units(block, o);
  if (!g) throw std::invalid_argument("block_hole_values: a value of the block does not fit internal units");
  return hole_values(*g, edge_borders);
}

TileFill fill_tile(const Samples& block, const TileRequest& request, const FillOptions& o, void* out,
                   const IntGrid* hole_values) {
  const Window extent = tile_extent(request);
  if (!valid(request) || block.rows != extent.rows || block.cols != extent.cols)
    throw std::invalid_argument("fill_tile: the block must be the tile's core with its halo, clipped to the raster");
  check_options(o.surface);
  check_run_memory(block.rows, block.cols, bytes_per_pixel(o.surface.method), "contours");
  const ContourReader in = contour_reader(block, o.nodata, o.surface.interval, "contours");
  const RunParams p = stage_params(o.surface, 1, in.raw_nodata);
  const WindowReader read = [&](const Window& w, IntGrid& itab) {
    const Samples part = block.window(w.row0 - extent.row0, w.col0 - extent.col0, w.rows, w.cols);
    contour_reader(part, o.nodata, o.surface.interval, "contours").read(itab, nullptr, {});
  };
  if (hole_values && (hole_values->rows() != extent.rows || hole_values->cols() != extent.cols))
    throw std::invalid_argument("fill_tile: the hole values must cover the tile's extent");
  WindowReader holes;
  if (hole_values)
    holes = [&](const Window& w, IntGrid& out) {
      for (int i = 0; i < w.rows; ++i) {
        const std::int32_t* from = (*hole_values)[w.row0 - extent.row0 + i] + (w.col0 - extent.col0);
        std::copy(from, from + w.cols, out[i]);
      }
    };
  TileResult t;
  try {
    t = compute_tile(o.surface.method, request, p, read, nullptr, holes);
  } catch (const ConversionError& e) {
    throw RunError(too_large_message("contours", e.fault.value, e.fault.row, e.fault.col, o.surface.interval));
  }
  TileFill f = tile_fill(t.internal, t.certified, t.uncertain, o, out);
  f.unproven = unproven_box(t);
  return f;
}

IntGrid block_contours(const Samples& block, const FillOptions& o) {
  auto g = internal_units(block, o);
  if (!g) throw RunError("the contours hold a value internal units cannot hold");  // the survey refused it first
  return std::move(*g);
}

HoleRanges block_hole_ranges(const Samples& block, const FillOptions& o, const std::vector<HoleBorder>& edge_borders) {
  const auto g = internal_units(block, o);
  if (!g) throw std::invalid_argument("block_hole_ranges: a value of the block does not fit internal units");
  return hole_ranges(*g, edge_borders);
}

TileFill fit_block(const Samples& block, const HoleRanges& ranges, const TileRequest& request, int wider,
                   const SplineParams& p, const FillOptions& o, void* out) {
  TileRequest w = request;
  w.halo = wider;
  const Window extent = tile_extent(w);
  if (!valid(request) || wider < request.halo || block.rows != extent.rows || block.cols != extent.cols ||
      ranges.lo.rows() != extent.rows || ranges.lo.cols() != extent.cols || ranges.hi.rows() != extent.rows ||
      ranges.hi.cols() != extent.cols)
    throw std::invalid_argument("fit_block: the block and its ranges must be the core with the wider halo");
  check_options(o.surface);
  const IntGrid contours = block_contours(block, o);
  const auto window_of = [extent](const IntGrid& g) {
    return [&g, extent](const Window& w, IntGrid& to) {
      for (int i = 0; i < w.rows; ++i) {
        const std::int32_t* from = g[w.row0 - extent.row0 + i] + (w.col0 - extent.col0);
        std::copy(from, from + w.cols, to[i]);
      }
    };
  };
  const FittedTile t = fit_tile(request, wider, p, kFittedTolerance, lays_back(o.surface),
                                {window_of(contours), window_of(ranges.lo), window_of(ranges.hi)}, {});
  return tile_fill(t.values, t.certified, t.uncertain, o, out);
}

}  // namespace tesk
