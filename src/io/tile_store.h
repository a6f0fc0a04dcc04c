// Where a run by tiles keeps its tiles' results until the whole raster is
// done: a temporary GeoTIFF of internal units (Int32, tiled, compressed
// losslessly), written tile by tile and read back a block of rows at a
// time by the writers.
#pragma once

#include <string>
#include <vector>

#include "core/grid.h"
#include "io/gdal_shared.h"
#include "io/result_rows.h"

namespace tesk::gdal {

class TileStore {
 public:
  // A raster of rows x cols at path (in a scratch directory), compressed on
  // threads threads.  Throws RunError.
  TileStore(const std::string& path, int rows, int cols, int threads);

  // The values of a tile's core whose first pixel is (row0, col0).
  void put(int row0, int col0, const IntGrid& values);
  // Every tile is in: the raster is flushed for reading.
  void finish();
  // The stored result, a block of rows at a time (each reader with a
  // buffer of its own).
  ResultRows rows();

 private:
  std::string path_;
  int rows_, cols_;
  DatasetPtr ds_;
};

}  // namespace tesk::gdal
