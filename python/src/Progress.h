#pragma once

// Carries a driver progress call (made with the GIL released, on the calling thread) to a Python
// callable, and lets Ctrl-C cancel a long job. Create and destroy it with the GIL held.
#include <exception>
#include <functional>
#include <utility>

#include <pybind11/pybind11.h>

namespace norvale::python {

class ProgressBridge {
public:
    explicit ProgressBridge(pybind11::object callable);

    // For the driver: takes the GIL, checks for signals, calls the callable. False cancels.
    std::function<bool(double)> function();

    // After the driver returned, with the GIL: raises what the callable or a signal raised.
    void rethrow();
    // The callable returned False.
    bool cancelled() const { return wasCancelled; }

private:
    bool call(double fraction);
    pybind11::object callable;
    bool wasCancelled = false;
    std::exception_ptr error;
};

} // namespace norvale::python
