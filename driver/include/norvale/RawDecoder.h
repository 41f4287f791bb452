#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "norvale/DriverExport.h"
#include "norvale/Event2D.h"
#include "norvale/EventTally.h"

namespace norvale {

enum class RawFormat : uint8_t { Evt3 = 3, Evt2 = 2, Evt21 = 21, Dat = 100 };

// Which EVT 3.0 decoding and counting kernel to use; all give identical results. Auto takes the
// fastest the CPU has, or the one the environment variable NORVALE_SIMD (avx512, avx2, portable)
// asks for when the CPU has it (a higher one falls back to the best the CPU has).
enum class DecoderKernel { Auto, Portable, Avx2, Avx512 };

// Everything a decoder needs to resume in the middle of a stream. Plain data, so an index can
// store one per checkpoint and hand it back to setState.
struct RawDecoderState {
    static constexpr uint32_t kNoY = 0x10000;      // fails every height check
    static constexpr uint32_t kNoBase = 1u << 20; // fails every width check, also after increments

    uint64_t wrapBase = 0;  // wraps of the time counter, already shifted into place
    uint32_t timeHigh = 0;  // EVT 3.0: bits 23..12 of the time; EVT 2.0 and 2.1: bits 33..6
    uint32_t timeLow = 0;   // EVT 3.0: bits 11..0; DAT: the last record's 32-bit time
    uint32_t y = kNoY;
    uint32_t base = kNoBase; // EVT 3.0 vector base x
    uint8_t polarity = 0;    // EVT 3.0 vector polarity
    uint8_t haveTime = 0;    // a TIME_HIGH was seen: before it everything is dropped
    uint8_t pendingCount = 0; // bytes of a word or record cut by the buffer boundary
    uint8_t pending[7] = {0, 0, 0, 0, 0, 0, 0};
};

// Turns a raw word stream into events. Keeps its state across calls, so a stream may come in
// buffers of any size (odd sizes included). One thread at a time.
class NR_DRIVER_EXPORT RawDecoder {
public:
    virtual ~RawDecoder() = default;

    // Upper bound of the events that decode() may write for `bytes` bytes of input, including the
    // slack the vectorised path writes past the last event.
    virtual size_t maxEvents(size_t bytes) const = 0;

    // Decodes [data, data + size) into out, which must hold maxEvents(size) events; returns the
    // number of events written. Trigger edges are appended to *triggers when it is given.
    virtual size_t decode(const uint8_t* data, size_t size, Event2D* out,
                          std::vector<EventTriggerIn>* triggers) = 0;

    // Count-only pass: the figures that decoding [data, data + size) and tallying every event
    // would add to tally, and the same state afterwards, without writing events.
    virtual void count(const uint8_t* data, size_t size, EventTally& tally, std::vector<EventTriggerIn>* triggers);

    // Convenience for callers that do not keep their own buffer: appends to events.
    void decodeAppend(const uint8_t* data, size_t size, std::vector<Event2D>& events,
                      std::vector<EventTriggerIn>* triggers = nullptr);

    const RawDecoderState& state() const { return st; }
    void setState(const RawDecoderState& s) { st = s; }
    void reset() { st = RawDecoderState{}; }
    uint32_t width() const { return w; }
    uint32_t height() const { return h; }
    virtual RawFormat format() const = 0;
    virtual DecoderKernel kernel() const { return DecoderKernel::Portable; }

protected:
    RawDecoder(uint32_t width, uint32_t height) : w(width), h(height) {}
    RawDecoderState st;
    uint32_t w;
    uint32_t h;

    // Records of Size bytes in a stream cut anywhere: a record cut by the end of one buffer waits in
    // the state and is finished from the next. step(const uint8_t* record, Event2D* out) returns
    // where the next event goes; so does this.
    template <size_t Size, typename Step>
    Event2D* decodeRecords(const uint8_t* data, size_t size, Event2D* out, Step&& step) {
        static_assert(Size <= sizeof(st.pending) + 1, "a cut record must fit the state");
        if (st.pendingCount) {
            uint8_t record[Size];
            std::memcpy(record, st.pending, st.pendingCount);
            const size_t need = Size - st.pendingCount;
            if (size < need) {
                std::memcpy(st.pending + st.pendingCount, data, size);
                st.pendingCount = uint8_t(st.pendingCount + size);
                return out;
            }
            std::memcpy(record + st.pendingCount, data, need);
            st.pendingCount = 0;
            out = step(record, out);
            data += need;
            size -= need;
        }
        const size_t records = size / Size;
        for (size_t i = 0; i < records; ++i) out = step(data + Size * i, out);
        const size_t rest = size % Size;
        std::memcpy(st.pending, data + Size * records, rest);
        st.pendingCount = uint8_t(rest);
        return out;
    }

private:
    std::vector<Event2D> countScratch; // for the default count(): decoded pieces, reused
};

// Whether this CPU can run kernel (Auto and Portable always).
NR_DRIVER_EXPORT bool kernelAvailable(DecoderKernel kernel);
// The kernel Auto stands for now (never Auto); NORVALE_SIMD is read at each call.
NR_DRIVER_EXPORT DecoderKernel autoKernel();
// "avx512", "avx2", "portable" (and "auto").
NR_DRIVER_EXPORT const char* kernelName(DecoderKernel kernel);
NR_DRIVER_EXPORT bool avx512KernelAvailable();

// Geometry: events with x >= width or y >= height are dropped.
NR_DRIVER_EXPORT std::unique_ptr<RawDecoder> makeEvt3Decoder(uint32_t width, uint32_t height,
                                                              DecoderKernel kernel = DecoderKernel::Auto);
NR_DRIVER_EXPORT std::unique_ptr<RawDecoder> makeEvt2Decoder(uint32_t width, uint32_t height);
NR_DRIVER_EXPORT std::unique_ptr<RawDecoder> makeEvt21Decoder(uint32_t width, uint32_t height);
NR_DRIVER_EXPORT std::unique_ptr<RawDecoder> makeDatDecoder(uint32_t width, uint32_t height);
// Width and height that every pixel a sensor of the format can have fits in (a decoder made with
// them drops no real event): 2048 x 2048; DAT records' larger coordinates can only be damage.
NR_DRIVER_EXPORT void addressableRange(RawFormat format, uint32_t& width, uint32_t& height);
NR_DRIVER_EXPORT std::unique_ptr<RawDecoder> makeDecoder(RawFormat format, uint32_t width, uint32_t height);

} // namespace norvale
