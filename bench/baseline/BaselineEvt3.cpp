#include "BaselineEvt3.h"

#include <cstring>

namespace norvale::bench {

void BaselineEvt3::decode(const uint8_t* data, size_t size, std::vector<Event2D>& out) {
    for (size_t i = 0; i + 1 < size; i += 2) {
        uint16_t w;
        std::memcpy(&w, data + i, 2);
        const uint32_t p = w & 0xFFF;
        switch (w >> 12) {
        case 0x0: y = p & 0x7FF; break;
        case 0x2: out.push_back(Event2D{uint16_t(p & 0x7FF), uint16_t(y), uint8_t(p >> 11), t}); break;
        case 0x3: base = p & 0x7FF; pol = uint8_t(p >> 11); break;
        case 0x4:
            for (uint32_t b = 0; b < 12; ++b)
                if (p >> b & 1) out.push_back(Event2D{uint16_t(base + b), uint16_t(y), pol, t});
            base += 12;
            break;
        case 0x5:
            for (uint32_t b = 0; b < 8; ++b)
                if (p >> b & 1) out.push_back(Event2D{uint16_t(base + b), uint16_t(y), pol, t});
            base += 8;
            break;
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

} // namespace norvale::bench
