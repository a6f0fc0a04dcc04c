#include "core/threads.h"

#include <cstdlib>
#include <thread>

#if defined(__linux__)
#include <sched.h>
#endif

namespace tesk {

namespace {

// TESK_THREADS when it holds a whole number from 1 to kMaxThreads.
std::optional<int> thread_variable() {
  const char* env = std::getenv("TESK_THREADS");
  if (!env) return std::nullopt;
  char* end = nullptr;
  const long n = std::strtol(env, &end, 10);
  if (end != env && *end == '\0' && n > 0 && n <= kMaxThreads) return static_cast<int>(n);
  return std::nullopt;
}

}  // namespace

int resolve_threads(int requested) {
  if (requested > 0) return requested < kMaxThreads ? requested : kMaxThreads;
  if (const auto n = thread_variable()) return *n;
  const unsigned hw = std::thread::hardware_concurrency();
  return hw > 0 ? static_cast<int>(hw) : 1;
}

std::optional<std::string> thread_variable_fault() {
  const char* env = std::getenv("TESK_THREADS");
  if (!env || thread_variable()) return std::nullopt;
  return "TESK_THREADS=" + std::string(env) + " left aside: it must be a whole number from 1 to " +
         std::to_string(kMaxThreads) + "; every core is used";
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
