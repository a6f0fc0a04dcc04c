#include "arrays.h"

#include <algorithm>
#include <climits>

#include "run/method.h"

namespace tesk::py_binding {
namespace {

std::string dtype_text(const py::dtype& dt) { return py::str(static_cast<const py::handle&>(dt)).cast<std::string>(); }

std::string type_name_of(const py::handle& v) {
  return py::str(py::type::handle_of(v).attr("__name__")).cast<std::string>();
}

}  // namespace

std::optional<SampleType> sample_of(const py::dtype& dt) {
  const char kind = dt.kind();
  if (kind != 'i' && kind != 'u' && kind != 'f') return std::nullopt;
  const std::string name = std::string(kind == 'i' ? "int" : kind == 'u' ? "uint" : "float") +
                           std::to_string(8 * dt.itemsize());
  const auto t = type_of_numpy_name(name);
  return t;
}

Samples samples_of(py::array& a, const char* name) {
  if (a.ndim() != 2)
    throw py::value_error(std::string(name) + " must be a 2-D array, not " + std::to_string(a.ndim()) + "-D");
  py::dtype dt = a.dtype();
  if (!dt.attr("isnative").cast<bool>()) {
    a = a.attr("astype")(dt.attr("newbyteorder")("="));
    dt = a.dtype();
  }
  const std::optional<SampleType> type = sample_of(dt);
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

std::optional<long long> integer_of(const py::object& v, const char* name) {
  if (v.is_none()) return std::nullopt;
  const py::object n = py::reinterpret_steal<py::object>(PyNumber_Index(v.ptr()));
  if (!n || py::isinstance<py::bool_>(v)) {
    PyErr_Clear();
    throw py::type_error(std::string(name) + " must be an integer or None, not " + type_name_of(v));
  }
  int overflow = 0;
  const long long x = PyLong_AsLongLongAndOverflow(n.ptr(), &overflow);
  if (overflow != 0) throw py::value_error(std::string(name) + "=" + py::repr(v).cast<std::string>() + " is too large");
  return x;
}

std::optional<int> int_of(const py::object& v, const char* name) {
  const auto n = integer_of(v, name);
  if (n && (*n < INT_MIN || *n > INT_MAX)) throw py::value_error(std::string(name) + " is beyond the int range");
  return n ? std::optional<int>(static_cast<int>(*n)) : std::nullopt;
}

int required_int(const py::object& v, const char* name) {
  if (v.is_none() || py::isinstance<py::bool_>(v) || !py::hasattr(v, "__index__"))
    throw py::type_error(std::string(name) + " must be an integer, not " + type_name_of(v));
  return *int_of(v, name);
}

namespace {

// True and False are not numbers here, Python's or numpy's.
bool is_bool(const py::object& v) {
  return py::isinstance<py::bool_>(v) || py::isinstance(v, py::module_::import("numpy").attr("bool_"));
}

}  // namespace

Method method_of(const py::object& method) {
  if (method.is_none()) return Method::classic;
  if (!py::isinstance<py::str>(method))
    throw py::type_error("method must be a str, not " + type_name_of(method));
  const auto m = method_named(method.cast<std::string>());
  if (!m)
    throw py::value_error("method=" + py::repr(method).cast<std::string>() + ": not a method (" + method_names() +
                          ")");
  return *m;
}

FillOptions fill_options(int interval, const py::object& nodata, int window, const py::object& overlay,
                         const py::object& dtype, const py::object& threads, const py::object& method,
                         const py::object& smoothing, const py::object& tension) {
  FillOptions o;
  o.surface.method = method_of(method);
  o.surface.interval = interval;
  o.surface.window = window;
  if (!overlay.is_none()) {
    if (!is_bool(overlay))
      throw py::type_error("overlay=" + py::repr(overlay).cast<std::string>() + " must be True, False or None");
    o.surface.overlay = overlay.cast<bool>();
  }
  if (!smoothing.is_none()) {
    try {
      if (is_bool(smoothing)) throw py::cast_error();
      o.surface.smoothing = smoothing.cast<double>();
    } catch (const py::cast_error&) {
      throw py::type_error("smoothing=" + py::repr(smoothing).cast<std::string>() + " is not a number");
    }
  }
  if (!tension.is_none()) {
    try {
      if (is_bool(tension)) throw py::cast_error();
      o.surface.tension = tension.cast<double>();
    } catch (const py::cast_error&) {
      throw py::type_error("tension=" + py::repr(tension).cast<std::string>() + " is not a number");
    }
  }
  const auto n = integer_of(threads, "threads");
  o.threads = n ? static_cast<int>(std::clamp<long long>(*n, -1, INT_MAX)) : 0;
  if (!nodata.is_none()) {
    try {
      if (is_bool(nodata)) throw py::cast_error();
      o.nodata = nodata.cast<double>();
    } catch (const py::cast_error&) {
      throw py::type_error("nodata=" + py::repr(nodata).cast<std::string>() +
                           ": the no-data value must be a number or None");
    }
  }
  o.out = *sample_of(result_dtype(dtype));
  return o;
}

}  // namespace tesk::py_binding
