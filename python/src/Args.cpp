#include "Args.h"

#include <cmath>

namespace py = pybind11;

namespace norvale::python {

std::string pathArg(py::handle path) {
    const py::object p = py::module_::import("os").attr("fspath")(path);
    return p.cast<std::string>(); // bytes as they are, str as UTF-8
}

uint64_t timeArg(py::handle value, const char* name) {
    if (PyFloat_Check(value.ptr())) {
        const double d = value.cast<double>();
        if (!std::isfinite(d) || d != std::floor(d))
            throw py::value_error(std::string(name) + " must be a whole number of microseconds, not " +
                                  py::repr(value).cast<std::string>());
        if (d < 0) throw py::value_error(std::string(name) + " must not be negative");
        if (d >= 18446744073709551616.0) throw py::value_error(std::string(name) + " is too large");
        return uint64_t(d);
    }
    if (!PyIndex_Check(value.ptr()))
        throw py::type_error(std::string(name) + " must be an integer number of microseconds");
    PyObject* index = PyNumber_Index(value.ptr());
    if (!index) throw py::error_already_set();
    const py::int_ i = py::reinterpret_steal<py::int_>(index);
    if (i < py::int_(0)) throw py::value_error(std::string(name) + " must not be negative");
    if (i > py::int_(UINT64_MAX)) throw py::value_error(std::string(name) + " is too large");
    return i.cast<uint64_t>();
}

} // namespace norvale::python
