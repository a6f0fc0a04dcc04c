// SIGINT, SIGTERM and SIGHUP during a batch run: the handler only records
// the signal (async-signal-safe); the run polls it, stops, removes its
// temporary files and ends with exit status 128 + the signal.  A second
// signal ends the process at once, as the default action would.
#pragma once

namespace tesk {

// Installs the handlers.
void catch_stop_signals();

// The first signal received, or 0.
int stop_signal();

}  // namespace tesk
