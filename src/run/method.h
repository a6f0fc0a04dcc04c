// The methods that make a surface from the contours, and what each one
// supports.  Every run, whole, by tiles or in blocks, reaches the stages
// through here and never through one method's stages directly, so that a
// run refuses, with a message, what its method does not support (a method
// without a proof of its tiles never runs by tiles).
//
// classic: the stages of src/stages (conversion, dilation, gap filling,
// smoothing, overlay), exact to the bit; by tiles, each tile comes with the
// certificate of src/tiles, which proves it equal to the whole run.
// spline: the contour-fitting thin plate of src/stages/spline, real values,
// whole units rounded to the nearest; by tiles, each tile within a
// thousandth of an interval of a fit with a wider halo (run/fitted_run.h).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "run/run_options.h"
#include "stages/pipeline.h"
#include "stages/spline/spline.h"
#include "tiles/tile_run.h"

namespace tesk {

struct MethodTraits {
  Method method;
  const char* name;    // as the options spell it
  bool tiles;          // runs by tiles, each tile with its method's guarantee
  bool classic_set;    // writes the classic output set (NAME_m2.raw)
};
const MethodTraits& traits(Method m);
std::span<const MethodTraits> methods();
std::optional<Method> method_named(std::string_view name);
// The names of every method, "a, b or c", for messages.
std::string method_names();

// Bytes a pixel the grids of a whole run of the method need.
std::uint64_t bytes_per_pixel(Method m);

// The parameters of the stages for the surface options: raw_nodata is the
// marker of raw integer samples, or nothing for samples the reading puts in
// internal units.
RunParams stage_params(const SurfaceOptions& o, int threads, std::optional<std::int32_t> raw_nodata);

// Throws RunError when the method cannot run by tiles: `why` says why the
// run would tile (a forced tile size, a raster larger than the memory, an
// array in blocks), `remedy` what to do instead.
void check_tiles(Method m, const std::string& why, const std::string& remedy);

// The whole raster's surface: g.itab holds the contours (raw, or internal
// units), reread fills a grid with them again for the overlay.  Throws
// what compute_dem throws.
RunStats compute_surface(Method m, RunGrids& g, const RunParams& p, const std::function<void(IntGrid&)>& reread,
                         RunObserver& observer);

// The spline's parameters for a raster of rows x cols: the options', the
// smoothing chosen from windows of the contours (internal units) when not
// given; stats tells the choice.  A whole run, its tiles and its blocks
// choose the same.  Throws RunError, Cancelled.
SplineParams fitted_params(const SurfaceOptions& o, int threads, int rows, int cols, const ContourWindows& read,
                           SplineStats& stats, CancelCheck cancel);

// The spline's surface of a whole raster: contours in internal units
// (kNoData off them), the surface into out, in internal units; progress in
// 0..1.  Throws RunError when the solve fails, Cancelled.
SplineStats fit_surface(const SurfaceOptions& o, int threads, const IntGrid& contours, Grid<double>& out,
                        const std::function<void(double)>& progress, CancelCheck cancel);

// One tile of the classic method with the proof of its core (a fitted
// surface has its own tiles: tiles/fitted_tile.h; std::logic_error);
// hole_values, when given, reads the values of the whole raster's holes of
// one value (tiles/holes.h) in the tile's extent.
TileResult compute_tile(Method m, const TileRequest& request, const RunParams& p, const WindowReader& read,
                        const RunObserver* observer = nullptr, const WindowReader& hole_values = {});

}  // namespace tesk
