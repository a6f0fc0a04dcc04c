#include "run/blocks.h"

#include <limits>
#include <stdexcept>

#include "core/run_error.h"
#include "run/fill.h"
#include "run/method.h"
#include "run/reading.h"

namespace tesk {

RasterSurvey survey_samples(const Samples& block, const FillOptions& o, std::int64_t row0, std::int64_t col0) {
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
  return survey_block(b, o.surface.interval);
}

TileFill fill_tile(const Samples& block, const TileRequest& request, const FillOptions& o, void* out) {
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
  TileResult t;
  try {
    t = compute_tile(o.surface.method, request, p, read);
  } catch (const ConversionError& e) {
    throw RunError(too_large_message("contours", e.fault.value, e.fault.row, e.fault.col, o.surface.interval));
  }
  TileFill f;
  f.certified = t.certified;
  f.uncertain = t.uncertain;
  const ResultStats range = result_range(t.internal, o.surface.interval, o.out);
  f.minimum = range.minimum;
  f.maximum = range.maximum;
  const auto r = int_range(o.out);
  f.written = !r || (r->holds(f.minimum) && r->holds(f.maximum));
  if (f.written) write_result(t.internal, o.surface.interval, o.out, out);
  return f;
}

}  // namespace tesk
