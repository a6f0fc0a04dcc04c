// SIGINT, SIGTERM and SIGHUP during a batch run.  They are blocked in every
// thread of the process and taken by a thread of their own, which sets a
// flag the run polls: the run stops, removes its temporary files and ends
// with exit status 128 + the signal.  A second signal does not wait for
// the run: the watcher removes every temporary file itself (after a
// renaming under way, which it never cuts short) and ends the process by
// the signal.
#pragma once

namespace tesk {

// Blocks the signals and starts the watcher.  Call it before any other
// thread starts, since a thread inherits the signals its creator blocks.
void catch_stop_signals();

// The first signal received, or 0.
int stop_signal();

// How many stop signals were received.
int stop_signals_received();

}  // namespace tesk
