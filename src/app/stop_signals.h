// SIGINT, SIGTERM and SIGHUP during a batch run: the handler only records
// the signal (async-signal-safe); the run polls it, stops, removes its
// temporary files and ends with exit status 128 + the signal.  A second
// signal ends the process at once, as the default action would, except
// while the outputs are renamed into place (StopSignalsHeld).
#pragma once

namespace tesk {

// Installs the handlers.
void catch_stop_signals();

// The first signal received, or 0.
int stop_signal();

// While one lives, no stop signal ends the process, whichever thread takes
// it: the renaming of a run's outputs is never cut short.  (The renaming
// also blocks the signals on its own thread; GDAL's worker threads may
// still take them.)
class StopSignalsHeld {
 public:
  StopSignalsHeld();
  ~StopSignalsHeld();
  StopSignalsHeld(const StopSignalsHeld&) = delete;
  StopSignalsHeld& operator=(const StopSignalsHeld&) = delete;
};

}  // namespace tesk
