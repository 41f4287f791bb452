#pragma once

// The yardstick for the decoder: a straightforward one-word-at-a-time EVT 3.0 decoder with a
// switch per word that pushes each event into a std::vector. Same rules as the driver's decoder
// (time known, y known, geometry), so both produce the same events.
#include <cstdint>
#include <cstring>
#include <vector>

#include "norvale/Event2D.h"

namespace norvale::bench {

class BaselineEvt3 {
public:
    BaselineEvt3(uint32_t w, uint32_t h) : width(w), height(h) {}

    void decode(const uint8_t* data, size_t size, std::vector<Event2D>& out) {
        for (size_t i = 0; i + 1 < size; i += 2) {
            uint16_t w;
            std::memcpy(&w, data + i, 2);
            const uint32_t p = w & 0xFFF;
            switch (w >> 12) {
            case 0x0: if (haveTime) y = p & 0x7FF; break;
            case 0x2:
                if (haveTime && y < height && (p & 0x7FF) < width)
                    out.push_back(Event2D{uint16_t(p & 0x7FF), uint16_t(y), uint8_t(p >> 11), time()});
                break;
            case 0x3: if (haveTime) { base = p & 0x7FF; pol = uint8_t(p >> 11); } break;
            case 0x4: vect(p, 12, out); break;
            case 0x5: vect(p & 0xFF, 8, out); break;
            case 0x6: if (haveTime) low = p; break;
            case 0x8:
                if (!haveTime) { haveTime = true; high = p; low = 0; }
                else if (p != high) { if (high >= p + 2048) wraps += 1ull << 24; high = p; low = 0; }
                break;
            default: break;
            }
        }
    }

private:
    uint64_t time() const { return wraps | uint64_t(high) << 12 | low; }
    void vect(uint32_t bits, uint32_t span, std::vector<Event2D>& out) {
        for (uint32_t i = 0; i < span; ++i)
            if ((bits >> i & 1) && y < height && base + i < width)
                out.push_back(Event2D{uint16_t(base + i), uint16_t(y), pol, time()});
        base = base + span < (1u << 20) ? base + span : (1u << 20);
    }
    uint32_t width, height;
    bool haveTime = false;
    uint64_t wraps = 0;
    uint32_t high = 0, low = 0, y = 0x10000, base = 1u << 20;
    uint8_t pol = 0;
};

} // namespace norvale::bench
