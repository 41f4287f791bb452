#pragma once

// The yardstick for the decoder: the straightforward EVT 3.0 decoder at its best. One switch per
// word, the time kept ready for the events, vector bits visited by count-trailing-zeros, each
// event pushed into a std::vector that the caller reserves once and reuses. The rare rules are
// left out (nothing is held back before the first TIME_HIGH, no trigger edges, no cut words
// between calls); on recordings that start with a TIME_HIGH it gives the driver's events.
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
            case 0x0: y = p & 0x7FF; break;
            case 0x2:
                if (y < height && (p & 0x7FF) < width)
                    out.push_back(Event2D{uint16_t(p & 0x7FF), uint16_t(y), uint8_t(p >> 11), t});
                break;
            case 0x3: base = p & 0x7FF; pol = uint8_t(p >> 11); break;
            case 0x4: vect(p, 12, out); break;
            case 0x5: vect(p & 0xFF, 8, out); break;
            case 0x6: t = (t & ~uint64_t(0xFFF)) | p; break;
            case 0x8:
                if (p != high) {
                    if (high >= p + 2048) wraps += 1ull << 24;
                    high = p;
                    t = wraps | uint64_t(p) << 12;
                }
                break;
            default: break;
            }
        }
    }

private:
    void vect(uint32_t bits, uint32_t span, std::vector<Event2D>& out) {
        if (y < height && base < width) {
            if (width - base < 32) bits &= (1u << (width - base)) - 1;
            for (; bits; bits &= bits - 1)
                out.push_back(Event2D{uint16_t(base + uint32_t(__builtin_ctz(bits))), uint16_t(y), pol, t});
        }
        base += span;
    }
    uint32_t width, height;
    uint64_t wraps = 0, t = 0;
    uint32_t high = 0, y = 0x10000, base = 1u << 20;
    uint8_t pol = 0;
};

} // namespace norvale::bench
