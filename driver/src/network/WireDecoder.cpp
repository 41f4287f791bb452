#include "network/WireDecoder.h"

namespace norvale {

namespace {
inline uint16_t get16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
inline uint32_t get32(const uint8_t* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
inline uint64_t get64(const uint8_t* p) { return uint64_t(get32(p)) | (uint64_t(get32(p + 4)) << 32); }
} // namespace

WireDecoder::WireDecoder(WireFormat f, uint32_t w, uint32_t h)
    : format(f), eventSize(wireEventSize(f)), width(w), height(h) {}

void WireDecoder::restart() {
    started = false;
    newest = 0;
}

WireDecoder::Result WireDecoder::decode(const uint8_t* data, size_t size, std::vector<Event2D>& out,
                                        uint64_t& invalid) {
    if (size == 0 || size % eventSize != 0) return Result::Malformed;
    const size_t n = size / eventSize, at = out.size();
    out.resize(at + n); // within the capacity the caller keeps
    Event2D* dst = out.data() + at;
    size_t kept = 0;
    uint64_t bad = 0, last = 0;
    bool first = true;
    const bool t32 = format == WireFormat::T32_X16_Y15_ON1;
    bool wasStarted = started;
    uint64_t ref = newest; // t32: the unwrapping reference, committed only when accepted
    for (size_t i = 0; i < n; ++i) {
        const uint8_t* p = data + i * eventSize;
        Event2D e;
        if (t32) {
            const uint32_t raw = get32(p);
            if (!wasStarted) {
                ref = raw;
                wasStarted = true;
            }
            const int64_t t = int64_t(ref) + int64_t(int32_t(raw - uint32_t(ref)));
            if (t < 0) { // before the stream's first time: cannot be placed
                out.resize(at);
                return Result::Unordered;
            }
            e.timestamp = uint64_t(t);
            if (e.timestamp > ref) ref = e.timestamp;
            e.x = get16(p + 4);
            const uint16_t yp = get16(p + 6);
            e.y = uint16_t(yp >> 1);
            e.polarity = uint8_t(yp & 1);
        } else {
            e.timestamp = get64(p);
            e.x = get16(p + 8);
            e.y = get16(p + 10);
            e.polarity = p[12];
        }
        if (!first && e.timestamp < last) {
            out.resize(at);
            return Result::Unordered;
        }
        first = false;
        last = e.timestamp;
        if (e.x >= width || e.y >= height || e.polarity > 1) {
            ++bad;
            continue;
        }
        dst[kept++] = e;
    }
    out.resize(at + kept);
    invalid += bad;
    started = wasStarted;
    newest = ref;
    return Result::Events;
}

} // namespace norvale
