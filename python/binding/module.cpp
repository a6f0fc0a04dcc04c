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

#include <array>
#include <climits>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "arrays.h"
#include "core/run_error.h"
#include "run/blocks.h"
#include "run/fill.h"
#include "run/preview.h"
#include "run/method.h"
#include "run/reading.h"
#include "tiles/hole_stitch.h"
#include "words.h"
#ifdef TESK_WITH_GDAL
#include "io/output_type.h"
#include "run/command_line.h"
#include "run/file_run.h"
#endif

namespace py = pybind11;
using namespace tesk;
using namespace tesk::py_binding;

namespace {

const Words kFillWords{true};

py::tuple fill_py(py::array contours, int interval, const py::object& nodata, int window, const py::object& overlay,
                  const py::object& dtype, const py::object& threads, const py::object& method,
                  const py::object& smoothing, double tension, const py::object& progress) {
  const Samples s = samples_of(contours, "contours");
  const py::dtype out_type = result_dtype(dtype);
  const FillOptions o = fill_options(interval, nodata, window, overlay, dtype, threads, method, smoothing, tension);
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

// ---- A dask array's blocks (tesk/_blocks.py).

py::array_t<std::int32_t> int32_array(const std::vector<std::int32_t>& v) {
  py::array_t<std::int32_t> a(static_cast<py::ssize_t>(v.size()));
  std::copy(v.begin(), v.end(), a.mutable_data());
  return a;
}

// A survey as a tuple of plain values, which dask moves between processes;
// the summary of the block's holes as an int32 array (None after a fault).
py::tuple survey_tuple(const BlockSurvey& b) {
  const RasterSurvey& s = b.raster;
  const ContourSurvey& c = s.contours;
  py::object fault = py::none();
  if (s.fault) fault = py::make_tuple(s.fault->at.row, s.fault->at.col, s.fault->value);
  py::object holes = py::none();
  if (b.holes) holes = int32_array(encode(*b.holes));
  return py::make_tuple(s.any, s.longest_gap, fault,
                        py::make_tuple(c.pixels, c.off_interval, c.example, s.example.row, s.example.col, c.lo, c.hi),
                        holes);
}

// Hole borders as an int32 array of (kind, value, lo, hi) fours, and back.
py::array_t<std::int32_t> borders_array(const std::vector<HoleBorder>& borders) {
  std::vector<std::int32_t> v;
  for (const HoleBorder& b : borders) v.insert(v.end(), {static_cast<std::int32_t>(b.kind), b.value, b.lo, b.hi});
  return int32_array(v);
}

std::vector<HoleBorder> borders_of(const py::array_t<std::int32_t, py::array::c_style | py::array::forcecast>& a) {
  if (a.ndim() != 1 || a.shape(0) % 4 != 0)
    throw py::value_error("hole borders: an array of (kind, value, lo, hi) fours");
  std::vector<HoleBorder> borders(static_cast<std::size_t>(a.shape(0) / 4));
  for (std::size_t k = 0; k < borders.size(); ++k) {
    const std::int32_t kind = a.at(4 * k);
    if (kind < 0 || kind > 2) throw py::value_error("hole borders: a kind that is not one");
    borders[k] = {static_cast<HoleBorder::Kind>(kind), a.at(4 * k + 1), a.at(4 * k + 2), a.at(4 * k + 3)};
  }
  return borders;
}

RasterSurvey survey_of(const py::handle& t) {
  const auto v = t.cast<py::tuple>();
  RasterSurvey s;
  s.any = v[0].cast<bool>();
  s.longest_gap = v[1].cast<int>();
  if (!v[2].is_none()) {
    const auto f = v[2].cast<py::tuple>();
    s.fault = RasterSurvey::Fault{{f[0].cast<std::int64_t>(), f[1].cast<std::int64_t>()}, f[2].cast<double>()};
  }
  const auto c = v[3].cast<py::tuple>();
  s.contours.pixels = c[0].cast<std::int64_t>();
  s.contours.off_interval = c[1].cast<std::int64_t>();
  s.contours.example = c[2].cast<double>();
  s.example = {c[3].cast<std::int64_t>(), c[4].cast<std::int64_t>()};
  s.contours.lo = c[5].cast<double>();
  s.contours.hi = c[6].cast<double>();
  return s;
}

// One block's survey; the options are checked on the first call (an empty
// block is surveyed before any work).
py::tuple survey_py(py::array block, std::int64_t row0, std::int64_t col0, int interval, const py::object& nodata,
                    int window, const py::object& overlay, const py::object& dtype, const py::object& method,
                    const py::object& smoothing, double tension) {
  const Samples s = samples_of(block, "contours");
  const FillOptions o = fill_options(interval, nodata, window, overlay, dtype, py::none(), method, smoothing, tension);
  try {
    check_fill(s, o, 0);
    check_tiles(o.surface.method, "the array is held in dask blocks", "compute it in memory");
  } catch (const RunError& e) {
    raise_failure(e, kFillWords);
  }
  BlockSurvey r;
  {
    py::gil_scoped_release nogil;
    r = survey_samples(s, o, row0, col0);
  }
  return survey_tuple(r);
}

// The surveys of every block (row-major, the blocks' first rows and columns
// in row_starts and col_starts, each ending with the raster's size) merged:
// what the whole raster decides, raised or warned in tesk.fill's words.
// Returns the first halo and each block's hole borders, stitched.
py::tuple plan_blocks_py(const py::list& surveys, std::array<int, 2> raster, const std::vector<int>& row_starts,
                         const std::vector<int>& col_starts, const py::object& halo, int max_halo, int interval,
                         int window) {
  RasterSurvey whole;
  std::vector<BlockSummary> holes;
  for (const auto& s : surveys) {
    whole.merge(survey_of(s));
    const py::object h = s.cast<py::tuple>()[4];
    if (!h.is_none()) {
      const auto a = h.cast<py::array_t<std::int32_t, py::array::c_style | py::array::forcecast>>();
      holes.push_back(decode(a.data(), static_cast<std::size_t>(a.size())));
    }
  }
  Control control;
  const RunHooks hooks = control.hooks();
  SurfaceOptions o;
  o.interval = interval;
  o.window = window;
  try {
    settle_survey(whole, raster[0], raster[1], o, "contours", hooks);
  } catch (const RunError& e) {
    raise_failure(e, kFillWords);
  }
  control.give_warnings(kFillWords);
  const auto given = integer_of(halo, "halo");
  const int first = first_halo(whole, given ? std::optional<int>(static_cast<int>(*given)) : std::nullopt, max_halo);
  py::list borders;
  for (const auto& b : stitch({row_starts, col_starts}, holes)) borders.append(borders_array(b));
  return py::make_tuple(first, borders);
}

// The values of the holes of one value in a block, from its stitched borders.
py::array hole_values_py(py::array block, const py::array_t<std::int32_t, py::array::c_style | py::array::forcecast>& borders,
                         int interval, const py::object& nodata, const py::object& method) {
  const Samples s = samples_of(block, "contours");
  const FillOptions o = fill_options(interval, nodata, 1, py::none(), py::none(), py::none(), method);
  const std::vector<HoleBorder> b = borders_of(borders);
  IntGrid values;
  try {
    py::gil_scoped_release nogil;
    values = block_hole_values(s, o, b);
  } catch (const std::invalid_argument& e) {
    throw py::value_error(e.what());
  }
  py::array_t<std::int32_t> out({s.rows, s.cols});
  std::copy(values.begin(), values.end(), out.mutable_data());
  return out;
}

std::optional<int> next_halo_py(int halo, std::array<int, 2> raster, int max_halo) {
  return next_halo(halo, raster[0], raster[1], max_halo);
}

std::string unproven_message_py(std::array<int, 4> core, std::int64_t uncertain, int halo, int max_halo) {
  const Window w{core[0], core[1], core[2], core[3]};
  return kFillWords(unproven_message(w, uncertain, halo, "the largest allowed (max_halo=" + std::to_string(max_halo) +
                                                             ")",
                                     "give a larger max_halo, or larger chunks, or compute the array in memory"));
}

std::string uncertain_note_py(const std::vector<std::pair<std::array<int, 4>, std::int64_t>>& blocks) {
  std::vector<Unproven> tiles;
  for (const auto& [c, pixels] : blocks) tiles.push_back({Window{c[0], c[1], c[2], c[3]}, pixels});
  return kFillWords(uncertain_note(tiles));
}

TileRequest request_of(std::array<std::int64_t, 2> raster, std::array<std::int64_t, 4> core, int halo) {
  for (const std::int64_t v : {raster[0], raster[1], core[0], core[1], core[2], core[3]})
    if (v < 0 || v > INT_MAX) throw py::value_error("a tile's size or place beyond the int range");
  TileRequest r{static_cast<int>(raster[0]), static_cast<int>(raster[1]),
                Window{static_cast<int>(core[0]), static_cast<int>(core[1]), static_cast<int>(core[2]),
                       static_cast<int>(core[3])},
                halo};
  if (!valid(r)) throw py::value_error("the tile's core must lie inside the raster and its halo be 0 or more");
  return r;
}

py::tuple tile_extent_py(std::array<std::int64_t, 2> raster, std::array<std::int64_t, 4> core, int halo) {
  const Window w = tile_extent(request_of(raster, core, halo));
  return py::make_tuple(w.row0, w.col0, w.rows, w.cols);
}

// One tile of a run over blocks: block is the core with its halo, clipped to
// the raster, as dask's map_overlap hands it.  Returns (values of the core
// or None when the integer dtype cannot hold them, certified, uncertain
// pixels, minimum, maximum).
py::tuple fill_tile_py(py::array block, std::array<std::int64_t, 2> raster, std::array<std::int64_t, 4> core,
                       int halo, int interval, const py::object& nodata, int window, const py::object& overlay,
                       const py::object& dtype, const py::object& method, const py::object& smoothing,
                       double tension, const py::object& holes) {
  const Samples s = samples_of(block, "contours");
  const py::dtype out_type = result_dtype(dtype);
  const FillOptions o = fill_options(interval, nodata, window, overlay, dtype, py::none(), method, smoothing, tension);
  const TileRequest request = request_of(raster, core, halo);
  py::array out(out_type, {core[2], core[3]});
  void* buffer = out.mutable_data();
  std::optional<IntGrid> hole_values;
  if (!holes.is_none()) {
    const auto h = holes.cast<py::array_t<std::int32_t, py::array::c_style | py::array::forcecast>>();
    if (h.ndim() != 2 || h.shape(0) != s.rows || h.shape(1) != s.cols)
      throw py::value_error("holes must have the block's shape");
    hole_values = IntGrid(static_cast<int>(s.rows), static_cast<int>(s.cols));
    std::copy(h.data(), h.data() + h.size(), hole_values->begin());
  }
  TileFill f;
  try {
    py::gil_scoped_release nogil;
    f = fill_tile(s, request, o, buffer, hole_values ? &*hole_values : nullptr);
  } catch (const std::invalid_argument& e) {
    throw py::value_error(e.what());
  } catch (const RunError& e) {
    raise_failure(e, kFillWords);
  }
  return py::make_tuple(f.written ? py::object(out) : py::none(), f.certified, f.uncertain, f.minimum, f.maximum);
}

void check_result_type_py(double minimum, double maximum, const py::object& dtype) {
  try {
    check_result_type(*sample_of(result_dtype(dtype)), minimum, maximum);
  } catch (const RunError& e) {
    raise_failure(e, kFillWords);
  }
}

// ---- Files (tesk.run).
#ifdef TESK_WITH_GDAL

// A value of the options dict, as T; TypeError naming the parameter.
template <class T>
std::optional<T> get(const py::dict& d, const char* name) {
  if (!d.contains(name) || d[name].is_none()) return std::nullopt;
  try {
    return d[name].cast<T>();
  } catch (const py::cast_error&) {
    throw py::type_error(std::string(name) + "=" + py::repr(d[name]).cast<std::string>() + " is not of the type " +
                         name + " takes");
  }
}

std::optional<int> int_option(const py::dict& d, const char* name) {
  if (!d.contains(name)) return std::nullopt;
  const auto v = integer_of(d[name], name);
  if (v && (*v < INT_MIN || *v > INT_MAX)) throw py::value_error(std::string(name) + " is beyond the int range");
  return v ? std::optional<int>(static_cast<int>(*v)) : std::nullopt;
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
  o.surface.tension = get<double>(d, "tension").value_or(0);
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
#endif

// A range bound in the result's units: an int for whole units.
py::object range_bound(const ResultStats& s, double v) {
  if (s.whole) return py::int_(static_cast<long long>(v));
  return py::float_(v);
}

}  // namespace

PYBIND11_MODULE(_core, m) {
  m.doc() = "The compiled core of tesk: tesk.fill, tesk.preview and tesk.run document it.";
  m.attr("__version__") = TESK_VERSION;
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
      .def_property_readonly("iterations", [](const ResultStats& s) { return s.spline ? py::object(py::int_(s.spline->iterations)) : py::none(); },
                             "the spline solver's iterations; None for the classic method")
      .def_property_readonly("residual", [](const ResultStats& s) { return s.spline ? py::object(py::float_(s.spline->residual_rms / 512)) : py::none(); },
                             "the root mean square residual of the spline's equations at the end, in intervals; None "
                             "for the classic method")
      .def("__repr__", [](const ResultStats& s) {
        if (s.spline)
          return "Stats(smoothing=" + py::repr(py::float_(s.spline->lambda)).cast<std::string>() + ", iterations=" +
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
  m.def("survey", &survey_py, "A block's survey, as a tuple of plain values.", py::arg("block"), py::kw_only(),
        py::arg("row0"), py::arg("col0"), py::arg("interval"), py::arg("nodata"), py::arg("window"), py::arg("overlay"),
        py::arg("dtype"), py::arg("method"), py::arg("smoothing"), py::arg("tension"));
  m.def("plan_blocks", &plan_blocks_py, "The blocks' surveys merged: refusals and warnings; returns the first halo "
        "and each block's stitched hole borders.", py::arg("surveys"), py::kw_only(), py::arg("raster"),
        py::arg("row_starts"), py::arg("col_starts"), py::arg("halo"), py::arg("max_halo"), py::arg("interval"),
        py::arg("window"));
  m.def("hole_values", &hole_values_py, "The values of a block's holes of one value (int32, the no-data marker "
        "elsewhere).", py::arg("block"), py::arg("borders"), py::kw_only(), py::arg("interval"), py::arg("nodata"),
        py::arg("method"));
  m.def("next_halo", &next_halo_py, "The halo after one that did not prove a block, or None.", py::arg("halo"),
        py::kw_only(), py::arg("raster"), py::arg("max_halo"));
  m.def("unproven_message", &unproven_message_py, "The refusal of a block no halo up to max_halo proves.",
        py::arg("core"), py::kw_only(), py::arg("uncertain"), py::arg("halo"), py::arg("max_halo"));
  m.def("uncertain_note", &uncertain_note_py, "The warning on blocks kept unproven: [(core, pixels), ...].",
        py::arg("blocks"));
  m.def("tile_extent", &tile_extent_py, "The rows and columns a tile computes: (row0, col0, rows, cols).",
        py::arg("raster"), py::arg("core"), py::arg("halo"));
  m.def("fill_tile", &fill_tile_py, "One tile of tesk.fill over blocks: (values, certified, uncertain, min, max).",
        py::arg("block"), py::kw_only(), py::arg("raster"), py::arg("core"), py::arg("halo"), py::arg("interval"),
        py::arg("nodata"), py::arg("window"), py::arg("overlay"), py::arg("dtype"), py::arg("method"),
        py::arg("smoothing"), py::arg("tension"), py::arg("holes") = py::none());
  m.def("check_result_type", &check_result_type_py, "ValueError when an integer dtype cannot hold min..max.",
        py::arg("minimum"), py::arg("maximum"), py::arg("dtype"));
#ifdef TESK_WITH_GDAL
  m.def("run", &run_py, "tesk.run from files to files: returns the stats.", py::arg("src"), py::arg("dst"),
        py::arg("options"), py::kw_only(), py::arg("words"), py::arg("progress"));
  m.def("value_summary", &value_summary_py, "A block of integer values summarised for choose_nodata.",
        py::arg("values"), py::arg("wanted"));
  m.def("choose_nodata", &choose_nodata_py, "(no-data value or None, note) of an integer result, as the command line "
        "chooses it.", py::arg("dtype"), py::arg("wanted"), py::arg("summaries"));
  m.def("command_line", &command_line_py, "The tesk command line that does what tesk.run(src, dst, **options) does.",
        py::arg("src"), py::arg("dst"), py::arg("options"));
#endif
}
