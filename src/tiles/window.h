// The geometry of a tile: the core a tile run answers for, the halo it
// computes around it, and where that halo is cut short of the raster's
// edges.
#pragma once

#include <algorithm>

namespace tesk {

// A rectangle of the raster: its first row and column and its size.
struct Window {
  int row0 = 0;
  int col0 = 0;
  int rows = 0;
  int cols = 0;
};

// A tile of a raster of raster_rows x raster_cols pixels: the core, inside
// the raster, and the halo computed with it on every side that is not an
// edge of the raster.
struct TileRequest {
  int raster_rows = 0;
  int raster_cols = 0;
  Window core;
  int halo = 0;
};

// Whether the core lies inside the raster, holds a pixel, and the halo is
// not negative.
inline bool valid(const TileRequest& s) {
  const Window& c = s.core;
  return s.halo >= 0 && c.rows > 0 && c.cols > 0 && c.row0 >= 0 && c.col0 >= 0 && c.rows <= s.raster_rows - c.row0 &&
         c.cols <= s.raster_cols - c.col0;
}

// The rectangle a tile run computes: the core and its halo, clipped to the
// raster.
inline Window tile_extent(const TileRequest& s) {
  const Window& c = s.core;
  const auto reach = [&](int first, int size, int total, int& a, int& b) {
    a = std::max(0, first - s.halo);
    b = static_cast<int>(std::min<long long>(total, static_cast<long long>(first) + size + s.halo));
  };
  int r0, r1, c0, c1;
  reach(c.row0, c.rows, s.raster_rows, r0, r1);
  reach(c.col0, c.cols, s.raster_cols, c0, c1);
  return {r0, c0, r1 - r0, c1 - c0};
}

// The sides of a tile's extent beyond which the raster goes on: there the
// tile misses pixels that the whole run has.
struct CutSides {
  bool top = false;
  bool bottom = false;
  bool left = false;
  bool right = false;
};

inline CutSides cut_sides(const Window& t, int raster_rows, int raster_cols) {
  return {t.row0 > 0, t.row0 + t.rows < raster_rows, t.col0 > 0, t.col0 + t.cols < raster_cols};
}

}  // namespace tesk
