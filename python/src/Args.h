#pragma once

// Conversions of Python arguments the driver cannot take as they come. Called with the GIL.
#include <cstdint>
#include <string>

#include <pybind11/pybind11.h>

#include "norvale/EventFileFormat.h"

namespace norvale::python {

// str, bytes or os.PathLike.
std::string pathArg(pybind11::handle path);
// A whole number of microseconds: an int, a NumPy integer or an integral float (t + 1e6); ValueError
// when negative or fractional, TypeError for anything else. `name` is the argument's name.
uint64_t timeArg(pybind11::handle value, const char* name);
// The format to write path in: format's key or name ("evt2", "EVT 2.1", "hdf5"), or when None the
// one path's extension names, else EVT 3.0 when orEvt3 (ValueError when not). ValueError for an
// unknown or read-only format.
EventFileFormat writeFormatArg(pybind11::handle format, const std::string& path, bool orEvt3);
// warnings.warn(text) for triggers a format could not hold.
void warnTriggersNotHeld(uint64_t count, EventFileFormat format, const std::string& path);

} // namespace norvale::python
