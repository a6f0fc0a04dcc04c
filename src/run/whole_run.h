// The run of a whole raster held in memory, the one every front end's run
// goes through when the raster fits (the command line's, tesk.run's,
// tesk.fill's): the grids allocated or refused with the figures, the
// contours read, a raster without contour refused, the remarks on the
// interval and the smoothing window given, the surface computed by the
// method chosen, a value internal units cannot hold reported with its row
// and column, the progress reported and a request to stop obeyed.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "core/grid.h"
#include "io/result_rows.h"
#include "run/run_hooks.h"
#include "run/run_options.h"
#include "run/run_result.h"
#include "stages/contour_survey.h"
#include "stages/pipeline.h"
#include "stages/spline/spline.h"

namespace tesk {

// The contours of a raster as a run reads them.
struct ContourReader {
  int rows = 0, cols = 0;
  std::string name;  // the source in messages: a path, or the parameter that holds the array
  // The no-data marker of raw integer samples; nothing when read() gives
  // internal units.
  std::optional<std::int32_t> raw_nodata;
  // Fills itab with every sample: raw, or in internal units (throwing
  // RunError, too_large_message, for a value they cannot hold); survey,
  // when given, receives the contour values of internal-unit readings.
  // Called a second time for the overlay.
  std::function<void(IntGrid& itab, ContourSurvey* survey, CancelCheck cancel)> read;
};

// What the run may use of the memory: reserved bytes kept for others (GDAL's
// block cache, the run's overhead), extra bytes a pixel beside the grids.
struct MemoryShare {
  std::uint64_t reserved_bytes = 0;
  std::uint64_t extra_bytes_per_pixel = 0;
};

// The finished surface of a whole run, in internal units, after the
// overlay.
struct Surface {
  Method method = Method::classic;
  // classic: itab the surface, itab1 its whole units and tab its preview
  // (the classic output set's); spline: itab the contours.
  RunGrids grids;
  Grid<double> fitted;  // spline: the surface
  RunStats stats;
  std::optional<SplineStats> spline;

  // The surface a block of rows at a time, as the writers read it.
  gdal::ResultRows rows() const;
};

// Runs the whole raster into s.  Reports progress from 0.05 (the reading
// done) to 0.90.  Throws RunError (MemoryRefusal before any allocation) and
// Cancelled.
void run_whole(Surface& s, const ContourReader& in, const SurfaceOptions& o, int threads, const RunHooks& hooks,
               const MemoryShare& share = {});

// What a fit did, as a note: the penalty's weight and the convergence.
std::string fit_note(const SplineStats& s);

}  // namespace tesk
