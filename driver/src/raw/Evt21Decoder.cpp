// EVT 2.1: 64-bit little-endian words. An event word carries 32 pixels of one row and polarity:
// a base x (a multiple of 32) and a mask, one event per set bit.
#include <cstring>

#include "norvale/RawDecoder.h"

namespace norvale {

namespace {

class Evt21Decoder final : public RawDecoder {
public:
    Evt21Decoder(uint32_t width, uint32_t height) : RawDecoder(width, height) {}

    RawFormat format() const override { return RawFormat::Evt21; }
    size_t maxEvents(size_t bytes) const override { return (bytes / 8 + 2) * 32; }

    size_t decode(const uint8_t* data, size_t size, Event2D* out, std::vector<EventTriggerIn>* triggers) override {
        Event2D* const first = out;
        out = decodeRecords<8>(data, size, out, [&](const uint8_t* p, Event2D* o) { return step(load(p), o, triggers); });
        return size_t(out - first);
    }

private:
    static uint64_t load(const uint8_t* p) {
        uint64_t w;
        std::memcpy(&w, p, 8);
        return w;
    }

    uint64_t time(uint64_t w) const {
        return st.wrapBase | (uint64_t(st.timeHigh) << 6) | ((w >> 54) & 0x3Fu);
    }

    Event2D* step(uint64_t w, Event2D* out, std::vector<EventTriggerIn>* triggers) {
        switch (unsigned(w >> 60)) {
        case 0x0: // EVT_NEG
        case 0x1: { // EVT_POS
            const uint32_t base = uint32_t(w >> 43) & 0x7FFu, y = uint32_t(w >> 32) & 0x7FFu;
            uint32_t mask = uint32_t(w);
            if (!st.haveTime || y >= h || base >= this->w) break;
            if (this->w - base < 32) mask &= (1u << (this->w - base)) - 1;
            const uint8_t p = uint8_t(w >> 60);
            const uint64_t t = time(w);
            while (mask) {
                *out++ = Event2D{uint16_t(base + uint32_t(__builtin_ctz(mask))), uint16_t(y), p, t};
                mask &= mask - 1;
            }
            break;
        }
        case 0x8: { // EVT_TIME_HIGH: bits 33..6 of the time
            const uint32_t high = uint32_t(w >> 32) & 0x0FFFFFFFu;
            if (st.haveTime && st.timeHigh >= high + (1u << 27)) st.wrapBase += uint64_t(1) << 34;
            st.timeHigh = high;
            st.haveTime = 1;
            break;
        }
        case 0xA: // EXT_TRIGGER: value in bit 32, channel in bits 44..40
            if (st.haveTime && triggers)
                triggers->push_back(EventTriggerIn{uint16_t((w >> 32) & 1u), time(w), uint16_t((w >> 40) & 0x1Fu)});
            break;
        default: // OTHERS, CONTINUED and reserved words carry nothing we show
            break;
        }
        return out;
    }
};

} // namespace

std::unique_ptr<RawDecoder> makeEvt21Decoder(uint32_t width, uint32_t height) {
    return std::make_unique<Evt21Decoder>(width, height);
}

} // namespace norvale
