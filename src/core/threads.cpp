#include "core/threads.h"

#include <cstdlib>
#include <thread>

#if defined(__linux__)
#include <sched.h>
#endif

namespace tesk {

int resolve_threads(int requested) {
  if (requested > 0) return requested < kMaxThreads ? requested : kMaxThreads;
  if (const char* env = std::getenv("TESK_THREADS")) {
    char* end = nullptr;
    const long n = std::strtol(env, &end, 10);
    if (end != env && *end == '\0' && n > 0 && n <= kMaxThreads) return static_cast<int>(n);
  }
  const unsigned hw = std::thread::hardware_concurrency();
  return hw > 0 ? static_cast<int>(hw) : 1;
}

int usable_cpus() {
#if defined(__linux__)
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) == 0) {
    const int n = CPU_COUNT(&set);
    if (n > 0) return n;
  }
#endif
  const unsigned hw = std::thread::hardware_concurrency();
  return hw > 0 ? static_cast<int>(hw) : 1;
}

}  // namespace tesk
