// Faults the test builds inject, so that the tests can check what a failure
// or a signal at a chosen point leaves behind without racing the program.
//
// Only builds configured with TESK_FAULT_INJECTION (the test builds) read
// the environment variable TESK_FAULT=NAME and fail at the point called
// NAME; in every other build these functions are constants that do nothing,
// and none of this code is compiled.
//
// The points:
//   fail-before-rename         a run fails once every output is written
//   fail-mid-rename            the second move of a commit fails
//   fail-unlink-after-link     the second move of a commit leaves its file at both names
//   signal-while-writing       a SIGINT arrives while the DEM is written
//   two-signals-while-writing  two SIGINTs, then the write hangs as a stuck one would
#pragma once

#ifdef TESK_FAULT_INJECTION
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#endif

namespace tesk::injected {

// True when this test build is asked to fail at `point`.
inline bool fault(const char* point) {
#ifdef TESK_FAULT_INJECTION
  const char* f = std::getenv("TESK_FAULT");
  return f && std::strcmp(f, point) == 0;
#else
  (void)point;
  return false;
#endif
}

// The signals of the points signal-while-writing and two-signals-while-
// writing, sent once per Signals object (a run's writing) from its first
// poll; seen() tells when the run has taken the first one.
class Signals {
 public:
  template <class Seen>
  void poll([[maybe_unused]] const Seen& seen) {
#ifdef TESK_FAULT_INJECTION
    if (sent_) return;
    const bool one = fault("signal-while-writing"), two = fault("two-signals-while-writing");
    if (!one && !two) return;
    sent_ = true;
    ::kill(::getpid(), SIGINT);
    struct sigaction now {};
    if (::sigaction(SIGINT, nullptr, &now) == 0 && now.sa_handler == SIG_IGN) return;  // ignored: never seen
    for (int k = 0; k < 5000 && !seen(); ++k) ::usleep(1000);
    if (!two) return;
    ::kill(::getpid(), SIGINT);
    for (;;) ::pause();
#endif
  }

 private:
  [[maybe_unused]] bool sent_ = false;
};

}  // namespace tesk::injected
