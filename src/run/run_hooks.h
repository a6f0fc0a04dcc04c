// What a run tells its front end, and how a front end stops it: the
// callbacks every front end (the command line, the Python package, the
// QGIS provider) hands to the run API.  Each may be left empty.
#pragma once

#include <functional>
#include <string>

namespace tesk {

struct RunHooks {
  // Polled from any of the run's threads, at least once per million pixels
  // of work: once it returns true the run stops (Cancelled), its temporary
  // files removed.  Must be cheap and safe to call from several threads.
  std::function<bool()> cancel;
  // The fraction of the run done, 0..1, never decreasing; from the thread
  // that called the run.
  std::function<void(double)> progress;
  // A remark that does not change the result (without "Warning: "), from
  // the thread that called the run.  Its text mentions options: the front
  // end spells them with render() (core/mention.h).
  std::function<void(const std::string&)> warn;

  // A note on how the run goes (it runs by tiles), which does not change
  // the result; the command line's -q silences it.  Mentions as for warn.
  std::function<void(const std::string&)> note;

  bool cancelled() const { return cancel && cancel(); }
  void report(double fraction) const {
    if (progress) progress(fraction);
  }
  void remark(const std::string& text) const {
    if (warn) warn(text);
  }
  void tell(const std::string& text) const {
    if (note) note(text);
  }
};

}  // namespace tesk
