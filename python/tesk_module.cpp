// tesk._core, the compiled core of the Python package tesk: numpy arrays
// in and out of the run from samples (run/samples_run.h), and files in and
// out of the run from files (run/file_run.h); python/tesk/__init__.py
// holds the public functions and their documentation.  The arguments are checked here, before anything is allocated,
// in the command line's words; the computation runs on a thread of its own
// while the calling thread, which holds the GIL only between waits, reports
// the progress and watches for signals, and stops the run on an exception.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <array>
#include <atomic>
#include <chrono>
#include <future>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "core/run_error.h"
#include "core/threads.h"
#include "run/reading.h"
#include "run/samples_run.h"
#include "stages/smoothing.h"
#ifdef TESK_WITH_GDAL
#include "run/file_run.h"
#endif

namespace py = pybind11;
using namespace tesk;

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

// Where a run on its own thread stands, for the calling thread: the
// fraction done, the request to stop, the warnings not yet given.
struct Control {
  std::atomic<double> fraction{0.0};
  std::atomic<bool> cancel{false};
  std::mutex lock;
  std::vector<std::string> warnings;

  RunHooks hooks() {
    RunHooks h;
    h.cancel = [this] { return cancel.load(std::memory_order_relaxed); };
    h.progress = [this](double f) { fraction.store(f, std::memory_order_relaxed); };
    h.warn = [this](const std::string& text) {
      const std::lock_guard<std::mutex> guard(lock);
      warnings.push_back(text);
    };
    return h;
  }
  // The warnings received so far, as Python warnings.
  void give_warnings() {
    std::vector<std::string> ws;
    {
      const std::lock_guard<std::mutex> guard(lock);
      ws.swap(warnings);
    }
    for (const auto& w : ws)
      if (PyErr_WarnEx(PyExc_UserWarning, w.c_str(), 2) != 0) throw py::error_already_set();
  }
};

// The run's failures as Python's exceptions, the message of each in the
// words of the front end (rename: the option names turned into parameter
// names).
template <class Rename>
[[noreturn]] void raise_failure(const RunError& e, Rename rename) {
  const std::string text = rename(e.what());
  if (dynamic_cast<const MemoryRefusal*>(&e)) PyErr_SetString(PyExc_MemoryError, text.c_str());
  else if (dynamic_cast<const OutputExists*>(&e)) PyErr_SetString(PyExc_FileExistsError, text.c_str());
  else if (dynamic_cast<const FileSystemFault*>(&e)) PyErr_SetString(PyExc_OSError, text.c_str());
  else PyErr_SetString(PyExc_ValueError, text.c_str());
  throw py::error_already_set();
}

// Runs work on a thread of its own; meanwhile, every 50 ms, calls progress
// with the fraction done, gives the warnings and checks for signals.  On an
// exception there (KeyboardInterrupt, or one raised by progress) the run is
// asked to stop, and the exception goes on once the thread has ended (its
// temporary files removed).
template <class R, class F>
R run_beside(F work, Control& control, const py::object& progress) {
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
    control.give_warnings();
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
  const auto same = [](const std::string& t) { return t; };
  try {
    check_fill_memory(s, static_cast<std::uint64_t>(out_type.itemsize()));
  } catch (const RunError& e) {
    raise_failure(e, same);
  }
  py::array out(out_type, {s.rows, s.cols});
  void* buffer = out.mutable_data();
  Control control;
  const RunHooks hooks = control.hooks();
  ResultStats stats;
  try {
    stats = run_beside<ResultStats>([&] { return tesk::fill(s, p, buffer, hooks); }, control, progress);
  } catch (const RunError& e) {
    raise_failure(e, same);
  }
  return py::make_tuple(out, stats);
}

// One tile of a run over a raster held in blocks (tesk/dask.py): block is
// the core with its halo, clipped to the raster, as dask's map_overlap
// hands it.  Returns (values of the core or None when the integer dtype
// cannot hold them, certified, uncertain pixels, minimum, maximum).
py::tuple fill_tile_py(py::array block, std::array<std::int64_t, 2> raster, std::array<std::int64_t, 4> core,
                       int halo, int interval, const py::object& nodata, int window, bool overlay,
                       const py::object& dtype) {
  const Samples s = samples_of(block, "contours");
  const py::dtype out_type = result_dtype(dtype);
  const FillParams p = params_of(s, interval, nodata, window, overlay, py::int_(1), out_type);
  for (const std::int64_t v : {raster[0], raster[1], core[0], core[1], core[2], core[3]})
    if (v < 0 || v > INT_MAX) throw py::value_error("fill_tile: a size or position beyond the int range");
  const TileRequest request{static_cast<int>(raster[0]), static_cast<int>(raster[1]),
                      Window{static_cast<int>(core[0]), static_cast<int>(core[1]), static_cast<int>(core[2]),
                             static_cast<int>(core[3])},
                      halo};
  py::array out(out_type, {core[2], core[3]});
  void* buffer = out.mutable_data();
  TileFill f;
  try {
    py::gil_scoped_release nogil;
    f = fill_tile(s, request, p, buffer);
  } catch (const std::invalid_argument& e) {
    throw py::value_error(e.what());
  } catch (const RunError& e) {
    raise_failure(e, [](const std::string& t) { return t; });
  }
  return py::make_tuple(f.written ? py::object(out) : py::none(), f.certified, f.uncertain, f.minimum, f.maximum);
}

// The survey of one block before a run over blocks: (holds a contour pixel,
// None or (row, column, message) of its first value too large for the
// interval, longest run of no-data along a row or column).
// The other parameters of the run are checked too.
py::tuple survey_py(py::array block, std::int64_t row0, std::int64_t col0, int interval, const py::object& nodata,
                    int window, bool overlay, const py::object& dtype) {
  const Samples s = samples_of(block, "contours");
  const FillParams p = params_of(s, interval, nodata, window, overlay, py::int_(1), result_dtype(dtype));
  BlockSurvey b;
  {
    py::gil_scoped_release nogil;
    b = survey_block(s, p, row0, col0);
  }
  py::object fault = py::none();
  if (b.fault)
    fault = py::make_tuple(b.fault->row, b.fault->col,
                           too_large_message("contours", b.fault->value, static_cast<int>(b.fault->row),
                                             static_cast<int>(b.fault->col), interval));
  return py::make_tuple(b.contour, fault, b.longest_gap);
}

void check_result_type_py(double minimum, double maximum, const py::object& dtype) {
  try {
    check_result_type(*sample_of(result_dtype(dtype)), minimum, maximum);
  } catch (const RunError& e) {
    throw py::value_error(e.what());
  }
}

#ifdef TESK_WITH_GDAL
// A message of the run in the Python parameters' words: each option, where
// it stands as a word of its own, becomes the parameter's name.
std::string parameter_words(std::string text) {
  static const std::pair<const char*, const char*> names[] = {
      {"-i/--interval", "interval"}, {"-m/--window", "window"}, {"--no-overlay", "overlay=False"},
      {"--nodata", "nodata"}, {"-b", "band"}, {"-a FIELD", "attribute"}, {"-a", "attribute"}, {"-l", "layer"},
      {"-tr", "pixel_size"}, {"-ts", "size"}, {"-te", "extent"}, {"--mask", "mask"}, {"-ot", "output_type"},
      {"-of", "format"}, {"-co", "creation_options"}, {"--preview", "preview"}, {"--hillshade-z", "hillshade_z"},
      {"--hillshade", "hillshade"}, {"--overwrite", "overwrite=True"}, {"--threads", "threads"},
      {"-i", "interval"}, {"-m", "window"}};
  const auto boundary = [&](std::size_t at) {
    return at >= text.size() || std::string(" :,)/").find(text[at]) != std::string::npos;
  };
  for (const auto& [option, name] : names) {
    const std::string o = option;
    for (std::size_t at = text.find(o); at != std::string::npos; at = text.find(o, at + 1)) {
      const bool starts = at == 0 || text[at - 1] == ' ' || text[at - 1] == '(';
      if (!starts || !boundary(at + o.size())) continue;
      text.replace(at, o.size(), name);
    }
  }
  return text;
}

template <class T, std::size_t N>
std::optional<std::array<T, N>> tuple_of(const py::object& v) {
  if (v.is_none()) return std::nullopt;
  return v.cast<std::array<T, N>>();
}

ResultStats run_py(const std::string& src, const std::string& dst, int interval, int window, bool overlay,
                   const py::object& nodata, const py::object& band, const std::string& attribute,
                   const std::string& layer, const py::object& pixel_size, const py::object& size,
                   const py::object& extent, const py::object& mask, const py::object& output_type,
                   const py::object& format, const std::vector<std::string>& creation_options,
                   const py::object& preview, const py::object& hillshade, double hillshade_z, bool overwrite,
                   const py::object& threads, const py::object& progress) {
  RunOptions o;
  o.src = src;
  o.dst = dst;
  o.interval = interval;
  o.window = window;
  o.no_overlay = !overlay;
  if (!nodata.is_none()) o.nodata = nodata.cast<double>();
  if (!band.is_none()) o.source.band = band.cast<int>();
  o.source.field = attribute;
  o.source.layer = layer;
  o.source.tr = tuple_of<double, 2>(pixel_size);
  o.source.ts = tuple_of<int, 2>(size);
  o.source.te = tuple_of<double, 4>(extent);
  if (!mask.is_none()) o.mask = mask.cast<std::string>();
  if (!output_type.is_none()) o.type = output_type.cast<std::string>();
  if (!format.is_none()) o.format = format.cast<std::string>();
  o.creation = creation_options;
  if (!preview.is_none()) o.preview = preview.cast<std::string>();
  if (!hillshade.is_none()) o.hillshade = hillshade.cast<std::string>();
  o.hillshade_z = hillshade_z;
  o.overwrite = overwrite;
  o.threads = threads_of(threads);
  o.command = equivalent_command(o);
  Control control;
  const RunHooks hooks = control.hooks();
  FileRunResult r;
  try {
    r = run_beside<FileRunResult>([&] { return run_file(o, hooks); }, control, progress);
  } catch (const RunError& e) {
    raise_failure(e, parameter_words);
  }
  for (const auto& n : r.notes)
    if (PyErr_WarnEx(PyExc_UserWarning, n.c_str(), 1) != 0) throw py::error_already_set();
  return r.stats;
}
#endif

py::array preview_py(py::array dem) {
  const Samples s = samples_of(dem, "dem");
  py::array_t<std::uint8_t> out({s.rows, s.cols});
  std::uint8_t* buffer = out.mutable_data();
  try {
    py::gil_scoped_release nogil;
    tesk::preview(s, buffer);
  } catch (const RunError& e) {
    throw py::value_error(e.what());
  }
  return out;
}

// A range bound in the result's units: an int for whole units.
py::object range_bound(const ResultStats& s, double v) {
  if (s.whole) return py::int_(static_cast<long long>(v));
  return py::float_(v);
}

}  // namespace

PYBIND11_MODULE(_core, m) {
  m.doc() = "The compiled core of tesk: tesk.fill and tesk.preview document it.";
  m.attr("__version__") = TESK_VERSION;
  py::class_<ResultStats>(m, "Stats", "What a fill did: its passes and sweeps, and the range of its result.")
      .def_property_readonly("passes", [](const ResultStats& s) { return s.run.passes; },
                             "dilation passes, the last one writing nothing")
      .def_property_readonly("growth_sweeps", [](const ResultStats& s) { return s.run.growth_sweeps; },
                             "growth sweeps over the grid, all passes")
      .def_property_readonly("gap_sweeps", [](const ResultStats& s) { return s.run.gap_sweeps; },
                             "sweeps of the residual gap filling")
      .def_property_readonly("minimum", [](const ResultStats& s) { return range_bound(s, s.minimum); },
                             "smallest value of the result, in its units (an int for an integer dtype)")
      .def_property_readonly("maximum", [](const ResultStats& s) { return range_bound(s, s.maximum); },
                             "largest value of the result, in its units (an int for an integer dtype)")
      .def("__repr__", [](const ResultStats& s) {
        return "Stats(passes=" + std::to_string(s.run.passes) + ", growth_sweeps=" +
               std::to_string(s.run.growth_sweeps) + ", gap_sweeps=" + std::to_string(s.run.gap_sweeps) +
               ", minimum=" + py::repr(range_bound(s, s.minimum)).cast<std::string>() +
               ", maximum=" + py::repr(range_bound(s, s.maximum)).cast<std::string>() + ")";
      });
  m.def("fill", &fill_py, "tesk.fill on a numpy array: returns (dem, stats).", py::arg("contours"), py::kw_only(),
        py::arg("interval"), py::arg("nodata"), py::arg("window"), py::arg("overlay"), py::arg("dtype"),
        py::arg("threads"), py::arg("progress"));
  m.def("fill_tile", &fill_tile_py, "One tile of tesk.fill over blocks: (values, certified, uncertain, min, max).",
        py::arg("block"), py::kw_only(), py::arg("raster"), py::arg("core"), py::arg("halo"), py::arg("interval"),
        py::arg("nodata"), py::arg("window"), py::arg("overlay"), py::arg("dtype"));
  m.def("survey", &survey_py, "A block's survey: (contour, first fault or None, longest no-data run).",
        py::arg("block"), py::kw_only(), py::arg("row0"), py::arg("col0"), py::arg("interval"), py::arg("nodata"),
        py::arg("window"), py::arg("overlay"), py::arg("dtype"));
  m.def("check_result_type", &check_result_type_py, "ValueError when an integer dtype cannot hold min..max.",
        py::arg("minimum"), py::arg("maximum"), py::arg("dtype"));
  m.def("preview", &preview_py, "tesk.preview on a numpy array.", py::arg("dem"));
#ifdef TESK_WITH_GDAL
  m.def("run", &run_py, "tesk.run from files to files: returns the stats.", py::arg("src"), py::arg("dst"),
        py::kw_only(), py::arg("interval"), py::arg("window"), py::arg("overlay"), py::arg("nodata"), py::arg("band"),
        py::arg("attribute"), py::arg("layer"), py::arg("pixel_size"), py::arg("size"), py::arg("extent"),
        py::arg("mask"), py::arg("output_type"), py::arg("format"), py::arg("creation_options"), py::arg("preview"),
        py::arg("hillshade"), py::arg("hillshade_z"), py::arg("overwrite"), py::arg("threads"), py::arg("progress"));
#endif
}
