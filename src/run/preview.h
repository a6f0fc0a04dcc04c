// The 8-bit preview of any array of samples, as the command line draws the
// preview of a DEM (tesk.preview).
#pragma once

#include <cstdint>

#include <functional>

#include "io/result_rows.h"
#include "run/samples.h"

namespace tesk {

// Real samples are taken at their whole part.  Without holes, the array is
// stretched from its minimum (0) to its maximum (255) as the command line's
// preview is.  Pixels without a finite value (NaN, infinities) are holes:
// 0, the others stretched over 1..255 as the command line's preview over an
// area of interest is.  Throws RunError for a finite sample beyond the int
// range ("the value V at row R, column C is not within the int range").
void preview(const Samples& s, std::uint8_t* out);

// The preview of a fitted surface (internal units) as the command line
// writes it: its whole units (to the nearest) stretched from the lowest
// (0) to the highest (255), or with an area of interest, 0 outside it and
// the inside over 1..255.  The surface and the mask must outlive the rows.
// Rows [i, i + n) go into out, row after row.
std::function<void(int i, int n, std::uint8_t* out)> surface_preview(const Grid<double>& fitted, int equid,
                                                                     const ByteGrid* inside);

// The same over a surface read a block of rows at a time (a run by tiles),
// whose lowest and highest whole units (inside the area of interest, if
// any) are lo and hi: whole_units gives them, pixel by pixel.
int whole_units(double internal, int equid);
std::function<void(int i, int n, std::uint8_t* out)> surface_preview(gdal::ResultRows fitted, int equid,
                                                                     const ByteGrid* inside, int lo, int hi);

}  // namespace tesk
