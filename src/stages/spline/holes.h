// The bound of the spline's surface far from the contours.
//
// A hole is a 4-connected region of pixels without a contour; its border is
// the contour pixels 4-adjacent to it.  A thin plate carries slopes on
// beyond the last contour (a sea, a valley floor that leaves the raster), so
// that values there may run far past anything the contours say.  Every
// value of a hole is brought back within [lowest bordering level - interval,
// highest bordering level + interval]: a summit inside one closed contour
// keeps a dome at most one interval high, a sea stays within an interval of
// its coastline.
#pragma once

#include <cstdint>

#include "core/grid.h"
#include "core/thread_pool.h"
#include "stages/progress.h"

namespace tesk::spline {

// In place, on a surface of the contours' shape; interval is in the
// surface's units (512 in internal units).  Returns the number of values
// changed.  Holes without a border (no contour at all) are left as they are.
// The clamping goes by rows on the pool's threads.
std::int64_t bound_holes(const IntGrid& contours, Grid<double>& surface, double interval, ThreadPool& pool,
                         CancelCheck cancel);

}  // namespace tesk::spline
