// The compiled side of tesk.fill over a dask array's blocks
// (tesk/_blocks.py): each block's survey as plain values, their merge into
// what the whole raster decides (tiles/plan.h), the holes of one value, and
// each tile of the run.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <array>
#include <climits>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "arrays.h"
#include "binding.h"
#include "core/run_error.h"
#include "run/blocks.h"
#include "run/fill.h"
#include "run/method.h"
#include "run/reading.h"
#include "tiles/hole_stitch.h"
#include "words.h"

namespace tesk::py_binding {
namespace {

// An int32 array in C order, converted when it is not.
using Int32Array = py::array_t<std::int32_t, py::array::c_style | py::array::forcecast>;

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

std::vector<HoleBorder> borders_of(const Int32Array& a) {
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
py::tuple survey_py(py::array block, std::int64_t row0, std::int64_t col0, const py::object& interval,
                    const py::object& nodata, const py::object& window, const py::object& overlay,
                    const py::object& dtype, const py::object& method, const py::object& smoothing,
                    const py::object& tension) {
  const Samples s = samples_of(block, "contours");
  const FillOptions o = fill_options(required_int(interval, "interval"), nodata, required_int(window, "window"),
                                     overlay, dtype, py::none(), method, smoothing, tension);
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
      const auto a = h.cast<Int32Array>();
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
  const BlockLayout layout{row_starts, col_starts};
  const auto stitched = stitch(layout, holes);
  py::list borders;
  for (const auto& b : stitched) borders.append(borders_array(b));
  return py::make_tuple(first, borders, fillable_across_seams(layout, holes, stitched));
}

// f(block's samples, options, stitched borders) run without the GIL, its
// argument errors raised as ValueError; what it returns as int32 arrays.
template <class F>
auto with_holes(py::array& block, const Int32Array& borders, int interval, const py::object& nodata,
                const py::object& method, F&& f) {
  const Samples s = samples_of(block, "contours");
  const FillOptions o = fill_options(interval, nodata, 1, py::none(), py::none(), py::none(), method);
  const std::vector<HoleBorder> b = borders_of(borders);
  try {
    py::gil_scoped_release nogil;
    return f(s, o, b);
  } catch (const std::invalid_argument& e) {
    throw py::value_error(e.what());
  }
}

py::array_t<std::int32_t> int32_grid(const IntGrid& g) {
  py::array_t<std::int32_t> out({g.rows(), g.cols()});
  std::copy(g.begin(), g.end(), out.mutable_data());
  return out;
}

// An int32 array of the block's shape (name: the parameter's, for the message).
IntGrid int_grid(const py::object& a, const Samples& like, const char* name) {
  const auto h = a.cast<Int32Array>();
  if (h.ndim() != 2 || h.shape(0) != like.rows || h.shape(1) != like.cols)
    throw py::value_error(std::string(name) + " must have the block's shape");
  IntGrid g(static_cast<int>(like.rows), static_cast<int>(like.cols));
  std::copy(h.data(), h.data() + h.size(), g.begin());
  return g;
}

// The values of the holes of one value in a block, from its stitched borders.
py::array hole_values_py(py::array block, const Int32Array& borders, int interval, const py::object& nodata,
                         const py::object& method) {
  return int32_grid(with_holes(block, borders, interval, nodata, method, block_hole_values));
}

std::optional<int> next_halo_py(int halo, std::array<int, 2> raster, int max_halo) {
  return next_halo(halo, raster[0], raster[1], max_halo);
}

// The retry after an attempt that left a block unproven, by the tiles'
// rule (Retries): None, or ("box" or "core", the state after it), the state
// (halo, core_halo, boxes) of Retries; box None when no box may run.
py::object next_attempt_py(std::tuple<int, int, bool> state, std::array<int, 4> core,
                           std::optional<std::array<int, 4>> box, std::array<int, 2> raster, int max_halo) {
  Retries r(std::get<0>(state));
  r.core_halo = std::get<1>(state);
  r.boxes = std::get<2>(state);
  const auto next = r.next(std::max(core[2], core[3]), box ? std::max((*box)[2], (*box)[3]) : 0, raster[0], raster[1],
                           max_halo);
  if (!next) return py::none();
  return py::make_tuple(*next == Retries::Try::box ? "box" : "core", py::make_tuple(r.halo, r.core_halo, r.boxes));
}

std::string unproven_message_py(std::array<int, 4> core, std::int64_t uncertain, int halo, int max_halo,
                               const py::object& method) {
  const Window w{core[0], core[1], core[2], core[3]};
  return kFillWords(unproven_message(w, uncertain, halo, "the largest allowed (max_halo=" + std::to_string(max_halo) +
                                                             ")",
                                     "give a larger max_halo, or larger chunks, or compute the array in memory",
                                     method_of(method) == Method::spline));
}

std::string uncertain_note_py(const std::vector<std::pair<std::array<int, 4>, std::int64_t>>& blocks,
                              const py::object& method) {
  std::vector<Unproven> tiles;
  for (const auto& [c, pixels] : blocks) tiles.push_back({Window{c[0], c[1], c[2], c[3]}, pixels});
  return kFillWords(uncertain_note(tiles, method_of(method) == Method::spline));
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
// pixels, minimum, maximum, the box of the pixels not proven as (row0, col0,
// rows, cols) in the raster).
py::tuple fill_tile_py(py::array block, std::array<std::int64_t, 2> raster, std::array<std::int64_t, 4> core,
                       int halo, int interval, const py::object& nodata, int window, const py::object& overlay,
                       const py::object& dtype, const py::object& method, const py::object& smoothing,
                       const py::object& tension, const py::object& holes) {
  const Samples s = samples_of(block, "contours");
  const py::dtype out_type = result_dtype(dtype);
  const FillOptions o = fill_options(interval, nodata, window, overlay, dtype, py::none(), method, smoothing, tension);
  const TileRequest request = request_of(raster, core, halo);
  py::array out(out_type, {core[2], core[3]});
  void* buffer = out.mutable_data();
  std::optional<IntGrid> hole_values;
  if (!holes.is_none()) hole_values = int_grid(holes, s, "holes");
  TileFill f;
  try {
    py::gil_scoped_release nogil;
    f = fill_tile(s, request, o, buffer, hole_values ? &*hole_values : nullptr);
  } catch (const std::invalid_argument& e) {
    throw py::value_error(e.what());
  } catch (const RunError& e) {
    raise_failure(e, kFillWords);
  }
  const Window& b = f.unproven;
  return py::make_tuple(f.written ? py::object(out) : py::none(), f.certified, f.uncertain, f.minimum, f.maximum,
                        py::make_tuple(b.row0, b.col0, b.rows, b.cols));
}

// The spline's parameters over blocks, chosen from windows of the whole
// raster as a whole run chooses them: read(row0, col0, rows, cols) returns
// the contours of a window.  Returns (smoothing, tension, chosen, windows).
py::tuple fitted_params_py(const py::function& read, std::array<int, 2> raster, int interval,
                           const py::object& nodata, const py::object& method, const py::object& smoothing,
                           const py::object& tension) {
  const FillOptions o = fill_options(interval, nodata, 1, py::none(), py::none(), py::none(), method, smoothing, tension);
  SplineStats stats;
  SplineParams p;
  try {
    py::gil_scoped_release nogil;
    p = fitted_params(o.surface, 1, raster[0], raster[1], [&](int row, int col, IntGrid& w) {
          py::gil_scoped_acquire gil;
          py::array a = read(row, col, w.rows(), w.cols());
          const Samples s = samples_of(a, "contours");
          if (s.rows != w.rows() || s.cols != w.cols()) throw py::value_error("a window of another shape");
          const IntGrid g = block_contours(s, o);
          std::copy(g.begin(), g.end(), w.begin());
        }, stats, {});
  } catch (const RunError& e) {
    raise_failure(e, kFillWords);
  }
  return py::make_tuple(*p.lambda, p.tension.value_or(0.0), stats.lambda_chosen, stats.windows);
}

// The ranges of a block's holes (lo and hi, int32, the no-data marker at the
// contours), from its stitched borders.
py::tuple hole_ranges_py(py::array block, const Int32Array& borders, int interval, const py::object& nodata,
                         const py::object& method) {
  const HoleRanges r = with_holes(block, borders, interval, nodata, method, block_hole_ranges);
  return py::make_tuple(int32_grid(r.lo), int32_grid(r.hi));
}

// One tile of a fitted surface over blocks: block, lo and hi cover the core
// with the wider halo, clipped to the raster.  Returns what fill_tile does.
py::tuple fit_tile_py(py::array block, const py::object& lo, const py::object& hi, std::array<std::int64_t, 2> raster,
                      std::array<std::int64_t, 4> core, int halo, int wider, double smoothing, double tension,
                      int interval, const py::object& nodata, const py::object& overlay, const py::object& dtype) {
  const Samples s = samples_of(block, "contours");
  const FillOptions o = fill_options(interval, nodata, 1, overlay, dtype, py::none(), py::str("spline"), py::float_(smoothing),
                                     py::float_(tension));
  const TileRequest request = request_of(raster, core, halo);
  const HoleRanges ranges{int_grid(lo, s, "lo"), int_grid(hi, s, "hi")};
  SplineParams p;
  p.lambda = smoothing;
  p.tension = tension;
  py::array out(result_dtype(dtype), {core[2], core[3]});
  void* buffer = out.mutable_data();
  TileFill f;
  try {
    py::gil_scoped_release nogil;
    f = fit_block(s, ranges, request, wider, p, o, buffer);
  } catch (const std::invalid_argument& e) {
    throw py::value_error(e.what());
  } catch (const RunError& e) {
    raise_failure(e, kFillWords);
  }
  return py::make_tuple(f.written ? py::object(out) : py::none(), f.certified, f.uncertain, f.minimum, f.maximum);
}

}  // namespace

void define_blocks(py::module_& m) {
  m.def("fitted_params", &fitted_params_py, "The spline's parameters over blocks: (smoothing, tension, chosen, "
        "windows).", py::arg("read"), py::kw_only(), py::arg("raster"), py::arg("interval"), py::arg("nodata"),
        py::arg("method"), py::arg("smoothing"), py::arg("tension"));
  m.def("hole_ranges", &hole_ranges_py, "The ranges of a block's holes: (lo, hi), int32.", py::arg("block"),
        py::arg("borders"), py::kw_only(), py::arg("interval"), py::arg("nodata"), py::arg("method"));
  m.def("fit_tile", &fit_tile_py, "One tile of a fitted surface over blocks: (values, certified, uncertain, min, "
        "max).", py::arg("block"), py::arg("lo"), py::arg("hi"), py::kw_only(), py::arg("raster"), py::arg("core"),
        py::arg("halo"), py::arg("wider"), py::arg("smoothing"), py::arg("tension"), py::arg("interval"),
        py::arg("nodata"), py::arg("overlay"), py::arg("dtype"));
  m.def("survey", &survey_py, "A block's survey, as a tuple of plain values.", py::arg("block"), py::kw_only(),
        py::arg("row0"), py::arg("col0"), py::arg("interval"), py::arg("nodata"), py::arg("window"), py::arg("overlay"),
        py::arg("dtype"), py::arg("method"), py::arg("smoothing"), py::arg("tension"));
  m.def("plan_blocks", &plan_blocks_py, "The blocks' surveys merged: refusals and warnings; returns the first halo, "
        "each block's stitched hole borders and whether a hole of one value crosses a seam between blocks.",
        py::arg("surveys"), py::kw_only(), py::arg("raster"), py::arg("row_starts"), py::arg("col_starts"),
        py::arg("halo"), py::arg("max_halo"), py::arg("interval"), py::arg("window"));
  m.def("hole_values", &hole_values_py, "The values of a block's holes of one value (int32, the no-data marker "
        "elsewhere).", py::arg("block"), py::arg("borders"), py::kw_only(), py::arg("interval"), py::arg("nodata"),
        py::arg("method"));
  m.def("next_halo", &next_halo_py, "The halo after one that did not prove a block, or None.", py::arg("halo"),
        py::kw_only(), py::arg("raster"), py::arg("max_halo"));
  m.def("next_attempt", &next_attempt_py, "What a block left unproven tries next: None, or (\"box\" or "
        "\"core\", the state after it), the state (halo, core_halo, boxes) starting as (halo, halo, True).",
        py::arg("state"), py::arg("core"), py::arg("box"), py::kw_only(), py::arg("raster"), py::arg("max_halo"));
  m.def("unproven_message", &unproven_message_py, "The refusal of a block no halo up to max_halo proves.",
        py::arg("core"), py::kw_only(), py::arg("uncertain"), py::arg("halo"), py::arg("max_halo"),
        py::arg("method") = py::none());
  m.def("uncertain_note", &uncertain_note_py, "The warning on blocks kept unproven: [(core, pixels), ...].",
        py::arg("blocks"), py::kw_only(), py::arg("method") = py::none());
  m.def("tile_extent", &tile_extent_py, "The rows and columns a tile computes: (row0, col0, rows, cols).",
        py::arg("raster"), py::arg("core"), py::arg("halo"));
  m.def("fill_tile", &fill_tile_py, "One tile of tesk.fill over blocks: (values, certified, uncertain, min, max, "
        "the box of the pixels not proven).",
        py::arg("block"), py::kw_only(), py::arg("raster"), py::arg("core"), py::arg("halo"), py::arg("interval"),
        py::arg("nodata"), py::arg("window"), py::arg("overlay"), py::arg("dtype"), py::arg("method"),
        py::arg("smoothing"), py::arg("tension"), py::arg("holes") = py::none());
}

}  // namespace tesk::py_binding
