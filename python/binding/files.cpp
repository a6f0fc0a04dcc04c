// The compiled side of tesk.run (files to files) and of the no-data value
// a DataArray of integers gets (tesk/_dataarray.py): both the command
// line's, through GDAL.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <climits>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

#include "arrays.h"
#include "binding.h"
#include "core/run_error.h"
#include "io/output_type.h"
#include "run/command_line.h"
#include "run/file_run.h"
#include "words.h"

namespace tesk::py_binding {
namespace {


// A value of the options dict, as T; TypeError naming the parameter.
template <class T>
std::optional<T> get(const py::dict& d, const char* name) {
  if (!d.contains(name) || d[name].is_none()) return std::nullopt;
  try {
    return d[name].cast<T>();
  } catch (const py::cast_error&) {
    const char* wanted = std::is_same_v<T, bool> ? "True or False" : std::is_same_v<T, double> ? "a number" : "a str";
    throw py::type_error(std::string(name) + "=" + py::repr(d[name]).cast<std::string>() + ": " + name +
                         " must be " + wanted);
  }
}

std::optional<int> int_option(const py::dict& d, const char* name) {
  if (!d.contains(name)) return std::nullopt;
  return int_of(d[name], name);
}

// tesk.run's parameters (a dict of the given ones) as the run's options.
RunOptions run_options(const std::string& src, const std::string& dst, const py::dict& d) {
  static const char* const known[] = {"interval", "window", "overlay", "nodata", "band", "attribute", "layer",
                                      "pixel_size", "size", "extent", "mask", "output_type", "format",
                                      "creation_options", "preview", "hillshade", "hillshade_z", "overwrite",
                                      "threads", "tile_size", "halo", "accept_uncertain", "method", "smoothing",
                                      "tension"};
  for (const auto& [k, v] : d) {
    const std::string name = k.cast<std::string>();
    if (std::find(std::begin(known), std::end(known), name) == std::end(known))
      throw py::type_error("run() got an unexpected keyword argument '" + name + "'");
  }
  RunOptions o;
  o.src = src;
  o.dst = dst;
  o.surface.method = method_of(d.contains("method") ? py::object(d["method"]) : py::none());
  o.surface.interval = int_option(d, "interval").value_or(0);
  o.surface.window = int_option(d, "window").value_or(1);
  o.surface.overlay = get<bool>(d, "overlay");
  o.surface.smoothing = get<double>(d, "smoothing");
  o.surface.tension = get<double>(d, "tension");
  o.nodata = get<double>(d, "nodata");
  o.source.band = int_option(d, "band");
  o.source.attribute = get<std::string>(d, "attribute").value_or("");
  o.source.layer = get<std::string>(d, "layer").value_or("");
  o.source.pixel_size = get<std::array<double, 2>>(d, "pixel_size");
  o.source.size = get<std::array<int, 2>>(d, "size");
  o.source.extent = get<std::array<double, 4>>(d, "extent");
  o.mask = get<std::string>(d, "mask");
  o.output_type = get<std::string>(d, "output_type");
  o.format = get<std::string>(d, "format");
  o.creation_options = get<std::vector<std::string>>(d, "creation_options").value_or(std::vector<std::string>{});
  o.preview = get<std::string>(d, "preview");
  o.hillshade = get<std::string>(d, "hillshade");
  o.hillshade_z = get<double>(d, "hillshade_z").value_or(1);
  o.overwrite = get<bool>(d, "overwrite").value_or(false);
  o.threads = int_option(d, "threads").value_or(0);
  o.tiles.tile_size = int_option(d, "tile_size");
  o.tiles.halo = int_option(d, "halo");
  o.tiles.accept_uncertain = get<bool>(d, "accept_uncertain").value_or(false);
  return o;
}

ResultStats run_py(const std::string& src, const std::string& dst, const py::dict& options, const py::object& words,
                   const py::object& progress) {
  const RunOptions o = run_options(src, dst, options);
  const Words w{false, words};
  Control control;
  const RunHooks hooks = control.hooks();
  const FileRunResult r = run_beside<FileRunResult>([&] { return run_file(o, hooks); }, control, progress, w);
  for (const auto& n : r.notes)
    if (PyErr_WarnEx(PyExc_UserWarning, w(n).c_str(), 1) != 0) throw py::error_already_set();
  return r.stats;
}

std::string command_line_py(const std::string& src, const std::string& dst, const py::dict& options) {
  return equivalent_command(run_options(src, dst, options));
}

// ---- The no-data value of an integer result (tesk/_dataarray.py).

// The summary of a block of integer values, as plain values: (min, max,
// hits of wanted, the census of the values -32768..65535 as bytes).
py::tuple value_summary_py(py::array values, const py::object& wanted) {
  Samples s = samples_of(values, "values");
  gdal::ValueSummary summary(true);
  const double nd = wanted.is_none() ? std::numeric_limits<double>::quiet_NaN() : wanted.cast<double>();
  std::vector<double> row(static_cast<std::size_t>(s.cols));
  with_type(s.type, [&](auto t) {
    for (std::int64_t i = 0; i < s.rows; ++i) {
      read_row<decltype(t)>(s, i, row.data());
      for (const double v : row) summary.add(v, nd);
    }
  });
  const auto* bytes = reinterpret_cast<const char*>(summary.taken.data());
  return py::make_tuple(summary.min, summary.max, summary.nodata_hits,
                        py::bytes(bytes, summary.taken.size() * sizeof(std::uint64_t)));
}

// The no-data value the command line gives an output of dtype holding the
// summarised blocks, and its note ("" when it is wanted itself).
py::tuple choose_nodata_py(const py::object& dtype, const py::object& wanted, const py::list& summaries) {
  gdal::ValueSummary whole(true);
  for (const auto& item : summaries) {
    const auto t = item.cast<py::tuple>();
    gdal::ValueSummary part(true);
    part.min = t[0].cast<double>();
    part.max = t[1].cast<double>();
    part.nodata_hits = t[2].cast<std::int64_t>();
    const std::string bytes = t[3].cast<std::string>();
    part.taken.assign(bytes.size() / sizeof(std::uint64_t), 0);
    std::memcpy(part.taken.data(), bytes.data(), part.taken.size() * sizeof(std::uint64_t));
    whole.merge(part);
  }
  const SampleType type = *sample_of(result_dtype(dtype));
  const std::optional<double> w = wanted.is_none() ? std::nullopt : std::optional<double>(wanted.cast<double>());
  try {
    const gdal::NodataChoice c = gdal::choose_nodata(info(type).gdal, w, whole);
    return py::make_tuple(c.value ? py::object(py::float_(*c.value)) : py::none(), kFillWords(c.note));
  } catch (const RunError& e) {
    raise_failure(e, kFillWords);
  }
}

}  // namespace

void define_files(py::module_& m) {
  m.def("run", &run_py, "tesk.run from files to files: returns the stats.", py::arg("src"), py::arg("dst"),
        py::arg("options"), py::kw_only(), py::arg("words"), py::arg("progress"));
  m.def("value_summary", &value_summary_py, "A block of integer values summarised for choose_nodata.",
        py::arg("values"), py::arg("wanted"));
  m.def("choose_nodata", &choose_nodata_py, "(no-data value or None, note) of an integer result, as the command line "
        "chooses it.", py::arg("dtype"), py::arg("wanted"), py::arg("summaries"));
  m.def("command_line", &command_line_py, "The tesk command line that does what tesk.run(src, dst, **options) does.",
        py::arg("src"), py::arg("dst"), py::arg("options"));
}

}  // namespace tesk::py_binding
