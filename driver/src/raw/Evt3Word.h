#pragma once

// One EVT 3.0 word, the reference semantics. The portable kernel is a loop over this; the
// vectorised kernel falls back to it for blocks it does not handle and must match it exactly.
#include <cstdint>
#include <cstring>
#include <vector>

#include "norvale/RawDecoder.h"

namespace norvale::detail {

inline uint16_t loadWord(const uint8_t* p) {
    uint16_t w;
    std::memcpy(&w, p, 2); // little-endian hosts only, as everywhere in the driver
    return w;
}

inline uint64_t evt3Time(const RawDecoderState& s) {
    return s.wrapBase | (uint64_t(s.timeHigh) << 12) | s.timeLow;
}

inline Event2D* evt3Vector(uint32_t bits, uint32_t span, RawDecoderState& s, uint32_t width, uint32_t height,
                           Event2D* out) {
    if (s.y < height) {
        const uint64_t t = evt3Time(s);
        while (bits) {
            const uint32_t x = s.base + uint32_t(__builtin_ctz(bits));
            bits &= bits - 1;
            if (x < width) *out++ = Event2D{uint16_t(x), uint16_t(s.y), s.polarity, t};
        }
    }
    const uint32_t next = s.base + span;
    s.base = next < RawDecoderState::kNoBase ? next : RawDecoderState::kNoBase;
    return out;
}

inline Event2D* evt3Word(uint16_t w, RawDecoderState& s, uint32_t width, uint32_t height, Event2D* out,
                         std::vector<EventTriggerIn>* triggers) {
    const uint32_t payload = w & 0xFFFu;
    switch (w >> 12) {
    case 0x0: // ADDR_Y; bit 11 is the system type
        if (s.haveTime) s.y = payload & 0x7FFu;
        break;
    case 0x2: { // ADDR_X
        const uint32_t x = payload & 0x7FFu;
        if (s.haveTime && s.y < height && x < width)
            *out++ = Event2D{uint16_t(x), uint16_t(s.y), uint8_t(payload >> 11), evt3Time(s)};
        break;
    }
    case 0x3: // VECT_BASE_X
        if (s.haveTime) {
            s.base = payload & 0x7FFu;
            s.polarity = uint8_t(payload >> 11);
        }
        break;
    case 0x4: // VECT_12; the base is kNoBase until the first VECT_BASE_X, so nothing comes out
        out = evt3Vector(payload, 12, s, width, height, out);
        break;
    case 0x5: // VECT_8
        out = evt3Vector(payload & 0xFFu, 8, s, width, height, out);
        break;
    case 0x6: // TIME_LOW
        if (s.haveTime) s.timeLow = payload;
        break;
    case 0x8: // TIME_HIGH
        if (!s.haveTime) {
            s.haveTime = 1;
            s.timeHigh = payload;
            s.timeLow = 0;
        } else if (payload != s.timeHigh) {
            if (s.timeHigh >= payload + 2048) s.wrapBase += uint64_t(1) << 24;
            s.timeHigh = payload;
            s.timeLow = 0;
        }
        break;
    case 0xA: // EXT_TRIGGER
        if (s.haveTime && triggers)
            triggers->push_back(EventTriggerIn{uint16_t(payload & 1u), evt3Time(s), uint16_t((payload >> 8) & 0xFu)});
        break;
    default: // CONTINUED, OTHERS, reserved and padding words carry nothing we show
        break;
    }
    return out;
}

// Kernels: decode nWords whole words starting at bytes (any alignment); return events written.
size_t evt3DecodePortable(const uint8_t* bytes, size_t nWords, RawDecoderState& s, uint32_t width,
                          uint32_t height, Event2D* out, std::vector<EventTriggerIn>* triggers);
size_t evt3DecodeAvx512(const uint8_t* bytes, size_t nWords, RawDecoderState& s, uint32_t width,
                        uint32_t height, Event2D* out, std::vector<EventTriggerIn>* triggers);
bool cpuHasAvx512();

} // namespace norvale::detail
