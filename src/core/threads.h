// How many threads the computation uses.
#pragma once

#include <optional>
#include <string>

namespace tesk {

// The most worker threads a run may ask for, on the command line or in
// TESK_THREADS.
inline constexpr int kMaxThreads = 1024;

// requested > 0 wins (at most kMaxThreads); otherwise the environment variable TESK_THREADS when
// it holds a positive whole number; otherwise every core of the machine.
// Never less than 1.
int resolve_threads(int requested);

// Why TESK_THREADS, when it is set, is not a number of threads and so is
// left aside (every core is then used); nothing when it is unset or fine.
std::optional<std::string> thread_variable_fault();

// The processors this process may run on (its affinity mask where the
// system has one), at least 1.
int usable_cpus();

}  // namespace tesk
