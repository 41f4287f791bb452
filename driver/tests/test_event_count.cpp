// The count-only pass (RawDecoder::count, what prepareFile runs) against full decoding: same
// events, ON/OFF, time bounds, rate profile, triggers and decoder state, for every kernel and
// any cut of the input.
#include <gtest/gtest.h>

#include <algorithm>

#include "TestFiles.h"
#include "norvale/EventGenerator.h"
#include "norvale/Evt3Encoder.h"
#include "norvale/RawDecoder.h"
#include "raw/DvsFileReaderImpl.h"

using namespace norvale;

namespace {

struct Expected {
    uint64_t events = 0, on = 0, min = UINT64_MAX, max = 0, first = 0, slotDuration = 0;
    std::vector<uint32_t> slots;
};

// Figures of decoded events, worked out here independently of the library's counters.
Expected expectedFrom(const std::vector<Event2D>& ev) {
    Expected e;
    e.events = ev.size();
    if (ev.empty()) return e;
    e.first = ev.front().timestamp;
    for (const auto& x : ev) {
        e.on += x.polarity;
        e.min = std::min(e.min, x.timestamp);
        e.max = std::max(e.max, x.timestamp);
    }
    const uint64_t maxRel = e.max > e.first ? e.max - e.first : 0;
    unsigned shift = 10;
    while ((maxRel >> shift) >= (1u << 16)) ++shift;
    e.slotDuration = uint64_t(1) << shift;
    e.slots.assign(size_t(maxRel >> shift) + 1, 0);
    for (const auto& x : ev) ++e.slots[size_t((x.timestamp > e.first ? x.timestamp - e.first : 0) >> shift)];
    return e;
}

void expectSameState(const RawDecoderState& a, const RawDecoderState& b) {
    EXPECT_EQ(a.wrapBase, b.wrapBase);
    EXPECT_EQ(a.timeHigh, b.timeHigh);
    EXPECT_EQ(a.timeLow, b.timeLow);
    EXPECT_EQ(a.y, b.y);
    EXPECT_EQ(a.base, b.base);
    EXPECT_EQ(a.polarity, b.polarity);
    EXPECT_EQ(a.haveTime, b.haveTime);
    EXPECT_EQ(a.pendingCount, b.pendingCount);
}

using Factory = std::unique_ptr<RawDecoder> (*)(uint32_t, uint32_t, DecoderKernel);

// Decodes and counts the stream in pieces of `piece` bytes side by side, checking each piece's
// minimum (prepareFile keeps one per index chunk), then the totals.
void countMatchesDecode(const std::string& bytes, Factory make, DecoderKernel kernel, size_t piece, uint32_t w,
                        uint32_t h) {
    SCOPED_TRACE("piece " + std::to_string(piece) + ", geometry " + std::to_string(w) + "x" + std::to_string(h));
    auto dec = make(w, h, DecoderKernel::Portable);
    auto cnt = make(w, h, kernel);
    std::vector<Event2D> all, part;
    std::vector<EventTriggerIn> decTrig, cntTrig;
    EventTally tally;
    const auto* p = reinterpret_cast<const uint8_t*>(bytes.data());
    for (size_t off = 0; off < bytes.size(); off += piece) {
        const size_t n = std::min(piece, bytes.size() - off);
        part.clear();
        dec->decodeAppend(p + off, n, part, &decTrig);
        tally.minTimestamp = UINT64_MAX;
        cnt->count(p + off, n, tally, &cntTrig);
        uint64_t pmin = UINT64_MAX;
        for (const auto& e : part) pmin = std::min(pmin, e.timestamp);
        ASSERT_EQ(tally.minTimestamp, pmin) << "at byte " << off;
        all.insert(all.end(), part.begin(), part.end());
        expectSameState(cnt->state(), dec->state());
    }
    const Expected want = expectedFrom(all);
    EXPECT_EQ(tally.events, want.events);
    EXPECT_EQ(tally.on, want.on);
    EXPECT_EQ(tally.maxTimestamp, want.max);
    EXPECT_EQ(tally.haveFirst, !all.empty());
    EXPECT_EQ(tally.firstTimestamp, want.first);
    EXPECT_EQ(cntTrig, decTrig);
    if (!all.empty()) {
        EXPECT_EQ(tally.rate.origin(), want.first);
        EXPECT_EQ(tally.rate.slotDuration(), want.slotDuration);
    }
    EXPECT_EQ(tally.rate.counts(), want.slots);
}

std::unique_ptr<RawDecoder> evt3(uint32_t w, uint32_t h, DecoderKernel k) { return makeEvt3Decoder(w, h, k); }
std::unique_ptr<RawDecoder> evt2(uint32_t w, uint32_t h, DecoderKernel) { return makeEvt2Decoder(w, h); }

std::string generatedStream(uint64_t start, double rate, uint64_t us) {
    GeneratorConfig cfg;
    cfg.eventRate = rate;
    cfg.triggerHz = 500;
    cfg.startTimestamp = start;
    EventGenerator gen(cfg);
    std::vector<Event2D> ev;
    std::vector<EventTriggerIn> trig;
    gen.generate(us, ev, trig);
    Evt3Encoder enc;
    enc.add(ev.data(), ev.data() + ev.size(), trig.data(), trig.data() + trig.size());
    return std::string(reinterpret_cast<const char*>(enc.data()), enc.size());
}

uint64_t nextRandom(uint64_t& x) { return x = x * 6364136223846793005ull + 1442695040888963407ull; }

// Random event, address and vector words under a TIME_HIGH that creeps forward (wrapping now and
// then) and random TIME_LOWs: mostly the vectorised path, with slot changes and steps back.
std::string creepingTime(size_t n, uint64_t seed) {
    static const uint16_t types[] = {0x0, 0x2, 0x2, 0x3, 0x4, 0x4, 0x5, 0x6, 0x9, 0xE, 0xF};
    std::string s;
    uint32_t high = 0xF00;
    for (size_t i = 0; i < n; ++i) {
        const uint64_t r = nextRandom(seed);
        uint16_t w;
        if (r % 23 == 0) {
            high = (high + uint32_t(r >> 40) % 3) & 0xFFF;
            w = uint16_t(0x8000 | high);
        } else if (r % 997 == 1) {
            w = uint16_t(0xA000 | ((r >> 30) & 0xF01)); // trigger edge
        } else {
            w = uint16_t(types[(r >> 33) % 11] << 12 | ((r >> 50) & 0xFFF));
            if ((w >> 12) == 0) w &= 0x83FF; // rows inside the sensor mostly
        }
        s.append(reinterpret_cast<const char*>(&w), 2);
    }
    return s;
}

} // namespace

TEST(EventCount, GeneratedRecordingsAgreeWithDecoding) {
    // crossing a wrap of the 24-bit time, with trigger edges; a dense and a sparse one
    const std::string dense = generatedStream(16'700'000, 4e6, 150'000);
    const std::string sparse = generatedStream(3'000'000'000ull, 2e5, 2'000'000);
    for (const std::string* s : {&dense, &sparse})
        for (auto k : kernels())
            for (size_t piece : {s->size(), size_t(64 * 1024), size_t(4097), size_t(33)})
                countMatchesDecode(*s, evt3, k, piece, 1280, 720);
}

TEST(EventCount, RandomWordsAgreeWithDecoding) {
    const std::string noise = randomEvt3Words(150'000, 7);
    const std::string creeping = creepingTime(300'000, 11);
    const std::string vectors = vectorHeavyWords(100'000, 9);
    for (auto k : kernels())
        for (const auto& [w, h] : {std::pair<uint32_t, uint32_t>{1280, 720}, {1000, 500}, {640, 480}}) {
            for (size_t piece : {vectors.size(), size_t(777)})
                countMatchesDecode(vectors, evt3, k, piece, w, h);
            for (size_t piece : {noise.size(), size_t(4097), size_t(3)})
                countMatchesDecode(noise, evt3, k, piece, w, h);
            for (size_t piece : {creeping.size(), size_t(65536), size_t(1001)})
                countMatchesDecode(creeping, evt3, k, piece, w, h);
        }
}

TEST(EventCount, NothingBeforeTheFirstEvent) {
    for (auto k : kernels()) {
        auto dec = makeEvt3Decoder(1280, 720, k);
        EventTally tally;
        const std::string none = words({0x2005, 0x0010, 0x8001, 0x2007, 0x4003, 0x9999});
        dec->count(reinterpret_cast<const uint8_t*>(none.data()), none.size(), tally, nullptr);
        EXPECT_EQ(tally.events, 0u);
        EXPECT_FALSE(tally.haveFirst);
        EXPECT_FALSE(tally.rate.started());
        EXPECT_TRUE(tally.rate.counts().empty());
    }
}

TEST(EventCount, Evt2CountsLikeItDecodes) {
    std::string s;
    uint64_t seed = 3;
    for (int i = 0; i < 100'000; ++i) {
        const uint64_t r = nextRandom(seed);
        uint32_t w = uint32_t(r >> 32);
        if (r % 5 == 0) w = (0x8u << 28) | (w & 0x0FFFFFFF) >> 14; // TIME_HIGH creeping about
        s.append(reinterpret_cast<const char*>(&w), 4);
    }
    for (size_t piece : {s.size(), size_t(4097)}) countMatchesDecode(s, evt2, DecoderKernel::Portable, piece, 640, 480);
}

// A file large enough for its index to be counted on two threads: the reader's figures, rate
// profile, trigger edges and ranges are those of decoding it whole on one. The time counter wraps
// before and after the middle; in the second file the middle lies in a stretch whose vector base
// was set long before it, which the second thread cannot know (its half is counted again).
TEST(EventCount, TwoThreadIndexIsTheOneThreadIndex) {
    std::string forced = creepingTime(2'500'000, 21);
    {
        std::vector<uint16_t> stretch{0x3000}; // one vector base, then only increments of it
        uint32_t high = 0;
        for (uint64_t seed = 5; stretch.size() < 1'600'000;) {
            const uint64_t r = nextRandom(seed);
            if (r % 5 == 0) stretch.push_back(uint16_t(0x8000 | (high = (high + 1) & 0xFFF)));
            stretch.push_back(uint16_t(r % 40 ? 0x0000 | (r >> 40) % 700 : 0x4000 | (r >> 30 & 0xFFF))); // base < 2^20
            stretch.push_back(uint16_t(0x2000 | (r >> 20) % 1280));
        }
        forced += words(stretch) + creepingTime(2'500'000, 23);
    }
    TempDir dir;
    const std::string header = "% evt 3.0\n% geometry 1280x720\n% end\n";
    const struct {
        std::string name, words;
        unsigned threads;
    } files[] = {{"plain.raw", creepingTime(6'500'000, 17), 2}, {"forced.raw", forced, 1}};
    for (const auto& f : files) {
        SCOPED_TRACE(f.name);
        writeBytes(dir.path(f.name), header + f.words);
        uint32_t w = 0, h = 0;
        addressableRange(RawFormat::Evt3, w, h);
        auto ref = makeEvt3Decoder(w, h, DecoderKernel::Portable);
        std::vector<Event2D> all;
        std::vector<EventTriggerIn> trig;
        ref->decodeAppend(reinterpret_cast<const uint8_t*>(f.words.data()), f.words.size(), all, &trig);
        const Expected want = expectedFrom(all);
        ASSERT_GT(want.max, uint64_t(4) << 24); // wraps in both halves

        auto reader = DvsFileReader::createFileReader(dir.path(f.name));
        ASSERT_TRUE(reader && reader->prepareFile());
        EXPECT_EQ(detail::ReaderInternals::of(*reader).indexThreads, f.threads);
        const RawFileStats st = reader->getStats();
        EXPECT_EQ(st.eventCount, want.events);
        EXPECT_EQ(st.onCount, want.on);
        EXPECT_EQ(st.firstTimestamp, want.min);
        EXPECT_EQ(st.lastTimestamp, want.max);
        EXPECT_EQ(reader->triggers(), trig);
        const RateProfile rate = reader->getRateProfile();
        EXPECT_EQ(rate.startTimestamp, want.first);
        EXPECT_EQ(rate.slotDurationUs, want.slotDuration);
        EXPECT_EQ(rate.counts, want.slots);
        // Ranges around the middle and across wraps: chunk states and event counts of both halves;
        // the long ones are read on two threads, into a vector that held a longer range before.
        std::vector<Event2D> got;
        const uint64_t span = want.max - want.min;
        for (const auto& [at, length] : {std::pair<double, uint64_t>{0.1, 1u << 23}, {0.45, 1u << 23}, {0.5, 1u << 23},
                                         {0.55, 1u << 23}, {0.93, 1u << 23}, {0.0, span + 1}, {0.3, span / 5},
                                         {0.47, span / 9}, {0.71, span / 7}}) {
            const uint64_t from = want.min + uint64_t(double(span) * at), to = from + length;
            ASSERT_TRUE(reader->readRange(from, to, got));
            std::vector<Event2D> expected;
            std::copy_if(all.begin(), all.end(), std::back_inserter(expected),
                         [&](const Event2D& e) { return e.timestamp >= from && e.timestamp < to; });
            EXPECT_EQ(got, expected) << "range at " << at;
        }
        EXPECT_GE(detail::ReaderInternals::of(*reader).splitReads, 4u);
    }
}

// A file changed in place after it was indexed: a long range that the index no longer describes
// fails with a message rather than coming back with other events than the file holds.
TEST(EventCount, ALongRangeOfAFileChangedSinceItsIndexFails) {
    TempDir dir;
    const std::string header = "% evt 3.0\n% end\n";
    std::string data = creepingTime(6'000'000, 31);
    writeBytes(dir.path("f.raw"), header + data);
    auto reader = DvsFileReader::createFileReader(dir.path("f.raw"));
    ASSERT_TRUE(reader && reader->prepareFile());
    uint64_t first = 0, last = 0;
    ASSERT_TRUE(reader->getStartTimestamp(first) && reader->getEndTimestamp(last));
    std::vector<Event2D> got;
    ASSERT_TRUE(reader->readRange(first, last + 1, got));
    ASSERT_EQ(got.size(), reader->getStats().eventCount);
    // Padding words over a stretch in the middle: its events are gone.
    std::fstream f(dir.path("f.raw"), std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(std::streamoff(header.size() + data.size() / 2));
    const std::string padding(1 << 20, '\xE0');
    f.write(padding.data(), std::streamsize(padding.size()));
    f.close();
    EXPECT_FALSE(reader->readRange(first, last + 1, got));
    EXPECT_TRUE(got.empty());
}
