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
constexpr std::size_t kHugePage = std::size_t{2} << 20;

void* map(std::size_t bytes) {
  void* p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  return p == MAP_FAILED ? nullptr : p;
}

// A mapping of bytes that starts on a huge page's boundary: mapped with a
// huge page of room, the room then given back (a huge page covers only an
// aligned 2 MiB wholly inside a mapping).  nullptr where the room cannot be
// had, say under a tight limit on the process's data.
void* aligned_map(std::size_t bytes) {
  const auto page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
  if (page == 0 || kHugePage % page != 0) return nullptr;
  const std::size_t room = bytes + kHugePage;
  void* p = map(room);
  if (p == nullptr) return nullptr;
  const auto at = reinterpret_cast<std::uintptr_t>(p);
  const std::uintptr_t start = (at + kHugePage - 1) & ~static_cast<std::uintptr_t>(kHugePage - 1);
  const std::uintptr_t end = start + ((bytes + page - 1) & ~(page - 1));
  if (start > at) munmap(p, start - at);
  if (at + room > end) munmap(reinterpret_cast<void*>(end), at + room - end);
  return reinterpret_cast<void*>(start);
}

}  // namespace

void* grid_block(std::size_t bytes) {
  if (bytes < kHugePage) return std::calloc(bytes, 1);
  void* block = aligned_map(bytes);
  if (block == nullptr) block = map(bytes);
#ifdef MADV_HUGEPAGE
  // A hint: without it, or refused, the grid works the same.
  if (block != nullptr) madvise(block, bytes, MADV_HUGEPAGE);
#endif
  return block;
}

void free_grid_block(void* p, std::size_t bytes) {
  if (p == nullptr) return;
  if (bytes < kHugePage) std::free(p);
  else munmap(p, bytes);
}

}  // namespace tesk
