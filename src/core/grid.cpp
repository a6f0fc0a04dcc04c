#include "core/grid.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>

namespace tesk {
namespace {

// From the size of a huge page on, a grid is mapped on its own, starting on
// a huge page's boundary, and asks for transparent huge pages: a run writes
// every page of its large grids, and one fault per 2 MiB instead of one per
// 4 KiB took a fifth off the spline's CPU time on jacksboro8x, and a tenth
// off runs by tiles, which map their grids afresh for every tile
// (docs/performance.md).  Smaller blocks come from calloc.
constexpr std::size_t kOwnMapping = std::size_t{2} << 20;
constexpr std::size_t kHugePage = std::size_t{2} << 20;

}  // namespace

void* grid_block(std::size_t bytes) {
  if (bytes < kOwnMapping) return std::calloc(bytes, 1);
  // Mapped with room to start on a huge page's boundary, the room then
  // given back: a huge page covers only an aligned 2 MiB wholly inside the
  // mapping.
  // mapping.  Where the room cannot be had (a tight limit on the process's
  // data), the block alone.
  const auto page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
  const std::size_t room = bytes + kHugePage;
  void* block = nullptr;
  void* p = mmap(nullptr, room, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p != MAP_FAILED && page > 0 && kHugePage % page == 0) {
    const auto at = reinterpret_cast<std::uintptr_t>(p);
    const std::uintptr_t start = (at + kHugePage - 1) & ~static_cast<std::uintptr_t>(kHugePage - 1);
    const std::uintptr_t end = start + ((bytes + page - 1) & ~(page - 1));
    if (start > at) munmap(p, start - at);
    if (at + room > end) munmap(reinterpret_cast<void*>(end), at + room - end);
    block = reinterpret_cast<void*>(start);
  } else {
    if (p != MAP_FAILED) munmap(p, room);
    block = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (block == MAP_FAILED) return nullptr;
  }
#ifdef MADV_HUGEPAGE
  madvise(block, bytes, MADV_HUGEPAGE);  // a hint: without it, or refused, the grid works the same
#endif
  return block;
}

void free_grid_block(void* p, std::size_t bytes) {
  if (p == nullptr) return;
  if (bytes < kOwnMapping) std::free(p);
  else munmap(p, bytes);
}

}  // namespace tesk
