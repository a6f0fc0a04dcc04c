// A run from samples in memory to a grid (tesk.fill): the contours of a
// Samples array in, the DEM written into a caller's buffer in the type
// asked for, with the values the command line writes with -ot of that type:
// full resolution in float32 (the default) and float64, whole units in an
// integer type.
#pragma once

#include <cstdint>

#include "core/sample_type.h"
#include "run/run_hooks.h"
#include "run/run_options.h"
#include "run/samples.h"

namespace tesk {

// Throws RunError for options out of their ranges, or a no-data value the
// samples cannot hold (in the front end's words, through mentions), and
// MemoryRefusal when the run's grids and out_bytes_per_pixel more cannot be
// held; allocates nothing.
void check_fill(const Samples& s, const FillOptions& o, std::uint64_t out_bytes_per_pixel);

// Runs the computation and writes the result into out, a C-ordered buffer
// of s's shape and o.out's type.  Throws RunError (also for an integer type
// that cannot hold the result: never clipped), MemoryRefusal, and Cancelled
// once hooks.cancel says so; out is then partly written.
ResultStats fill(const Samples& s, const FillOptions& o, void* out, const RunHooks& hooks);

// Throws RunError when type, an integer type, cannot hold the values
// minimum..maximum of a result (the message names a type that can).
void check_result_type(SampleType type, double minimum, double maximum);

// The range of the internal values of `internal` in type `type`, and the
// values themselves into out (C order) when the type holds them.
ResultStats result_range(const IntGrid& internal, int interval, SampleType type, CancelCheck cancel = {});
void write_result(const IntGrid& internal, int interval, SampleType type, void* out, CancelCheck cancel = {});
// The same for a fitted surface, whole units rounded to the nearest.
ResultStats result_range(const Grid<double>& fitted, int interval, SampleType type, CancelCheck cancel = {});
void write_result(const Grid<double>& fitted, int interval, SampleType type, void* out, CancelCheck cancel = {});

}  // namespace tesk
