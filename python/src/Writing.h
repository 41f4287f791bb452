#pragma once

#include <pybind11/pybind11.h>

namespace norvale::python {

// norvale.write and norvale.generate.
void bindWriting(pybind11::module_& m);

} // namespace norvale::python
