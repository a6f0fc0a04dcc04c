// Generated contour rasters for the benchmark.
//
// The terrain is a sum of random Gaussian hills and hollows whose sizes and
// heights are fixed in pixels and metres whatever the raster's size, with a
// number of hills in proportion to the area: a larger raster is more of the
// same terrain, not a stretched one.  A pixel is a contour pixel when the
// terrain crosses a multiple of the interval between it and its right or
// lower neighbour; it then holds that multiple (the larger one when the step
// crosses several); every other pixel holds the no-data sample 65500.
#pragma once

#include <cstdint>
#include <vector>

namespace tesk::bench {

struct ContourRaster {
  int rows = 0;
  int cols = 0;
  std::vector<std::uint16_t> samples;  // row-major 16-bit samples
  double contour_share = 0.0;          // share of contour pixels
};

// With terrain given, it receives the terrain itself (metres, row-major):
// the truth a surface made from the contours is scored against.
ContourRaster make_contour_raster(int rows, int cols, std::uint32_t seed, int interval,
                                  std::vector<float>* terrain = nullptr);

}  // namespace tesk::bench
