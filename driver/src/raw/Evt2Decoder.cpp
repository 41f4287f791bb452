// EVT 2.0: 32-bit little-endian words (older cameras).
#include <cstring>

#include "norvale/RawDecoder.h"

namespace norvale {

namespace {

class Evt2Decoder final : public RawDecoder {
public:
    Evt2Decoder(uint32_t width, uint32_t height) : RawDecoder(width, height) {}

    RawFormat format() const override { return RawFormat::Evt2; }
    size_t maxEvents(size_t bytes) const override { return bytes / 4 + 2; }

    size_t decode(const uint8_t* data, size_t size, Event2D* out, std::vector<EventTriggerIn>* triggers) override {
        Event2D* const first = out;
        out = decodeRecords<4>(data, size, out, [&](const uint8_t* p, Event2D* o) { return step(load(p), o, triggers); });
        return size_t(out - first);
    }

private:
    static uint32_t load(const uint8_t* p) {
        uint32_t w;
        std::memcpy(&w, p, 4);
        return w;
    }

    uint64_t time(uint32_t w) const {
        return st.wrapBase | (uint64_t(st.timeHigh) << 6) | ((w >> 22) & 0x3Fu);
    }

    Event2D* step(uint32_t w, Event2D* out, std::vector<EventTriggerIn>* triggers) {
        switch (w >> 28) {
        case 0x0: // CD_OFF
        case 0x1: { // CD_ON
            const uint32_t x = (w >> 11) & 0x7FFu, y = w & 0x7FFu;
            if (st.haveTime && x < this->w && y < h)
                *out++ = Event2D{uint16_t(x), uint16_t(y), uint8_t(w >> 28), time(w)};
            break;
        }
        case 0x8: { // EV_TIME_HIGH: bits 33..6 of the time
            const uint32_t high = w & 0x0FFFFFFFu;
            if (st.haveTime && st.timeHigh >= high + (1u << 27)) st.wrapBase += uint64_t(1) << 34;
            st.timeHigh = high;
            st.haveTime = 1;
            break;
        }
        case 0xA: // EXT_TRIGGER
            if (st.haveTime && triggers)
                triggers->push_back(EventTriggerIn{uint16_t(w & 1u), time(w), uint16_t((w >> 8) & 0x1Fu)});
            break;
        default:
            break;
        }
        return out;
    }
};

} // namespace

std::unique_ptr<RawDecoder> makeEvt2Decoder(uint32_t width, uint32_t height) {
    return std::make_unique<Evt2Decoder>(width, height);
}

} // namespace norvale
