// What every run by tiles, whatever its method, sizes before any work: the
// memory its tiles may use and the disk space its temporary rasters and
// outputs need.
#pragma once

#include <cstdint>
#include <string>

#include "io/gdal_source.h"
#include "run/run_options.h"

namespace tesk {

// The smallest tile, and the step of tile sizes (GeoTIFF blocks).
inline constexpr int kTileStep = 256;

// Bytes of a tile of `tile` pixels a side with `halo` pixels around it, at
// bytes_per_pixel of its extent (saturating).
std::uint64_t extent_bytes(std::int64_t tile, std::int64_t halo, std::uint64_t bytes_per_pixel);

// The largest halo a tile of `side` pixels may have within budget.
int largest_halo(int side, std::uint64_t budget, std::uint64_t bytes_per_pixel);

// The tile a run by tiles takes when the memory alone decides, the largest
// multiple of kTileStep up to the raster's longer side, or the smallest
// one giving as few tiles (as even as they can be): as many tiles at once as
// the threads (or the tiles) when the memory holds them with `halo` and the
// tile stays at least 4 times the halo; otherwise the largest that fits
// once.  One tile at a time leaves the second thread idle through the
// tile's serial parts (its certificate's lists and holes, its reading and
// storing); halving the tile costs its halo's work, which at 4 halos a
// side is under half as much again, less than that idle thread costs.
int tile_by_itself(int rows, int cols, int halo, int threads, std::uint64_t budget, std::uint64_t bytes_per_pixel);

// "N MiB", for messages.
std::string mib(std::uint64_t bytes);

// GDAL's block cache for a run by tiles: room for a few rows of 256 x 256
// blocks of 8 bytes across the raster (the readers and writers of the
// temporary rasters and the DEM go row by row), 64 MiB at least.  The whole
// cache the library would take fills with blocks written or read once, each
// in memory the process takes afresh from the system, page by page; a
// smaller one gives its blocks' memory to the next ones.
std::uint64_t tiled_cache_bytes(int cols);

// The memory the tiles may use: what the run may use, less GDAL's block
// cache, the run's overhead, the mask (held whole, a byte a pixel) and the
// writers' buffers (a row of GeoTIFF blocks across the raster, read from the
// tiles' results and converted for the DEM: 12 bytes a pixel).
std::uint64_t tile_budget(const RunOptions& o, const gdal::Source& src, int threads);

// Refuses (FileSystemFault), before any work, a run whose temporary rasters
// (scratch_bytes a pixel at worst, uncompressed) and outputs would not fit
// the free space beside the destination.
void check_disk(const RunOptions& o, const gdal::Source& src, std::uint64_t scratch_bytes);

}  // namespace tesk
