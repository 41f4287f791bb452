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

EventFileFormat writeFormatArg(py::handle format, const std::string& path, bool orEvt3) {
    EventFileFormat f = EventFileFormat::Evt3;
    if (format.is_none()) {
        if (!formatFromExtension(path, f) && !orEvt3)
            throw py::value_error("cannot tell the format of " + path + " from its extension; give format=");
    } else {
        const std::string key = format.cast<std::string>();
        if (!formatFromKey(key, f)) {
            std::string keys;
            for (const auto& info : eventFileFormats())
                if (info.writable) keys += std::string(keys.empty() ? "" : ", ") + info.key;
            throw py::value_error("unknown format '" + key + "' (writable: " + keys + ")");
        }
    }
    if (!formatInfo(f).writable) throw py::value_error(std::string(formatInfo(f).name) + " files cannot be written");
    return f;
}

void warnTriggersNotHeld(uint64_t count, EventFileFormat format, const std::string& path) {
    if (!count) return;
    const std::string text = std::to_string(count) + " trigger edges were not written to " + path + ": " +
                             formatInfo(format).name + " files cannot hold them";
    py::module_::import("warnings").attr("warn")(text, py::module_::import("builtins").attr("UserWarning"), 2);
}

} // namespace norvale::python
