#pragma once

#include <pybind11/pybind11.h>

namespace norvale::python {

// norvale.RawFile and its slice and chunk iterators.
void bindRawFile(pybind11::module_& m);

} // namespace norvale::python
