// What a user sets for a run, once each, whichever front end sets it: the
// command line's options, tesk.run's and tesk.fill's parameters, the QGIS
// algorithm's.  The run builds its own internal settings from these (the
// threads of the reading, the memory each stage needs, where a vector
// source is burnt); no front end sees them.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/sample_type.h"

namespace tesk {

// The ways to make the surface from the contours.
enum class Method : std::uint8_t {
  classic,  // grown pass after pass, halfway lines, holes averaged (exact to the bit)
  spline,   // a thin plate fitted to the contour pixels (stages/spline)
};

// How the surface is made, for a file run and a run in memory alike.
struct SurfaceOptions {
  Method method = Method::classic;
  int interval = 0;      // the contour interval, not 0
  int window = 1;        // classic: smoothing window degree, 1 (none) to kMaxMaille
  // Lay the contour values back over the result; nothing: the method's
  // default (lays_back()).
  std::optional<bool> overlay;
  // spline: the weight of the curvature penalty in pixel units (nothing:
  // chosen from the contours), and the share of it given to the slope
  // (nothing: chosen with the smoothing when that is chosen, else 0).
  std::optional<double> smoothing;
  std::optional<double> tension;
};

// Whether the contours are laid back: the classic method does by default,
// a fitted surface, closer to the terrain on the contour pixels too, not.
inline bool lays_back(const SurfaceOptions& o) { return o.overlay.value_or(o.method == Method::classic); }

// How a raster runs by tiles (a file) or in blocks (a dask array).
struct TileOptions {
  std::optional<int> tile_size;   // forces tiling: tiles of this many pixels a side
  std::optional<int> halo;        // the first halo; else estimated from the contours
  bool accept_uncertain = false;  // keep pixels no halo can prove, as their tile computes them
};

// A source file's band, or a vector source's attribute, layer and grid.
struct SourceChoice {
  std::optional<int> band;
  std::string attribute;
  std::string layer;
  std::optional<std::array<double, 2>> pixel_size;  // -tr
  std::optional<std::array<int, 2>> size;           // -ts: width, height
  std::optional<std::array<double, 4>> extent;      // -te: xmin ymin xmax ymax
};

// A run from a source file to its outputs (tesk SRC DST).
struct RunOptions {
  std::string src, dst;
  SurfaceOptions surface;
  std::optional<double> nodata;  // the source's no-data value, overriding its own
  SourceChoice source;
  std::optional<std::string> mask, format, output_type, preview, hillshade;
  std::vector<std::string> creation_options;  // NAME=VALUE
  double hillshade_z = 1;
  bool overwrite = false;
  int threads = 0;  // 0: TESK_THREADS, else every core
  TileOptions tiles;
  // Recorded in the DEM's metadata (TESK_COMMAND_LINE): the command line as
  // typed; "" records the equivalent command (command_line.h).
  std::string command;
};

// A run from an array of samples in memory to a grid (tesk.fill).
struct FillOptions {
  SurfaceOptions surface;
  std::optional<double> nodata;  // required for integer samples; NaN is always no-data in real ones
  SampleType out = SampleType::float32;  // the result's type: full resolution when real, else whole units
  int threads = 0;
};

// The checks of every option's own range, in the command line's words
// (RunError); what depends on the source or the outputs is checked by the
// run.
void check_options(const SurfaceOptions& o);
void check_options(const TileOptions& o);
void check_threads(int threads);
void check_options(const RunOptions& o);

}  // namespace tesk
