#pragma once

#include <cstdint>

namespace norvale {

// One DVS event. 16 bytes; passed as contiguous arrays.
struct Event2D {
    uint16_t x = 0;
    uint16_t y = 0;
    uint8_t polarity = 0;  // 1 ON, 0 OFF
    uint64_t timestamp = 0; // microseconds of the camera clock, absolute
};
static_assert(sizeof(Event2D) == 16, "Event2D must stay 16 bytes");

// One trigger-in edge.
struct EventTriggerIn {
    uint16_t value = 0;     // 1 rising, 0 falling
    uint64_t timestamp = 0; // microseconds of the camera clock
    uint16_t id = 0;        // trigger channel
};

inline bool operator==(const Event2D& a, const Event2D& b) {
    return a.x == b.x && a.y == b.y && a.polarity == b.polarity && a.timestamp == b.timestamp;
}
inline bool operator!=(const Event2D& a, const Event2D& b) { return !(a == b); }
inline bool operator==(const EventTriggerIn& a, const EventTriggerIn& b) {
    return a.value == b.value && a.timestamp == b.timestamp && a.id == b.id;
}
inline bool operator!=(const EventTriggerIn& a, const EventTriggerIn& b) { return !(a == b); }

} // namespace norvale
