#include "EventArrays.h"

#include "ArrayPool.h"

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>

namespace py = pybind11;

namespace norvale::python {

namespace {

py::dtype makeDtype(py::list names, py::list formats, py::list offsets, size_t itemsize) {
    py::dict fields;
    fields["names"] = names;
    fields["formats"] = formats;
    fields["offsets"] = offsets;
    fields["itemsize"] = itemsize;
    return py::dtype::from_args(fields);
}

// One column of the input as a contiguous array of T, refusing what T cannot hold.
template <class T>
py::array_t<T> column(py::handle source, const char* name, const char* what) {
    py::array a;
    try {
        a = py::array::ensure(source);
    } catch (const py::error_already_set&) {}
    if (!a) throw py::type_error(std::string(what) + ": field '" + name + "' is not an array");
    const char kind = a.dtype().kind();
    if (kind != 'u' && kind != 'i' && kind != 'b')
        throw py::type_error(std::string(what) + ": field '" + name + "' has dtype " +
                             py::str(a.dtype()).cast<std::string>() + "; integers are needed");
    if (a.ndim() != 1) throw py::value_error(std::string(what) + ": field '" + name + "' must be one-dimensional");
    if (a.size() > 0 && kind != 'b') {
        // Compare as Python integers: exact for every integer dtype.
        const py::int_ lo = a.attr("min")(), hi = a.attr("max")();
        const bool negative = lo < py::int_(0);
        const bool tooLarge = hi > py::int_(std::numeric_limits<T>::max());
        if (negative || tooLarge) {
            const size_t at = (negative ? a.attr("argmin")() : a.attr("argmax")()).template cast<size_t>();
            throw py::value_error(std::string(what) + "[" + std::to_string(at) + "]: " + name + " = " +
                                  py::str(py::object(negative ? lo : hi)).cast<std::string>() +
                                  (negative ? " is negative"
                                            : " is too large for " + std::string(name) + " (at most " +
                                                  std::to_string(std::numeric_limits<T>::max()) + ")"));
        }
    }
    return py::array_t<T, py::array::c_style | py::array::forcecast>::ensure(a);
}

// The named fields of a structured array, or the items of a sequence.
std::vector<py::object> fieldsOf(py::handle input, const std::vector<const char*>& names, size_t required,
                                 const char* what) {
    std::vector<py::object> out;
    if (py::isinstance<py::array>(input)) {
        const auto a = py::reinterpret_borrow<py::array>(input);
        if (a.dtype().attr("names").is_none())
            throw py::type_error(std::string(what) + ": a structured array with fields " + names[0] +
                                 ", ... is needed, got dtype " + py::str(a.dtype()).cast<std::string>());
        const py::tuple present = a.dtype().attr("names");
        for (size_t i = 0; i < names.size(); ++i) {
            bool has = false;
            for (auto n : present) has = has || n.cast<std::string>() == names[i];
            if (!has && i < required)
                throw py::type_error(std::string(what) + ": the structured array has no field '" + names[i] + "'");
            out.push_back(has ? py::object(a[py::str(names[i])]) : py::object());
        }
        return out;
    }
    if (!py::isinstance<py::sequence>(input) || py::isinstance<py::str>(input))
        throw py::type_error(std::string(what) + ": a structured array or a sequence of arrays is needed");
    const py::sequence seq = py::reinterpret_borrow<py::sequence>(input);
    if (seq.size() < required || seq.size() > names.size())
        throw py::type_error(std::string(what) + ": a sequence of " + std::to_string(required) + " arrays is needed");
    for (size_t i = 0; i < names.size(); ++i) out.push_back(i < seq.size() ? py::object(seq[i]) : py::object());
    return out;
}

void checkSameLength(size_t n, size_t m, const char* what) {
    if (n != m)
        throw py::value_error(std::string(what) + ": the arrays differ in length (" + std::to_string(n) + " and " +
                              std::to_string(m) + ")");
}

} // namespace

py::dtype eventDtype() {
    // Fields listed in memory order: NumPy cannot describe a dtype whose fields are out of order,
    // so np.save and the .npy format would refuse every event array.
    static_assert(offsetof(Event2D, x) < offsetof(Event2D, y) && offsetof(Event2D, y) < offsetof(Event2D, polarity) &&
                      offsetof(Event2D, polarity) < offsetof(Event2D, timestamp),
                  "the field order below follows Event2D's layout");
    static const auto* dtype =
        new py::dtype(makeDtype(py::make_tuple("x", "y", "p", "t"), py::make_tuple("<u2", "<u2", "u1", "<u8"),
                                py::make_tuple(offsetof(Event2D, x), offsetof(Event2D, y), offsetof(Event2D, polarity),
                                               offsetof(Event2D, timestamp)),
                                sizeof(Event2D)));
    return *dtype;
}

py::dtype triggerDtype() {
    static const auto* dtype = new py::dtype(
        makeDtype(py::make_tuple("t", "p", "id"), py::make_tuple("<u8", "u1", "u1"), py::make_tuple(0, 8, 9), 16));
    return *dtype;
}

py::array eventsToArray(std::vector<Event2D>&& events) {
    auto* owned = new std::vector<Event2D>(std::move(events));
    py::capsule owner(owned, [](void* p) {
        auto* v = static_cast<std::vector<Event2D>*>(p);
        giveVector(std::move(*v));
        delete v;
    });
    const py::ssize_t n = py::ssize_t(owned->size());
    return py::array(eventDtype(), {n}, {py::ssize_t(sizeof(Event2D))}, owned->empty() ? nullptr : owned->data(),
                     owner);
}

py::array eventsToArray(EventBuffer&& events) {
    struct Block {
        Event2D* events;
        size_t room;
    };
    const py::ssize_t n = py::ssize_t(events.size());
    auto* block = new Block{nullptr, 0};
    block->events = events.release(block->room);
    py::capsule owner(block, [](void* p) {
        auto* b = static_cast<Block*>(p);
        giveBuffer(b->events, b->room);
        delete b;
    });
    return py::array(eventDtype(), {n}, {py::ssize_t(sizeof(Event2D))}, block->events, owner);
}

py::array triggersToArray(const std::vector<EventTriggerIn>& triggers) {
    py::array out(triggerDtype(), std::vector<py::ssize_t>{py::ssize_t(triggers.size())}, std::vector<py::ssize_t>{16});
    auto* bytes = static_cast<uint8_t*>(out.mutable_data());
    for (size_t i = 0; i < triggers.size(); ++i) {
        uint8_t* rec = bytes + i * 16;
        std::memcpy(rec, &triggers[i].timestamp, 8);
        rec[8] = uint8_t(triggers[i].value);
        rec[9] = uint8_t(triggers[i].id);
        std::memset(rec + 10, 0, 6);
    }
    return out;
}

py::array countsToArray(const std::vector<uint32_t>& counts) {
    return py::array_t<uint32_t>(py::ssize_t(counts.size()), counts.data());
}

EventColumns eventColumns(py::handle events) {
    const char* what = "events";
    auto f = fieldsOf(events, {"t", "x", "y", "p"}, 4, what);
    EventColumns c;
    c.t = column<uint64_t>(f[0], "t", what);
    c.x = column<uint16_t>(f[1], "x", what);
    c.y = column<uint16_t>(f[2], "y", what);
    c.p = column<uint8_t>(f[3], "p", what);
    c.size = size_t(c.t.size());
    checkSameLength(c.size, size_t(c.x.size()), what);
    checkSameLength(c.size, size_t(c.y.size()), what);
    checkSameLength(c.size, size_t(c.p.size()), what);
    return c;
}

TriggerColumns triggerColumns(py::handle triggers) {
    const char* what = "triggers";
    auto f = fieldsOf(triggers, {"t", "p", "id"}, 2, what);
    TriggerColumns c;
    c.t = column<uint64_t>(f[0], "t", what);
    c.p = column<uint8_t>(f[1], "p", what);
    c.size = size_t(c.t.size());
    c.id = f[2] ? column<uint8_t>(f[2], "id", what) : py::array_t<uint8_t>(py::ssize_t(c.size));
    if (!f[2]) std::memset(c.id.mutable_data(), 0, c.size);
    checkSameLength(c.size, size_t(c.p.size()), what);
    checkSameLength(c.size, size_t(c.id.size()), what);
    return c;
}

} // namespace norvale::python
