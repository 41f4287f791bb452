#include "video/EventCounter.h"

#include <algorithm>

namespace norvale::video {

namespace {

constexpr uint8_t kCap = EventStatePlane::kCountCap;

// The state after one more event of a polarity, by [polarity][state]: a table lookup keeps the
// counting loop free of branches on the counts.
struct NextState {
    uint8_t table[2][16];
    constexpr NextState() : table() {
        for (int s = 0; s < 16; ++s) {
            table[0][s] = static_cast<uint8_t>((s & 3) < kCap ? s + 1 : s);
            table[1][s] = static_cast<uint8_t>((s >> 2) < kCap ? s + 4 : s);
        }
    }
};
constexpr NextState kNext;

inline uint8_t capped(uint16_t n) { return static_cast<uint8_t>(std::min<uint16_t>(n, kCap)); }

} // namespace

EventCounter::EventCounter(int w, int h, bool sliding) : width(w), height(h) {
    if (sliding) counts.assign(static_cast<size_t>(w) * static_cast<size_t>(h) * 2, 0);
}

void EventCounter::add(const Event2D* begin, const Event2D* end, EventStatePlane& plane) const {
    uint8_t* states = plane.states.data();
    uint8_t* touched = plane.rowTouched.data();
    // The plane does not stay in cache beside the stream of events: fetch a few events ahead.
    constexpr ptrdiff_t kAhead = 16;
    for (const Event2D* e = begin; e != end; ++e) {
        if (end - e > kAhead) {
            const Event2D& a = e[kAhead];
            __builtin_prefetch(states + (static_cast<size_t>(a.y) * static_cast<size_t>(width) + a.x), 1);
        }
        if (!inside(*e)) continue;
        uint8_t& s = states[static_cast<size_t>(e->y) * static_cast<size_t>(width) + e->x];
        s = kNext.table[e->polarity][s];
        touched[e->y] = 1;
    }
}

void EventCounter::addExact(const Event2D* begin, const Event2D* end) {
    uint16_t* c = counts.data();
    for (const Event2D* e = begin; e != end; ++e) {
        if (!inside(*e)) continue;
        uint16_t& n = c[countIndex(*e)];
        n = static_cast<uint16_t>(n + (n != 0xffff));
    }
}

void EventCounter::removeExact(const Event2D* begin, const Event2D* end) {
    uint16_t* c = counts.data();
    for (const Event2D* e = begin; e != end; ++e) {
        if (!inside(*e)) continue;
        uint16_t& n = c[countIndex(*e)];
        if (n > 0 && n < 0xffff) --n; // a saturated count stays (its true value is unknown)
    }
}

void EventCounter::snapshot(EventStatePlane& plane) const {
    const uint16_t* c = counts.data();
    for (int y = 0; y < height; ++y) {
        uint8_t* row = plane.row(y);
        uint8_t any = 0;
        for (int x = 0; x < width; ++x, c += 2) {
            row[x] = static_cast<uint8_t>(capped(c[0]) | capped(c[1]) << 2);
            any |= row[x];
        }
        plane.rowTouched[static_cast<size_t>(y)] = any != 0;
    }
}

} // namespace norvale::video
