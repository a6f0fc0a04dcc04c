#include "core/grid.h"

#include <sys/mman.h>

#include <cstdlib>

namespace tesk {
namespace {

// From this size on, a grid is mapped on its own and asks for transparent
// huge pages: a run writes every page of its large grids, and one fault
// per 2 MiB instead of one per 4 KiB took a fifth off the spline's CPU
// time on jacksboro8x (docs/performance.md).  Smaller blocks come from
// calloc.
constexpr std::size_t kOwnMapping = std::size_t{4} << 20;

}  // namespace

void* grid_block(std::size_t bytes) {
  if (bytes < kOwnMapping) return std::calloc(bytes, 1);
  void* p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) return nullptr;
#ifdef MADV_HUGEPAGE
  madvise(p, bytes, MADV_HUGEPAGE);  // a hint: without it, or refused, the grid works the same
#endif
  return p;
}

void free_grid_block(void* p, std::size_t bytes) {
  if (p == nullptr) return;
  if (bytes < kOwnMapping) std::free(p);
  else munmap(p, bytes);
}

}  // namespace tesk
