#include "raw/Evt3Word.h"

#include <algorithm>

namespace norvale {

namespace detail {

size_t evt3DecodePortable(const uint8_t* bytes, size_t nWords, RawDecoderState& s, uint32_t width,
                          uint32_t height, Event2D* out, std::vector<EventTriggerIn>* triggers) {
    Event2D* const first = out;
    for (size_t i = 0; i < nWords; ++i) out = evt3Word(loadWord(bytes + 2 * i), s, width, height, out, triggers);
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

class Evt3Decoder final : public RawDecoder {
public:
    Evt3Decoder(uint32_t width, uint32_t height, bool simd) : RawDecoder(width, height), simd(simd) {}

    RawFormat format() const override { return RawFormat::Evt3; }

    size_t maxEvents(size_t bytes) const override { return (bytes / 2 + 1) * 12 + 32; }

    size_t decode(const uint8_t* data, size_t size, Event2D* out, std::vector<EventTriggerIn>* triggers) override {
        detail::EventWriter sink{out};
        run(data, size, sink, triggers, [&](const uint8_t* d, size_t words) {
            sink.out += simd ? detail::evt3DecodeAvx512(d, words, st, w, h, sink.out, triggers)
                             : detail::evt3DecodePortable(d, words, st, w, h, sink.out, triggers);
        });
        return size_t(sink.out - out);
    }

    void count(const uint8_t* data, size_t size, EventTally& tally, std::vector<EventTriggerIn>* triggers) override {
        detail::EventCounter sink{tally};
        run(data, size, sink, triggers, [&](const uint8_t* d, size_t words) {
            if (simd) detail::evt3CountAvx512(d, words, st, w, h, tally, triggers);
            else detail::evt3CountPortable(d, words, st, w, h, tally, triggers);
        });
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

    bool simd;
};

} // namespace

bool avx512KernelAvailable() { return detail::cpuHasAvx512(); }

std::unique_ptr<RawDecoder> makeEvt3Decoder(uint32_t width, uint32_t height, DecoderKernel kernel) {
    bool simd = false;
    if (kernel == DecoderKernel::Auto) simd = detail::cpuHasAvx512();
    if (kernel == DecoderKernel::Avx512) {
        if (!detail::cpuHasAvx512()) return nullptr;
        simd = true;
    }
    return std::make_unique<Evt3Decoder>(width, height, simd);
}

std::unique_ptr<RawDecoder> makeDecoder(RawFormat format, uint32_t width, uint32_t height) {
    if (format == RawFormat::Evt2) return makeEvt2Decoder(width, height);
    return makeEvt3Decoder(width, height);
}

} // namespace norvale
