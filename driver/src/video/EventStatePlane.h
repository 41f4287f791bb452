#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "norvale/EventFrame.h"

namespace norvale::video {

// What one frame shows, per pixel: the OFF and ON counts of the window, each capped at kCountCap,
// packed as off | on << 2 (0 means no event): the event frame of EventFrame.h in one byte a pixel.
// rowTouched marks the rows that may hold a non-zero state, so that painting and resetting skip
// the quiet ones.
// Filled by the counting thread and painted by the encoder thread; PlaneRing hands it over.
struct EventStatePlane {
    static constexpr uint8_t kCountCap = kEventCountCap;
    static_assert(kEventCountCap <= 3, "two bits a polarity");

    EventStatePlane(int w, int h)
        : width(w), height(h), states(static_cast<size_t>(w) * static_cast<size_t>(h), 0),
          rowTouched(static_cast<size_t>(h), 0) {}

    uint8_t* row(int y) { return states.data() + static_cast<size_t>(y) * static_cast<size_t>(width); }
    const uint8_t* row(int y) const { return states.data() + static_cast<size_t>(y) * static_cast<size_t>(width); }

    // Zeroes the touched rows. Done by the counting thread before it counts into the plane: the
    // lines it is about to write are then in its own cache.
    void clearTouched() {
        for (int y = 0; y < height; ++y) {
            if (!rowTouched[static_cast<size_t>(y)]) continue;
            std::memset(row(y), 0, static_cast<size_t>(width));
            rowTouched[static_cast<size_t>(y)] = 0;
        }
    }

    int width;
    int height;
    uint64_t frames = 1; // frame slots this picture stands for (a long empty stretch is one picture)
    std::vector<uint8_t> states;
    std::vector<uint8_t> rowTouched;
};

} // namespace norvale::video
