// Where a run by tiles keeps a raster of its own until the whole raster is
// done (the tiles' results, the values of the holes): a temporary GeoTIFF
// of internal units (Int32, or Float64 for a fitted surface; tiled),
// written by windows and read back by windows or a block of rows at a time.
//
// The tiles' results are stored plain: compressing each tile's core on the
// thread that takes the tiles, and expanding it again for the outputs, cost
// more than the writes it saved (docs/performance.md); the run's disk check
// counts every stored pixel whole.  The holes' values and ranges, written
// once in a pass of their own and mostly no-data, are compressed: a raster
// larger than the memory then writes little more than its results.
#pragma once

#include <string>
#include <vector>

#include "core/grid.h"
#include "io/gdal_shared.h"
#include "io/result_rows.h"

namespace tesk::gdal {

class TileStore {
 public:
  // A raster of rows x cols at path (in a scratch directory), of doubles
  // when real, compressed losslessly on compress_threads threads (stored
  // plain with 0).  Throws RunError.
  TileStore(const std::string& path, int rows, int cols, bool real, int compress_threads);

  // The values of a tile's core whose first pixel is (row0, col0).
  void put(int row0, int col0, const IntGrid& values);
  void put(int row0, int col0, const Grid<double>& values);
  // The window whose first pixel is (row0, col0), as large as out (written
  // before: finish() need not have been called).
  void get(int row0, int col0, IntGrid& out);
  // Every tile is in: the raster is flushed for reading.
  void finish();
  // The stored result, a block of rows at a time (each reader with a
  // buffer of its own).
  ResultRows rows();

 private:
  void write(int row0, int col0, int rows, int cols, const void* data, int type);

  std::string path_;
  int rows_, cols_;
  DatasetPtr ds_;
};

}  // namespace tesk::gdal
