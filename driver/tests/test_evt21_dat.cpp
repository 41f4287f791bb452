// EVT 2.1 and DAT files built word by word from the published layouts, read through DvsFileReader;
// files whose header names a smaller sensor than their events need.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "TestFiles.h"
#include "norvale/DvsFileReader.h"
#include "norvale/EventFileFormat.h"
#include "norvale/Logger.h"
#include "norvale/RawHeader.h"

using namespace norvale;

namespace {

uint64_t next(uint64_t& seed) { return seed = seed * 6364136223846793005ull + 1442695040888963407ull; }

// One EVT 2.1 word: type in bits 63..60, then the fields of that type.
uint64_t evt21Event(bool on, uint64_t t, uint32_t base, uint32_t y, uint32_t mask) {
    return uint64_t(on ? 1 : 0) << 60 | (t & 63) << 54 | uint64_t(base) << 43 | uint64_t(y) << 32 | mask;
}
uint64_t evt21TimeHigh(uint64_t t) { return uint64_t(8) << 60 | ((t >> 6) & 0x0FFFFFFF) << 32; }
uint64_t evt21Trigger(uint64_t t, uint32_t id, uint32_t value) {
    return uint64_t(0xA) << 60 | (t & 63) << 54 | uint64_t(id) << 40 | uint64_t(value) << 32;
}

std::string le64(const std::vector<uint64_t>& w) { return std::string(reinterpret_cast<const char*>(w.data()), w.size() * 8); }

struct Stream {
    std::string bytes; // the whole file
    std::vector<Event2D> events;
    std::vector<EventTriggerIn> triggers;
};

// Time starts 3 ms before the 34-bit clock wraps and runs past it; vectors with random masks at
// bases up to 1248 and rows up to 719, an OTHERS and a CONTINUED word now and then, trigger edges.
Stream evt21Stream(const std::string& header, size_t words, uint64_t seed) {
    Stream s;
    std::vector<uint64_t> w{evt21Event(true, 0, 0, 0, 1)}; // before any TIME_HIGH: no time, dropped
    uint64_t t = (uint64_t(1) << 34) - 3000;
    w.push_back(evt21TimeHigh(t));
    while (w.size() < words) {
        const uint64_t r = next(seed);
        if (r % 5 == 0) {
            const uint64_t high = t >> 6;
            t += 1 + (r >> 20) % 40;
            if (t >> 6 != high) w.push_back(evt21TimeHigh(t));
        }
        switch ((r >> 8) % 16) {
        case 0: w.push_back(uint64_t(0xE) << 60 | (r >> 4)); break;
        case 1: w.push_back(uint64_t(0xF) << 60 | (r >> 4)); break;
        case 2: {
            const EventTriggerIn e{uint16_t(r >> 30 & 1), t, uint16_t(r >> 40 & 31)};
            s.triggers.push_back(e);
            w.push_back(evt21Trigger(t, e.id, e.value));
            break;
        }
        default: {
            const uint32_t base = uint32_t((r >> 12) % 40) * 32, y = uint32_t((r >> 24) % 720);
            const uint32_t mask = uint32_t(next(seed) >> 32);
            const bool on = (r >> 50) & 1;
            w.push_back(evt21Event(on, t, base, y, mask));
            for (uint32_t b = 0; b < 32; ++b)
                if (mask >> b & 1) s.events.push_back(Event2D{uint16_t(base + b), uint16_t(y), uint8_t(on), t});
        }
        }
    }
    s.bytes = header + le64(w);
    return s;
}

std::string datRecord(uint32_t t, uint32_t x, uint32_t y, uint32_t p) {
    const uint32_t a = x | y << 14 | p << 28;
    std::string r(8, '\0');
    std::memcpy(&r[0], &t, 4);
    std::memcpy(&r[4], &a, 4);
    return r;
}

// Records whose 32-bit time wraps twice; polarity nibbles 0..15, any non-zero one is ON.
Stream datStream(const std::string& header, size_t records, uint32_t maxX, uint32_t maxY, uint64_t seed) {
    Stream s;
    s.bytes = header + std::string("\x00\x08", 2);
    uint64_t t = 0xFFFFF000ull;
    for (size_t i = 0; i < records; ++i) {
        const uint64_t r = next(seed);
        if (i) t += (r >> 10) % 4 ? 0 : (r >> 20) % 5000000; // steps of up to 5 s: wraps at 2^32 us
        const uint32_t x = i == 7 ? maxX : uint32_t((r >> 30) % maxX), y = i == 9 ? maxY : uint32_t((r >> 45) % maxY);
        const uint32_t p = uint32_t(r >> 60);
        s.bytes += datRecord(uint32_t(t), x, y, p);
        s.events.push_back(Event2D{uint16_t(x), uint16_t(y), uint8_t(p != 0), t});
    }
    return s;
}

void expectSums(const std::vector<Event2D>& got, const std::vector<Event2D>& want) {
    ASSERT_EQ(got.size(), want.size());
    uint64_t sg[4] = {0, 0, 0, 0}, sw[4] = {0, 0, 0, 0};
    for (size_t i = 0; i < got.size(); ++i) {
        sg[0] += got[i].timestamp, sg[1] += got[i].x, sg[2] += got[i].y, sg[3] += got[i].polarity;
        sw[0] += want[i].timestamp, sw[1] += want[i].x, sw[2] += want[i].y, sw[3] += want[i].polarity;
    }
    for (int k = 0; k < 4; ++k) EXPECT_EQ(sg[k], sw[k]) << "sum " << k;
    EXPECT_TRUE(got == want); // event for event, in file order
}

std::unique_ptr<DvsFileReader> openPrepared(const std::string& path) {
    auto r = DvsFileReader::createFileReader(path);
    if (r) {
        EXPECT_TRUE(r->prepareFile());
    }
    return r;
}

// The reader against the events the file was built from: counts, sums, bounds, triggers, windows
// and seeks against a filtered full read, every index span resumed on its own from its state.
void checkReader(const std::string& path, const Stream& s, RawFormat format) {
    auto r = openPrepared(path);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->format(), format);
    std::vector<Event2D> all;
    std::vector<EventTriggerIn> trig;
    ASSERT_TRUE(r->readRange(0, UINT64_MAX, all, &trig));
    const std::vector<Event2D>& want = s.events; // built in time order
    expectSums(all, want);
    EXPECT_TRUE(trig == s.triggers);
    const RawFileStats st = r->getStats();
    EXPECT_EQ(st.eventCount, s.events.size());
    EXPECT_EQ(st.firstTimestamp, want.front().timestamp);
    EXPECT_EQ(st.lastTimestamp, want.back().timestamp);
    uint64_t on = 0;
    for (const auto& e : s.events) on += e.polarity;
    EXPECT_EQ(st.onCount, on);

    const uint64_t first = st.firstTimestamp, span = st.lastTimestamp - first + 1;
    for (uint64_t k = 0; k < 9; ++k) {
        const uint64_t from = first + span * k / 9, to = from + span / 7 + 1;
        std::vector<Event2D> part, expect;
        for (const auto& e : want)
            if (e.timestamp >= from && e.timestamp < to) expect.push_back(e);
        ASSERT_TRUE(r->readRange(from, to, part));
        ASSERT_TRUE(part == expect) << "window " << k;
        ASSERT_TRUE(r->seekTime(from));
        auto next = r->readNextEvents(to - from);
        ASSERT_TRUE(next);
        ASSERT_TRUE(*next == expect) << "seek " << k;
    }

    const std::string bytes = readBytes(path);
    RawHeader header;
    std::string problem;
    ASSERT_EQ(parseRawHeader(bytes.data(), bytes.size(), true, header, problem), HeaderStatus::Ok);
    const auto* data = reinterpret_cast<const uint8_t*>(bytes.data()) + header.dataOffset;
    const std::vector<DecodeSpan> spans = r->decodeSpans(100000);
    ASSERT_GE(spans.size(), 3u);
    std::vector<Event2D> joined;
    for (const DecodeSpan& sp : spans) {
        auto d = makeDecoder(format, r->width(), r->height());
        d->setState(sp.state);
        d->decodeAppend(data + sp.offset, size_t(sp.bytes), joined);
    }
    ASSERT_TRUE(joined == s.events);
}

} // namespace

TEST(Evt21AndDat, HeadersAndDetection) {
    TempDir dir;
    struct Case {
        std::string text;
        EventFileFormat format;
        uint32_t width, height;
        size_t offset;
    };
    const std::string dat640 = "% Data file containing CD events.\n% Version 2\n% Date 2019-03-01 10:20:30\n"
                               "% Height 480\n% Width 640\n";
    const std::vector<Case> cases = {
        {"% evt 2.1\n% end\n", EventFileFormat::Evt21, 1280, 720, 16},
        {"% format EVT21;height=320;width=320\n% end\n", EventFileFormat::Evt21, 320, 320, 42},
        {dat640 + std::string("\x00\x08", 2) + datRecord(5, 1, 2, 1), EventFileFormat::Dat, 640, 480, dat640.size() + 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text.substr(0, 20));
        writeBytes(dir.path("f"), c.text);
        EventFileFormat f = EventFileFormat::Csv;
        std::string problem;
        ASSERT_TRUE(detectFormat(dir.path("f"), f, problem)) << problem;
        EXPECT_EQ(f, c.format);
        RawHeader h;
        ASSERT_EQ(parseRawHeader(c.text.data(), c.text.size(), true, h, problem), HeaderStatus::Ok);
        EXPECT_EQ(rawFileFormat(h.format), c.format);
        EXPECT_EQ(h.width, c.width);
        EXPECT_EQ(h.height, c.height);
        EXPECT_EQ(h.dataOffset, c.offset);
    }
    RawHeader h;
    std::string problem;
    const std::string date = dat640 + std::string("\x00\x08", 2);
    ASSERT_EQ(parseRawHeader(date.data(), date.size(), true, h, problem), HeaderStatus::Ok);
    EXPECT_EQ(h.date, "2019-03-01 10:20:30");
    // refused with a reason: other DAT event types, a DAT cut before its type byte, swapped halves
    const std::vector<std::pair<std::string, std::string>> refused = {
        {dat640 + std::string("\x0C\x0C", 2), "event type 12"},
        {dat640, "ends before its event type"},
        {"% format EVT21;endianness=legacy;height=720;width=1280\n", "swapped"},
    };
    for (const auto& [text, why] : refused) {
        ASSERT_EQ(parseRawHeader(text.data(), text.size(), true, h, problem), HeaderStatus::UnknownFormat);
        EXPECT_NE(problem.find(why), std::string::npos) << problem;
        writeBytes(dir.path("bad"), text);
        Logger::clearThreadError();
        EXPECT_FALSE(DvsFileReader::createFileReader(dir.path("bad")));
        EXPECT_NE(Logger::threadError().find(why), std::string::npos) << Logger::threadError();
    }
}

TEST(Evt21AndDat, Evt21Vectors) {
    TempDir dir;
    // A hand-checked start: two vectors and a trigger at t = 2^34 - 3000 + 5.
    {
        const uint64_t t = (uint64_t(1) << 34) - 3000 + 5;
        const std::string bytes = "% evt 2.1\n" + le64({evt21TimeHigh(t), evt21Event(true, t, 64, 10, 0x80000001u),
                                                         evt21Trigger(t, 3, 1), evt21Event(false, t, 1248, 719, 0x6u)});
        writeBytes(dir.path("small.raw"), bytes);
        auto r = openPrepared(dir.path("small.raw"));
        ASSERT_TRUE(r);
        std::vector<Event2D> ev;
        ASSERT_TRUE(r->readRange(0, UINT64_MAX, ev));
        const std::vector<Event2D> want = {{64, 10, 1, t}, {95, 10, 1, t}, {1249, 719, 0, t}, {1250, 719, 0, t}};
        EXPECT_TRUE(ev == want);
        ASSERT_EQ(r->triggers().size(), 1u);
        EXPECT_TRUE(r->triggers()[0] == (EventTriggerIn{1, t, 3}));
    }
    // Several index chunks, the header's odd length putting every chunk edge inside a word.
    const Stream s = evt21Stream("% evt 2.1\n% format EVT21;height=720;width=1280\n% x\n", 40000, 11);
    ASSERT_GT(s.events.back().timestamp, uint64_t(1) << 34); // the clock wrapped
    writeBytes(dir.path("v.raw"), s.bytes);
    if (const char* seeds = std::getenv("NORVALE_WRITE_SEEDS")) writeBytes(std::string(seeds) + "/evt21.raw", s.bytes.substr(0, 4096));
    checkReader(dir.path("v.raw"), s, RawFormat::Evt21);
    // a word cut at any byte resumes exactly
    const std::string body = s.bytes.substr(s.bytes.find("% x\n") + 4, 8 * 64);
    auto whole = makeEvt21Decoder(1280, 720);
    std::vector<Event2D> a, b;
    whole->decodeAppend(reinterpret_cast<const uint8_t*>(body.data()), body.size(), a);
    for (size_t cut = 1; cut < 24; ++cut) {
        auto d = makeEvt21Decoder(1280, 720);
        b.clear();
        d->decodeAppend(reinterpret_cast<const uint8_t*>(body.data()), cut, b);
        auto resumed = makeEvt21Decoder(1280, 720);
        resumed->setState(d->state());
        resumed->decodeAppend(reinterpret_cast<const uint8_t*>(body.data()) + cut, body.size() - cut, b);
        ASSERT_TRUE(a == b) << "cut at " << cut;
    }
}

TEST(Evt21AndDat, DatFilesOfBothSensorsAndWithoutGeometry) {
    TempDir dir;
    struct Case {
        std::string header;
        uint32_t maxX, maxY, width, height;
    };
    const std::vector<Case> cases = {
        {"% Data file containing CD events\n% Version 2\n% Height 480\n% Width 640\n", 639, 479, 640, 480},
        {"% Data file containing CD events\n% Version 2\n% Height 720\n% Width 1280\n", 1279, 719, 1280, 720},
        {"% Data file containing CD events\n% Version 2\n", 300, 200, 304, 240}, // from the data
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.header);
        const Stream s = datStream(c.header, 30000, c.maxX, c.maxY, c.width);
        ASSERT_GT(s.events.back().timestamp, uint64_t(2) << 32); // two wraps
        writeBytes(dir.path("f.dat"), s.bytes);
        if (const char* seeds = std::getenv("NORVALE_WRITE_SEEDS"))
            writeBytes(std::string(seeds) + "/dat" + std::to_string(c.width) + ".dat", s.bytes.substr(0, 4096));
        checkReader(dir.path("f.dat"), s, RawFormat::Dat);
        auto r = openPrepared(dir.path("f.dat"));
        ASSERT_TRUE(r);
        EXPECT_EQ(r->width(), c.width);
        EXPECT_EQ(r->height(), c.height);
    }
}

// A header naming a 640 x 480 sensor over events of a 1280 x 720 one: every event is kept, in
// EVT 2.1, DAT and EVT 3.0 (every counting kernel), the reader and its cut report 1280 x 720.
TEST(Evt21AndDat, ContradictingHeaderKeepsEveryEvent) {
    TempDir dir;
    const Stream e21 = evt21Stream("% evt 2.1\n% format EVT21;height=480;width=640\n% end\n", 20000, 5);
    const Stream dat = datStream("% Data file containing CD events\n% Height 480\n% Width 640\n", 20000, 1279, 719, 3);
    // EVT 3.0: rows up to 719, single events and vectors up to x = 1279, in blocks the kernels take
    Stream e3;
    std::vector<uint16_t> w;
    for (int i = 0; i < 20000; ++i) {
        const uint16_t y = uint16_t(i * 7 % 720), high = uint16_t(0x100 + i / 4096), low = uint16_t(i % 4096);
        if (low == 0) w.push_back(uint16_t(0x8000 | high));
        w.insert(w.end(), {uint16_t(0x6000 | low), y, uint16_t(0x2000 | 0x800 | (i * 13 % 1280)), uint16_t(0x3000 | 1260),
                           uint16_t(0x4000 | 0x0F1), uint16_t(0x5000 | (i % 2 ? 0x80 : 0x01)), 0x2000 | 5, 0x0000 | 3});
        const uint64_t ts = (uint64_t(high) << 12) | low;
        e3.events.push_back(Event2D{uint16_t(i * 13 % 1280), y, 1, ts});
        for (uint16_t x : {1260, 1264, 1265, 1266, 1267}) e3.events.push_back(Event2D{x, y, 0, ts});
        e3.events.push_back(Event2D{uint16_t(i % 2 ? 1279 : 1272), y, 0, ts});
        e3.events.push_back(Event2D{5, y, 0, ts});
    }
    e3.bytes = "% evt 3.0\n% geometry 640x480\n% end\n" + words(w);
    const std::vector<std::tuple<std::string, const Stream*, RawFormat>> files = {
        {"a.raw", &e21, RawFormat::Evt21}, {"b.dat", &dat, RawFormat::Dat}, {"c.raw", &e3, RawFormat::Evt3}};
    for (const auto& [name, s, format] : files) {
        SCOPED_TRACE(name);
        writeBytes(dir.path(name), s->bytes);
        checkReader(dir.path(name), *s, format);
        auto r = openPrepared(dir.path(name));
        ASSERT_TRUE(r);
        EXPECT_EQ(r->width(), 1280u);
        EXPECT_EQ(r->height(), 720u);
        DvsFileInfo info;
        ASSERT_TRUE(r->getFileInfo(info));
        EXPECT_EQ(info.width, 1280u);
        EXPECT_EQ(info.height, 720u);
        ASSERT_TRUE(r->exportRawFile(0, UINT64_MAX, dir.path("cut_" + name)));
        auto cut = openPrepared(dir.path("cut_" + name));
        ASSERT_TRUE(cut);
        EXPECT_EQ(cut->getStats().eventCount, s->events.size());
        EXPECT_EQ(cut->width(), 1280u);
        // a cut keeps its input's format, but times past a DAT clock's 32 bits go to EVT 3.0
        EXPECT_EQ(cut->fileFormat(), format == RawFormat::Dat ? EventFileFormat::Evt3 : rawFileFormat(format));
    }
    // each EVT 3.0 counting kernel finds the same largest coordinates
    for (DecoderKernel k : kernels()) {
        auto d = makeEvt3Decoder(2048, 2048, k);
        EventTally tally;
        const std::string body = words(w);
        d->count(reinterpret_cast<const uint8_t*>(body.data()), body.size(), tally, nullptr);
        EXPECT_EQ(tally.events, e3.events.size()) << kernelName(k);
        EXPECT_EQ(tally.maxX, 1279u) << kernelName(k);
        EXPECT_EQ(tally.maxY, 719u) << kernelName(k);
    }
}

// Cut at many byte positions: a prefix of the events, never more; bit flips: a clean open or a
// clean refusal, and whatever is read lies inside the geometry the reader reports.
TEST(Evt21AndDat, TruncationsAndBitFlips) {
    TempDir dir;
    const Stream e21 = evt21Stream("% evt 2.1\n", 3000, 9);
    const Stream dat = datStream("% Data file containing CD events\n% Height 480\n% Width 640\n", 3000, 639, 479, 4);
    for (const Stream* s : {&e21, &dat}) {
        for (size_t cut = 0; cut < s->bytes.size(); cut += 1 + s->bytes.size() / 61) {
            writeBytes(dir.path("t"), s->bytes.substr(0, cut));
            auto r = DvsFileReader::createFileReader(dir.path("t"));
            if (!r) continue; // cut inside the header: refused with a message
            ASSERT_TRUE(r->prepareFile());
            std::vector<Event2D> ev;
            ASSERT_TRUE(r->readRange(0, UINT64_MAX, ev));
            ASSERT_LE(ev.size(), s->events.size());
            const std::vector<Event2D> prefix(s->events.begin(), s->events.begin() + long(ev.size()));
            ASSERT_TRUE(ev == prefix) << "cut at " << cut;
        }
        uint64_t seed = 1;
        for (int round = 0; round < 40; ++round) {
            std::string bytes = s->bytes;
            for (int f = 0; f < 8; ++f) {
                const size_t at = size_t(next(seed) >> 20) % bytes.size();
                bytes[at] = char(bytes[at] ^ (1 << (next(seed) >> 61)));
            }
            writeBytes(dir.path("f"), bytes);
            auto r = DvsFileReader::createFileReader(dir.path("f"));
            if (!r) continue;
            ASSERT_TRUE(r->prepareFile());
            std::vector<Event2D> ev;
            ASSERT_TRUE(r->readRange(0, UINT64_MAX, ev));
            EXPECT_EQ(ev.size(), r->getStats().eventCount);
            for (const auto& e : ev) ASSERT_TRUE(e.x < r->width() && e.y < r->height());
        }
    }
}
