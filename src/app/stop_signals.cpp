#include "app/stop_signals.h"

#include <signal.h>

#include <csignal>
#include <initializer_list>

namespace tesk {
namespace {

volatile std::sig_atomic_t g_stop = 0;
volatile std::sig_atomic_t g_held = 0;

extern "C" void on_stop(int s) {
  if (g_stop != 0 && g_held == 0) {  // asked twice: no more waiting
    std::signal(s, SIG_DFL);
    std::raise(s);
    return;
  }
  if (g_stop == 0) g_stop = s;
}

}  // namespace

void catch_stop_signals() {
  struct sigaction sa {};
  sa.sa_handler = on_stop;
  sigemptyset(&sa.sa_mask);
  for (int s : {SIGINT, SIGTERM, SIGHUP}) sigaction(s, &sa, nullptr);
}

int stop_signal() { return g_stop; }

StopSignalsHeld::StopSignalsHeld() { g_held = 1; }
StopSignalsHeld::~StopSignalsHeld() { g_held = 0; }

}  // namespace tesk
