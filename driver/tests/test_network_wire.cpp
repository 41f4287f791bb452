// The wire formats of network cameras: packing, decoding with its checks, t32's unwrapping.
#include <gtest/gtest.h>

#include "NetworkTestUtil.h"
#include "network/WireDecoder.h"
#include "norvale/NetworkStream.h"

using namespace norvale;
using nettest::ev;

namespace {

std::vector<Event2D> someEvents(uint64_t t0, size_t n) {
    std::vector<Event2D> v;
    for (size_t i = 0; i < n; ++i)
        v.push_back(ev(t0 + i * 7 / 3, uint16_t(i * 37 % 640), uint16_t(i * 11 % 480), uint8_t(i % 2)));
    return v;
}

std::vector<Event2D> decodeAll(WireDecoder& d, const std::vector<uint8_t>& bytes, WireDecoder::Result& r,
                               uint64_t& invalid) {
    std::vector<Event2D> out;
    out.reserve(maxEventsPerDatagram(WireFormat::T32_X16_Y15_ON1));
    r = d.decode(bytes.data(), bytes.size(), out, invalid);
    return out;
}

} // namespace

TEST(NetworkWire, PackingMatchesTheWireDescription) {
    const auto events = someEvents(0x0123456789ull, 50);
    std::vector<uint8_t> bytes;
    packEvents(WireFormat::T64_X16_Y16_ON8, events.data(), events.data() + events.size(), bytes);
    EXPECT_EQ(bytes, nettest::packT64(events));
    bytes.clear();
    packEvents(WireFormat::T32_X16_Y15_ON1, events.data(), events.data() + events.size(), bytes);
    EXPECT_EQ(bytes, nettest::packT32(events));
    // one event byte by byte: t = 0x0102030405060708, x = 0x0a0b, y = 0x0c0d, on
    std::vector<uint8_t> one;
    const Event2D e = ev(0x0102030405060708ull, 0x0a0b, 0x0c0d, 1);
    packEvents(WireFormat::T64_X16_Y16_ON8, &e, &e + 1, one);
    EXPECT_EQ(one, (std::vector<uint8_t>{8, 7, 6, 5, 4, 3, 2, 1, 0x0b, 0x0a, 0x0d, 0x0c, 1}));
    one.clear();
    packEvents(WireFormat::T32_X16_Y15_ON1, &e, &e + 1, one);
    // y << 1 | on = 0x181b
    EXPECT_EQ(one, (std::vector<uint8_t>{8, 7, 6, 5, 0x0b, 0x0a, 0x1b, 0x18}));
}

TEST(NetworkWire, BothFormatsDecodeWhatWasPacked) {
    const auto events = someEvents(5000, 100);
    uint64_t invalid = 0;
    WireDecoder::Result r;
    WireDecoder d64(WireFormat::T64_X16_Y16_ON8, 640, 480);
    auto got = decodeAll(d64, nettest::packT64(events), r, invalid);
    EXPECT_EQ(r, WireDecoder::Result::Events);
    EXPECT_EQ(got, events);
    WireDecoder d32(WireFormat::T32_X16_Y15_ON1, 640, 480);
    got = decodeAll(d32, nettest::packT32(events), r, invalid);
    EXPECT_EQ(r, WireDecoder::Result::Events);
    EXPECT_EQ(got, events);
    EXPECT_EQ(invalid, 0u);
}

TEST(NetworkWire, T32UnwrapsAcrossTheWrapIntoOneClock) {
    WireDecoder d(WireFormat::T32_X16_Y15_ON1, 640, 480);
    uint64_t invalid = 0;
    WireDecoder::Result r;
    std::vector<Event2D> all;
    // 3 datagrams that straddle two wraps: times 2^32 - 10 ... 2^33 + 10
    const uint64_t w = 1ull << 32;
    const std::vector<std::vector<Event2D>> grams = {
        {ev(w - 10, 1, 1, 1), ev(w - 1, 2, 2, 0), ev(w + 3, 3, 3, 1)},
        {ev(w + w / 3, 4, 4, 0), ev(w + 2 * w / 3, 5, 5, 1)},
        {ev(2 * w - 1, 6, 6, 1), ev(2 * w + 10, 7, 7, 0)},
    };
    // the first time lies below 2^32: the clock continues from it unchanged
    for (const auto& g : grams) {
        auto got = decodeAll(d, nettest::packT32(g), r, invalid);
        ASSERT_EQ(r, WireDecoder::Result::Events);
        EXPECT_EQ(got, g);
    }
    // a datagram a little older than the newest is a step back, not a wrap
    auto back = decodeAll(d, nettest::packT32({ev(2 * w + 5, 1, 1, 1)}), r, invalid);
    ASSERT_EQ(r, WireDecoder::Result::Events);
    EXPECT_EQ(back[0].timestamp, 2 * w + 5);
    // restart: the next stream's clock begins at its own 32-bit time
    d.restart();
    back = decodeAll(d, nettest::packT32({ev(77, 1, 1, 1)}), r, invalid);
    EXPECT_EQ(back[0].timestamp, 77u);
}

TEST(NetworkWire, BadDatagramsAreRefusedWholeAndBadEventsLeftOut) {
    WireDecoder d(WireFormat::T64_X16_Y16_ON8, 640, 480);
    uint64_t invalid = 0;
    WireDecoder::Result r;
    auto bytes = nettest::packT64(someEvents(100, 10));
    bytes.pop_back(); // cut short by one byte
    EXPECT_TRUE(decodeAll(d, bytes, r, invalid).empty());
    EXPECT_EQ(r, WireDecoder::Result::Malformed);
    EXPECT_TRUE(decodeAll(d, {}, r, invalid).empty());
    EXPECT_EQ(r, WireDecoder::Result::Malformed);
    // stepping back within the datagram
    auto got = decodeAll(d, nettest::packT64({ev(10, 1, 1, 1), ev(9, 1, 1, 1)}), r, invalid);
    EXPECT_EQ(r, WireDecoder::Result::Unordered);
    EXPECT_TRUE(got.empty());
    EXPECT_EQ(invalid, 0u);
    // outside the geometry, or a polarity byte of 2: left out and counted, the rest kept
    got = decodeAll(d, nettest::packT64({ev(1, 639, 479, 1), ev(2, 640, 0, 1), ev(3, 0, 480, 0), ev(4, 5, 5, 2),
                                         ev(5, 6, 6, 0)}),
                    r, invalid);
    EXPECT_EQ(r, WireDecoder::Result::Events);
    EXPECT_EQ(got, (std::vector<Event2D>{ev(1, 639, 479, 1), ev(5, 6, 6, 0)}));
    EXPECT_EQ(invalid, 3u);
    // t32: y beyond the geometry
    WireDecoder d32(WireFormat::T32_X16_Y15_ON1, 640, 480);
    got = decodeAll(d32, nettest::packT32({ev(1, 1, 32767, 1), ev(2, 2, 2, 0)}), r, invalid);
    EXPECT_EQ(got, (std::vector<Event2D>{ev(2, 2, 2, 0)}));
    EXPECT_EQ(invalid, 4u);
}

TEST(NetworkWire, UdpUrlsAreCheckedWithAReason) {
    std::string host, why;
    uint16_t port = 0;
    EXPECT_TRUE(parseUdpUrl("udp://127.0.0.1:5000", host, port, why));
    EXPECT_EQ(host, "127.0.0.1");
    EXPECT_EQ(port, 5000);
    EXPECT_FALSE(parseUdpUrl("tcp://127.0.0.1:5000", host, port, why));
    EXPECT_NE(why.find("udp://"), std::string::npos);
    EXPECT_FALSE(parseUdpUrl("udp://127.0.0.1:70000", host, port, why));
    EXPECT_NE(why.find("1 to 65535"), std::string::npos);
    EXPECT_FALSE(parseUdpUrl("udp://127.0.0.1", host, port, why));
    EXPECT_FALSE(parseUdpUrl("udp://:5000", host, port, why));
    WireFormat f;
    EXPECT_TRUE(parseWireFormat("t32_x16_y15_on1", f));
    EXPECT_EQ(f, WireFormat::T32_X16_Y15_ON1);
    EXPECT_FALSE(parseWireFormat("t64", f));
}

// Any bytes at all: a datagram is refused whole or gives only events inside the geometry, in
// time order, never more than it holds (under AddressSanitizer: never a read past it).
TEST(NetworkWire, AnyBytesGiveValidEventsOrNone) {
    uint64_t seed = 12345;
    auto next = [&seed] { return seed = seed * 6364136223846793005ull + 1442695040888963407ull; };
    for (WireFormat f : {WireFormat::T64_X16_Y16_ON8, WireFormat::T32_X16_Y15_ON1}) {
        WireDecoder d(f, 64, 48);
        const size_t es = wireEventSize(f);
        std::vector<Event2D> out;
        out.reserve(maxEventsPerDatagram(f));
        uint64_t valid = 0;
        for (int i = 0; i < 3000; ++i) {
            std::vector<uint8_t> bytes((next() >> 33) % 300);
            for (auto& b : bytes) b = uint8_t(next() >> 56);
            if ((next() >> 40) % 2) // small coordinates and times that move on: most events valid
                for (size_t k = 0; k + es <= bytes.size(); k += es) {
                    uint8_t* e = bytes.data() + k;
                    if (es == 13) {
                        e[2] = uint8_t(k / es), e[3] = e[4] = e[5] = e[6] = e[7] = 0; // t
                        e[8] %= 64, e[9] = 0, e[10] %= 50, e[11] = 0, e[12] %= 2;    // x, y (some 48, 49), on
                    } else {
                        e[2] = uint8_t(k / es), e[3] = 0;     // t
                        e[4] %= 64, e[5] = 0, e[6] %= 100, e[7] = 0; // x; y (some 48, 49) and on
                    }
                }
            out.clear();
            uint64_t invalid = 0;
            const auto r = d.decode(bytes.data(), bytes.size(), out, invalid);
            if (bytes.empty() || bytes.size() % es != 0) {
                EXPECT_EQ(r, WireDecoder::Result::Malformed);
                EXPECT_TRUE(out.empty());
                continue;
            }
            if (r != WireDecoder::Result::Events) {
                EXPECT_TRUE(out.empty());
                continue;
            }
            EXPECT_EQ(out.size() + invalid, bytes.size() / es);
            for (size_t k = 0; k < out.size(); ++k) {
                EXPECT_LT(out[k].x, 64);
                EXPECT_LT(out[k].y, 48);
                EXPECT_LE(out[k].polarity, 1);
                if (k) {
                    EXPECT_LE(out[k - 1].timestamp, out[k].timestamp);
                }
            }
            valid += out.size();
        }
        EXPECT_GT(valid, 1000u) << wireFormatName(f); // the checks above saw real events
    }
}
