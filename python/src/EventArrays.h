#pragma once

// NumPy views of the driver's records. Event arrays use Event2D's own memory layout (fields x, y,
// p, t at its offsets, in that order), so a decoded vector becomes an array without a copy. Called with the GIL.
#include <cstdint>
#include <vector>

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include "EventBuffer.h"
#include "norvale/Event2D.h"

namespace norvale::python {

pybind11::dtype eventDtype();   // x, y uint16, p uint8, t uint64 (16 bytes, Event2D's layout)
pybind11::dtype triggerDtype(); // t uint64, p uint8, id uint8

// The array takes the vector's storage; it stays valid whatever happens to the file it came from.
pybind11::array eventsToArray(std::vector<Event2D>&& events);
pybind11::array eventsToArray(EventBuffer&& events);
pybind11::array triggersToArray(const std::vector<EventTriggerIn>& triggers);
pybind11::array countsToArray(const std::vector<uint32_t>& counts);

// Columns taken from a structured array with the named fields or from a sequence of arrays in
// that order, checked and converted: a TypeError for a wrong kind of input, a ValueError naming the
// element for a value out of range (negative, too large for the field). `what` names the argument.
struct EventColumns {
    pybind11::array_t<uint64_t> t;
    pybind11::array_t<uint16_t> x, y;
    pybind11::array_t<uint8_t> p;
    size_t size = 0;
};
struct TriggerColumns {
    pybind11::array_t<uint64_t> t{pybind11::ssize_t(0)};
    pybind11::array_t<uint8_t> p{pybind11::ssize_t(0)}, id{pybind11::ssize_t(0)}; // id: zeros when not given
    size_t size = 0;
};
EventColumns eventColumns(pybind11::handle events);
TriggerColumns triggerColumns(pybind11::handle triggers);

} // namespace norvale::python
