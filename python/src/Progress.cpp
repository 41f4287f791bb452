#include "Progress.h"

namespace py = pybind11;

namespace norvale::python {

ProgressBridge::ProgressBridge(py::object c) : callable(std::move(c)) {
    if (!callable.is_none() && !PyCallable_Check(callable.ptr()))
        throw py::type_error("progress must be callable or None");
}

std::function<bool(double)> ProgressBridge::function() {
    return [this](double fraction) { return call(fraction); };
}

bool ProgressBridge::call(double fraction) {
    if (error || wasCancelled) return false;
    py::gil_scoped_acquire gil;
    try {
        if (PyErr_CheckSignals() != 0) throw py::error_already_set();
        if (!callable.is_none() && callable(fraction).is(py::bool_(false))) {
            wasCancelled = true;
            return false;
        }
    } catch (...) {
        error = std::current_exception();
        return false;
    }
    return true;
}

void ProgressBridge::rethrow() {
    if (error) std::rethrow_exception(std::exchange(error, nullptr));
}

} // namespace norvale::python
