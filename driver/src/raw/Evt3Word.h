#pragma once

// One EVT 3.0 word, the reference semantics. The portable kernels are loops over this; the
// vectorised kernels fall back to it for blocks they do not handle and must match it exactly.
// The word function hands its events to a sink: EventWriter stores them, EventCounter only
// tallies them (the count-only pass of prepareFile).
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "norvale/EventTally.h"
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

// Bits i of a vector at base whose x = base + i lies inside the width.
inline uint32_t evt3WidthMask(uint32_t base, uint32_t width) {
    if (base >= width) return 0;
    return width - base >= 32 ? ~0u : (1u << (width - base)) - 1;
}

struct EventWriter {
    Event2D* out;
    void event(uint32_t x, uint32_t y, uint8_t p, uint64_t t) { *out++ = Event2D{uint16_t(x), uint16_t(y), p, t}; }
    void run(uint32_t base, uint32_t bits, uint32_t y, uint8_t p, uint64_t t) { // bits inside the width
        while (bits) {
            *out++ = Event2D{uint16_t(base + uint32_t(__builtin_ctz(bits))), uint16_t(y), p, t};
            bits &= bits - 1;
        }
    }
};

struct EventCounter {
    EventTally& tally;
    void event(uint32_t x, uint32_t y, uint8_t p, uint64_t t) {
        tally.add(t, 1, p);
        tally.maxX = std::max(tally.maxX, x);
        tally.maxY = std::max(tally.maxY, y);
    }
    void run(uint32_t base, uint32_t bits, uint32_t y, uint8_t p, uint64_t t) {
        const uint32_t n = uint32_t(__builtin_popcount(bits));
        if (!n) return;
        tally.add(t, n, p ? n : 0);
        tally.maxX = std::max(tally.maxX, base + 31u - uint32_t(__builtin_clz(bits)));
        tally.maxY = std::max(tally.maxY, y);
    }
};

template <class Sink>
inline void evt3Vector(uint32_t bits, uint32_t span, RawDecoderState& s, uint32_t width, uint32_t height, Sink& sink) {
    if (s.y < height) sink.run(s.base, bits & evt3WidthMask(s.base, width), s.y, s.polarity, evt3Time(s));
    const uint32_t next = s.base + span;
    s.base = next < RawDecoderState::kNoBase ? next : RawDecoderState::kNoBase;
}

template <class Sink>
inline void evt3Word(uint16_t w, RawDecoderState& s, uint32_t width, uint32_t height, Sink& sink,
                     std::vector<EventTriggerIn>* triggers) {
    const uint32_t payload = w & 0xFFFu;
    switch (w >> 12) {
    case 0x0: // ADDR_Y; bit 11 is the system type
        if (s.haveTime) s.y = payload & 0x7FFu;
        break;
    case 0x2: { // ADDR_X
        const uint32_t x = payload & 0x7FFu;
        if (s.haveTime && s.y < height && x < width) sink.event(x, s.y, uint8_t(payload >> 11), evt3Time(s));
        break;
    }
    case 0x3: // VECT_BASE_X
        if (s.haveTime) {
            s.base = payload & 0x7FFu;
            s.polarity = uint8_t(payload >> 11);
        }
        break;
    case 0x4: // VECT_12; the base is kNoBase until the first VECT_BASE_X, so nothing comes out
        evt3Vector(payload, 12, s, width, height, sink);
        break;
    case 0x5: // VECT_8
        evt3Vector(payload & 0xFFu, 8, s, width, height, sink);
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
}

inline Event2D* evt3Word(uint16_t w, RawDecoderState& s, uint32_t width, uint32_t height, Event2D* out,
                         std::vector<EventTriggerIn>* triggers) {
    EventWriter sink{out};
    evt3Word(w, s, width, height, sink, triggers);
    return sink.out;
}

// The state after a vectorised block, from its last lane: y and time always, the vector base
// (last lane's base plus its span) and polarity after blocks with vector words.
inline void evt3BlockEnd(RawDecoderState& s, uint32_t y, bool highChanged, uint32_t high, uint32_t low) {
    s.y = y;
    if (highChanged) s.timeHigh = high;
    s.timeLow = low;
}
inline void evt3BlockEndVector(RawDecoderState& s, uint32_t base, uint32_t span, uint32_t polarity) {
    const uint32_t next = base + span;
    s.base = next < RawDecoderState::kNoBase ? next : RawDecoderState::kNoBase;
    s.polarity = uint8_t(polarity);
}

// Kernels over nWords whole words starting at bytes (any alignment). Decoding ones return the
// events written; counting ones add to tally instead.
#define NR_EVT3_KERNELS(suffix)                                                                                  \
    size_t evt3Decode##suffix(const uint8_t* bytes, size_t nWords, RawDecoderState& s, uint32_t width,          \
                              uint32_t height, Event2D* out, std::vector<EventTriggerIn>* triggers);             \
    void evt3Count##suffix(const uint8_t* bytes, size_t nWords, RawDecoderState& s, uint32_t width,             \
                           uint32_t height, EventTally& tally, std::vector<EventTriggerIn>* triggers);
NR_EVT3_KERNELS(Portable)
NR_EVT3_KERNELS(Avx2)
NR_EVT3_KERNELS(Avx512)
#undef NR_EVT3_KERNELS
bool cpuHasAvx512();
bool cpuHasAvx2();

} // namespace norvale::detail
