#pragma once

// Conversions of Python arguments the driver cannot take as they come. Called with the GIL.
#include <cstdint>
#include <string>

#include <pybind11/pybind11.h>

namespace norvale::python {

// str, bytes or os.PathLike.
std::string pathArg(pybind11::handle path);
// A whole number of microseconds: an int, a NumPy integer or an integral float (t + 1e6); ValueError
// when negative or fractional, TypeError for anything else. `name` is the argument's name.
uint64_t timeArg(pybind11::handle value, const char* name);

} // namespace norvale::python
