// Writer and encoder: what they write reads back exactly.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <thread>

#include "TestFiles.h"
#include "norvale/DvsFileReader.h"
#include "norvale/EventGenerator.h"
#include "norvale/Evt3Encoder.h"
#include "norvale/RawFileWriter.h"

using namespace norvale;

namespace {
std::vector<Event2D> readAll(DvsFileReader& r) {
    std::vector<Event2D> out;
    EXPECT_TRUE(r.readRange(0, UINT64_MAX, out));
    return out;
}
} // namespace

// 18 s at a low rate: several wraps of the 24-bit time, runs on rows, triggers in between.
TEST(RawFileWriter, RoundTripAcrossWraps) {
    TempDir dir;
    GeneratorConfig cfg;
    cfg.eventRate = 20000;
    cfg.triggerHz = 3;
    cfg.startTimestamp = 40'000'000;
    EventGenerator gen(cfg);
    std::vector<Event2D> events;
    std::vector<EventTriggerIn> triggers;
    gen.generate(18'000'000, events, triggers);
    ASSERT_GT(events.size(), 300000u);

    RawFileWriter w;
    DvsFileInfo info;
    info.serialNumber = "RT1";
    ASSERT_TRUE(w.open(dir.path("rt.raw"), info));
    // in uneven pieces, as a camera delivers them
    size_t e = 0, t = 0;
    while (e < events.size()) {
        const size_t n = std::min<size_t>(events.size() - e, 1 + (e * 7919) % 50000);
        const uint64_t until = events[e + n - 1].timestamp;
        size_t tn = 0;
        while (t + tn < triggers.size() && triggers[t + tn].timestamp <= until) ++tn;
        ASSERT_TRUE(w.add(&events[e], &events[e] + n, triggers.data() + t, triggers.data() + t + tn));
        e += n;
        t += tn;
    }
    ASSERT_TRUE(w.close());

    auto r = DvsFileReader::createFileReader(dir.path("rt.raw"));
    ASSERT_TRUE(r);
    ASSERT_TRUE(r->prepareFile());
    EXPECT_EQ(readAll(*r), events);
    EXPECT_EQ(r->triggers(), triggers);
    DvsFileInfo got;
    r->getFileInfo(got);
    EXPECT_EQ(got.serialNumber, "RT1");
    EXPECT_EQ(got.dvsStartTimestamp, events.front().timestamp); // rewritten from the first event
}

TEST(RawFileWriter, HeaderAtOnceAndDataWithinTheFlushInterval) {
    TempDir dir;
    const std::string path = dir.path("live.raw");
    RawFileWriter w;
    DvsFileInfo info;
    info.dvsStartTimestamp = 5;
    ASSERT_TRUE(w.open(path, info, 50));
    EXPECT_NE(readBytes(path).find("% end\n"), std::string::npos); // never a file without header
    const Event2D e[2] = {{1, 2, 1, 1000}, {3, 4, 0, 2000}};
    ASSERT_TRUE(w.addEvents(e, e + 2));
    std::string bytes;
    for (int i = 0; i < 100 && bytes.find("dvs_start_timestamp 1000\n") == std::string::npos; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        bytes = readBytes(path);
    }
    // flushed by the background thread without close(), with the header rewritten
    auto r = DvsFileReader::createFileReader(path);
    ASSERT_TRUE(r && r->prepareFile());
    std::vector<Event2D> out;
    r->readRange(0, UINT64_MAX, out);
    EXPECT_EQ(out, std::vector<Event2D>(e, e + 2));
    EXPECT_TRUE(w.close());
}

TEST(RawFileWriter, FailuresAreReported) {
    RawFileWriter w;
    EXPECT_FALSE(w.open("/nonexistent-folder/x.raw", DvsFileInfo{}));
    EXPECT_FALSE(w.addEvents(nullptr, nullptr));
}

TEST(Evt3Encoder, UnrepresentableEventsAreDroppedAndCounted) {
    Evt3Encoder enc;
    const Event2D e[] = {{1, 1, 1, 50'000'000}, {1280, 1, 1, 50'000'001}, {1, 720, 0, 50'000'002},
                         {2, 1, 1, 10'000'000}, {3, 1, 0, 50'000'003}};
    enc.addEvents(std::begin(e), std::end(e));
    EXPECT_EQ(enc.droppedEvents(), 3u);
    EXPECT_EQ(enc.eventsEncoded(), 2u);
    auto dec = makeEvt3Decoder(1280, 720);
    std::vector<Event2D> out;
    dec->decodeAppend(enc.data(), enc.size(), out);
    EXPECT_EQ(out, (std::vector<Event2D>{e[0], e[4]}));
}
