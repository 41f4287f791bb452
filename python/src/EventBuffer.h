#pragma once

// A malloc'd array of events that a NumPy array can take over (freed with std::free). Large ones
// ask for transparent huge pages: filling fresh memory is otherwise bound by page faults.
// One thread at a time.
#include <cstddef>

#include "norvale/Event2D.h"

namespace norvale::python {

class EventBuffer {
public:
    EventBuffer() = default;
    ~EventBuffer();
    EventBuffer(const EventBuffer&) = delete;
    EventBuffer& operator=(const EventBuffer&) = delete;

    // Room for at least n events in total, keeping the first size(); false when out of memory.
    bool reserve(size_t n);
    Event2D* data() { return events; }
    size_t size() const { return used; }
    size_t capacity() const { return room; }
    void setSize(size_t n) { used = n; }
    // Hands the memory over (to be freed with std::free) with its room in events; the buffer is
    // empty afterwards.
    Event2D* release(size_t& room);
    // Takes over malloc'd memory of room events (its own is freed); empty.
    void adopt(Event2D* events, size_t room);

private:
    Event2D* events = nullptr;
    size_t used = 0;
    size_t room = 0;
};

} // namespace norvale::python
