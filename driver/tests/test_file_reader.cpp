// DvsFileReader: the real recordings, seeking and reading windows, cuts (cutRawFile and the
// reader's exportRawFile), damaged input.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <numeric>

#include "TestFiles.h"
#include "norvale/DvsFileReader.h"
#include "norvale/EventGenerator.h"
#include "norvale/RawFileWriter.h"
#include "norvale/RawCut.h"
#include "norvale/RawHeader.h"

using namespace norvale;

namespace {

struct Recording {
    std::vector<Event2D> events;
    std::vector<EventTriggerIn> triggers;
};

// A generated recording big enough for many index chunks.
Recording writeRecording(const std::string& path, double rate = 2e6, uint64_t us = 600'000, uint64_t start = 16'000'000) {
    GeneratorConfig cfg;
    cfg.eventRate = rate;
    cfg.triggerHz = 50;
    cfg.startTimestamp = start;
    EventGenerator gen(cfg);
    Recording r;
    gen.generate(us, r.events, r.triggers);
    RawFileWriter w;
    DvsFileInfo info;
    info.serialNumber = "T";
    EXPECT_TRUE(w.open(path, info));
    EXPECT_TRUE(w.add(r.events.data(), r.events.data() + r.events.size(), r.triggers.data(),
                      r.triggers.data() + r.triggers.size()));
    EXPECT_TRUE(w.close());
    return r;
}

std::vector<Event2D> window(const std::vector<Event2D>& all, uint64_t from, uint64_t to) {
    std::vector<Event2D> out;
    for (const auto& e : all)
        if (e.timestamp >= from && e.timestamp < to) out.push_back(e);
    return out;
}

std::unique_ptr<DvsFileReader> openPrepared(const std::string& path) {
    auto r = DvsFileReader::createFileReader(path);
    if (r) {
        EXPECT_TRUE(r->prepareFile());
    }
    return r;
}

} // namespace

TEST(DvsFileReader, RealEvt3Recording) {
    if (!haveSharedData("pedestrians_5k.evt3.raw")) {
        GTEST_SKIP() << "../shared/data absent";
    }
    auto r = openPrepared(sharedData("pedestrians_5k.evt3.raw"));
    ASSERT_TRUE(r);
    std::vector<Event2D> ev;
    ASSERT_TRUE(r->readRange(0, UINT64_MAX, ev));
    ASSERT_EQ(ev.size(), 5000u);
    const RawFileStats s = r->getStats();
    EXPECT_EQ(s.onCount, 2894u);
    EXPECT_EQ(s.offCount, 2106u);
    uint64_t a = 0, b = 0;
    ASSERT_TRUE(r->getStartTimestamp(a));
    ASSERT_TRUE(r->getEndTimestamp(b));
    EXPECT_EQ(a, 5840504u);
    EXPECT_EQ(b, 5885714u);
    EXPECT_EQ(ev[0], (Event2D{707, 297, 0, 5840504}));
    uint64_t sx = 0, sy = 0;
    for (const auto& e : ev) {
        sx += e.x;
        sy += e.y;
    }
    EXPECT_EQ(sx, 3415152u);
    EXPECT_EQ(sy, 1425333u);
    EXPECT_TRUE(r->triggers().empty());
    DvsFileInfo info;
    r->getFileInfo(info);
    EXPECT_EQ(info.serialNumber, "00001034");
    EXPECT_EQ(info.dvsStartTimestamp, 5840504u); // no dvs_start_timestamp line: the first event
    EXPECT_EQ(timePointToString(info.recordStartTime), "2020-09-14 14:18:29.000000");
}

TEST(DvsFileReader, RealEvt2Recording) {
    if (!haveSharedData("sparklers.evt2.raw")) {
        GTEST_SKIP() << "../shared/data absent";
    }
    auto r = openPrepared(sharedData("sparklers.evt2.raw"));
    ASSERT_TRUE(r);
    EXPECT_EQ(r->format(), RawFormat::Evt2);
    const RawFileStats s = r->getStats();
    EXPECT_EQ(s.eventCount, 521252u);
    EXPECT_EQ(s.firstTimestamp, 913716224u);
    EXPECT_EQ(s.lastTimestamp, 913812095u);
    std::vector<Event2D> ev;
    ASSERT_TRUE(r->readRange(0, UINT64_MAX, ev));
    ASSERT_EQ(ev.size(), 521252u);
    for (const auto& e : ev) ASSERT_TRUE(e.x <= 639 && e.y <= 479);
    // a cut keeps the geometry, whatever format it writes
    TempDir dir;
    ASSERT_TRUE(r->exportRawFile(0, UINT64_MAX, dir.path("cut.raw")));
    auto cut = openPrepared(dir.path("cut.raw"));
    ASSERT_TRUE(cut);
    EXPECT_EQ(cut->width(), 640u);
    EXPECT_EQ(cut->height(), 480u);
    EXPECT_EQ(cut->getStats().eventCount, 521252u);
}

TEST(DvsFileReader, WindowsAndSeekingAtEveryBoundary) {
    TempDir dir;
    const Recording rec = writeRecording(dir.path("a.raw"));
    auto r = openPrepared(dir.path("a.raw"));
    ASSERT_TRUE(r);
    const uint64_t first = rec.events.front().timestamp, last = rec.events.back().timestamp;
    uint64_t a = 0, b = 0;
    r->getStartTimestamp(a);
    r->getEndTimestamp(b);
    EXPECT_EQ(a, first);
    EXPECT_EQ(b, last);
    EXPECT_EQ(r->getStats().eventCount, rec.events.size());
    EXPECT_EQ(r->triggers(), rec.triggers);
    EXPECT_GT(r->getStats().dataBytes / (64 * 1024), 10u); // many index chunks

    // start, end, between events, before the start, past the end, empty, one microsecond
    const uint64_t mid = rec.events[rec.events.size() / 2].timestamp;
    const std::vector<std::pair<uint64_t, uint64_t>> cases{
        {first, 33333}, {last, 1}, {last - 10, 100}, {mid, 1}, {mid + 1, 33333}, {0, first + 5},
        {first - 100, 100}, {last + 1, 1000}, {mid, 0}, {first, last - first + 1}};
    for (const auto& [t, d] : cases) {
        auto ev = r->readEvents(t, d);
        ASSERT_TRUE(ev);
        EXPECT_EQ(*ev, window(rec.events, t, t + d)) << "window " << t << " + " << d;
    }
    // sequential reading continues where the last read ended
    ASSERT_TRUE(r->seekTime(mid));
    std::vector<Event2D> joined;
    for (int i = 0; i < 5; ++i) {
        auto ev = r->readNextEvents(7000);
        ASSERT_TRUE(ev);
        joined.insert(joined.end(), ev->begin(), ev->end());
    }
    EXPECT_EQ(joined, window(rec.events, mid, mid + 35000));
    EXPECT_TRUE(r->seekTime(0));     // before the start: reads from the start
    EXPECT_TRUE(r->seekTime(last));
    EXPECT_FALSE(r->seekTime(last + 1));

    // the rate profile adds up to the events
    const RateProfile p = r->getRateProfile();
    EXPECT_EQ(p.startTimestamp, first);
    EXPECT_EQ(std::accumulate(p.counts.begin(), p.counts.end(), uint64_t(0)), rec.events.size());
}

TEST(DvsFileReader, CutsKeepExactlyTheRange) {
    TempDir dir;
    const Recording rec = writeRecording(dir.path("src.raw"));
    auto r = openPrepared(dir.path("src.raw"));
    ASSERT_TRUE(r);
    const uint64_t first = rec.events.front().timestamp, last = rec.events.back().timestamp;
    const uint64_t s = first + 123'457, e = first + 345'678;

    ASSERT_TRUE(cutRawFile(*r, s, e, dir.path("cut.raw")));
    EXPECT_FALSE(std::filesystem::exists(dir.path("cut.raw.part")));
    auto c = openPrepared(dir.path("cut.raw"));
    ASSERT_TRUE(c);
    std::vector<Event2D> got;
    c->readRange(0, UINT64_MAX, got);
    const auto want = window(rec.events, s, e + 1); // end inclusive
    EXPECT_EQ(got, want);
    std::vector<EventTriggerIn> wantTrig;
    for (const auto& t : rec.triggers)
        if (t.timestamp >= s && t.timestamp <= e) wantTrig.push_back(t);
    EXPECT_EQ(c->triggers(), wantTrig);
    DvsFileInfo info;
    c->getFileInfo(info);
    EXPECT_EQ(info.dvsStartTimestamp, want.front().timestamp);
    EXPECT_EQ(info.serialNumber, "T");
    EXPECT_NE(readBytes(dir.path("cut.raw")).find("% dvs_start_timestamp " + std::to_string(want.front().timestamp) + "\n"),
              std::string::npos);

    // a range beyond the file, and a range without events: a valid file with a header only
    ASSERT_TRUE(cutRawFile(*r, last + 10, last + 1000, dir.path("empty.raw")));
    auto em = openPrepared(dir.path("empty.raw"));
    ASSERT_TRUE(em);
    EXPECT_EQ(em->getStats().eventCount, 0u);
    ASSERT_TRUE(cutRawFile(*r, 0, UINT64_MAX, dir.path("all.raw")));
    auto all = openPrepared(dir.path("all.raw"));
    ASSERT_TRUE(all);
    all->readRange(0, UINT64_MAX, got);
    EXPECT_EQ(got, rec.events);

    // never over the input, never a partial output
    const std::string before = readBytes(dir.path("src.raw"));
    EXPECT_FALSE(cutRawFile(*r, s, e, dir.path("src.raw")));
    EXPECT_EQ(readBytes(dir.path("src.raw")), before);
    EXPECT_FALSE(cutRawFile(*r, s, e, dir.path("missing/cut.raw")));
    EXPECT_FALSE(std::filesystem::exists(dir.path("missing")));
    EXPECT_FALSE(cutRawFile(*r, e, s, dir.path("backwards.raw")));
    EXPECT_FALSE(std::filesystem::exists(dir.path("backwards.raw")));
    // A video of the same range, from the same reader after the cuts.
    EXPECT_TRUE(r->exportVideo(s, e, dir.path("v.mp4")));
    EXPECT_TRUE(std::filesystem::exists(dir.path("v.mp4")));
}

TEST(DvsFileReader, FilesThatAreNotRecordings) {
    TempDir dir;
    EXPECT_FALSE(DvsFileReader::createFileReader(dir.path("missing.raw")));
    EXPECT_FALSE(DvsFileReader::createFileReader(dir.path("")));   // the folder itself
    writeBytes(dir.path("empty.raw"), "");
    EXPECT_FALSE(DvsFileReader::createFileReader(dir.path("empty.raw")));
    writeBytes(dir.path("text.raw"), "hello world\n");
    EXPECT_FALSE(DvsFileReader::createFileReader(dir.path("text.raw")));
    writeBytes(dir.path("noperm.raw"), "% evt 3.0\n");
    ::chmod(dir.path("noperm.raw").c_str(), 0);
    if (::geteuid() != 0) {
        EXPECT_FALSE(DvsFileReader::createFileReader(dir.path("noperm.raw")));
    }
    // a header line that never ends, longer than any header
    writeBytes(dir.path("endless.raw"), "% " + std::string(kMaxHeaderBytes + 10, 'x'));
    EXPECT_FALSE(DvsFileReader::createFileReader(dir.path("endless.raw")));
}

TEST(DvsFileReader, DamagedDataGivesWhatIsDecodable) {
    TempDir dir;
    // a header without data
    writeBytes(dir.path("h.raw"), "% evt 3.0\n% end\n");
    auto h = openPrepared(dir.path("h.raw"));
    ASSERT_TRUE(h);
    uint64_t t = 0;
    EXPECT_FALSE(h->getStartTimestamp(t));
    auto none = h->readEvents(0, 1000);
    ASSERT_TRUE(none);
    EXPECT_TRUE(none->empty());
    EXPECT_FALSE(h->seekTime(0));

    // random bytes after a valid header: no crash, events within the geometry the reader reports
    // (the data's own when they reach past the header's)
    std::string junk = "% evt 3.0\n% geometry 640x480\n% end\n";
    uint64_t x = 3;
    for (int i = 0; i < 300000; ++i) {
        x = x * 6364136223846793005ull + 1442695040888963407ull;
        junk.push_back(char(x >> 56));
    }
    writeBytes(dir.path("junk.raw"), junk);
    auto j = openPrepared(dir.path("junk.raw"));
    ASSERT_TRUE(j);
    std::vector<Event2D> ev;
    ASSERT_TRUE(j->readRange(0, UINT64_MAX, ev));
    EXPECT_EQ(ev.size(), j->getStats().eventCount);
    for (const auto& e : ev) ASSERT_TRUE(e.x < j->width() && e.y < j->height());

    // a recording cut at many byte positions: a prefix of the events, never more
    const Recording rec = writeRecording(dir.path("full.raw"), 200000, 100000);
    const std::string full = readBytes(dir.path("full.raw"));
    for (size_t cut = 0; cut < full.size(); cut += 1 + full.size() / 97) {
        writeBytes(dir.path("cut.raw"), full.substr(0, cut));
        auto r = DvsFileReader::createFileReader(dir.path("cut.raw"));
        if (!r) continue; // cut inside the header's first line
        ASSERT_TRUE(r->prepareFile());
        ASSERT_TRUE(r->readRange(0, UINT64_MAX, ev));
        ASSERT_LE(ev.size(), rec.events.size());
        ASSERT_TRUE(std::equal(ev.begin(), ev.end(), rec.events.begin())) << "cut at " << cut;
    }
}

namespace {

// Cuts [s, e] of src and checks that the cut holds exactly the events and triggers of the range,
// in order; returns the cut's bytes.
std::string cutEqualsRange(DvsFileReader& src, uint64_t s, uint64_t e, const std::string& out) {
    SCOPED_TRACE("cut " + std::to_string(s) + ".." + std::to_string(e));
    std::vector<Event2D> want, got;
    std::vector<EventTriggerIn> wantTrig;
    EXPECT_TRUE(src.readRange(s, e + 1, want, &wantTrig));
    EXPECT_TRUE(cutRawFile(src, s, e, out));
    auto c = openPrepared(out);
    if (!c) {
        ADD_FAILURE() << "cut unreadable";
        return {};
    }
    std::vector<EventTriggerIn> gotTrig;
    EXPECT_TRUE(c->readRange(0, UINT64_MAX, got, &gotTrig));
    EXPECT_EQ(got.size(), want.size());
    EXPECT_TRUE(got == want);
    EXPECT_EQ(gotTrig, wantTrig);
    EXPECT_EQ(c->getStats().eventCount, want.size());
    return readBytes(out);
}

// Random ranges of a prepared file, a few of them wide enough for copying.
void cutRandomRanges(DvsFileReader& r, const std::string& out, uint64_t seed, int count) {
    uint64_t first = 0, last = 0;
    ASSERT_TRUE(r.getStartTimestamp(first));
    ASSERT_TRUE(r.getEndTimestamp(last));
    for (int i = 0; i < count; ++i) {
        seed = seed * 6364136223846793005ull + 1442695040888963407ull;
        const uint64_t a = first + (seed >> 20) % (last - first + 1);
        const uint64_t b = first + (seed >> 5) % (last - first + 1);
        cutEqualsRange(r, std::min(a, b), std::max(a, b), out);
    }
}

} // namespace

// Cuts copy the words between their edges. The copied words must decode as in the source: time
// wrapping and stepping back, vector runs cut by the edges, rows past the height, triggers, padding.
TEST(DvsFileReader, CopyingCutsHoldExactlyTheRange) {
    TempDir dir;
    writeBytes(dir.path("noisy.raw"), "% evt 3.0\n% end\n" + vectorHeavyWords(400'000, 21));
    auto r = openPrepared(dir.path("noisy.raw"));
    ASSERT_TRUE(r);
    cutRandomRanges(*r, dir.path("cut.raw"), 1, 12);
    // the middle half: the source's words are in the cut as they are
    uint64_t first = 0, last = 0;
    r->getStartTimestamp(first);
    r->getEndTimestamp(last);
    const std::string cut = cutEqualsRange(*r, first + (last - first) / 4, first + (last - first) * 3 / 4, dir.path("cut.raw"));
    const std::string src = readBytes(dir.path("noisy.raw"));
    EXPECT_NE(cut.find(src.substr(src.size() / 2, 4096)), std::string::npos);
    EXPECT_LT(cut.size(), src.size() * 2 / 3);

    // the first copied word in the middle of a vector run: chunk 1 starts with its second VECT_12
    std::vector<uint16_t> w;
    for (uint32_t g = 0; w.size() < 100'000; ++g) {
        if (w.empty()) w.resize(32768 - 4 - 7 * 1000, 0x9999); // group 1000 straddles the chunk edge
        w.insert(w.end(), {uint16_t(0x8000 | (g & 0xFFF)), uint16_t(g % 700), uint16_t(0x3800 | g % 1200),
                           0x4FFF, 0x4AAA, 0x50FF, 0x9999}); // padding: only a copy has it
    }
    ASSERT_EQ(w[32768], 0x4AAA);
    writeBytes(dir.path("runs.raw"), "% evt 3.0\n% end\n" + words(w));
    auto runs = openPrepared(dir.path("runs.raw"));
    ASSERT_TRUE(runs);
    const std::string runCut = cutEqualsRange(*runs, 1000u << 12, 10000u << 12, dir.path("cut.raw"));
    EXPECT_NE(runCut.find(words({0x4AAA, 0x50FF, 0x9999, 0x8000 | 1001})), std::string::npos);
}

// The shared real recordings at random ranges; the EVT 3.0 one also repeated with its time moved
// on each time, so that its real words are copied.
TEST(DvsFileReader, CutsOfRealRecordingsAtRandomRanges) {
    if (!haveSharedData("pedestrians_5k.evt3.raw") || !haveSharedData("sparklers.evt2.raw")) {
        GTEST_SKIP() << "../shared/data absent";
    }
    TempDir dir;
    for (const char* name : {"pedestrians_5k.evt3.raw", "sparklers.evt2.raw"}) {
        auto r = openPrepared(sharedData(name));
        ASSERT_TRUE(r);
        cutRandomRanges(*r, dir.path("cut.raw"), 3, 6);
    }
    const std::string real = readBytes(sharedData("pedestrians_5k.evt3.raw"));
    RawHeader h;
    std::string problem;
    ASSERT_EQ(parseRawHeader(real.data(), real.size(), true, h, problem), HeaderStatus::Ok);
    std::string longer = real.substr(0, h.dataOffset);
    for (uint16_t k = 0; k < 30; ++k) { // 45 ms per repeat, moved on by 12 TIME_HIGH steps (49 ms)
        std::string part = real.substr(h.dataOffset);
        for (size_t i = 0; i + 1 < part.size(); i += 2) {
            uint16_t x;
            std::memcpy(&x, part.data() + i, 2);
            if (x >> 12 == 0x8) x = uint16_t(0x8000 | ((x + 12 * k) & 0xFFF));
            std::memcpy(part.data() + i, &x, 2);
        }
        longer += part;
    }
    writeBytes(dir.path("longer.raw"), longer);
    auto r = openPrepared(dir.path("longer.raw"));
    ASSERT_TRUE(r);
    EXPECT_EQ(r->getStats().eventCount, 30u * 5000u);
    cutRandomRanges(*r, dir.path("cut.raw"), 5, 8);
}

// A trigger edge in a stretch without events (chunk 1 of 3): reading and cutting its range find it.
TEST(DvsFileReader, TriggersAwayFromEventsAreFound) {
    std::vector<uint16_t> w;
    auto fillTo = [&](size_t n) { w.resize(n, 0x9999); };
    w = {0x8001, 0x0005, 0x200A};
    fillTo(32768);
    w.insert(w.end(), {0x8064, 0x6007, 0xA101}); // t = 100 << 12 | 7, channel 1 rising
    fillTo(2 * 32768);
    w.insert(w.end(), {0x80C8, 0x0005, 0x200B});
    TempDir dir;
    writeBytes(dir.path("t.raw"), "% evt 3.0\n% end\n" + words(w));
    auto r = openPrepared(dir.path("t.raw"));
    ASSERT_TRUE(r);
    const uint64_t t = 100u << 12 | 7u;
    std::vector<Event2D> ev;
    std::vector<EventTriggerIn> trig;
    ASSERT_TRUE(r->readRange(t - 5, t + 5, ev, &trig));
    EXPECT_TRUE(ev.empty());
    ASSERT_EQ(trig, (std::vector<EventTriggerIn>{{1, t, 1}}));
    cutEqualsRange(*r, t - 5, t + 5, dir.path("cut.raw"));
    cutEqualsRange(*r, 0, t, dir.path("cut.raw"));
}

// Spans decoded each on its own from their state give, joined, exactly the events of one pass:
// a clean recording of both formats and random words (odd lengths, words cut by chunk edges).
TEST(DvsFileReader, DecodeSpansJoinIntoTheWholeFile) {
    TempDir dir;
    writeRecording(dir.path("gen.raw"), 4e6, 300'000);
    std::string junk = "% evt 3.0\n% geometry 640x480\n% end\n" + randomEvt3Words(400'000, 7) + "x";
    writeBytes(dir.path("junk.raw"), junk);
    std::vector<std::string> paths{dir.path("gen.raw"), dir.path("junk.raw")};
    if (haveSharedData("sparklers.evt2.raw")) paths.push_back(sharedData("sparklers.evt2.raw"));
    for (const std::string& path : paths) {
        SCOPED_TRACE(path);
        auto r = openPrepared(path);
        ASSERT_TRUE(r);
        const std::string bytes = readBytes(path);
        RawHeader header;
        std::string problem;
        ASSERT_EQ(parseRawHeader(bytes.data(), bytes.size(), true, header, problem), HeaderStatus::Ok);
        const auto* data = reinterpret_cast<const uint8_t*>(bytes.data()) + header.dataOffset;
        auto decodeWhole = [&](uint64_t offset, uint64_t size, const RawDecoderState& state) {
            auto d = makeDecoder(r->format(), r->width(), r->height());
            d->setState(state);
            std::vector<Event2D> out(d->maxEvents(size_t(size)));
            out.resize(d->decode(data + offset, size_t(size), out.data(), nullptr));
            return out;
        };
        const std::vector<Event2D> whole = decodeWhole(0, r->getStats().dataBytes, RawDecoderState{});
        ASSERT_EQ(whole.size(), r->getStats().eventCount);
        for (size_t n : {1, 2, 3, 7, 100000}) {
            const std::vector<DecodeSpan> spans = r->decodeSpans(n);
            ASSERT_FALSE(spans.empty());
            EXPECT_LE(spans.size(), n);
            std::vector<Event2D> joined;
            uint64_t offset = 0;
            for (const DecodeSpan& s : spans) {
                EXPECT_EQ(s.offset, offset);
                EXPECT_EQ(s.eventsBefore, joined.size());
                const std::vector<Event2D> part = decodeWhole(s.offset, s.bytes, s.state);
                EXPECT_EQ(part.size(), s.events);
                joined.insert(joined.end(), part.begin(), part.end());
                offset += s.bytes;
            }
            EXPECT_EQ(offset, r->getStats().dataBytes);
            ASSERT_EQ(joined.size(), whole.size());
            for (size_t i = 0; i < whole.size(); ++i) {
                ASSERT_TRUE(joined[i].timestamp == whole[i].timestamp && joined[i].x == whole[i].x &&
                            joined[i].y == whole[i].y && joined[i].polarity == whole[i].polarity)
                    << "event " << i;
            }
        }
        if (path == dir.path("gen.raw")) {
            EXPECT_EQ(r->decodeSpans(2).size(), 2u);
        }
    }
}

// A file cut short after it was indexed never gives a short result as if it were whole.
TEST(DvsFileReader, AFileThatShrankAfterIndexingFailsEveryRead) {
    TempDir dir;
    const std::string path = dir.path("shrinks.raw");
    GeneratorConfig cfg;
    cfg.eventRate = 2e6;
    ASSERT_TRUE(generateRecordingFile(path, cfg, 1000000));
    auto r = DvsFileReader::createFileReader(path);
    ASSERT_TRUE(r && r->prepareFile());
    uint64_t first = 0, last = 0;
    ASSERT_TRUE(r->getStartTimestamp(first) && r->getEndTimestamp(last));
    ASSERT_EQ(::truncate(path.c_str(), off_t(std::filesystem::file_size(path) / 3)), 0);
    std::vector<Event2D> ev;
    EXPECT_FALSE(r->readRange(first, last + 1, ev));
    EXPECT_EQ(r->readEvents(first, last - first + 1), nullptr);
    EXPECT_FALSE(cutRawFile(*r, first, last, dir.path("cut.raw")));
    EXPECT_FALSE(std::filesystem::exists(dir.path("cut.raw")));
    // the part still there reads as before
    EXPECT_TRUE(r->readRange(first, first + 1000, ev));
}
