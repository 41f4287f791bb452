#pragma once

// An Event Stream 2.0.0 DVS file built byte by byte from the published description, not by any
// writer of ours: for the driver's reader tests and the viewer's playback tests.
#include <cstdint>
#include <vector>

#include "norvale/Event2D.h"

// Header, width and height, then per event the time step (with overflow bytes for long gaps) and
// polarity, x and y little-endian. resets: a run of reset bytes after every 1000th event.
inline std::vector<uint8_t> esFile(const std::vector<norvale::Event2D>& events, uint16_t w, uint16_t h,
                                   bool resets) {
    std::vector<uint8_t> b = {'E', 'v', 'e', 'n', 't', ' ', 'S', 't', 'r', 'e', 'a', 'm', 2, 0, 0, 1,
                              uint8_t(w), uint8_t(w >> 8), uint8_t(h), uint8_t(h >> 8)};
    uint64_t t = 0;
    for (size_t i = 0; i < events.size(); ++i) {
        const norvale::Event2D& e = events[i];
        uint64_t dt = e.timestamp - t;
        while (dt >= 127) {
            b.push_back(0xFF);
            dt -= 127;
        }
        if (resets && i % 1000 == 999) b.insert(b.end(), 5, 0xFE);
        b.push_back(uint8_t(dt << 1 | e.polarity));
        b.push_back(uint8_t(e.x));
        b.push_back(uint8_t(e.x >> 8));
        b.push_back(uint8_t(e.y));
        b.push_back(uint8_t(e.y >> 8));
        t = e.timestamp;
    }
    return b;
}
