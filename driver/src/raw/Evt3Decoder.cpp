#include "raw/Evt3Word.h"

namespace norvale {

namespace detail {

size_t evt3DecodePortable(const uint8_t* bytes, size_t nWords, RawDecoderState& s, uint32_t width,
                          uint32_t height, Event2D* out, std::vector<EventTriggerIn>* triggers) {
    Event2D* const first = out;
    for (size_t i = 0; i < nWords; ++i) out = evt3Word(loadWord(bytes + 2 * i), s, width, height, out, triggers);
    return size_t(out - first);
}

} // namespace detail

void RawDecoder::decodeAppend(const uint8_t* data, size_t size, std::vector<Event2D>& events,
                              std::vector<EventTriggerIn>* triggers) {
    const size_t old = events.size();
    events.resize(old + maxEvents(size));
    const size_t n = decode(data, size, events.data() + old, triggers);
    events.resize(old + n);
}

namespace {

class Evt3Decoder final : public RawDecoder {
public:
    Evt3Decoder(uint32_t width, uint32_t height, bool simd) : RawDecoder(width, height), simd(simd) {}

    RawFormat format() const override { return RawFormat::Evt3; }

    size_t maxEvents(size_t bytes) const override { return (bytes / 2 + 1) * 12 + 32; }

    size_t decode(const uint8_t* data, size_t size, Event2D* out, std::vector<EventTriggerIn>* triggers) override {
        size_t n = 0;
        if (size == 0) return 0;
        if (st.pendingCount) { // a word cut by the previous buffer
            const uint8_t pair[2] = {st.pending[0], data[0]};
            st.pendingCount = 0;
            n += size_t(detail::evt3Word(detail::loadWord(pair), st, w, h, out, triggers) - out);
            ++data;
            --size;
        }
        const size_t words = size / 2;
        n += simd ? detail::evt3DecodeAvx512(data, words, st, w, h, out + n, triggers)
                  : detail::evt3DecodePortable(data, words, st, w, h, out + n, triggers);
        if (size & 1) {
            st.pending[0] = data[size - 1];
            st.pendingCount = 1;
        }
        return n;
    }

private:
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
