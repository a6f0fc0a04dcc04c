// The run's messages in the package's words, and the run on a thread of its
// own while the calling thread reports its progress and warnings.
//
// The run's errors and warnings mention options (core/mention.h); here they
// are spelt with the parameters of the function called (tesk.run's, or
// tesk.fill's, whose result type is dtype), or by a callable that a front
// end built on the package passes (the QGIS algorithm spells its parameters'
// labels).
#pragma once

#include <pybind11/pybind11.h>

#include <atomic>
#include <chrono>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/run_error.h"
#include "run/run_hooks.h"

namespace tesk::py_binding {

namespace py = pybind11;

// How a function of the package spells the options: fill's or run's
// parameters, or `callable(key, form, value) -> str` when one is given.
struct Words {
  bool fill = false;
  py::object callable;  // null or None: the package's own words
  std::string operator()(const std::string& raw) const;
};

// tesk.fill's words (its result type is dtype).  Holds no Python object, so
// that it may outlive the interpreter.
inline const Words kFillWords{true, {}};

// The run's failure as Python's exception (MemoryError, FileExistsError,
// OSError, else ValueError), its message in `words`.
[[noreturn]] void raise_failure(const RunError& e, const Words& words);

// Where a run on its own thread stands, for the calling thread: the
// fraction done, the request to stop, the warnings not yet given.
struct Control {
  std::atomic<double> fraction{0.0};
  std::atomic<bool> cancel{false};
  std::mutex lock;
  std::vector<std::string> warnings;

  RunHooks hooks();
  // The warnings received so far, as UserWarning in `words`.
  void give_warnings(const Words& words);
};

// Runs work on a thread of its own; meanwhile, every 50 ms, calls progress
// with the fraction done, gives the warnings and checks for signals.  On an
// exception there (KeyboardInterrupt, or one raised by progress) the run is
// asked to stop, and the exception goes on once the thread has ended (its
// temporary files removed).  A RunError of the run is raised in `words`.
template <class R, class F>
R run_beside(F work, Control& control, const py::object& progress, const Words& words) {
  std::packaged_task<R()> task(std::move(work));
  std::future<R> result = task.get_future();
  std::thread worker(std::move(task));
  struct Joiner {
    std::thread& t;
    Control& c;
    ~Joiner() {
      c.cancel = true;
      py::gil_scoped_release nogil;
      t.join();
    }
  } joiner{worker, control};
  double reported = -1.0;
  for (bool done = false;;) {
    control.give_warnings(words);
    const double f = control.fraction.load();
    if (!progress.is_none() && f != reported) {
      reported = f;
      progress(f);
    }
    if (PyErr_CheckSignals() != 0) throw py::error_already_set();
    if (done) break;
    py::gil_scoped_release nogil;
    done = result.wait_for(std::chrono::milliseconds(50)) == std::future_status::ready;
  }
  try {
    return result.get();
  } catch (const RunError& e) {
    raise_failure(e, words);
  }
}

}  // namespace tesk::py_binding
