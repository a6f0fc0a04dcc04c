// tesk._core, the compiled core of the Python package tesk: numpy arrays in
// and out of the run from samples (run/fill.h), a dask array's blocks
// (run/blocks.h, tiles/plan.h), and files in and out of the run from files
// (run/file_run.h); python/tesk/__init__.py holds the public functions and
// their documentation.  Python's types are checked here; every value is
// checked by the run, whose messages come back in the words of the function
// called (words.h).
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <string>

#include "arrays.h"
#include "binding.h"
#include "core/memory.h"
#include "core/run_error.h"
#include "run/fill.h"
#include "run/preview.h"
#include "words.h"

namespace py = pybind11;
using namespace tesk;
using namespace tesk::py_binding;

namespace {

py::tuple fill_py(py::array contours, const py::object& interval, const py::object& nodata, const py::object& window,
                  const py::object& overlay, const py::object& dtype, const py::object& threads,
                  const py::object& method, const py::object& smoothing, const py::object& tension,
                  const py::object& progress) {
  const Samples s = samples_of(contours, "contours");
  const py::dtype out_type = result_dtype(dtype);
  const FillOptions o = fill_options(required_int(interval, "interval"), nodata, required_int(window, "window"), overlay,
                                     dtype, threads, method, smoothing, tension);
  try {
    check_fill(s, o, static_cast<std::uint64_t>(out_type.itemsize()));
  } catch (const RunError& e) {
    raise_failure(e, kFillWords);
  }
  py::array out(out_type, {s.rows, s.cols});
  void* buffer = out.mutable_data();
  Control control;
  const RunHooks hooks = control.hooks();
  const ResultStats stats =
      run_beside<ResultStats>([&] { return tesk::fill(s, o, buffer, hooks); }, control, progress, kFillWords);
  return py::make_tuple(out, stats);
}

py::array preview_py(py::array dem) {
  const Samples s = samples_of(dem, "dem");
  py::array_t<std::uint8_t> out({s.rows, s.cols});
  std::uint8_t* buffer = out.mutable_data();
  try {
    py::gil_scoped_release nogil;
    tesk::preview(s, buffer);
  } catch (const RunError& e) {
    throw py::value_error("dem: " + std::string(e.what()));
  }
  return out;
}

void check_result_type_py(double minimum, double maximum, const py::object& dtype) {
  try {
    check_result_type(*sample_of(result_dtype(dtype)), minimum, maximum);
  } catch (const RunError& e) {
    raise_failure(e, kFillWords);
  }
}

// A range bound in the result's units: an int for whole units.
py::object range_bound(const ResultStats& s, double v) {
  if (s.whole) return py::int_(static_cast<long long>(v));
  return py::float_(v);
}

}  // namespace

PYBIND11_MODULE(_core, m) {
  m.doc() = "The compiled core of tesk: tesk.fill, tesk.preview and tesk.run document it.";
  m.attr("__version__") = TESK_VERSION;
  // A run's peak memory as its memory check counts it (core/memory.h).
  keep_large_blocks_apart();
  py::class_<ResultStats>(m, "Stats", "What a run did: its passes and sweeps, and the range of its result.")
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
      .def_property_readonly("smoothing", [](const ResultStats& s) { return s.spline ? py::object(py::float_(s.spline->lambda)) : py::none(); },
                             "the spline's weight of the curvature (chosen or given); None for the classic method")
      .def_property_readonly("tension", [](const ResultStats& s) { return s.spline ? py::object(py::float_(s.spline->tension)) : py::none(); },
                             "the spline's share of slope in its penalty (chosen or given); None for the classic method")
      .def_property_readonly("iterations", [](const ResultStats& s) { return s.spline ? py::object(py::int_(s.spline->iterations)) : py::none(); },
                             "the spline solver's iterations; None for the classic method")
      .def_property_readonly("residual", [](const ResultStats& s) { return s.spline ? py::object(py::float_(s.spline->residual_rms / 512)) : py::none(); },
                             "the root mean square residual of the spline's equations at the end, in intervals; None "
                             "for the classic method")
      .def("__repr__", [](const ResultStats& s) {
        if (s.spline)
          return "Stats(smoothing=" + py::repr(py::float_(s.spline->lambda)).cast<std::string>() + ", tension=" +
                 py::repr(py::float_(s.spline->tension)).cast<std::string>() + ", iterations=" +
                 std::to_string(s.spline->iterations) + ", minimum=" +
                 py::repr(range_bound(s, s.minimum)).cast<std::string>() + ", maximum=" +
                 py::repr(range_bound(s, s.maximum)).cast<std::string>() + ")";
        return "Stats(passes=" + std::to_string(s.run.passes) + ", growth_sweeps=" +
               std::to_string(s.run.growth_sweeps) + ", gap_sweeps=" + std::to_string(s.run.gap_sweeps) +
               ", minimum=" + py::repr(range_bound(s, s.minimum)).cast<std::string>() +
               ", maximum=" + py::repr(range_bound(s, s.maximum)).cast<std::string>() + ")";
      });
  m.def("fill", &fill_py, "tesk.fill on a numpy array: returns (dem, stats).", py::arg("contours"), py::kw_only(),
        py::arg("interval"), py::arg("nodata"), py::arg("window"), py::arg("overlay"), py::arg("dtype"),
        py::arg("threads"), py::arg("method"), py::arg("smoothing"), py::arg("tension"), py::arg("progress"));
  m.def("preview", &preview_py, "tesk.preview on a numpy array.", py::arg("dem"));
  m.def("check_result_type", &check_result_type_py, "ValueError when an integer dtype cannot hold min..max.",
        py::arg("minimum"), py::arg("maximum"), py::arg("dtype"));
  define_blocks(m);
#ifdef TESK_WITH_GDAL
  define_files(m);
#endif
}
