// Header parser and every decoder (EVT 3.0, 2.0, 2.1, DAT) over arbitrary bytes: no crash, no
// out-of-bounds write, events inside the geometry, each EVT 3.0 kernel agrees with the reference, and
// counting agrees with decoding, largest coordinates included.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "norvale/RawDecoder.h"
#include "norvale/RawHeader.h"

using namespace norvale;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    RawHeader h;
    std::string problem;
    const auto* text = reinterpret_cast<const char*>(data);
    size_t offset = 0;
    RawFormat format = RawFormat::Evt3;
    uint32_t w = 1280, hgt = 720;
    if (parseRawHeader(text, size, true, h, problem) == HeaderStatus::Ok) {
        uint32_t maxW = 0, maxH = 0;
        addressableRange(h.format, maxW, maxH);
        if (h.dataOffset > size || h.width == 0 || h.width > maxW || h.height == 0 || h.height > maxH) std::abort();
        offset = h.dataOffset;
        format = h.format;
        w = h.width;
        hgt = h.height;
    }
    const uint8_t* d = data + offset;
    const size_t n = size - offset;
    // split in two at a point chosen by the data, so state across buffers is exercised
    const size_t cut = n ? d[0] % (n + 1) : 0;
    // Decoded in pieces into one buffer, as the reader does: a buffer sized for a whole 64 KiB
    // input at once would be megabytes to clear per run and slow the fuzzing down tenfold.
    auto decodeWith = [&](std::unique_ptr<RawDecoder> dec) {
        constexpr size_t kPiece = 4096;
        static std::vector<Event2D> scratch;
        scratch.resize(std::max(scratch.size(), dec->maxEvents(kPiece)));
        std::vector<Event2D> ev;
        std::vector<EventTriggerIn> tr;
        auto decodePart = [&](const uint8_t* p, size_t len) {
            for (size_t off = 0; off < len; off += kPiece) {
                const size_t got = dec->decode(p + off, std::min(kPiece, len - off), scratch.data(), &tr);
                ev.insert(ev.end(), scratch.begin(), scratch.begin() + long(got));
            }
        };
        decodePart(d, cut);
        decodePart(d + cut, n - cut);
        for (const auto& e : ev)
            if (e.x >= w || e.y >= hgt || e.polarity > 1) std::abort();
        return ev;
    };
    // the count-only pass gives the figures of the decoded events
    auto countWith = [&](std::unique_ptr<RawDecoder> dec, const std::vector<Event2D>& ev) {
        EventTally t;
        dec->count(d, cut, t, nullptr);
        dec->count(d + cut, n - cut, t, nullptr);
        uint64_t on = 0, mn = UINT64_MAX, mx = 0;
        uint32_t maxX = 0, maxY = 0;
        for (const auto& e : ev) {
            on += e.polarity;
            mn = std::min(mn, e.timestamp);
            mx = std::max(mx, e.timestamp);
            maxX = std::max<uint32_t>(maxX, e.x);
            maxY = std::max<uint32_t>(maxY, e.y);
        }
        if (t.events != ev.size() || t.on != on || t.minTimestamp != mn || t.maxTimestamp != mx || t.maxX != maxX ||
            t.maxY != maxY)
            std::abort();
    };
    if (format != RawFormat::Evt3) {
        countWith(makeDecoder(format, w, hgt), decodeWith(makeDecoder(format, w, hgt)));
    } else {
        // the reference against the kernel NORVALE_SIMD picks (the test suite runs one fuzzer per kernel)
        const auto a = decodeWith(makeEvt3Decoder(w, hgt, DecoderKernel::Portable));
        countWith(makeEvt3Decoder(w, hgt, DecoderKernel::Portable), a);
        if (autoKernel() != DecoderKernel::Portable) {
            if (decodeWith(makeEvt3Decoder(w, hgt, DecoderKernel::Auto)) != a) std::abort();
            countWith(makeEvt3Decoder(w, hgt, DecoderKernel::Auto), a);
        }
    }
    return 0;
}
