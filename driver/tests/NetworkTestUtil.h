#pragma once

// Events packed by hand exactly as the wire formats describe them, independently of the
// driver's packing, so that a mistake on either side shows.
#include <cstdint>
#include <vector>

#include "norvale/Event2D.h"

namespace nettest {

inline void le(std::vector<uint8_t>& out, uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(uint8_t(v >> (8 * i)));
}

// 13 bytes an event: t64, x16, y16, on8.
inline std::vector<uint8_t> packT64(const std::vector<norvale::Event2D>& events) {
    std::vector<uint8_t> out;
    for (const auto& e : events) {
        le(out, e.timestamp, 8);
        le(out, e.x, 2);
        le(out, e.y, 2);
        le(out, e.polarity, 1);
    }
    return out;
}

// 8 bytes an event: t32, x16, then y in bits 1-15 and on in bit 0.
inline std::vector<uint8_t> packT32(const std::vector<norvale::Event2D>& events) {
    std::vector<uint8_t> out;
    for (const auto& e : events) {
        le(out, uint32_t(e.timestamp), 4);
        le(out, e.x, 2);
        le(out, uint16_t(e.y << 1 | e.polarity), 2);
    }
    return out;
}

inline norvale::Event2D ev(uint64_t t, uint16_t x, uint16_t y, uint8_t p) {
    norvale::Event2D e;
    e.timestamp = t;
    e.x = x;
    e.y = y;
    e.polarity = p;
    return e;
}

} // namespace nettest
