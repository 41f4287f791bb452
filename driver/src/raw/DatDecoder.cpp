// DAT: 8-byte little-endian records after the header: a 32-bit time in microseconds, then x in
// bits 0..13, y in bits 14..27 and polarity in bits 28..31 (non-zero is ON). The 32-bit time
// wraps about every 71.6 minutes; a fall by half its range or more counts as a wrap.
#include <cstring>

#include "norvale/RawDecoder.h"

namespace norvale {

namespace {

class DatDecoder final : public RawDecoder {
public:
    DatDecoder(uint32_t width, uint32_t height) : RawDecoder(width, height) {}

    RawFormat format() const override { return RawFormat::Dat; }
    size_t maxEvents(size_t bytes) const override { return bytes / 8 + 2; }

    size_t decode(const uint8_t* data, size_t size, Event2D* out, std::vector<EventTriggerIn>*) override {
        Event2D* const first = out;
        out = decodeRecords<8>(data, size, out, [&](const uint8_t* p, Event2D* o) { return step(p, o); });
        return size_t(out - first);
    }

private:
    Event2D* step(const uint8_t* p, Event2D* out) {
        uint32_t t, a;
        std::memcpy(&t, p, 4);
        std::memcpy(&a, p + 4, 4);
        if (st.haveTime && st.timeLow > t && st.timeLow - t >= 0x80000000u)
            st.wrapBase += uint64_t(1) << 32;
        st.timeLow = t;
        st.haveTime = 1;
        const uint32_t x = a & 0x3FFFu, y = (a >> 14) & 0x3FFFu;
        if (x < w && y < h) *out++ = Event2D{uint16_t(x), uint16_t(y), uint8_t((a >> 28) != 0), st.wrapBase | t};
        return out;
    }
};

} // namespace

std::unique_ptr<RawDecoder> makeDatDecoder(uint32_t width, uint32_t height) {
    return std::make_unique<DatDecoder>(width, height);
}

} // namespace norvale
