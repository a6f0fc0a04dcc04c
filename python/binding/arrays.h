// numpy arrays and Python values as the run takes them: the sample type of
// a dtype, an array as Samples, and the arguments of tesk.fill as
// FillOptions (their Python types checked here, their values by the run).
#pragma once

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <optional>
#include <string>

#include "core/sample_type.h"
#include "run/run_options.h"
#include "run/samples.h"

namespace tesk::py_binding {

namespace py = pybind11;

// The sample type of a dtype; nothing for one that holds no altitude.
std::optional<SampleType> sample_of(const py::dtype& dt);

// The array as samples of one of the accepted types, in native byte order
// (converted when it is not).  name is the parameter's, for the messages.
Samples samples_of(py::array& a, const char* name);

// The result's dtype: float32 for None, as the command line's default.
py::dtype result_dtype(const py::object& dtype);

// An integer parameter (name=v) or None; any integer type of Python's.
std::optional<long long> integer_of(const py::object& v, const char* name);
// An integer parameter or None, within the int range.
std::optional<int> int_of(const py::object& v, const char* name);
// An integer parameter that must be given, within the int range.
int required_int(const py::object& v, const char* name);

// The method named (None: classic).
Method method_of(const py::object& method);

// tesk.fill's arguments.
FillOptions fill_options(int interval, const py::object& nodata, int window, const py::object& overlay,
                         const py::object& dtype, const py::object& threads, const py::object& method,
                         const py::object& smoothing = py::none(), const py::object& tension = py::none());

}  // namespace tesk::py_binding
