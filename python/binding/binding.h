// The parts of tesk._core defined apart from module.cpp, and what they
// share.
#pragma once

#include <pybind11/pybind11.h>

#include "run/run_result.h"

namespace tesk::py_binding {

namespace py = pybind11;

// tesk.fill over a dask array's blocks (blocks.cpp).
void define_blocks(py::module_& m);
// tesk.run, and the no-data value of a DataArray of integers (files.cpp).
void define_files(py::module_& m);

}  // namespace tesk::py_binding
