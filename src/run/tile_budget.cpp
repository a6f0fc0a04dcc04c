#include "run/tile_budget.h"

#include <sys/statvfs.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>

#include "core/memory.h"
#include "core/run_error.h"
#include "run/reading.h"
#include "tiles/plan.h"

namespace tesk {

std::uint64_t extent_bytes(std::int64_t tile, std::int64_t halo, std::uint64_t bytes_per_pixel) {
  const double side = static_cast<double>(tile) + 2.0 * static_cast<double>(halo);
  const double bytes = side * side * static_cast<double>(bytes_per_pixel);
  return bytes >= 1.8e19 ? UINT64_MAX : static_cast<std::uint64_t>(bytes);
}

int largest_halo(int side, std::uint64_t budget, std::uint64_t bytes_per_pixel) {
  int halo = 0;
  for (int step = 1 << 20; step > 0; step /= 2)
    if (extent_bytes(side, halo + step, bytes_per_pixel) <= budget) halo += step;
  return halo;
}

int tile_by_itself(int rows, int cols, int halo, int threads, std::uint64_t budget, std::uint64_t bytes_per_pixel) {
  const int side = std::max(rows, cols);
  const auto at_once = [&](int tile) {
    return static_cast<std::uint64_t>(std::clamp(TileGrid{rows, cols, tile}.count(), 1, std::max(1, threads)));
  };
  const auto fits = [&](int tile, std::uint64_t n) { return extent_bytes(tile, halo, bytes_per_pixel) <= budget / n; };
  // The largest multiple of kTileStep, up to the first that covers the
  // longer side, before the first for which holds is false; then the
  // smallest that cuts the raster into as many tiles, so that the last
  // row and column of tiles are not slivers.
  const auto largest = [&](auto holds) {
    int tile = kTileStep;
    while (tile < side && holds(tile + kTileStep)) tile += kTileStep;
    const int count = TileGrid{rows, cols, tile}.count();
    while (tile > kTileStep && TileGrid{rows, cols, tile - kTileStep}.count() == count) tile -= kTileStep;
    return tile;
  };
  const int once = largest([&](int tile) { return fits(tile, 1); });
  const int shared = largest([&](int tile) { return fits(tile, at_once(tile)); });
  const bool side_by_side = threads > 1 && std::int64_t{shared} >= 4 * std::int64_t{halo} && fits(shared, at_once(shared));
  return side_by_side ? shared : once;
}

std::string mib(std::uint64_t bytes) { return std::to_string(bytes >> 20) + " MiB"; }

std::uint64_t tiled_cache_bytes(int cols) {
  // Four rows of blocks: 4 x 256 rows x 8 bytes a pixel.
  const std::uint64_t rows_of_blocks = (std::uint64_t{8} << 10) * static_cast<std::uint64_t>(std::max(cols, 0));
  return std::max<std::uint64_t>(std::uint64_t{64} << 20, rows_of_blocks);
}

std::uint64_t tile_budget(const RunOptions& o, const gdal::Source& src, int threads) {
  const auto avail = available_memory().value_or(std::uint64_t{1} << 40);
  std::uint64_t reserved = gdal::cache_bytes() + run_overhead_bytes(threads) +
                           std::uint64_t{kTileStep} * static_cast<std::uint64_t>(src.cols()) * 12;
  if (o.mask) reserved += static_cast<std::uint64_t>(src.rows()) * static_cast<std::uint64_t>(src.cols());
  return avail > reserved ? avail - reserved : 0;
}

void check_disk(const RunOptions& o, const gdal::Source& src, std::uint64_t scratch_bytes) {
  const auto pixels = static_cast<std::uint64_t>(src.rows()) * static_cast<std::uint64_t>(src.cols());
  // The temporary rasters, the DEM (8 bytes at worst), the pictures and
  // their intermediate rasters.
  std::uint64_t need = pixels * (scratch_bytes + 8);
  if (o.preview) need += pixels;
  if (o.hillshade) need += pixels * 6;
  const std::string dir = std::filesystem::path(o.dst).parent_path().string();
  struct statvfs fs {};
  if (::statvfs(dir.empty() ? "." : dir.c_str(), &fs) != 0) return;
  const std::uint64_t free = static_cast<std::uint64_t>(fs.f_bavail) * fs.f_frsize;
  if (need > free)
    throw FileSystemFault("not enough disk space: a run of " + std::to_string(src.rows()) + " x " +
                          std::to_string(src.cols()) + " pixels by tiles writes up to " + mib(need) + " beside " +
                          o.dst + ", and " + mib(free) + " are free (" + o.src + ")");
}

}  // namespace tesk
