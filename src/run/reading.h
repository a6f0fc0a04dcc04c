// The first steps every run shares, whatever its front end: the grids
// allocated (or refused, with the figures), the samples read into internal
// units row by row, the refusal of a source without a contour pixel, and
// the report of a value internal units cannot hold.  `name` names the
// source in messages (a path, or a Python parameter).
#pragma once

#include <cstdint>
#include <string>

#include "core/function_ref.h"
#include "core/grid.h"
#include "core/memory.h"
#include "run/run_hooks.h"
#include "stages/contour_survey.h"
#include "run/run_options.h"
#include "stages/pipeline.h"
#include "tiles/plan.h"

namespace tesk {

// Throws MemoryRefusal when bytes_per_pixel for each of rows x cols pixels
// do not fit the memory the run may use less reserved_bytes (GDAL's block
// cache, for a run that reads files).
void check_run_memory(std::int64_t rows, std::int64_t cols, std::uint64_t bytes_per_pixel, const std::string& name,
                      std::uint64_t reserved_bytes = 0);

// Memory a run of files uses beside its grids and GDAL's block cache: the
// threads' stacks, the buffers of the reading and the writing, and what the
// heaps of the calling thread and of each worker keep free at their top
// (core/memory.h).
inline std::uint64_t run_overhead_bytes(int threads) {
  return (std::uint64_t{32} << 20) + static_cast<std::uint64_t>(threads) * (std::uint64_t{8} << 20) +
         static_cast<std::uint64_t>(threads + 1) * kHeapKeptBytes;
}

// Allocates the grids of a run (threads > 1: their pages mapped early),
// once check_run_memory has passed for bytes_per_pixel.  Throws
// MemoryRefusal.
void allocate_run(RunGrids& g, int rows, int cols, int threads, const std::string& name, std::uint64_t reserved_bytes,
                  std::uint64_t bytes_per_pixel);

// The message for a contour value v at (row, col) that internal units
// cannot hold: "NAME: ...".
std::string too_large_message(const std::string& name, double v, int row, int col, int equid);

// Fills itab with the samples in internal units: read_row(i, row) gives
// row i as doubles, NaN or a value equal to nodata (as compared there) off
// the contours.  The contour values go into survey when one is given.
// Throws RunError (too_large_message) for a value internal units cannot
// hold, and Cancelled.
void read_into_internal(IntGrid& itab, FunctionRef<void(int, double*)> read_row, double nodata, int equid,
                        const std::string& name, ContourSurvey* survey, CancelCheck cancel);

// What the contour values say about the interval, as remarks: values that
// are not multiples of it come back closer to zero, and a range of a few intervals
// gives a result of a few values.
void warn_about_interval(const ContourSurvey& s, int equid, const std::string& name, const RunHooks& hooks);

// The remark that a smoothing window of degree maille does not fit a
// raster of rows x cols pixels, which is then not smoothed.
void warn_smoothing_skipped(int maille, int rows, int cols, const RunHooks& hooks);

// What the survey of a whole raster of rows x cols, run by tiles or in
// blocks, refuses (its first value internal units cannot hold, no contour
// pixel at all) and remarks (the interval, a smoothing window larger than
// the raster) before any tile runs, as a whole run would.
void settle_survey(const RasterSurvey& s, int rows, int cols, const SurfaceOptions& o, const std::string& name,
                   const RunHooks& hooks);

// Throws RunError (no_contour_message) when every value of itab is `off`.
void refuse_without_contours(const IntGrid& itab, std::int32_t off, const std::string& name);

}  // namespace tesk
