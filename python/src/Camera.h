#pragma once

#include <pybind11/pybind11.h>

namespace norvale::python {

// norvale.cameras(), norvale.Camera and the dict-like access to a camera's tools.
void bindCamera(pybind11::module_& m);

} // namespace norvale::python
