// The EVT 3.0 decoding rules, both kernels alike, and buffers cut anywhere.
#include <gtest/gtest.h>

#include "TestFiles.h"
#include "norvale/EventGenerator.h"
#include "norvale/Evt3Encoder.h"
#include "norvale/RawDecoder.h"

using namespace norvale;

namespace {

struct Decoded {
    std::vector<Event2D> events;
    std::vector<EventTriggerIn> triggers;
};

Decoded decodeAll(const std::string& bytes, DecoderKernel kernel, size_t chunk = 0, uint32_t w = 1280, uint32_t h = 720) {
    auto dec = makeEvt3Decoder(w, h, kernel);
    Decoded d;
    const auto* p = reinterpret_cast<const uint8_t*>(bytes.data());
    if (chunk == 0) chunk = bytes.size() ? bytes.size() : 1;
    for (size_t off = 0; off < bytes.size(); off += chunk)
        dec->decodeAppend(p + off, std::min(chunk, bytes.size() - off), d.events, &d.triggers);
    return d;
}

Event2D ev(uint16_t x, uint16_t y, uint8_t p, uint64_t t) { return Event2D{x, y, p, t}; }

} // namespace

TEST(Evt3Decoder, WordRules) {
    const std::string s = words({
        0x2005,         // ADDR_X before time: dropped
        0x0010,         // ADDR_Y before time: dropped
        0x8001,         // TIME_HIGH 1 -> t = 4096
        0x2007,         // ADDR_X before ADDR_Y: dropped
        0x4003,         // vector before VECT_BASE_X: dropped
        0x0803,         // ADDR_Y 3 with the system-type bit
        0x2A05,         // ADDR_X x=517 ON
        0x6010,         // TIME_LOW 16
        0x2005,         // x=5 OFF at 4112
        0x8001,         // repeated TIME_HIGH keeps the low part
        0x2006,         // at 4112
        0x8002,         // new TIME_HIGH: low part 0 -> 8192
        0x2007,
        0x9999,         // padding
        0xE123, 0xF456, 0x7001, 0x1000, 0xB000, 0xC000, 0xD000, // others, continued, reserved
        0x3800 | 1270,  // VECT_BASE_X 1270 ON
        0x4000 | 0xC01, // VECT_12: bits 0, 10, 11 -> 1270, 1280 (outside), 1281 (outside)
        0x5000 | 0x03,  // VECT_8 at base 1282: outside
        0x3000 | 10,    // base 10 OFF
        0x5000 | 0x81,  // 10, 17
        0x4000 | 0x001, // 18
        0xA101,         // trigger id 1 rising
        0x02D0,         // y = 720: outside
        0x2001,         // dropped
    });
    const std::vector<Event2D> want{ev(517, 3, 1, 4096), ev(5, 3, 0, 4112), ev(6, 3, 0, 4112), ev(7, 3, 0, 8192),
                                    ev(1270, 3, 1, 8192), ev(10, 3, 0, 8192), ev(17, 3, 0, 8192), ev(18, 3, 0, 8192)};
    for (auto k : kernels()) {
        const Decoded d = decodeAll(s, k);
        EXPECT_EQ(d.events, want);
        ASSERT_EQ(d.triggers.size(), 1u);
        EXPECT_EQ(d.triggers[0], (EventTriggerIn{1, 8192, 1}));
    }
}

TEST(Evt3Decoder, WrapsAndSmallStepsBack) {
    const std::string s = words({0x8FFF, 0x0001, 0x2001, // t = 0xFFF000
                                 0x8FF0, 0x2002,         // back 15 steps: no wrap
                                 0x8000, 0x2003,         // down by >= 2048: wrap
                                 0x8801, 0x8001, 0x2004, // 0x801 -> 1 is a wrap again (by exactly 2048)
                                 0x8000, 0x2005});       // 1 -> 0 is not
    for (auto k : kernels()) {
        const Decoded d = decodeAll(s, k);
        ASSERT_EQ(d.events.size(), 5u);
        EXPECT_EQ(d.events[0].timestamp, 0xFFF000u);
        EXPECT_EQ(d.events[1].timestamp, 0xFF0000u);
        EXPECT_EQ(d.events[2].timestamp, 1ull << 24);
        EXPECT_EQ(d.events[3].timestamp, (2ull << 24) + 0x1000);
        EXPECT_EQ(d.events[4].timestamp, 2ull << 24);
    }
}

// The vectorised kernel against the reference on generated data and on random words, in one
// piece and cut into buffers of awkward sizes (inside vector triples, odd byte counts).
TEST(Evt3Decoder, KernelsAgreeAndChunkingDoesNotMatter) {
    GeneratorConfig cfg;
    cfg.eventRate = 5e6;
    cfg.triggerHz = 2000;
    cfg.startTimestamp = 16'700'000; // crosses a wrap
    EventGenerator gen(cfg);
    std::vector<Event2D> in;
    std::vector<EventTriggerIn> trig;
    gen.generate(200'000, in, trig);
    Evt3Encoder enc;
    enc.add(in.data(), in.data() + in.size(), trig.data(), trig.data() + trig.size());
    const std::string generated(reinterpret_cast<const char*>(enc.data()), enc.size());

    const std::string noise = randomEvt3Words(200'000, 7);
    for (const std::string* s : std::vector<const std::string*>{&generated, &noise}) {
        const Decoded ref = decodeAll(*s, DecoderKernel::Portable);
        if (s == &generated) {
            EXPECT_EQ(ref.events, in);
            EXPECT_EQ(ref.triggers, trig);
        }
        for (auto k : kernels())
            for (size_t chunk : {size_t(0), size_t(3), size_t(33), size_t(4097)}) {
                const Decoded d = decodeAll(*s, k, chunk);
                EXPECT_EQ(d.events, ref.events) << "chunk " << chunk;
                EXPECT_EQ(d.triggers, ref.triggers) << "chunk " << chunk;
            }
    }
}

// Every kernel against the reference on a stream cut (truncated, or split in two) at every byte
// of its first blocks: vector runs and time carried across block edges, time stepping back.
TEST(Evt3Decoder, CutsAtEveryByteAroundBlockEdges) {
    const std::string s = vectorHeavyWords(3000, 5);
    const Decoded ref = decodeAll(s, DecoderKernel::Portable);
    ASSERT_GT(ref.events.size(), 1000u);
    ASSERT_FALSE(ref.triggers.empty());
    for (auto k : kernels()) {
        SCOPED_TRACE(kernelName(k));
        for (size_t chunk : {size_t(0), size_t(1), size_t(5), size_t(31)}) {
            const Decoded d = decodeAll(s, k, chunk);
            ASSERT_EQ(d.events, ref.events) << "chunk " << chunk;
            ASSERT_EQ(d.triggers, ref.triggers) << "chunk " << chunk;
        }
        for (size_t cut = 0; cut <= 300; ++cut) {
            const std::string head = s.substr(0, cut);
            const Decoded want = decodeAll(head, DecoderKernel::Portable);
            ASSERT_EQ(decodeAll(head, k).events, want.events) << "truncated at " << cut;
            auto dec = makeEvt3Decoder(1280, 720, k);
            Decoded d;
            const auto* p = reinterpret_cast<const uint8_t*>(s.data());
            dec->decodeAppend(p, cut, d.events, &d.triggers);
            ASSERT_EQ(d.events, want.events) << "split at " << cut;
            dec->decodeAppend(p + cut, s.size() - cut, d.events, &d.triggers);
            ASSERT_EQ(d.events, ref.events) << "split at " << cut;
            ASSERT_EQ(d.triggers, ref.triggers) << "split at " << cut;
        }
    }
}

TEST(Evt3Decoder, OddLastByteIsIgnoredAndStateResumes) {
    std::string s = words({0x8001, 0x0002, 0x2003});
    s.push_back('\x05');
    for (auto k : kernels()) {
        auto dec = makeEvt3Decoder(1280, 720, k);
        std::vector<Event2D> out;
        dec->decodeAppend(reinterpret_cast<const uint8_t*>(s.data()), s.size(), out);
        ASSERT_EQ(out.size(), 1u);
        const RawDecoderState st = dec->state();
        EXPECT_EQ(st.pendingCount, 1);
        auto other = makeEvt3Decoder(1280, 720, k);
        other->setState(st);
        const uint8_t rest[1] = {0x20}; // completes ADDR_X 5
        other->decodeAppend(rest, 1, out);
        ASSERT_EQ(out.size(), 2u);
        EXPECT_EQ(out[1], ev(5, 2, 0, 4096));
    }
}

TEST(Evt3Decoder, SmallerGeometryDropsOutside) {
    const std::string s = words({0x8000, 0x0100, 0x2000 | 639, 0x2000 | 640, 0x01E0, 0x2001});
    for (auto k : kernels()) {
        const Decoded d = decodeAll(s, k, 0, 640, 480);
        ASSERT_EQ(d.events.size(), 1u);
        EXPECT_EQ(d.events[0].x, 639);
    }
}
