#include "EventBuffer.h"

#include <sys/mman.h>

#include <cstdlib>
#include <cstring>

namespace norvale::python {

namespace {
constexpr size_t kHugePage = size_t(2) << 20;
} // namespace

EventBuffer::~EventBuffer() { std::free(events); }

bool EventBuffer::reserve(size_t n) {
    if (n <= room) return true;
    size_t bytes = n * sizeof(Event2D);
    void* p = nullptr;
    if (bytes >= kHugePage) {
        bytes = (bytes + kHugePage - 1) / kHugePage * kHugePage;
        if (posix_memalign(&p, kHugePage, bytes) != 0) p = nullptr;
        if (p) ::madvise(p, bytes, MADV_HUGEPAGE); // a hint: without it, plain pages
    } else {
        p = std::malloc(bytes);
    }
    if (!p) return false;
    if (used) std::memcpy(p, events, used * sizeof(Event2D));
    std::free(events);
    events = static_cast<Event2D*>(p);
    room = bytes / sizeof(Event2D);
    return true;
}

Event2D* EventBuffer::release(size_t& roomOut) {
    Event2D* p = events;
    roomOut = room;
    events = nullptr;
    used = room = 0;
    return p;
}

void EventBuffer::adopt(Event2D* p, size_t n) {
    std::free(events);
    events = p;
    room = n;
    used = 0;
}

} // namespace norvale::python
