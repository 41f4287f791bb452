#include "raw/Evt3Word.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "norvale/Logger.h"

namespace norvale {

namespace detail {

namespace {

// The events of a vector word: every bit's event is written and the output moves on by the bit,
// so the number of events costs no mispredicted branch. Writes up to span events past the last
// one kept, inside the room maxEvents gives (12 an input word).
inline Event2D* vectorEvents(Event2D* out, uint32_t bits, uint32_t span, uint32_t& base, uint32_t y, uint8_t polarity,
                             uint64_t t, uint32_t width, uint32_t height) {
    bits = y < height ? bits & evt3WidthMask(base, width) : 0;
    if (bits) {
        Event2D e{0, uint16_t(y), polarity, t};
        for (uint32_t b = 0; b < span; ++b) {
            e.x = uint16_t(base + b);
            *out = e;
            out += bits >> b & 1u;
        }
    }
    const uint32_t next = base + span;
    base = next < RawDecoderState::kNoBase ? next : RawDecoderState::kNoBase;
    return out;
}

} // namespace

// evt3Word's semantics, with the state in locals (stores of events could otherwise alias it and
// force it back to memory at every word). The words of single events and of time (most words of a
// real recording, in no predictable order) take no branch: each updates the state by selection and
// an event is written at every word, the output moving on only for a kept ADDR_X. Vector and
// trigger words, rare outside busy scenes, go through a switch.
size_t evt3DecodePortable(const uint8_t* bytes, size_t nWords, RawDecoderState& s, uint32_t width,
                          uint32_t height, Event2D* out, std::vector<EventTriggerIn>* triggers) {
    Event2D* const first = out;
    size_t i = 0;
    // Until the first TIME_HIGH only that word counts: the reference takes that stretch.
    for (; i < nWords && !s.haveTime; ++i) out = evt3Word(loadWord(bytes + 2 * i), s, width, height, out, triggers);
    uint64_t wrap = s.wrapBase;
    uint32_t high = s.timeHigh, low = s.timeLow, y = s.y, base = s.base;
    uint8_t polarity = s.polarity;
    uint64_t t = wrap | uint64_t(high) << 12 | low;
    constexpr uint32_t kSwitched = 1u << 0x3 | 1u << 0x4 | 1u << 0x5 | 1u << 0xA;
    for (; i < nWords; ++i) {
        const uint32_t w = loadWord(bytes + 2 * i);
        const uint32_t type = w >> 12, payload = w & 0xFFFu;
        if (kSwitched >> type & 1u) {
            switch (type) {
            case 0x3:
                base = payload & 0x7FFu;
                polarity = uint8_t(payload >> 11);
                break;
            case 0x4: out = vectorEvents(out, payload, 12, base, y, polarity, t, width, height); break;
            case 0x5: out = vectorEvents(out, payload & 0xFFu, 8, base, y, polarity, t, width, height); break;
            default: // 0xA, EXT_TRIGGER
                if (triggers)
                    triggers->push_back(EventTriggerIn{uint16_t(payload & 1u), t, uint16_t((payload >> 8) & 0xFu)});
                break;
            }
            continue;
        }
        if (type == 0x2) { // ADDR_X: a quarter of a real recording's words
            const uint32_t x = payload & 0x7FFu;
            *out = Event2D{uint16_t(x), uint16_t(y), uint8_t(payload >> 11), t};
            out += y < height && x < width;
            continue;
        }
        const bool newHigh = type == 0x8 && payload != high;
        wrap += uint64_t(newHigh && high >= payload + 2048) << 24;
        high = newHigh ? payload : high;
        low = type == 0x6 ? payload : (newHigh ? 0 : low);
        y = type == 0x0 ? payload & 0x7FFu : y;
        t = wrap | uint64_t(high) << 12 | low;
    }
    s.wrapBase = wrap;
    s.timeHigh = high;
    s.timeLow = low;
    s.y = y;
    s.base = base;
    s.polarity = polarity;
    return size_t(out - first);
}

void evt3CountPortable(const uint8_t* bytes, size_t nWords, RawDecoderState& s, uint32_t width, uint32_t height,
                       EventTally& tally, std::vector<EventTriggerIn>* triggers) {
    EventCounter sink{tally};
    for (size_t i = 0; i < nWords; ++i) evt3Word(loadWord(bytes + 2 * i), s, width, height, sink, triggers);
}

} // namespace detail

void RawDecoder::decodeAppend(const uint8_t* data, size_t size, std::vector<Event2D>& events,
                              std::vector<EventTriggerIn>* triggers) {
    const size_t old = events.size();
    events.resize(old + maxEvents(size));
    const size_t n = decode(data, size, events.data() + old, triggers);
    events.resize(old + n);
}

void RawDecoder::count(const uint8_t* data, size_t size, EventTally& tally, std::vector<EventTriggerIn>* triggers) {
    constexpr size_t kPiece = 8 * 1024; // decoded events stay in the core's cache for the tally
    if (countScratch.empty()) countScratch.resize(maxEvents(kPiece));
    for (size_t off = 0; off < size; off += kPiece) {
        const size_t n = decode(data + off, std::min(kPiece, size - off), countScratch.data(), triggers);
        tally.add(countScratch.data(), countScratch.data() + n);
    }
}

namespace {

using DecodeKernel = size_t (*)(const uint8_t*, size_t, RawDecoderState&, uint32_t, uint32_t, Event2D*,
                                std::vector<EventTriggerIn>*);
using CountKernel = void (*)(const uint8_t*, size_t, RawDecoderState&, uint32_t, uint32_t, EventTally&,
                             std::vector<EventTriggerIn>*);

class Evt3Decoder final : public RawDecoder {
public:
    Evt3Decoder(uint32_t width, uint32_t height, DecoderKernel kernel) : RawDecoder(width, height), which(kernel) {
        if (kernel == DecoderKernel::Avx512) {
            decodeKernel = detail::evt3DecodeAvx512;
            countKernel = detail::evt3CountAvx512;
        } else if (kernel == DecoderKernel::Avx2) {
            decodeKernel = detail::evt3DecodeAvx2;
            countKernel = detail::evt3CountAvx2;
        }
    }

    RawFormat format() const override { return RawFormat::Evt3; }
    DecoderKernel kernel() const override { return which; }

    size_t maxEvents(size_t bytes) const override { return (bytes / 2 + 1) * 12 + 32; }

    size_t decode(const uint8_t* data, size_t size, Event2D* out, std::vector<EventTriggerIn>* triggers) override {
        detail::EventWriter sink{out};
        run(data, size, sink, triggers,
            [&](const uint8_t* d, size_t words) { sink.out += decodeKernel(d, words, st, w, h, sink.out, triggers); });
        return size_t(sink.out - out);
    }

    void count(const uint8_t* data, size_t size, EventTally& tally, std::vector<EventTriggerIn>* triggers) override {
        detail::EventCounter sink{tally};
        run(data, size, sink, triggers,
            [&](const uint8_t* d, size_t words) { countKernel(d, words, st, w, h, tally, triggers); });
    }

private:
    // The word cut by the previous buffer, the whole words through kernel, then a cut last byte.
    template <class Sink, class Kernel>
    void run(const uint8_t* data, size_t size, Sink& sink, std::vector<EventTriggerIn>* triggers, Kernel&& kernel) {
        if (size == 0) return;
        if (st.pendingCount) {
            const uint8_t pair[2] = {st.pending[0], data[0]};
            st.pendingCount = 0;
            detail::evt3Word(detail::loadWord(pair), st, w, h, sink, triggers);
            ++data;
            --size;
        }
        kernel(data, size / 2);
        if (size & 1) {
            st.pending[0] = data[size - 1];
            st.pendingCount = 1;
        }
    }

    DecoderKernel which;
    DecodeKernel decodeKernel = detail::evt3DecodePortable;
    CountKernel countKernel = detail::evt3CountPortable;
};

// Logs a problem with NORVALE_SIMD once per value, not once per file opened.
void warnOnce(const std::string& value, const std::string& message) {
    static std::mutex mutex;
    static std::string warned;
    std::lock_guard<std::mutex> lock(mutex);
    if (warned == value) return;
    warned = value;
    NR_LOG(LOG_WARN, "%s", message.c_str());
}

} // namespace

bool kernelAvailable(DecoderKernel kernel) {
    switch (kernel) {
    case DecoderKernel::Avx512: return detail::cpuHasAvx512();
    case DecoderKernel::Avx2: return detail::cpuHasAvx2();
    default: return true;
    }
}

DecoderKernel autoKernel() {
    static const DecoderKernel best = detail::cpuHasAvx512() ? DecoderKernel::Avx512
                                      : detail::cpuHasAvx2() ? DecoderKernel::Avx2
                                                             : DecoderKernel::Portable;
    const char* v = std::getenv("NORVALE_SIMD"); // read each time: a program may set it between files
    if (!v || !*v) return best;
    const std::string name(v);
    for (DecoderKernel k : {DecoderKernel::Avx512, DecoderKernel::Avx2, DecoderKernel::Portable}) {
        if (name != kernelName(k)) continue;
        if (kernelAvailable(k)) return k;
        warnOnce(name, "NORVALE_SIMD=" + name + ": this CPU cannot run that kernel; using " + kernelName(best));
        return best;
    }
    warnOnce(name, "NORVALE_SIMD=" + name + " is none of avx512, avx2, portable; using " + kernelName(best));
    return best;
}

const char* kernelName(DecoderKernel kernel) {
    switch (kernel) {
    case DecoderKernel::Avx512: return "avx512";
    case DecoderKernel::Avx2: return "avx2";
    case DecoderKernel::Portable: return "portable";
    default: return "auto";
    }
}

bool avx512KernelAvailable() { return detail::cpuHasAvx512(); }

std::unique_ptr<RawDecoder> makeEvt3Decoder(uint32_t width, uint32_t height, DecoderKernel kernel) {
    if (kernel == DecoderKernel::Auto) kernel = autoKernel();
    if (!kernelAvailable(kernel)) return nullptr;
    // The vectorised kernels keep coordinates in 16-bit fields; real sensors are far smaller.
    if (width > 2048 || height > 2048) kernel = DecoderKernel::Portable;
    return std::make_unique<Evt3Decoder>(width, height, kernel);
}

std::unique_ptr<RawDecoder> makeDecoder(RawFormat format, uint32_t width, uint32_t height) {
    switch (format) {
    case RawFormat::Evt2: return makeEvt2Decoder(width, height);
    case RawFormat::Evt21: return makeEvt21Decoder(width, height);
    case RawFormat::Dat: return makeDatDecoder(width, height);
    case RawFormat::Evt3: break;
    }
    return makeEvt3Decoder(width, height);
}

void addressableRange(RawFormat format, uint32_t& width, uint32_t& height) {
    // 11-bit coordinates in the EVT formats. DAT records have 14 bits, but no sensor needs more
    // than 11: beyond them lies damage, and a display of 16384 x 16384 would take gigabytes.
    (void)format;
    width = height = 2048;
}

} // namespace norvale
