// tesk._core, the compiled core of the Python package tesk: numpy arrays
// in and out of the computation in fill.h (python/tesk/__init__.py holds
// the public functions and their documentation).  The arguments are checked here, before anything is allocated,
// in the command line's words; the computation runs on a thread of its own
// while the calling thread, which holds the GIL only between waits, reports
// the progress and watches for signals, and stops the run on an exception.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <chrono>
#include <future>
#include <optional>
#include <string>
#include <thread>

#include "core/threads.h"
#include "fill.h"
#include "stages/smoothing.h"

namespace py = pybind11;
using namespace tesk;
using namespace tesk::pyfill;

namespace {

// The sample type of a dtype; nothing for one that holds no altitude.
std::optional<Sample> sample_of(const py::dtype& dt) {
  static const Sample ints[] = {Sample::kInt8, Sample::kInt16, Sample::kInt32, Sample::kInt64};
  static const Sample uints[] = {Sample::kUInt8, Sample::kUInt16, Sample::kUInt32, Sample::kUInt64};
  const char kind = dt.kind();
  const auto size = dt.itemsize();
  const int log = size == 1 ? 0 : size == 2 ? 1 : size == 4 ? 2 : size == 8 ? 3 : -1;
  if ((kind == 'i' || kind == 'u') && log >= 0) return kind == 'i' ? ints[log] : uints[log];
  if (kind == 'f' && (size == 4 || size == 8)) return size == 4 ? Sample::kFloat32 : Sample::kFloat64;
  return std::nullopt;
}

std::string dtype_text(const py::dtype& dt) { return py::str(static_cast<const py::handle&>(dt)).cast<std::string>(); }

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
  const std::optional<Sample> type = sample_of(dt);
  if (!type)
    throw py::type_error(std::string(name) + ": " + dtype_text(dt) +
                         " samples hold no altitude (any integer type, float32 or float64)");
  Samples s;
  s.type = *type;
  s.data = static_cast<const char*>(a.data());
  s.rows = a.shape(0);
  s.cols = a.shape(1);
  s.row_stride = a.strides(0);
  s.col_stride = a.strides(1);
  if (s.rows > INT_MAX || s.cols > INT_MAX)
    throw py::value_error(std::string(name) + " has more than " + std::to_string(INT_MAX) + " rows or columns");
  return s;
}

// The result's dtype: float32 for None, as the command line's default.
py::dtype result_dtype(const py::object& dtype) {
  if (dtype.is_none()) return py::dtype("float32");
  py::dtype dt;
  try {
    dt = py::dtype::from_args(dtype);
  } catch (const py::error_already_set&) {
    throw py::type_error("dtype=" + py::repr(dtype).cast<std::string>() + " is not a numpy dtype");
  }
  if (!sample_of(dt))
    throw py::type_error("dtype=" + dtype_text(dt) +
                         " holds no altitude: None or float32 (full resolution, the default), float64, or an "
                         "integer type (whole units)");
  return dt.attr("newbyteorder")("=");
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
                     const py::object& threads, const py::dtype& out) {
  FillParams p;
  if (interval == 0) throw py::value_error("interval must not be 0");
  if (window < 1 || window > kMaxMaille)
    throw py::value_error("window must lie between 1 and " + std::to_string(kMaxMaille));
  const int n_threads = threads_of(threads);
  if (!nodata.is_none()) {
    const std::string text = "nodata=" + py::repr(nodata).cast<std::string>();
    try {
      p.nodata = nodata.cast<double>();
    } catch (const py::cast_error&) {
      throw py::type_error(text + ": the no-data value must be a number or None");
    }
    if (!representable(*p.nodata, s.type))
      throw py::value_error(text + " is not a value of the contours' dtype " + type_name(s.type));
  } else if (!is_real(s.type)) {
    throw py::value_error(
        "contours has no no-data value: give the value that marks the pixels off the contours with nodata=VALUE");
  }
  p.interval = interval;
  p.window = window;
  p.overlay = overlay;
  p.threads = resolve_threads(n_threads);
  p.out = *sample_of(out);
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

py::tuple fill_py(py::array contours, int interval, const py::object& nodata, int window, bool overlay,
                  const py::object& dtype, const py::object& threads, const py::object& progress) {
  const Samples s = samples_of(contours, "contours");
  const py::dtype out_type = result_dtype(dtype);
  const FillParams p = params_of(s, interval, nodata, window, overlay, threads, out_type);
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

// A range bound in the result's units: an int for whole units.
py::object range_bound(const FillStats& s, double v) {
  if (s.whole) return py::int_(static_cast<long long>(v));
  return py::float_(v);
}

}  // namespace

PYBIND11_MODULE(_core, m) {
  m.doc() = "The compiled core of tesk: tesk.fill and tesk.preview document it.";
  m.attr("__version__") = TESK_VERSION;
  py::class_<FillStats>(m, "Stats", "What a fill did: its passes and sweeps, and the range of its result.")
      .def_property_readonly("passes", [](const FillStats& s) { return s.run.passes; },
                             "dilation passes, the last one writing nothing")
      .def_property_readonly("growth_sweeps", [](const FillStats& s) { return s.run.growth_sweeps; },
                             "growth sweeps over the grid, all passes")
      .def_property_readonly("gap_sweeps", [](const FillStats& s) { return s.run.gap_sweeps; },
                             "sweeps of the residual gap filling")
      .def_property_readonly("minimum", [](const FillStats& s) { return range_bound(s, s.minimum); },
                             "smallest value of the result, in its units (an int for an integer dtype)")
      .def_property_readonly("maximum", [](const FillStats& s) { return range_bound(s, s.maximum); },
                             "largest value of the result, in its units (an int for an integer dtype)")
      .def("__repr__", [](const FillStats& s) {
        return "Stats(passes=" + std::to_string(s.run.passes) + ", growth_sweeps=" +
               std::to_string(s.run.growth_sweeps) + ", gap_sweeps=" + std::to_string(s.run.gap_sweeps) +
               ", minimum=" + py::repr(range_bound(s, s.minimum)).cast<std::string>() +
               ", maximum=" + py::repr(range_bound(s, s.maximum)).cast<std::string>() + ")";
      });
  m.def("fill", &fill_py, "tesk.fill on a numpy array: returns (dem, stats).", py::arg("contours"), py::kw_only(),
        py::arg("interval"), py::arg("nodata"), py::arg("window"), py::arg("overlay"), py::arg("dtype"),
        py::arg("threads"), py::arg("progress"));
  m.def("preview", &preview_py, "tesk.preview on a numpy array.", py::arg("dem"));
}
