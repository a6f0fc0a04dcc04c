// A run from samples in memory to a grid, free of any front end: a contour
// array of any sample type and memory layout in, the DEM written into a
// caller's buffer (the Python package's tesk.fill).  The samples take the command line's paths through the
// library: integer samples of at most 32 bits (unsigned: 16) raw, with the
// no-data value as the run's marker; every other type (floating point,
// wider integers) row by row as doubles into internal units, NaN and the
// no-data value off the contours.  The result takes the type asked for,
// with the values the command line writes with -ot of that type: full
// resolution in float32 (its default) and float64, whole units in an
// integer type.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>

#include "run/run_hooks.h"
#include "stages/pipeline.h"
#include "tiles/window.h"

namespace tesk {

enum class Sample { kInt8, kUInt8, kInt16, kUInt16, kInt32, kUInt32, kInt64, kUInt64, kFloat32, kFloat64 };

// A 2-D array read through its strides (in bytes, any sign), never written.
struct Samples {
  const char* data = nullptr;
  Sample type = Sample::kUInt16;
  std::int64_t rows = 0, cols = 0;
  std::ptrdiff_t row_stride = 0, col_stride = 0;
};

// Whether the samples go into the run raw (the integer types that fit an int).
bool raw_samples(Sample type);
bool is_real(Sample type);
const char* type_name(Sample type);
// Whether v is a value of the type: for an integer type an integer within
// its range; for float32 any value within its range, which a sample holds
// rounded; every value for float64.
bool representable(double v, Sample type);
// v as a sample of the type compares: rounded to float32 for float32.
double as_sample(double v, Sample type);

struct FillParams {
  int interval = 1;
  std::optional<double> nodata;  // required for the integer types; NaN is always no-data in real ones
  int window = 1;
  bool overlay = true;
  int threads = 1;
  Sample out = Sample::kFloat32;  // the result's type: full resolution when real, else whole units
};

// Throws MemoryRefusal when the run's grids and out_bytes_per_pixel more
// cannot be held; allocates nothing.
void check_fill_memory(const Samples& s, std::uint64_t out_bytes_per_pixel);

// What a run did: its passes and sweeps, and the range of the result as
// its type holds it (whole units reach beyond the int range: 32-bit
// samples with a large interval; exact in a double all the same).
struct ResultStats {
  RunStats run;
  double minimum = 0;
  double maximum = 0;
  bool whole = false;  // the result holds whole units (an integer type)
};

// Runs the computation and writes the result into out, a C-ordered buffer
// of s's shape and p.out's type.  Bad input, in the command line's words
// with the Python parameter's name in place of the option, throws RunError
// (also for an integer type that cannot hold the result: never clipped),
// MemoryRefusal, and Cancelled once hooks.cancel says so; out is then
// partly written.
ResultStats fill(const Samples& s, const FillParams& p, void* out, const RunHooks& hooks);

// Throws RunError when type, an integer type, cannot hold the values
// minimum..maximum of a result (the message names a type that can).
void check_result_type(Sample type, double minimum, double maximum);

// What a run decides from the whole raster before it starts, surveyed one
// block at a time (a block's first row and column in the raster: row0,
// col0): whether a contour pixel is there, the first contour value in
// row-major order that internal units cannot hold (the survey stops
// there), and the longest run of no-data pixels along a row or a column of
// the block, runs cut by its edges included.
struct BlockSurvey {
  struct Fault {
    std::int64_t row = 0, col = 0;  // in the raster
    double value = 0;
  };
  bool contour = false;
  std::optional<Fault> fault;
  int longest_gap = 0;
};
BlockSurvey survey_block(const Samples& s, const FillParams& p, std::int64_t row0, std::int64_t col0);

// A tile of the run of a raster too large to be held whole, the raster's
// decisions made before by the caller from the survey of every block: the
// contour pixel exists and no value is too large.  block holds the tile's
// extent (the core with its halo, clipped to the raster:
// tiles/window.h's tile_extent), on one thread.  The core's values go into
// out (C order, p.out's type) exactly as fill writes them there in a whole
// run, when certified; when the type is an integer one that cannot hold
// them, nothing is written, and the caller refuses the run once it knows
// the range of all tiles (check_result_type).
struct TileFill {
  bool certified = false;      // every core pixel proven to be the whole run's
  std::int64_t uncertain = 0;  // the core pixels not proven
  double minimum = 0, maximum = 0;  // the core's range in p.out's type
  bool written = false;
};
TileFill fill_tile(const Samples& block, const TileRequest& request, const FillParams& p, void* out);

// The 8-bit preview of any array; real samples are taken at their whole
// part.  Without holes, stretched from its minimum to its maximum as the
// command line's preview is.  Pixels without a finite value (NaN,
// infinities) are holes: 0, the others stretched over 1..255 as the
// command line's preview over an area of interest is.  Throws RunError
// for a finite sample beyond the int range.
void preview(const Samples& s, std::uint8_t* out);

}  // namespace tesk
