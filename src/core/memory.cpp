#include "core/memory.h"

#include <sys/mman.h>
#if defined(__GLIBC__)
#include <malloc.h>
#endif
#include <sys/resource.h>
#include <unistd.h>

#include <fstream>
#include <limits>
#include <sstream>
#include <string>

namespace tesk {
namespace {

std::optional<std::uint64_t> read_number(const char* path) {
  std::ifstream in(path);
  std::string word;
  if (!(in >> word) || word == "max") return std::nullopt;
  try {
    return std::stoull(word);
  } catch (...) {
    return std::nullopt;
  }
}

std::optional<std::uint64_t> mem_available() {
  std::ifstream in("/proc/meminfo");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("MemAvailable:", 0) == 0) {
      std::istringstream fields(line.substr(13));
      std::uint64_t kib = 0;
      if (fields >> kib) return kib * 1024;
    }
  }
  return std::nullopt;
}

// Room left under the control group's limit (v2, then v1).
std::optional<std::uint64_t> cgroup_room() {
  auto limit = read_number("/sys/fs/cgroup/memory.max");
  auto used = read_number("/sys/fs/cgroup/memory.current");
  if (!limit) {
    limit = read_number("/sys/fs/cgroup/memory/memory.limit_in_bytes");
    used = read_number("/sys/fs/cgroup/memory/memory.usage_in_bytes");
  }
  // cgroup v1 reports "no limit" as a huge page-rounded number.
  if (!limit || *limit >= (std::uint64_t{1} << 60)) return std::nullopt;
  const std::uint64_t u = used.value_or(0);
  return *limit > u ? *limit - u : 0;
}

// A field of /proc/self/status given in kB ("VmSize:", "VmData:"), in bytes.
std::optional<std::uint64_t> own_status_bytes(const char* field) {
  std::ifstream in("/proc/self/status");
  const std::string key = field;
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind(key, 0) == 0) {
      std::istringstream fields(line.substr(key.size()));
      std::uint64_t kib = 0;
      if (fields >> kib) return kib * 1024;
    }
  }
  return std::nullopt;
}

// Room left under one of the process's own resource limits: the soft limit
// less what the process already has mapped of that kind.  Past it, calloc
// fails (the kernel refuses the mapping), so the run must stay below it.
std::optional<std::uint64_t> rlimit_room(int resource, const char* status_field) {
  struct rlimit rl {};
  if (getrlimit(resource, &rl) != 0 || rl.rlim_cur == RLIM_INFINITY) return std::nullopt;
  const std::uint64_t limit = rl.rlim_cur;
  const std::uint64_t used = own_status_bytes(status_field).value_or(0);
  return limit > used ? limit - used : 0;
}

void keep_smaller(std::optional<std::uint64_t>& best, std::optional<std::uint64_t> other) {
  if (other && (!best || *other < *best)) best = other;
}

}  // namespace

void populate_pages(void* p, std::size_t bytes) {
#if defined(__linux__)
  // Not in every libc's headers yet.
  constexpr int kPopulateWrite = 23;  // MADV_POPULATE_WRITE
  const long page = sysconf(_SC_PAGESIZE);
  if (page <= 0 || p == nullptr) return;
  const auto mask = static_cast<std::uintptr_t>(page) - 1;
  const auto a = (reinterpret_cast<std::uintptr_t>(p) + mask) & ~mask;
  const auto e = (reinterpret_cast<std::uintptr_t>(p) + bytes) & ~mask;
  if (e > a) (void)madvise(reinterpret_cast<void*>(a), e - a, kPopulateWrite);
#else
  (void)p;
  (void)bytes;
#endif
}

std::optional<std::uint64_t> available_memory() {
  std::optional<std::uint64_t> best = mem_available();
  keep_smaller(best, cgroup_room());
  keep_smaller(best, rlimit_room(RLIMIT_AS, "VmSize:"));
  keep_smaller(best, rlimit_room(RLIMIT_DATA, "VmData:"));
  return best;
}

std::uint64_t peak_resident_memory() {
  struct rusage ru {};
  if (getrusage(RUSAGE_SELF, &ru) != 0) return 0;
  return static_cast<std::uint64_t>(ru.ru_maxrss) * 1024;
}

std::optional<std::uint64_t> grid_bytes(std::int64_t rows, std::int64_t cols, std::uint64_t bytes_per_pixel) {
  if (rows < 0 || cols < 0) return std::nullopt;
  unsigned __int128 n = static_cast<unsigned __int128>(rows) * static_cast<unsigned __int128>(cols) * bytes_per_pixel;
  if (n > std::numeric_limits<std::uint64_t>::max()) return std::nullopt;
  return static_cast<std::uint64_t>(n);
}

MemoryCheck check_memory(std::int64_t rows, std::int64_t cols, std::uint64_t bytes_per_pixel,
                         std::uint64_t reserved_bytes) {
  MemoryCheck c;
  const auto need = grid_bytes(rows, cols, bytes_per_pixel);
  auto avail = available_memory();
  if (avail) *avail = *avail > reserved_bytes ? *avail - reserved_bytes : 0;
  const auto bytes = static_cast<unsigned __int128>(static_cast<std::uint64_t>(rows < 0 ? 0 : rows)) *
                     static_cast<std::uint64_t>(cols < 0 ? 0 : cols) * bytes_per_pixel;
  c.need_mib = static_cast<unsigned long long>(bytes >> 20);
  c.avail_mib = static_cast<unsigned long long>(avail.value_or(0) >> 20);
  c.fits = need && (!avail || *need <= *avail);
  return c;
}

void keep_large_blocks_apart() {
#if defined(__GLIBC__)
  mallopt(M_MMAP_THRESHOLD, static_cast<int>(kOwnMappingBytes));
  mallopt(M_TRIM_THRESHOLD, static_cast<int>(kHeapKeptBytes));
#endif
}

}  // namespace tesk
