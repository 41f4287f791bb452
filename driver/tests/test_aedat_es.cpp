// AEDAT 4 and Event Stream files: files made here byte by byte from the formats' descriptions
// (not by our writer), read with exact counts and sums; the AEDAT 4 writer's round trip; damage
// and declared sizes that must be refused.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include <flatbuffers/flatbuffers.h>
#include <lz4frame.h>
#include <zstd.h>

#include "EsFileBuilder.h"
#include "EventPacket_generated.h"
#include "FileDataTable_generated.h"
#include "IOHeader_generated.h"
#include "AedatFileBuilder.h"
#include "LogCapture.h"
#include "TempDir.h"
#include "TriggerPacket_generated.h"
#include "formats/aedat/Aedat4Source.h"
#include "formats/aedat/Aedat4Writer.h"
#include "formats/eventstream/EsSource.h"
#include "norvale/DvsFileReader.h"
#include "norvale/EventFileWriter.h"
#include "norvale/EventTally.h"
#include "norvale/Logger.h"

using namespace norvale;
using namespace norvale::detail;
namespace fb = norvale::aedat4;

using namespace aedattest;

namespace {

struct Sums {
    uint64_t count = 0, t = 0, x = 0, y = 0, p = 0;
    void add(const Event2D& e) {
        ++count;
        t += e.timestamp;
        x += e.x;
        y += e.y;
        p += e.polarity;
    }
    bool operator==(const Sums& o) const { return count == o.count && t == o.t && x == o.x && y == o.y && p == o.p; }
};


Sums sumsOf(const std::vector<Event2D>& v) {
    Sums s;
    for (const Event2D& e : v) s.add(e);
    return s;
}


// Every block in order; false with the first problem (what was read before stays in the vectors).
bool readAll(EventBlockSource& s, std::vector<Event2D>& events, std::vector<EventTriggerIn>& triggers,
             std::string& problem, size_t* blocks = nullptr) {
    BlockPosition pos = s.first(), next;
    std::vector<Event2D> ev;
    std::vector<EventTriggerIn> tr;
    for (size_t n = 0; n < 100000; ++n) {
        bool end = false;
        if (!s.read(pos, ev, tr, next, end, problem)) return false;
        if (end) {
            if (blocks) *blocks = n;
            return true;
        }
        events.insert(events.end(), ev.begin(), ev.end());
        triggers.insert(triggers.end(), tr.begin(), tr.end());
        pos = next;
    }
    problem = "no end";
    return false;
}





// A recording as a camera's software would write it: events of stream 0 (346 x 260), triggers of
// stream 1, frames of stream 2 (skipped by us), packets compressed as named, a packet table.
struct ForeignFile {
    Bytes bytes;
    std::vector<Event2D> events;
    std::vector<EventTriggerIn> triggers; // the edges we read from it
};

ForeignFile foreignAedat(int32_t compression) {
    ForeignFile f;
    const auto pack = [&](const Bytes& b) { return aedattest::pack(compression, b); };
    const std::string xml = streamsDescription(compression, "DVX_0042");

    Bytes packets;
    struct Def { int64_t at; int32_t stream, size; int64_t n, t0, t1; };
    std::vector<Def> defs;
    std::mt19937 rng(7);
    int64_t t = 1700000000000000; // Unix time in microseconds
    std::vector<std::pair<int32_t, Bytes>> bodies;
    for (size_t n : {1000u, 2500u, 7u}) {
        flatbuffers::FlatBufferBuilder fbb;
        std::vector<fb::Event> evs;
        for (size_t i = 0; i < n; ++i) {
            t += int64_t(rng() % 50);
            const auto x = int16_t(rng() % 346), y = int16_t(rng() % 260);
            const bool on = rng() & 1;
            evs.emplace_back(t, x, y, on);
            Event2D e;
            e.x = uint16_t(x);
            e.y = uint16_t(y);
            e.polarity = on;
            e.timestamp = uint64_t(t);
            f.events.push_back(e);
        }
        fbb.FinishSizePrefixed(fb::CreateEventPacket(fbb, fbb.CreateVectorOfStructs(evs)), "EVTS");
        bodies.emplace_back(0, finished(fbb));
        if (bodies.size() == 1) {
            flatbuffers::FlatBufferBuilder tb;
            std::vector<flatbuffers::Offset<fb::Trigger>> list;
            const fb::TriggerType kinds[] = {fb::TriggerType_EXTERNAL_SIGNAL_RISING_EDGE, fb::TriggerType_TIMESTAMP_RESET,
                                             fb::TriggerType_EXTERNAL_SIGNAL_FALLING_EDGE,
                                             fb::TriggerType_EXTERNAL_GENERATOR_RISING_EDGE, fb::TriggerType_APS_FRAME_START,
                                             fb::TriggerType_EXTERNAL_GENERATOR_FALLING_EDGE};
            for (int i = 0; i < 6; ++i) {
                list.push_back(fb::CreateTrigger(tb, t + i, kinds[i]));
                if (kinds[i] == fb::TriggerType_TIMESTAMP_RESET || kinds[i] == fb::TriggerType_APS_FRAME_START) continue;
                EventTriggerIn e;
                e.timestamp = uint64_t(t + i);
                e.value = (kinds[i] == fb::TriggerType_EXTERNAL_SIGNAL_RISING_EDGE ||
                           kinds[i] == fb::TriggerType_EXTERNAL_GENERATOR_RISING_EDGE);
                e.id = kinds[i] >= fb::TriggerType_EXTERNAL_GENERATOR_RISING_EDGE ? 1 : 0;
                f.triggers.push_back(e);
            }
            tb.FinishSizePrefixed(fb::CreateTriggerPacket(tb, tb.CreateVector(list)), "TRIG");
            bodies.emplace_back(1, finished(tb));
            Bytes frame(3000, 0x5A); // not a table we read: skipped by its stream's type
            std::memcpy(frame.data() + 4, "\0\0\0\0FRME", 8);
            bodies.emplace_back(2, frame);
        }
    }

    const auto build = [&](int64_t tablePos) {
        flatbuffers::FlatBufferBuilder hb;
        hb.ForceDefaults(true);
        hb.FinishSizePrefixed(fb::CreateIOHeader(hb, fb::CompressionType(compression), tablePos, hb.CreateString(xml)),
                              "IOHE");
        Bytes out = {'#', '!', 'A', 'E', 'R', '-', 'D', 'A', 'T', '4', '.', '0', '\r', '\n'};
        const Bytes h = finished(hb);
        out.insert(out.end(), h.begin(), h.end());
        return out;
    };
    Bytes file = build(0);
    for (auto& [stream, body] : bodies) {
        const Bytes stored = pack(body);
        putI32(file, stream);
        putI32(file, int32_t(stored.size()));
        defs.push_back({int64_t(file.size()), stream, int32_t(stored.size()), 0, 0, 0});
        file.insert(file.end(), stored.begin(), stored.end());
    }
    flatbuffers::FlatBufferBuilder tb;
    std::vector<flatbuffers::Offset<fb::FileDataDefinition>> list;
    for (const Def& d : defs) {
        const fb::PacketHeader ph(d.stream, d.size);
        list.push_back(fb::CreateFileDataDefinition(tb, d.at, &ph, d.n, d.t0, d.t1));
    }
    tb.FinishSizePrefixed(fb::CreateFileDataTable(tb, tb.CreateVector(list)), "FTAB");
    const int64_t tablePos = int64_t(file.size());
    const Bytes table = pack(finished(tb));
    file.insert(file.end(), table.begin(), table.end());
    const Bytes header = build(tablePos);
    std::memcpy(file.data(), header.data(), header.size()); // same size: the position is always stored
    f.bytes = file;
    return f;
}

} // namespace

TEST(Aedat4, ForeignFilesOfEachCompressionReadExactly) {
    TempDir dir;
    for (int32_t compression : {0, 1, 3}) {
        SCOPED_TRACE(compression);
        const ForeignFile f = foreignAedat(compression);
        const std::string path = dir.file("rec" + std::to_string(compression) + ".aedat4");
        save(path, f.bytes);
        keepSeed("foreign" + std::to_string(compression) + ".aedat4", f.bytes);
        Aedat4Source s;
        std::string problem;
        ASSERT_TRUE(s.open(path, problem)) << problem;
        EXPECT_EQ(int(s.compression()), compression);
        EXPECT_TRUE(s.usedPacketTable());
        EXPECT_EQ(s.info().width, 346u);
        EXPECT_EQ(s.info().height, 260u);
        EXPECT_EQ(s.info().serialNumber, "DVX_0042");
        std::vector<Event2D> ev;
        std::vector<EventTriggerIn> tr;
        ASSERT_TRUE(readAll(s, ev, tr, problem)) << problem;
        ASSERT_EQ(ev.size(), 3507u);
        EXPECT_TRUE(sumsOf(ev) == sumsOf(f.events));
        EXPECT_EQ(ev, f.events);
        ASSERT_EQ(tr.size(), 4u); // two input edges, two generator edges; reset and frame markers are not edges
        EXPECT_EQ(tr, f.triggers);
    }
}

// LZ4 packets by default, Zstd with compress: both read back exactly.
class Aedat4Written : public testing::TestWithParam<bool> {};

TEST_P(Aedat4Written, RoundTripsEventsAndTriggersThroughItsOwnPacketTable) {
    TempDir dir;
    const std::string path = dir.file("out.aedat4");
    std::vector<Event2D> events;
    std::vector<EventTriggerIn> triggers;
    std::mt19937 rng(3);
    uint64_t t = 5;
    for (size_t i = 0; i < 150000; ++i) { // three packets, the last one partial
        Event2D e;
        t += rng() % 3;
        e.timestamp = t;
        e.x = uint16_t(rng() % 1280);
        e.y = uint16_t(rng() % 720);
        e.polarity = rng() & 1;
        events.push_back(e);
        if (i % 9000 == 0) triggers.push_back(EventTriggerIn{uint16_t(i % 2), t, uint16_t((i / 9000) % 2)});
    }
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL, 0644);
    ASSERT_GE(fd, 0);
    Aedat4Writer w;
    std::string problem;
    EventFileDescription d;
    d.serialNumber = "A<&>\"B";
    d.compress = GetParam();
    ASSERT_TRUE(w.begin(fd, path, d, problem)) << problem;
    // in pieces, each with the edges of its stretch
    size_t done = 0, tdone = 0;
    while (done < events.size()) {
        const size_t n = std::min<size_t>(40000, events.size() - done);
        size_t tn = 0;
        while (tdone + tn < triggers.size() && triggers[tdone + tn].timestamp <= events[done + n - 1].timestamp) ++tn;
        ASSERT_TRUE(w.write(&events[done], &events[done] + n, triggers.data() + tdone, triggers.data() + tdone + tn,
                            problem))
            << problem;
        done += n;
        tdone += tn;
    }
    ASSERT_TRUE(w.end(problem)) << problem;
    ::close(fd);

    Aedat4Source s;
    ASSERT_TRUE(s.open(path, problem)) << problem;
    EXPECT_TRUE(s.usedPacketTable());
    EXPECT_EQ(s.compression(), GetParam() ? aedat::Compression::Zstd : aedat::Compression::Lz4);
    // three event packets, the first two preceded by the edges written so far (none left for the last)
    EXPECT_EQ(s.packetTableEntries(), 3u + 2u);
    EXPECT_EQ(s.info().width, 1280u);
    EXPECT_EQ(s.info().serialNumber, "A&lt;&amp;&gt;&quot;B"); // stored escaped; read as stored
    std::vector<Event2D> ev;
    std::vector<EventTriggerIn> tr;
    ASSERT_TRUE(readAll(s, ev, tr, problem)) << problem;
    EXPECT_EQ(ev, events);
    EXPECT_EQ(tr, triggers);

    // A channel the format cannot hold is refused, not lost.
    const std::string other = dir.file("ch2.aedat4");
    const int fd2 = ::open(other.c_str(), O_RDWR | O_CREAT | O_EXCL, 0644);
    Aedat4Writer w2;
    ASSERT_TRUE(w2.begin(fd2, other, d, problem));
    const EventTriggerIn ch2{1, 10, 2};
    EXPECT_FALSE(w2.write(events.data(), events.data() + 1, &ch2, &ch2 + 1, problem));
    EXPECT_NE(problem.find("channel 2"), std::string::npos) << problem;
    ::close(fd2);
}

INSTANTIATE_TEST_SUITE_P(Aedat4, Aedat4Written, testing::Values(false, true),
                         [](const testing::TestParamInfo<bool>& p) { return p.param ? "Zstd" : "Lz4"; });

TEST(Aedat4, DamageAndDeclaredSizesGiveClearFailures) {
    TempDir dir;
    const ForeignFile f = foreignAedat(3);
    const std::string path = dir.file("d.aedat4");
    std::string problem;

    // Truncated anywhere: a clear failure and, before it, only events of the file, in order.
    for (size_t cut : {size_t(10), size_t(40), f.bytes.size() / 3, f.bytes.size() / 2, f.bytes.size() - 5}) {
        SCOPED_TRACE(cut);
        save(path, Bytes(f.bytes.begin(), f.bytes.begin() + ptrdiff_t(cut)));
        Aedat4Source s;
        problem.clear();
        if (!s.open(path, problem)) {
            EXPECT_FALSE(problem.empty());
            continue;
        }
        std::vector<Event2D> ev;
        std::vector<EventTriggerIn> tr;
        const bool ok = readAll(s, ev, tr, problem);
        ASSERT_LE(ev.size(), f.events.size());
        EXPECT_TRUE(std::equal(ev.begin(), ev.end(), f.events.begin()));
        if (cut < f.bytes.size() - 5) {
            EXPECT_FALSE(ok); // cut inside the packets
        }
        if (!ok) {
            EXPECT_NE(problem.find("byte"), std::string::npos) << problem;
        }
    }

    // Bit flips: never a crash; a read that succeeds returns no more events than there are.
    std::mt19937 rng(11);
    for (int i = 0; i < 300; ++i) {
        Bytes b = f.bytes;
        b[rng() % b.size()] ^= uint8_t(1u << (rng() % 8));
        save(path, b);
        Aedat4Source s;
        if (!s.open(path, problem)) continue;
        std::vector<Event2D> ev;
        std::vector<EventTriggerIn> tr;
        if (readAll(s, ev, tr, problem)) {
            EXPECT_LE(ev.size(), f.events.size());
        }
    }

    // A packet declaring more bytes than the file has.
    {
        Bytes b = f.bytes;
        Aedat4Source probe;
        save(path, b);
        ASSERT_TRUE(probe.open(path, problem));
        const size_t first = size_t(probe.first().offset);
        const int32_t huge = 0x7FFFFFF0;
        std::memcpy(&b[first + 4], &huge, 4);
        save(path, b);
        Aedat4Source s;
        ASSERT_TRUE(s.open(path, problem)) << problem;
        std::vector<Event2D> ev;
        std::vector<EventTriggerIn> tr;
        EXPECT_FALSE(readAll(s, ev, tr, problem));
        EXPECT_NE(problem.find("declares 2147483632 bytes"), std::string::npos) << problem;
        EXPECT_TRUE(ev.empty());
    }

    // A Zstd frame declaring 1 GiB: refused by its declared size.
    {
        Bytes zeros(1 << 20, 0);
        Bytes bomb = zstdFrame(zeros);
        size_t at = 0;
        for (size_t i = 4; i + 4 <= 18 && !at; ++i)
            if (bomb[i] == 0x00 && bomb[i + 1] == 0x00 && bomb[i + 2] == 0x10 && bomb[i + 3] == 0x00) at = i;
        ASSERT_NE(at, 0u) << "content size field not found";
        bomb[at + 2] = 0x00;
        bomb[at + 3] = 0x40; // 1 << 30
        ASSERT_EQ(ZSTD_getFrameContentSize(bomb.data(), bomb.size()), 1ull << 30);
        Aedat4Source probe;
        save(path, f.bytes);
        ASSERT_TRUE(probe.open(path, problem));
        Bytes file(f.bytes.begin(), f.bytes.begin() + ptrdiff_t(probe.first().offset));
        // the header names a table past the end: the packets run to the end of the file
        putI32(file, 0);
        putI32(file, int32_t(bomb.size()));
        file.insert(file.end(), bomb.begin(), bomb.end());
        save(path, file);
        Aedat4Source s;
        ASSERT_TRUE(s.open(path, problem)) << problem;
        std::vector<Event2D> ev;
        std::vector<EventTriggerIn> tr;
        EXPECT_FALSE(readAll(s, ev, tr, problem));
        EXPECT_NE(problem.find("declares 1073741824 bytes"), std::string::npos) << problem;
    }

    // A header declaring more than the file holds, and a file of another kind.
    {
        Bytes b(f.bytes.begin(), f.bytes.begin() + 14);
        putI32(b, 0x10000000);
        b.resize(200, 0);
        save(path, b);
        Aedat4Source s;
        EXPECT_FALSE(s.open(path, problem));
        EXPECT_NE(problem.find("header declares"), std::string::npos) << problem;
        save(path, Bytes{'#', '!', 'A', 'E', 'R', '-', 'D', 'A', 'T', '3', '.', '1', '\r', '\n', 0, 0, 0, 0});
        Aedat4Source s2;
        EXPECT_FALSE(s2.open(path, problem));
        EXPECT_NE(problem.find("not an AEDAT 4 file"), std::string::npos) << problem;
    }
}

TEST(EventStream, DvsFileReadsExactlyAcrossBlocksWithOverflowAndResetBytes) {
    TempDir dir;
    std::vector<Event2D> events;
    std::mt19937 rng(5);
    uint64_t t = 0;
    for (size_t i = 0; i < 300000; ++i) { // 1.5 MB: more than one block
        Event2D e;
        t += (i % 5000 == 0) ? 100000 + rng() % 1000 : rng() % 200; // long gaps: runs of overflow bytes
        e.timestamp = t;
        e.x = uint16_t(rng() % 640);
        e.y = uint16_t(rng() % 480);
        e.polarity = rng() & 1;
        events.push_back(e);
    }
    events.push_back(Event2D{700, 500, 1, t + 1}); // outside the stated sensor: kept
    const std::string path = dir.file("dvs.es");
    const Bytes bytes = esFile(events, 640, 480, true);
    save(path, bytes);
    keepSeed("dvs.es", bytes);
    EsSource s;
    std::string problem;
    ASSERT_TRUE(s.open(path, problem)) << problem;
    EXPECT_EQ(s.info().width, 640u);
    EXPECT_EQ(s.info().height, 480u);
    std::vector<Event2D> ev;
    std::vector<EventTriggerIn> tr;
    size_t blocks = 0;
    ASSERT_TRUE(readAll(s, ev, tr, problem, &blocks)) << problem;
    EXPECT_GE(blocks, 2u);
    EXPECT_TRUE(sumsOf(ev) == sumsOf(events));
    EXPECT_EQ(ev, events);
    EXPECT_TRUE(tr.empty());

    // Cut inside the last event: every complete event, then a clear failure.
    save(path, Bytes(bytes.begin(), bytes.end() - 2));
    EsSource cut;
    ASSERT_TRUE(cut.open(path, problem));
    ev.clear();
    EXPECT_FALSE(readAll(cut, ev, tr, problem));
    EXPECT_NE(problem.find("ends inside an event"), std::string::npos) << problem;
    EXPECT_EQ(ev, std::vector<Event2D>(events.begin(), events.end() - 1));
}

TEST(EventStream, OtherTypesAndVersionsAreRefusedByName) {
    TempDir dir;
    const std::string path = dir.file("x.es");
    std::string problem;
    Bytes b = esFile({}, 304, 240, false);
    b[15] = 2;
    save(path, b);
    EsSource atis;
    EXPECT_FALSE(atis.open(path, problem));
    EXPECT_NE(problem.find("ATIS events; only DVS events are read"), std::string::npos) << problem;
    b[15] = 1;
    b[12] = 1;
    save(path, b);
    EsSource v1;
    EXPECT_FALSE(v1.open(path, problem));
    EXPECT_NE(problem.find("version 1.0.0"), std::string::npos) << problem;
    save(path, Bytes(b.begin(), b.begin() + 17));
    EsSource shortHeader;
    EXPECT_FALSE(shortHeader.open(path, problem));
    EXPECT_FALSE(problem.empty());
}

TEST(EventFiles, AedatAndEventStreamOpenThroughTheFileReaderAndConvertExactly) {
    TempDir dir;
    const ForeignFile f = foreignAedat(1);
    const std::string aedat = dir.file("cam.aedat4");
    save(aedat, f.bytes);
    auto reader = DvsFileReader::createFileReader(aedat);
    ASSERT_TRUE(reader);
    ASSERT_TRUE(reader->prepareFile());
    EXPECT_EQ(reader->fileFormat(), EventFileFormat::Aedat4);
    EXPECT_EQ(reader->width(), 346u);
    EXPECT_EQ(reader->height(), 260u);
    EXPECT_EQ(reader->getStats().eventCount, f.events.size());
    std::vector<Event2D> ev;
    std::vector<EventTriggerIn> tr;
    ASSERT_TRUE(reader->readRange(0, UINT64_MAX, ev, &tr));
    EXPECT_EQ(ev, f.events);
    EXPECT_EQ(reader->triggers(), f.triggers);
    // a stretch in the middle: exactly the events of its times
    const uint64_t from = f.events[1200].timestamp, to = f.events[3000].timestamp;
    ASSERT_TRUE(reader->readRange(from, to, ev));
    std::vector<Event2D> expected;
    for (const Event2D& e : f.events)
        if (e.timestamp >= from && e.timestamp < to) expected.push_back(e);
    EXPECT_EQ(ev, expected);

    // Event Stream, its events beyond the sensor it names kept, into AEDAT 4 and back.
    std::vector<Event2D> events;
    for (uint32_t i = 0; i < 5000; ++i)
        events.push_back(Event2D{uint16_t(i % 640), uint16_t(i % 480), uint8_t(i & 1), 10 + uint64_t(i) * 37});
    events.push_back(Event2D{1000, 700, 1, 10 + 5000 * 37});
    const std::string es = dir.file("dvs.es");
    save(es, esFile(events, 640, 480, false));
    auto esReader = DvsFileReader::createFileReader(es);
    ASSERT_TRUE(esReader);
    ASSERT_TRUE(esReader->prepareFile());
    EXPECT_EQ(esReader->fileFormat(), EventFileFormat::EventStream);
    EXPECT_EQ(esReader->getStats().eventCount, events.size());
    EXPECT_GE(esReader->width(), 1001u);
    const std::string out = dir.file("from_es.aedat4");
    ConvertReport report;
    ASSERT_TRUE(convertEventFile(*esReader, 0, UINT64_MAX, out, EventFileFormat::Aedat4, false, nullptr, report))
        << report.problem;
    EXPECT_EQ(report.events, events.size());
    auto back = DvsFileReader::createFileReader(out);
    ASSERT_TRUE(back);
    ASSERT_TRUE(back->prepareFile());
    ASSERT_TRUE(back->readRange(0, UINT64_MAX, ev));
    EXPECT_EQ(ev, events);
}

// Damage after the first packet or event: the file opens with what precedes it, every figure
// from that part, and one warning naming the byte; damage before any event is still refused.
TEST(EventFiles, DamagedAedatAndEventStreamKeepWhatPrecedesTheDamage) {
    TempDir dir;
    const ForeignFile f = foreignAedat(3);
    const std::string path = dir.file("d.aedat4");
    save(path, f.bytes);
    Aedat4Source probe;
    std::string problem;
    ASSERT_TRUE(probe.open(path, problem)) << problem;
    // The packets in file order: 1000 events, triggers, a frame, 2500 events, 7 events.
    std::vector<size_t> packets;
    for (size_t at = size_t(probe.first().offset); packets.size() < 5; at += 8 + size_t(aedat::readI32(&f.bytes[at + 4])))
        packets.push_back(at);
    const size_t second = packets[3]; // the packet of 2500 events
    const std::vector<Event2D> first1000(f.events.begin(), f.events.begin() + 1000);
    uint64_t last1000 = 0;
    for (const Event2D& e : first1000) last1000 = std::max(last1000, e.timestamp);

    const auto expectKept = [&](const std::string& file, const std::vector<Event2D>& events, uint64_t last,
                                size_t triggers, const std::string& where) {
        SCOPED_TRACE(file);
        LogCapture log;
        auto r = DvsFileReader::createFileReader(file);
        ASSERT_TRUE(r);
        ASSERT_TRUE(r->prepareFile());
        std::vector<Event2D> ev;
        std::vector<EventTriggerIn> tr;
        ASSERT_TRUE(r->readRange(0, UINT64_MAX, ev, &tr));
        EXPECT_EQ(ev, events);
        EXPECT_EQ(r->getStats().eventCount, events.size());
        EXPECT_EQ(tr.size(), triggers);
        EXPECT_EQ(r->triggers().size(), triggers);
        uint64_t t = 0;
        ASSERT_TRUE(r->getEndTimestamp(t));
        EXPECT_EQ(t, last);
        EXPECT_NE(log.text().find("warning|" + file + " is damaged: " + where), std::string::npos) << log.text();
        EXPECT_EQ(log.text().find("error|"), std::string::npos) << log.text();
    };

    // Cut inside the second event packet (the packet table lost with it).
    save(path, Bytes(f.bytes.begin(), f.bytes.begin() + ptrdiff_t(second + 100)));
    expectKept(path, first1000, last1000, f.triggers.size(),
               "the packet at byte " + std::to_string(second) + " declares " +
                   std::to_string(aedat::readI32(&f.bytes[second + 4])) + " bytes, 92 remain");
    // A size past the file in the whole file's second event packet: damage, never an allocation.
    Bytes lying = f.bytes;
    const int32_t huge = 0x7FFFFFF0;
    std::memcpy(&lying[second + 4], &huge, 4);
    save(path, lying);
    expectKept(path, first1000, last1000, f.triggers.size(),
               "the packet at byte " + std::to_string(second) + " declares 2147483632 bytes");
    // An event of the second event packet with a negative time (the file stored uncompressed, so
    // the time is found in place): that packet is damage, what precedes it is kept.
    {
        const ForeignFile plain = foreignAedat(0);
        const std::string plainPath = dir.file("negative.aedat4");
        save(plainPath, plain.bytes);
        Aedat4Source s;
        ASSERT_TRUE(s.open(plainPath, problem)) << problem;
        size_t at = size_t(s.first().offset);
        for (int k = 0; k < 3; ++k) at += 8 + size_t(aedat::readI32(&plain.bytes[at + 4]));
        const size_t end = at + 8 + size_t(aedat::readI32(&plain.bytes[at + 4]));
        const int64_t wanted = int64_t(plain.events[1000 + 1234].timestamp), negative = -1;
        Bytes damaged = plain.bytes;
        const auto hit = std::search(damaged.begin() + ptrdiff_t(at), damaged.begin() + ptrdiff_t(end),
                                     reinterpret_cast<const uint8_t*>(&wanted),
                                     reinterpret_cast<const uint8_t*>(&wanted) + 8);
        ASSERT_NE(hit, damaged.begin() + ptrdiff_t(end));
        std::memcpy(&*hit, &negative, 8);
        save(plainPath, damaged);
        const std::vector<Event2D> before(plain.events.begin(), plain.events.begin() + 1000);
        uint64_t last = 0;
        for (const Event2D& e : before) last = std::max(last, e.timestamp);
        expectKept(plainPath, before, last, plain.triggers.size(),
                   "the event packet at byte " + std::to_string(at) + " holds an event with a negative time or pixel");
    }
    // The same in the first packet: nothing precedes it, refused.
    std::memcpy(&lying[packets[0] + 4], &huge, 4);
    save(path, lying);
    auto refused = DvsFileReader::createFileReader(path);
    ASSERT_TRUE(refused);
    Logger::clearThreadError();
    EXPECT_FALSE(refused->prepareFile());
    EXPECT_NE(Logger::threadError().find("declares 2147483632 bytes"), std::string::npos) << Logger::threadError();

    // Event Stream cut inside its last event, in a file of several blocks: every whole event.
    std::vector<Event2D> events;
    for (uint32_t i = 0; i < 300000; ++i)
        events.push_back(Event2D{uint16_t(i % 640), uint16_t(i % 480), uint8_t(i & 1), 10 + uint64_t(i) * 3});
    const Bytes es = esFile(events, 640, 480, false);
    const std::string esPath = dir.file("cut.es");
    save(esPath, Bytes(es.begin(), es.end() - 2));
    const std::vector<Event2D> whole(events.begin(), events.end() - 1);
    expectKept(esPath, whole, whole.back().timestamp, 0,
               "the file ends inside an event at byte " + std::to_string(es.size() - 5) + " (3 of its 5 bytes)");
    // ... and inside its first: refused.
    save(esPath, Bytes(es.begin(), es.begin() + 20 + 3));
    auto esRefused = DvsFileReader::createFileReader(esPath);
    ASSERT_TRUE(esRefused);
    Logger::clearThreadError();
    EXPECT_FALSE(esRefused->prepareFile());
    EXPECT_NE(Logger::threadError().find("ends inside an event at byte 20"), std::string::npos)
        << Logger::threadError();
}

// Ranges of a file in time order are shared by two threads: two partial blocks alone, runs of
// whole blocks between partial ones, one range after another as playback reads them (the last block
// kept for the next), and runs with trigger edges in them (read one block after another instead).
TEST(Aedat4, RangesOfAnOrderedFileOnTwoThreadsAreTheFilesEvents) {
    TempDir dir;
    const std::string path = dir.file("ordered.aedat4");
    std::vector<Event2D> events(1'500'000);
    std::mt19937 rng(5);
    uint64_t t = 1000;
    for (Event2D& e : events) {
        t += rng() % 3;
        e.timestamp = t;
        e.x = uint16_t(rng() % 1280);
        e.y = uint16_t(rng() % 720);
        e.polarity = uint8_t(rng() & 1);
    }
    const uint64_t lo = events.front().timestamp, hi = events.back().timestamp;
    std::vector<EventTriggerIn> edges;
    for (uint64_t at = lo + (hi - lo) * 2 / 3; edges.size() < 40; at += 5'000)
        edges.push_back(EventTriggerIn{uint16_t(edges.size() % 2), at, 0});
    {
        const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL, 0644);
        ASSERT_GE(fd, 0);
        Aedat4Writer w;
        std::string problem;
        ASSERT_TRUE(w.begin(fd, path, EventFileDescription{}, problem)) << problem;
        // Edges go out with the events of their time, so they sit in the blocks of that stretch.
        const auto split = std::lower_bound(events.begin(), events.end(), edges.front().timestamp,
                                            [](const Event2D& e, uint64_t at) { return e.timestamp < at; });
        ASSERT_TRUE(w.write(events.data(), &*split, nullptr, nullptr, problem)) << problem;
        ASSERT_TRUE(w.write(&*split, events.data() + events.size(), edges.data(), edges.data() + edges.size(), problem))
            << problem;
        ASSERT_TRUE(w.end(problem)) << problem;
        ::close(fd);
    }
    auto r = DvsFileReader::createFileReader(path);
    ASSERT_TRUE(r);
    ASSERT_TRUE(r->prepareFile()) << Logger::threadError();
    const auto window = [&](uint64_t from, uint64_t to) {
        std::vector<Event2D> in;
        for (const Event2D& e : events)
            if (e.timestamp >= from && e.timestamp < to) in.push_back(e);
        return in;
    };
    std::vector<Event2D> got;
    for (uint64_t len : {uint64_t(40'000), uint64_t(300'000)}) // within about a packet; several
        for (uint64_t from = lo; from < hi; from += 97'001)
            for (int again = 0; again < 2; ++again) { // again: its end blocks decoded before
                ASSERT_TRUE(r->readRange(from, from + len, got)) << Logger::threadError();
                ASSERT_TRUE(got == window(from, from + len)) << from << " +" << len << " " << again;
            }
    ASSERT_TRUE(r->seekTime(lo + 12'345));
    std::vector<Event2D> played;
    for (uint64_t at = lo + 12'345; at <= hi; at += 100'000) {
        auto step = r->readNextEvents(100'000);
        ASSERT_TRUE(step) << Logger::threadError();
        played.insert(played.end(), step->begin(), step->end());
    }
    EXPECT_TRUE(played == window(lo + 12'345, hi + 1));
    std::vector<EventTriggerIn> trig;
    ASSERT_TRUE(r->readRange(edges[3].timestamp, edges[30].timestamp, got, &trig));
    EXPECT_TRUE(got == window(edges[3].timestamp, edges[30].timestamp));
    EXPECT_TRUE(trig == std::vector<EventTriggerIn>(edges.begin() + 3, edges.begin() + 30));
}

// A file of many blocks is indexed and read whole on several threads where the machine has them:
// blocks start at packets found from their headers, a stretch of packets holding many events in
// few bytes ends its blocks early (the index reads on there until it meets a listed start again),
// and damage far into the file keeps every event before it.
TEST(Aedat4, ManyBlockFileReadsOnThreadsAsOnOne) {
    TempDir dir;
    const std::string path = dir.file("big.aedat4");
    std::vector<Event2D> events;
    std::mt19937 rng(11);
    uint64_t t = 1000;
    for (size_t i = 0; i < 2'400'000; ++i) {
        Event2D e;
        const bool dense = i >= 600'000 && i < 1'800'000; // one event over and over: almost no bytes
        t += dense ? 0 : rng() % 3;
        e.timestamp = i % 101 == 100 && !dense ? t - 500 : t; // steps back now and then
        e.x = uint16_t(dense ? 5 : rng() % 1280);
        e.y = uint16_t(dense ? 7 : rng() % 720);
        e.polarity = dense ? 1 : rng() & 1;
        events.push_back(e);
    }
    {
        const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL, 0644);
        ASSERT_GE(fd, 0);
        Aedat4Writer w;
        std::string problem;
        ASSERT_TRUE(w.begin(fd, path, EventFileDescription{}, problem)) << problem;
        ASSERT_TRUE(w.write(events.data(), events.data() + events.size(), nullptr, nullptr, problem)) << problem;
        ASSERT_TRUE(w.end(problem)) << problem;
        ::close(fd);
    }
    auto r = DvsFileReader::createFileReader(path);
    ASSERT_TRUE(r);
    ASSERT_TRUE(r->prepareFile()) << Logger::threadError();
    EXPECT_EQ(r->getStats().eventCount, events.size());
    EXPECT_EQ(r->getStats().onCount, sumsOf(events).p);
    RateCounter one;
    for (const Event2D& e : events) one.add(e.timestamp, 1);
    EXPECT_EQ(r->getRateProfile().startTimestamp, one.origin());
    EXPECT_TRUE(r->getRateProfile().counts == one.counts());
    for (size_t threads : {1, 2, 3}) {
        SCOPED_TRACE(threads);
        std::vector<Event2D> all(events.size());
        size_t count = 0;
        bool ordered = true;
        ASSERT_TRUE(r->readAllEvents(all.data(), all.size(), count, threads, ordered)) << Logger::threadError();
        EXPECT_FALSE(ordered);
        EXPECT_EQ(count, events.size());
        EXPECT_TRUE(all == events);
    }

    std::ifstream in(path, std::ios::binary);
    Bytes bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    {
        // A damaged packet table is said once, not by every thread's source of the file.
        Bytes table = bytes;
        for (size_t i = table.size() - 24; i < table.size(); ++i) table[i] ^= 0x5A;
        const std::string tablePath = dir.file("table.aedat4");
        save(tablePath, table);
        LogCapture log;
        auto tr = DvsFileReader::createFileReader(tablePath);
        ASSERT_TRUE(tr);
        ASSERT_TRUE(tr->prepareFile());
        std::vector<Event2D> all(events.size());
        size_t count = 0;
        bool ordered = true;
        ASSERT_TRUE(tr->readAllEvents(all.data(), all.size(), count, 2, ordered));
        EXPECT_TRUE(all == events);
        const std::string text = log.text();
        const size_t first = text.find("the packet table is damaged");
        EXPECT_NE(first, std::string::npos) << text;
        EXPECT_EQ(text.find("the packet table is damaged", first + 1), std::string::npos) << text;
    }

    // A packet late in the file declares a size past its end: the packets before it are kept.
    Aedat4Source probe;
    std::string problem;
    ASSERT_TRUE(probe.open(path, problem)) << problem;
    size_t at = size_t(probe.first().offset);
    for (int packet = 0; packet < 30; ++packet) at += 8 + size_t(aedat::readI32(&bytes[at + 4]));
    ASSERT_LT(at, bytes.size() - 100);
    const int32_t huge = 0x7FFFFFF0;
    std::memcpy(&bytes[at + 4], &huge, 4);
    save(path, bytes);
    LogCapture log;
    auto d = DvsFileReader::createFileReader(path);
    ASSERT_TRUE(d);
    ASSERT_TRUE(d->prepareFile());
    const size_t kept = 30 * Aedat4Writer::kPacketEvents;
    std::vector<Event2D> all(kept);
    size_t count = 0;
    bool ordered = true;
    ASSERT_TRUE(d->readAllEvents(all.data(), all.size(), count, 2, ordered));
    EXPECT_TRUE(all == std::vector<Event2D>(events.begin(), events.begin() + ptrdiff_t(kept)));
    EXPECT_NE(log.text().find("is damaged: the packet at byte " + std::to_string(at) + " declares 2147483632 bytes"),
              std::string::npos)
        << log.text();
}

// A packet of more events than a block holds is read in parts, the packets around it whole: in
// file order, on one thread and on several.
TEST(Aedat4, PacketLargerThanABlockIsReadInParts) {
    std::vector<std::vector<Event2D>> packets;
    std::mt19937 rng(19);
    int64_t t = 100;
    for (size_t n : {size_t(1000), EventBlockSource::kMaxBlockEvents + 500'000, size_t(500)}) {
        packets.emplace_back();
        for (size_t i = 0; i < n; ++i) {
            t += int64_t(rng() % 2);
            packets.back().push_back(
                Event2D{uint16_t(rng() % 346), uint16_t(rng() % 260), uint8_t(rng() & 1), uint64_t(t)});
        }
    }
    const std::string xml = "<dv version=\"2.0\"><node name=\"outInfo\" path=\"/outInfo/\"><node name=\"0\" "
                            "path=\"/outInfo/0/\"><attr key=\"compression\" type=\"string\">NONE</attr><attr "
                            "key=\"typeIdentifier\" type=\"string\">EVTS</attr><node name=\"info\" "
                            "path=\"/outInfo/0/info/\"><attr key=\"sizeX\" type=\"int\">346</attr><attr "
                            "key=\"sizeY\" type=\"int\">260</attr></node></node></node></dv>";
    flatbuffers::FlatBufferBuilder hb;
    hb.ForceDefaults(true);
    hb.FinishSizePrefixed(fb::CreateIOHeader(hb, fb::CompressionType(0), -1, hb.CreateString(xml)), "IOHE");
    Bytes file = {'#', '!', 'A', 'E', 'R', '-', 'D', 'A', 'T', '4', '.', '0', '\r', '\n'};
    const Bytes header = finished(hb);
    file.insert(file.end(), header.begin(), header.end());
    std::vector<Event2D> all;
    for (const auto& p : packets) {
        flatbuffers::FlatBufferBuilder fbb;
        std::vector<fb::Event> evs;
        for (const Event2D& e : p) evs.emplace_back(int64_t(e.timestamp), int16_t(e.x), int16_t(e.y), e.polarity != 0);
        fbb.FinishSizePrefixed(fb::CreateEventPacket(fbb, fbb.CreateVectorOfStructs(evs)), "EVTS");
        const Bytes body = finished(fbb);
        putI32(file, 0);
        putI32(file, int32_t(body.size()));
        file.insert(file.end(), body.begin(), body.end());
        all.insert(all.end(), p.begin(), p.end());
    }
    TempDir dir;
    const std::string path = dir.file("big_packet.aedat4");
    save(path, file);
    auto r = DvsFileReader::createFileReader(path);
    ASSERT_TRUE(r);
    ASSERT_TRUE(r->prepareFile()) << Logger::threadError();
    EXPECT_EQ(r->getStats().eventCount, all.size());
    std::vector<Event2D> got;
    ASSERT_TRUE(r->readRange(0, UINT64_MAX, got));
    EXPECT_TRUE(got == all);
    for (size_t threads : {1, 2}) {
        std::vector<Event2D> whole(all.size());
        size_t count = 0;
        bool ordered = false;
        ASSERT_TRUE(r->readAllEvents(whole.data(), whole.size(), count, threads, ordered));
        EXPECT_TRUE(ordered);
        EXPECT_TRUE(whole == all) << threads;
    }
}
