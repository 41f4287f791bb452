#pragma once

// Turning driver failures into Python exceptions. Called with the GIL held.
#include <string>

#include <pybind11/pybind11.h>

namespace norvale::python {

// Raises OSError(errnum, text, path): Python picks the subclass (FileNotFoundError, PermissionError,
// IsADirectoryError, ...) from the error number.
[[noreturn]] void raiseOsError(int errnum, const std::string& text, const std::string& path);

// Raises ValueError with the driver's reason for the failed call (or fallback).
[[noreturn]] void raiseDriverError(const std::string& fallback);

// Before the driver reads path: raises the OSError an open for reading would give, IsADirectoryError
// for a folder and ValueError for a device or pipe (opening one could block forever).
void checkReadablePath(const std::string& path);

// Before the driver writes path: raises the OSError for a missing or unwritable folder, or for a
// folder standing at path itself.
void checkWritablePath(const std::string& path);

} // namespace norvale::python
