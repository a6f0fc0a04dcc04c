#include "app/stop_signals.h"

#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <thread>

#include "io/staged_output.h"

namespace tesk {
namespace {

// Polled by the run's threads: atomics that never take a lock, unlike a
// volatile sig_atomic_t, which two threads may not share.
std::atomic<int> g_stop{0};
std::atomic<int> g_count{0};
static_assert(std::atomic<int>::is_always_lock_free);

// The stop signals, but those the caller ignores (nohup, a shell's
// background job): they stay ignored.
sigset_t stop_set() {
  sigset_t set;
  sigemptyset(&set);
  for (int s : {SIGINT, SIGTERM, SIGHUP}) {
    struct sigaction now {};
    if (sigaction(s, nullptr, &now) == 0 && now.sa_handler == SIG_IGN) continue;
    sigaddset(&set, s);
  }
  return set;
}

[[noreturn]] void watch(sigset_t set) {
  for (;;) {
    int s = 0;
    if (sigwait(&set, &s) != 0) continue;
    int none = 0;
    g_stop.compare_exchange_strong(none, s);
    if (g_count.fetch_add(1) + 1 < 2) continue;
    // Asked twice: no more waiting for the run.
    Staging::discard_all();
    signal(s, SIG_DFL);
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    raise(s);
    for (;;) pause();
  }
}

}  // namespace

void catch_stop_signals() {
  // A file grown past the process's size limit (ulimit -f) fails its write
  // with EFBIG, which the run reports and cleans up after, rather than
  // killing the process with its temporary files left behind.
  signal(SIGXFSZ, SIG_IGN);
  const sigset_t set = stop_set();
  if (sigisemptyset(&set) == 1) return;  // every one ignored: nothing to watch
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  std::thread(watch, set).detach();
}

int stop_signal() { return g_stop.load(); }

int stop_signals_received() { return g_count.load(); }

}  // namespace tesk
