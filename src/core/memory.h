// How much memory a run may use, read from the system before the grids are
// allocated: Linux overcommits, so a too large allocation would not fail at
// once but get the process killed later.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

namespace tesk {

// The smallest of the memory the kernel reports as available, what the
// process's control group may still use, and the room left under the
// process's own address-space and data-size limits (RLIMIT_AS, RLIMIT_DATA,
// as lowered by ulimit or prlimit).  nullopt when none can be read.
std::optional<std::uint64_t> available_memory();

// Maps the pages of [p, p + bytes) for writing now rather than at their
// first write, without changing what they hold (Linux 5.14 and later; a
// no-op elsewhere or when the kernel refuses).  Only whole pages inside the
// range are mapped.  Safe while other threads read or write the range.
void populate_pages(void* p, std::size_t bytes);

// Makes every allocation of kOwnMappingBytes or more a mapping of its own,
// given back to the system when freed, and lets each heap keep up to
// kHeapKeptBytes free at its top.  By default the C library raises the
// first threshold to the size of the largest block freed so far, after which
// the grids of a run's later stages come from the heap, whose freed pages
// stay resident: a run's peak then exceeds the sum of its grids (by 2 bytes
// a pixel for the spline).  Fixing it turns off that adjustment for the
// second, whose default (128 KiB) then gives the heaps' pages back after
// nearly every large free: a run by tiles, which allocates and frees the
// buffers of every tile (the library's and GDAL's among them), took its
// pages afresh again and again, a fault each, dear on a virtual machine.
// Grids of a huge page or more are mapped apart whatever these say
// (grid.h).  Call once, before the run.  A no-op elsewhere than with the GNU
// C library.
constexpr std::size_t kOwnMappingBytes = std::size_t{4} << 20;
constexpr std::size_t kHeapKeptBytes = std::size_t{4} << 20;
void keep_large_blocks_apart();

// Peak resident memory of this process so far, in bytes (0 if unknown).
std::uint64_t peak_resident_memory();

// rows x cols x bytes_per_pixel, or nullopt when it does not fit 64 bits.
std::optional<std::uint64_t> grid_bytes(std::int64_t rows, std::int64_t cols, std::uint64_t bytes_per_pixel);

// Whether grids of rows x cols pixels at bytes_per_pixel fit the memory the
// run may use, less reserved_bytes kept for other uses (a library's cache),
// with the figures a refusal gives (in MiB; exact even when the byte count
// leaves 64 bits).
struct MemoryCheck {
  bool fits = true;
  unsigned long long need_mib = 0;
  unsigned long long avail_mib = 0;
};
MemoryCheck check_memory(std::int64_t rows, std::int64_t cols, std::uint64_t bytes_per_pixel,
                         std::uint64_t reserved_bytes = 0);

}  // namespace tesk
