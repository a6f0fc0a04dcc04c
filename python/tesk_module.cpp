// The Python module tesk: numpy arrays in and out of the computation in
// fill.h.  The arguments are checked here, before anything is allocated,
// in the command line's words; the computation runs on a thread of its own
// while the calling thread, which holds the GIL only between waits, reports
// the progress and watches for signals, and stops the run on an exception.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <chrono>
#include <future>
#include <string>
#include <thread>

#include "core/threads.h"
#include "fill.h"
#include "stages/smoothing.h"

namespace py = pybind11;
using namespace tesk;
using namespace tesk::pyfill;

namespace {

// The array as samples of one of the accepted types, in native byte order
// (converted when it is not).  name is the parameter's, for the messages.
Samples samples_of(py::array& a, const char* name) {
  if (a.ndim() != 2)
    throw py::value_error(std::string(name) + " must be a 2-D array, not " + std::to_string(a.ndim()) + "-D");
  py::dtype dt = a.dtype();
  if (!dt.attr("isnative").cast<bool>()) {
    a = a.attr("astype")(dt.attr("newbyteorder")("="));
    dt = a.dtype();
  }
  const char kind = dt.kind();
  const auto size = dt.itemsize();
  static const Sample ints[] = {Sample::kInt8, Sample::kInt16, Sample::kInt32, Sample::kInt64};
  static const Sample uints[] = {Sample::kUInt8, Sample::kUInt16, Sample::kUInt32, Sample::kUInt64};
  const int log = size == 1 ? 0 : size == 2 ? 1 : size == 4 ? 2 : size == 8 ? 3 : -1;
  Samples s;
  if ((kind == 'i' || kind == 'u') && log >= 0)
    s.type = kind == 'i' ? ints[log] : uints[log];
  else if (kind == 'f' && (size == 4 || size == 8))
    s.type = size == 4 ? Sample::kFloat32 : Sample::kFloat64;
  else
    throw py::type_error(std::string(name) + ": " + py::str(dt).cast<std::string>() +
                         " samples hold no altitude (any integer type, float32 or float64)");
  s.data = static_cast<const char*>(a.data());
  s.rows = a.shape(0);
  s.cols = a.shape(1);
  s.row_stride = a.strides(0);
  s.col_stride = a.strides(1);
  if (s.rows > INT_MAX || s.cols > INT_MAX)
    throw py::value_error(std::string(name) + " has more than " + std::to_string(INT_MAX) + " rows or columns");
  return s;
}

// The threads asked for, 0 for None; the command line's bound on --threads.
// An integer of any size is told apart from one that is not an integer.
int threads_of(const py::object& threads) {
  if (threads.is_none()) return 0;
  const py::object n = py::reinterpret_steal<py::object>(PyNumber_Index(threads.ptr()));
  if (!n) {
    PyErr_Clear();
    throw py::type_error("threads must be an integer or None, not " +
                         py::str(py::type::handle_of(threads).attr("__name__")).cast<std::string>());
  }
  int overflow = 0;
  const long long v = PyLong_AsLongLongAndOverflow(n.ptr(), &overflow);
  if (overflow != 0 || v < 1 || v > kMaxThreads)
    throw py::value_error("threads must lie between 1 and " + std::to_string(kMaxThreads) + " (None: every core)");
  return static_cast<int>(v);
}

FillParams params_of(const Samples& s, int interval, const py::object& nodata, int window, bool overlay,
                     const py::object& threads, bool full_resolution) {
  FillParams p;
  if (interval == 0) throw py::value_error("interval must not be 0");
  if (window < 1 || window > kMaxMaille)
    throw py::value_error("window must lie between 1 and " + std::to_string(kMaxMaille));
  const int n_threads = threads_of(threads);
  if (!nodata.is_none()) {
    p.nodata = nodata.cast<double>();
    if (!representable(*p.nodata, s.type))
      throw py::value_error("nodata=" + py::repr(nodata).cast<std::string>() + " is not a value of the contours' dtype");
  } else if (!is_real(s.type)) {
    throw py::value_error(
        "contours has no no-data value: give the value that marks the pixels off the contours with nodata=VALUE");
  }
  p.interval = interval;
  p.window = window;
  p.overlay = overlay;
  p.threads = resolve_threads(n_threads);
  p.full_resolution = full_resolution;
  return p;
}

// Runs work on a thread of its own; meanwhile, every 50 ms, calls progress
// with the fraction done and checks for signals.  On an exception there
// (KeyboardInterrupt, or one raised by progress) the run is asked to stop,
// and the exception goes on once the thread has ended.
template <class R, class F>
R run_beside(F work, FillControl& control, const py::object& progress) {
  std::packaged_task<R()> task(std::move(work));
  std::future<R> result = task.get_future();
  std::thread worker(std::move(task));
  struct Joiner {
    std::thread& t;
    FillControl& c;
    ~Joiner() {
      c.cancel = true;
      py::gil_scoped_release nogil;
      t.join();
    }
  } joiner{worker, control};
  double reported = -1.0;
  for (bool done = false;;) {
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
  return result.get();
}

py::object fill_py(py::array contours, int interval, const py::object& nodata, int window, bool overlay,
                   const py::object& threads, bool full_resolution, const py::object& progress, bool return_stats) {
  const Samples s = samples_of(contours, "contours");
  const FillParams p = params_of(s, interval, nodata, window, overlay, threads, full_resolution);
  const py::dtype out_type = full_resolution ? py::dtype("float64") : contours.dtype();
  try {
    check_fill_memory(s, static_cast<std::uint64_t>(out_type.itemsize()));
  } catch (const FillMemoryError& e) {
    PyErr_SetString(PyExc_MemoryError, e.what());
    throw py::error_already_set();
  }
  py::array out(out_type, {s.rows, s.cols});
  void* buffer = out.mutable_data();
  FillControl control;
  FillStats stats;
  try {
    stats = run_beside<FillStats>([&] { return tesk::pyfill::fill(s, p, buffer, control); }, control, progress);
  } catch (const FillError& e) {
    throw py::value_error(e.what());
  } catch (const FillMemoryError& e) {
    PyErr_SetString(PyExc_MemoryError, e.what());
    throw py::error_already_set();
  }
  if (!return_stats) return out;
  return py::make_tuple(out, stats);
}

py::array preview_py(py::array dem) {
  const Samples s = samples_of(dem, "dem");
  py::array_t<std::uint8_t> out({s.rows, s.cols});
  std::uint8_t* buffer = out.mutable_data();
  try {
    py::gil_scoped_release nogil;
    tesk::pyfill::preview(s, buffer);
  } catch (const FillError& e) {
    throw py::value_error(e.what());
  }
  return out;
}

const char* const kFillDoc = R"(Turns a raster of contour lines into a digital elevation model.

Parameters
----------
contours : 2-D numpy array of any integer type, float32 or float64
    The contour pixels hold their altitude, every other pixel the no-data
    value.  Any memory layout (C or Fortran order, strided views); it is
    never modified.
interval : int
    The contour interval, in the altitude units of the samples (not 0).
nodata : number, optional
    The value of the pixels off the contours, a value of the array's dtype.
    Required for integer arrays.  In floating-point arrays NaN is always
    no-data, and nodata adds one more value.
window : int
    Smoothing window, 1 to 33: 1 does not smooth, any larger m smooths with
    a Bernstein window of m+1 by m+1 pixels.
overlay : bool
    Lay the contour pixels back on the result.
threads : int, optional
    Worker threads, 1 to 1024; None: every core (or TESK_THREADS).  The result does
    not depend on it.
full_resolution : bool
    False: a new array of the input's dtype holding whole units, the values
    the tesk command line writes (with -ot of that type for an integer type).
    True: float64, the internal value x interval / 512, what the command
    line writes with -ot Float64.
progress : callable, optional
    Called with the fraction done, from 0 to 1, on the calling thread.  An
    exception it raises stops the run and goes on to the caller.
return_stats : bool
    Also return a Stats: passes, growth sweeps, gap sweeps, minimum and
    maximum of the whole-unit result.

The GIL is released while the computation runs; Ctrl-C stops it promptly.

Raises
------
TypeError  for a dtype that holds no altitude (bool, float16, complex, object).
ValueError for a bad argument, an array without contour pixel, a value too
           large for the interval (with its row and column), or a whole-unit
           result the dtype cannot hold (never clipped).
MemoryError when the raster is too large for the memory, before anything is
           allocated.
)";

const char* const kPreviewDoc = R"(The 8-bit preview of any 2-D array (uint8, same shape), stretched from its
minimum to its maximum as the command line's --preview is.  Floating-point
samples are taken at their whole part; NaN and infinite pixels (holes) are 0
and the stretch runs over the finite ones; an array without a finite value
gives zeros.  ValueError for a finite value beyond the int range.
)";

}  // namespace

PYBIND11_MODULE(tesk, m) {
  m.doc() = "TESK: digital elevation models from rasters of contour lines.";
  m.attr("__version__") = TESK_VERSION;
  py::class_<FillStats>(m, "Stats", "What a fill did: its passes and sweeps, and the range of its result.")
      .def_property_readonly("passes", [](const FillStats& s) { return s.run.passes; },
                             "dilation passes, the last one writing nothing")
      .def_property_readonly("growth_sweeps", [](const FillStats& s) { return s.run.growth_sweeps; },
                             "growth sweeps over the grid, all passes")
      .def_property_readonly("gap_sweeps", [](const FillStats& s) { return s.run.gap_sweeps; },
                             "sweeps of the residual gap filling")
      .def_readonly("minimum", &FillStats::minimum, "smallest value of the whole-unit result")
      .def_readonly("maximum", &FillStats::maximum, "largest value of the whole-unit result")
      .def("__repr__", [](const FillStats& s) {
        return "Stats(passes=" + std::to_string(s.run.passes) + ", growth_sweeps=" +
               std::to_string(s.run.growth_sweeps) + ", gap_sweeps=" + std::to_string(s.run.gap_sweeps) +
               ", minimum=" + std::to_string(s.minimum) + ", maximum=" + std::to_string(s.maximum) + ")";
      });
  m.def("fill", &fill_py, kFillDoc, py::arg("contours"), py::kw_only(), py::arg("interval"),
        py::arg("nodata") = py::none(), py::arg("window") = 1, py::arg("overlay") = true,
        py::arg("threads") = py::none(), py::arg("full_resolution") = false, py::arg("progress") = py::none(),
        py::arg("return_stats") = false);
  m.def("preview", &preview_py, kPreviewDoc, py::arg("dem"));
}
