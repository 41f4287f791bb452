#pragma once

#include <cstdint>
#include <vector>

#include "norvale/Event2D.h"
#include "video/EventStatePlane.h"

namespace norvale::video {

// Counts the events of a frame's window into an EventStatePlane. Events outside the frame (or with
// a polarity other than 0 and 1) are dropped.
//
// Windows that do not overlap are counted straight into the plane (add), which needs only the
// capped counts. A sliding window takes events out again, so it keeps exact per-pixel counts
// (addExact, removeExact; exact up to 65535 per pixel and window) and copies their capped values
// into a plane per frame (snapshot). Exact counts are allocated only when sliding.
// Used by the counting thread only.
class EventCounter {
public:
    EventCounter(int width, int height, bool sliding);

    // Counts into plane, whose untouched rows must be all zero (see EventStatePlane::clearTouched).
    void add(const Event2D* begin, const Event2D* end, EventStatePlane& plane) const;

    void addExact(const Event2D* begin, const Event2D* end);
    void removeExact(const Event2D* begin, const Event2D* end);
    // Writes the capped exact counts into every row of plane.
    void snapshot(EventStatePlane& plane) const;

private:
    bool inside(const Event2D& e) const { return e.x < width && e.y < height && e.polarity <= 1; }
    size_t countIndex(const Event2D& e) const {
        return (static_cast<size_t>(e.y) * static_cast<size_t>(width) + e.x) * 2 + e.polarity;
    }

    int width;
    int height;
    std::vector<uint16_t> counts; // (y * width + x) * 2 + polarity, sliding windows only
};

} // namespace norvale::video
