// AEDAT 4 frames as the APS stream: files made here byte by byte from the format's description
// (frame tables of gray, BGR and BGRA pixels, a region smaller than the sensor, events beside them)
// read through ApsFileReader with exact counts, times and pixel sums; damaged frames and declared
// sizes that must be refused.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include <flatbuffers/flatbuffers.h>
#include <lz4frame.h>
#include <zstd.h>

#include "EventPacket_generated.h"
#include "FramePacket_generated.h"
#include "IOHeader_generated.h"
#include "AedatFileBuilder.h"
#include "TempDir.h"
#include "formats/aedat/Aedat4Frames.h"
#include "norvale/ApsFileReader.h"
#include "norvale/DvsFileReader.h"

using namespace norvale;
using namespace norvale::detail;
namespace fb = norvale::aedat4;

using namespace aedattest;

namespace {






struct FrameSpec {
    int64_t t;
    fb::FrameFormat format;
    int16_t x, y, w, h;
    Bytes pixels;
};

// What our reader must make of a frame on the 346 x 260 canvas: per channel sums (B, G, R).
struct Expected {
    uint64_t sum[3] = {0, 0, 0};
};

Expected expectedOf(const FrameSpec& f) {
    Expected e;
    const int ch = f.format == fb::FrameFormat_GRAY ? 1 : f.format == fb::FrameFormat_BGR ? 3 : 4;
    for (size_t i = 0; i + size_t(ch) <= f.pixels.size(); i += size_t(ch))
        for (int c = 0; c < 3; ++c) e.sum[c] += f.pixels[i + size_t(ch == 1 ? 0 : c)];
    return e;
}

Bytes frameTable(const FrameSpec& f) {
    flatbuffers::FlatBufferBuilder fbb;
    const auto pixels = fbb.CreateVector(f.pixels);
    // start/end of frame and exposure around the central time, as a camera stamps them
    fbb.FinishSizePrefixed(fb::CreateFrame(fbb, f.t, f.t - 900, f.t + 900, f.t - 500, f.t + 500, f.format, f.w, f.h,
                                           f.x, f.y, pixels),
                           "FRME");
    return finished(fbb);
}

// The same frame with its table 8 KiB into the buffer (an unreferenced string laid out before it),
// as another writer may lay a frame out.
Bytes frameTableFarFromStart(const FrameSpec& f) {
    flatbuffers::FlatBufferBuilder fbb;
    const auto pixels = fbb.CreateVector(f.pixels);
    const auto table = fb::CreateFrame(fbb, f.t, f.t - 900, f.t + 900, f.t - 500, f.t + 500, f.format, f.w, f.h, f.x,
                                       f.y, pixels);
    fbb.CreateString(std::string(8192, 'x'));
    fbb.FinishSizePrefixed(table, "FRME");
    return finished(fbb);
}

FrameSpec makeFrame(int64_t t, fb::FrameFormat format, int16_t x, int16_t y, int16_t w, int16_t h) {
    FrameSpec f{t, format, x, y, w, h, {}};
    const int ch = format == fb::FrameFormat_GRAY ? 1 : format == fb::FrameFormat_BGR ? 3 : 4;
    for (int row = 0; row < h; ++row)
        for (int col = 0; col < w; ++col)
            for (int c = 0; c < ch; ++c) f.pixels.push_back(uint8_t((col * (c + 1) + row * 7 + c * 50) & 0xFF));
    return f;
}

struct Recording {
    Bytes bytes;
    std::vector<FrameSpec> frames; // in file order
    std::vector<size_t> framePackets; // their packets' offsets
    std::vector<Event2D> events;
};

// The description names events (0), triggers (1) and frames (2) of a 346 x 260 camera; packets
// alternate events and frames. storedBodies replaces a frame packet's stored body (damage).
Recording recording(int32_t compression, std::vector<FrameSpec> frames, const std::vector<Bytes>& storedBodies = {},
                    const std::string& frameSize = "<attr key=\"sizeX\" type=\"int\">346</attr>"
                                                   "<attr key=\"sizeY\" type=\"int\">260</attr>") {
    Recording r;
    r.frames = frames;
    const std::string xml = streamsDescription(compression, "DAVIS_7", frameSize);
    flatbuffers::FlatBufferBuilder hb;
    hb.ForceDefaults(true);
    hb.FinishSizePrefixed(fb::CreateIOHeader(hb, fb::CompressionType(compression), -1, hb.CreateString(xml)), "IOHE");
    r.bytes = {'#', '!', 'A', 'E', 'R', '-', 'D', 'A', 'T', '4', '.', '0', '\r', '\n'};
    const Bytes h = finished(hb);
    r.bytes.insert(r.bytes.end(), h.begin(), h.end());
    const auto packet = [&](int32_t stream, const Bytes& stored) {
        putI32(r.bytes, stream);
        putI32(r.bytes, int32_t(stored.size()));
        r.bytes.insert(r.bytes.end(), stored.begin(), stored.end());
    };
    std::mt19937 rng(11);
    int64_t t = 1700000000000000 - 3000;
    for (size_t i = 0; i <= frames.size(); ++i) {
        flatbuffers::FlatBufferBuilder eb;
        std::vector<fb::Event> evs;
        const int64_t until = i < frames.size() ? frames[i].t + 10 : t + 4000;
        while (t < until) {
            t += 1 + int64_t(rng() % 40);
            const auto x = int16_t(rng() % 346), y = int16_t(rng() % 260);
            const bool on = rng() & 1;
            evs.emplace_back(t, x, y, on);
            r.events.push_back(Event2D{uint16_t(x), uint16_t(y), uint8_t(on), uint64_t(t)});
        }
        eb.FinishSizePrefixed(fb::CreateEventPacket(eb, eb.CreateVectorOfStructs(evs)), "EVTS");
        packet(0, pack(compression, finished(eb)));
        if (i < frames.size()) r.framePackets.push_back(r.bytes.size());
        if (i < frames.size())
            packet(2, i < storedBodies.size() && !storedBodies[i].empty() ? storedBodies[i]
                                                                           : pack(compression, frameTable(frames[i])));
    }
    return r;
}

std::vector<FrameSpec> threeFrames() {
    const int64_t t0 = 1700000000000000;
    return {makeFrame(t0, fb::FrameFormat_GRAY, 0, 0, 346, 260),
            makeFrame(t0 + 33333, fb::FrameFormat_BGR, 0, 0, 346, 260),
            makeFrame(t0 + 66667, fb::FrameFormat_BGRA, 10, 20, 100, 50)};
}

Expected sumsOf(const ApsFrame& f) {
    Expected e;
    for (uint64_t i = 0; i < f.getDataSize(); i += 3)
        for (int c = 0; c < 3; ++c) e.sum[c] += f.data()[i + uint64_t(c)];
    return e;
}

} // namespace

TEST(Aedat4Frames, GrayBgrAndBgraFramesPlayAsTheApsStreamAlignedWithTheEvents) {
    TempDir dir;
    for (int32_t compression : {1, 3}) {
        SCOPED_TRACE(compression);
        const Recording r = recording(compression, threeFrames());
        const std::string path = dir.file("davis" + std::to_string(compression) + ".aedat4");
        save(path, r.bytes);
        keepSeed("frames" + std::to_string(compression) + ".aedat4", r.bytes);

        EXPECT_TRUE(ApsFileReader::holdsFrames(path));
        {
            Aedat4Frames direct; // the index reads each frame's table from the start of its packet
            std::string problem;
            ASSERT_TRUE(direct.open(path, problem)) << problem;
            EXPECT_EQ(direct.wholeReads(), 0u);
        }
        auto aps = ApsFileReader::createFileReader(path);
        ASSERT_TRUE(aps);
        EXPECT_TRUE(aps->isOpened());
        EXPECT_EQ(aps->getWidth(), 346);
        EXPECT_EQ(aps->getHeight(), 260);
        ASSERT_EQ(aps->getFrameCount(), 3u);
        const uint64_t start = uint64_t(r.frames[0].t);
        EXPECT_EQ(aps->getStartTimestamp(), start);
        std::vector<ApsFrameIndexEntry> index;
        aps->getFrameIndex(index);
        ASSERT_EQ(index.size(), 3u);
        for (size_t i = 0; i < 3; ++i) {
            EXPECT_EQ(index[i].timestamp, uint64_t(r.frames[i].t) - start); // the central time, not the exposure's ends
            EXPECT_EQ(index[i].pts, r.frames[i].t);
            EXPECT_EQ(index[i].keyFrame, i);
        }

        // In order: sizes, times and pixel sums; the region frame lands at its place, black around it.
        ApsFrame f;
        for (size_t i = 0; i < 3; ++i) {
            ASSERT_TRUE(aps->readNextFrame(f)) << i;
            EXPECT_EQ(f.width(), 346);
            EXPECT_EQ(f.height(), 260);
            EXPECT_EQ(f.timestamp, index[i].timestamp);
            const Expected want = expectedOf(r.frames[i]), got = sumsOf(f);
            for (int c = 0; c < 3; ++c) EXPECT_EQ(got.sum[c], want.sum[c]) << "frame " << i << " channel " << c;
        }
        EXPECT_FALSE(aps->readNextFrame(f));
        const uint8_t* px = f.data();
        const auto at = [&](int x, int y, int c) { return px[(size_t(y) * 346 + size_t(x)) * 3 + size_t(c)]; };
        const Bytes& bgra = r.frames[2].pixels; // pixel (0, 0) of the region, then (99, 49)
        EXPECT_EQ(at(10, 20, 0), bgra[0]);
        EXPECT_EQ(at(10, 20, 2), bgra[2]);
        EXPECT_EQ(at(109, 69, 1), bgra[(49 * 100 + 99) * 4 + 1]);
        EXPECT_EQ(at(9, 20, 0) + at(110, 69, 1) + at(50, 70, 2), 0);

        // By time and by index, back and forth, writing into the same buffer.
        const uint8_t* buffer = f.data();
        ASSERT_TRUE(aps->readFrameByTimestamp(index[1].timestamp + 5, f));
        EXPECT_EQ(f.timestamp, index[1].timestamp);
        EXPECT_EQ(f.data(), buffer);
        EXPECT_EQ(sumsOf(f).sum[2], expectedOf(r.frames[1]).sum[2]);
        ASSERT_TRUE(aps->seekFrame(0));
        ASSERT_TRUE(aps->readNextFrame(f));
        EXPECT_EQ(sumsOf(f).sum[0], expectedOf(r.frames[0]).sum[0]);
        EXPECT_FALSE(aps->seekFrame(3));

        // The same file's events: the replay puts APS time 0 at getStartTimestamp on their timeline.
        auto events = DvsFileReader::createFileReader(path);
        ASSERT_TRUE(events);
        ASSERT_TRUE(events->prepareFile());
        EXPECT_EQ(events->getStats().eventCount, r.events.size());
        std::vector<Event2D> ev;
        ASSERT_TRUE(events->readRange(aps->getStartTimestamp() + index[1].timestamp - 10,
                                      aps->getStartTimestamp() + index[1].timestamp + 1, ev));
        ASSERT_FALSE(ev.empty());
        for (const Event2D& e : ev) EXPECT_LE(e.timestamp, uint64_t(r.frames[1].t));
    }
}

TEST(Aedat4Frames, DamagedAndOversizedFramesAreLeftOutOrRefusedWithAClearMessage) {
    TempDir dir;
    const std::string path = dir.file("bad.aedat4");
    std::string problem;
    const int64_t t0 = 1700000000000000;

    // A frame declaring more pixels than it holds, one of a format we do not read, one placed far
    // beyond any sensor, a body that is no Zstd frame and one whose Zstd frame declares 2 GiB: each
    // is left out with a message; the whole frames stay, in time order (the file has them out of it).
    const std::vector<FrameSpec> frames = {makeFrame(t0 + 50000, fb::FrameFormat_GRAY, 0, 0, 346, 260),
                                           makeFrame(t0 + 10000, fb::FrameFormat_GRAY, 0, 0, 64, 48),
                                           makeFrame(t0 + 20000, fb::FrameFormat_GRAY, 0, 0, 64, 48),
                                           makeFrame(t0 + 30000, fb::FrameFormat_GRAY, 32000, 32000, 8, 8),
                                           makeFrame(t0 + 40000, fb::FrameFormat_BGR, 0, 0, 8, 8),
                                           makeFrame(t0 + 45000, fb::FrameFormat_BGR, 0, 0, 8, 8),
                                           makeFrame(t0 + 5000, fb::FrameFormat_BGR, 0, 0, 20, 10)};
    std::vector<Bytes> stored(frames.size());
    FrameSpec tooLarge = frames[1];
    tooLarge.h = 4800; // 64 x 4800 declared, 64 x 48 held
    stored[1] = pack(3, frameTable(tooLarge));
    FrameSpec otherFormat = frames[2];
    otherFormat.format = fb::FrameFormat(2); // 16-bit gray
    stored[2] = pack(3, frameTable(otherFormat));
    stored[4] = Bytes(300, 0x33);
    // magic, a single-segment header with a 4-byte content size: 0x80000000
    stored[5] = {0x28, 0xB5, 0x2F, 0xFD, 0xA0, 0x00, 0x00, 0x00, 0x80, 0, 0, 0};
    stored[6] = pack(3, frameTableFarFromStart(frames[6]));
    const Recording damaged = recording(3, frames, stored);
    save(path, damaged.bytes);
    keepSeed("frames_damaged.aedat4", damaged.bytes);
    {
        Aedat4Frames direct;
        ASSERT_TRUE(direct.open(path, problem)) << problem;
        ASSERT_EQ(direct.frames().size(), 2u);
        EXPECT_EQ(direct.frames()[0].time, t0 + 5000);
        EXPECT_EQ(direct.frames()[1].time, t0 + 50000);
        EXPECT_NE(direct.damage().find("declares 64 x 4800 pixels (307200 bytes) but holds 3072"), std::string::npos)
            << direct.damage();
        EXPECT_EQ(direct.width(), 346); // the stated size holds every frame kept
        EXPECT_EQ(direct.height(), 260);
        EXPECT_EQ(direct.wholeReads(), 1u); // the frame laid out otherwise is read whole, and kept
    }
    auto aps = ApsFileReader::createFileReader(path);
    ASSERT_TRUE(aps);
    ASSERT_EQ(aps->getFrameCount(), 2u);
    EXPECT_EQ(aps->getStartTimestamp(), uint64_t(t0 + 5000));
    ApsFrame f;
    ASSERT_TRUE(aps->seekFrame(1) && aps->readNextFrame(f));
    EXPECT_EQ(sumsOf(f).sum[1], expectedOf(frames[0]).sum[1]);
    ASSERT_TRUE(aps->seekFrame(0) && aps->readNextFrame(f));
    EXPECT_EQ(sumsOf(f).sum[2], expectedOf(frames[6]).sum[2]);

    // Each refusal on its own names its cause.
    const std::pair<size_t, const char*> causes[] = {{2, "pixel format 2"},
                                                     {3, "beyond any sensor size"},
                                                     {4, "damaged Zstd frame"},
                                                     {5, "declares 2147483648 bytes, more than a packet may hold"}};
    for (const auto& [which, cause] : causes) {
        SCOPED_TRACE(which);
        std::vector<Bytes> one(frames.size());
        one[which] = stored[which];
        if (which == 3) one[3] = pack(3, frameTable(frames[3]));
        save(path, recording(3, {frames[which]}, {one[which]}).bytes);
        Aedat4Frames only;
        problem.clear();
        EXPECT_FALSE(only.open(path, problem));
        EXPECT_NE(problem.find("holds no readable frame"), std::string::npos) << problem;
        EXPECT_NE(problem.find(cause), std::string::npos) << problem;
        EXPECT_FALSE(ApsFileReader::createFileReader(path));
        EXPECT_FALSE(ApsFileReader::holdsFrames(path));
    }

    // Truncated inside the last frame's packet: the frames before it stay, the cut is named.
    const Recording whole = recording(1, threeFrames());
    const size_t insideLast = whole.framePackets[2] + 8 + 10;
    for (size_t cut : {size_t(20), size_t(200), insideLast, whole.bytes.size() - 3}) {
        SCOPED_TRACE(cut);
        save(path, Bytes(whole.bytes.begin(), whole.bytes.begin() + ptrdiff_t(cut)));
        Aedat4Frames part;
        problem.clear();
        if (!part.open(path, problem)) {
            EXPECT_FALSE(problem.empty());
            EXPECT_FALSE(ApsFileReader::createFileReader(path));
            continue;
        }
        EXPECT_EQ(part.frames().size(), cut == insideLast ? 2u : 3u);
        EXPECT_NE(part.damage().find("remain"), std::string::npos) << part.damage();
        for (size_t i = 0; i < part.frames().size(); ++i) EXPECT_EQ(part.frames()[i].time, whole.frames[i].t);
    }

    // A stated frame size beyond any sensor is never allocated: the frames' own size decides.
    const Recording small = recording(
        3, {frames[6]}, {}, "<attr key=\"sizeX\" type=\"int\">60000</attr><attr key=\"sizeY\" type=\"int\">60000</attr>");
    save(path, small.bytes);
    keepSeed("frames_small.aedat4", small.bytes);
    Aedat4Frames stated;
    ASSERT_TRUE(stated.open(path, problem)) << problem;
    EXPECT_EQ(stated.width(), 20);
    EXPECT_EQ(stated.height(), 10);

    // A file without frames is no APS stream.
    Recording noFrames = recording(3, {});
    save(path, noFrames.bytes);
    Aedat4Frames none;
    EXPECT_FALSE(none.open(path, problem));
    EXPECT_NE(problem.find("holds no readable frame"), std::string::npos) << problem;
    EXPECT_FALSE(ApsFileReader::holdsFrames(path));
}
