// A recording never destroys a file: not the replay camera's own input (by any name), not an
// existing file unless asked to replace it (and then only once the recording has succeeded), not
// a file another recording is writing, never anything that is not a regular file. After each
// refused case the file's bytes are compared. What a recording reports is what its file holds.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "TestFiles.h"
#include "WaitFor.h"
#include "norvale/ApsFileReader.h"
#include "norvale/DvsCameraManager.h"
#include "norvale/DvsFileReader.h"
#include "norvale/Logger.h"
#include "norvale/RawFileWriter.h"

using namespace norvale;
using namespace std::chrono_literals;

namespace {

// A 640 x 480 recording: a diagonal sweep, 200 events a millisecond for a second.
void writeSmallGeometryFile(const std::string& path) {
    RawFileWriter w;
    DvsFileInfo info;
    info.serialNumber = "SIM-SOURCE";
    info.width = 640;
    info.height = 480;
    ASSERT_TRUE(w.open(path, info));
    std::vector<Event2D> ev;
    for (uint64_t ms = 0; ms < 1000; ++ms)
        for (uint16_t i = 0; i < 200; ++i)
            ev.push_back(Event2D{uint16_t((ms + i) % 640), uint16_t((ms * 3 + i) % 480), uint8_t(i & 1), 1000 + ms * 1000 + i});
    ASSERT_TRUE(w.addEvents(ev.data(), ev.data() + ev.size()));
    ASSERT_TRUE(w.close());
}

struct Opened {
    uint64_t events = 0;
    uint32_t width = 0, height = 0;
    bool ok = false;
};
Opened openRecording(const std::string& path) {
    Opened o;
    auto r = DvsFileReader::createFileReader(path);
    if (!r || !r->prepareFile()) return o;
    o.ok = true;
    o.events = r->getStats().eventCount;
    o.width = r->width();
    o.height = r->height();
    return o;
}

class RecordingTest : public ::testing::Test {
protected:
    void SetUp() override {
        source = dir.path("in.raw");
        writeSmallGeometryFile(source);
        original = readBytes(source);
        std::ofstream(dir.path("cams.json")) << R"({"cameras": [
            {"serial": "SIM-REC-REPLAY", "kind": "replay", "file": ")" + source + R"("},
            {"serial": "SIM-REC-DVS", "event_rate": 0.3},
            {"serial": "SIM-REC-FUS", "kind": "fusion", "event_rate": 0.3}]})";
        setenv("NORVALE_SIMULATED_CAMERAS", dir.path("cams.json").c_str(), 1);
    }
    std::vector<std::string> siblings() const {
        std::vector<std::string> out;
        for (const auto& name : dir.entries())
            if (name.find(".recording-") != std::string::npos) out.push_back(name);
        return out;
    }
    // Refused at once, with a reason, leaving the named file's bytes as they were.
    template <typename Start>
    void expectRefused(Start start, const std::string& path, const std::string& reasonPart) {
        const std::string before = readBytes(path);
        Logger::clearThreadError();
        EXPECT_FALSE(start()) << path;
        EXPECT_NE(Logger::threadError().find(reasonPart), std::string::npos) << Logger::threadError();
        EXPECT_EQ(readBytes(path), before) << path;
        EXPECT_EQ(siblings(), std::vector<std::string>{});
    }

    TempDir dir;
    std::string source, original;
    DvsCameraManager manager;
};

} // namespace

TEST_F(RecordingTest, AReplayCameraNeverOverwritesItsInputAndRecordsItsGeometryAndTrueCount) {
    auto cam = manager.openCamera("SIM-REC-REPLAY");
    ASSERT_TRUE(cam);
    ::mkdir(dir.path("sub").c_str(), 0755);
    ASSERT_EQ(::symlink(source.c_str(), dir.path("link.raw").c_str()), 0);
    ASSERT_EQ(::link(source.c_str(), dir.path("hard.raw").c_str()), 0);
    for (const std::string& name : {source, dir.path("link.raw"), dir.path("hard.raw"), dir.path("sub/.././in.raw")})
        for (bool overwrite : {false, true})
            expectRefused([&] { return cam->startRecording(name, overwrite); }, source,
                          "the file the camera replays");
    EXPECT_EQ(readBytes(source), original);

    const std::string out = dir.path("out.raw");
    ASSERT_EQ(cam->start(), 0);
    ASSERT_TRUE(cam->startRecording(out));
    ASSERT_TRUE(waitFor([&] { return cam->getRecordedEventCount() > 2000; }));
    ASSERT_TRUE(cam->stopRecording());
    cam->stop();
    const Opened rec = openRecording(out);
    ASSERT_TRUE(rec.ok);
    EXPECT_EQ(rec.width, 640u);
    EXPECT_EQ(rec.height, 480u);
    EXPECT_EQ(rec.events, cam->getRecordedEventCount());
    EXPECT_EQ(readBytes(source), original);
}

TEST_F(RecordingTest, AnExistingFileIsReplacedOnlyWhenAskedAndOnlySuccessfully) {
    auto cam = manager.openCamera("SIM-REC-DVS");
    auto fus = manager.openFusionCamera("SIM-REC-FUS");
    ASSERT_TRUE(cam && fus);
    const std::string old = dir.path("old.raw");
    writeBytes(old, "an earlier recording\n");
    expectRefused([&] { return cam->startRecording(old); }, old, "exists");

    const std::string fifo = dir.path("fifo.raw"), folder = dir.path("folder.raw");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    ::mkdir(folder.c_str(), 0755);
    for (bool overwrite : {false, true}) {
        Logger::clearThreadError();
        EXPECT_FALSE(cam->startRecording(fifo, overwrite)); // at once: a FIFO is never opened
        EXPECT_NE(Logger::threadError().find("a FIFO, not a regular file"), std::string::npos) << Logger::threadError();
        Logger::clearThreadError();
        EXPECT_FALSE(cam->startRecording(folder, overwrite));
        EXPECT_NE(Logger::threadError().find("a folder"), std::string::npos) << Logger::threadError();
    }
    const std::string locked = dir.path("readonly.raw");
    writeBytes(locked, "keep me");
    ::chmod(locked.c_str(), 0444);
    if (::geteuid() != 0) expectRefused([&] { return cam->startRecording(locked, true); }, locked, "read-only");

    // Asked to overwrite: the old file stays whole until the recording has succeeded, and a
    // second recording to the path is refused meanwhile.
    ASSERT_EQ(cam->start(), 0);
    ASSERT_TRUE(cam->startRecording(old, true));
    ASSERT_EQ(siblings().size(), 1u);
    EXPECT_EQ(siblings()[0].compare(0, 14, "old.recording-"), 0) << siblings()[0];
    EXPECT_EQ(readBytes(old), "an earlier recording\n");
    Logger::clearThreadError();
    EXPECT_FALSE(fus->startRecording(dir.path(), "old", STREAM_DVS, true));
    EXPECT_NE(Logger::threadError().find("another recording"), std::string::npos) << Logger::threadError();
    ASSERT_TRUE(waitFor([&] { return cam->getRecordedEventCount() > 1000; }));
    ASSERT_TRUE(cam->stopRecording());
    const Opened replaced = openRecording(old);
    ASSERT_TRUE(replaced.ok);
    EXPECT_EQ(replaced.events, cam->getRecordedEventCount());
    EXPECT_EQ(siblings(), std::vector<std::string>{});

    // A new file is taken by the first recording: a second one, even asked to overwrite, is refused.
    const std::string fresh = dir.path("fresh.raw");
    ASSERT_TRUE(cam->startRecording(fresh));
    EXPECT_FALSE(fus->startRecording(dir.path(), "fresh", STREAM_DVS, true));
    EXPECT_TRUE(cam->stopRecording());
    cam->stop();
    EXPECT_TRUE(openRecording(fresh).ok);
}

TEST_F(RecordingTest, AFusionRecordingChecksAllItsFilesBeforeWritingAny) {
    auto fus = manager.openFusionCamera("SIM-REC-FUS");
    ASSERT_TRUE(fus);
    ::mkdir(dir.path("base.mp4").c_str(), 0755);
    for (bool overwrite : {false, true}) {
        Logger::clearThreadError();
        EXPECT_FALSE(fus->startRecording(dir.path(), "base", STREAM_FUSION, overwrite));
        EXPECT_NE(Logger::threadError().find("base.mp4 is a folder"), std::string::npos) << Logger::threadError();
        EXPECT_FALSE(std::filesystem::exists(dir.path("base.raw")));
        EXPECT_FALSE(std::filesystem::exists(dir.path("base.json")));
    }
    writeBytes(dir.path("other.json"), "{}");
    expectRefused([&] { return fus->startRecording(dir.path(), "other", STREAM_FUSION); }, dir.path("other.json"),
                  "other.json exists");
    EXPECT_FALSE(std::filesystem::exists(dir.path("other.raw")));
}

// The three files of a fusion recording over an earlier one: refused, byte for byte untouched,
// unless asked to overwrite; then the old ones stay until the new recording has succeeded, and
// the new video's frames lie on the new events' clock.
TEST_F(RecordingTest, AFusionRecordingReplacesItsFilesOnlyWhenAskedAndOnlyOnceItSucceeded) {
    auto fus = manager.openFusionCamera("SIM-REC-FUS");
    ASSERT_TRUE(fus);
    const std::string base = dir.path("base");
    writeBytes(dir.path("video.mp4"), "only a video\n");
    expectRefused([&] { return fus->startRecording(dir.path(), "video", STREAM_FUSION); }, dir.path("video.mp4"),
                  "video.mp4 exists");
    EXPECT_FALSE(std::filesystem::exists(dir.path("video.raw")));
    EXPECT_FALSE(std::filesystem::exists(dir.path("video.json")));
    const std::vector<std::string> names = {base + ".raw", base + ".mp4", base + ".json"};
    for (const auto& name : names) writeBytes(name, "earlier " + name + "\n");
    auto unchanged = [&] {
        for (const auto& name : names)
            if (readBytes(name) != "earlier " + name + "\n") return false;
        return true;
    };
    EXPECT_FALSE(fus->startRecording(dir.path(), "base", STREAM_FUSION));
    EXPECT_TRUE(unchanged());
    EXPECT_EQ(siblings(), std::vector<std::string>{});

    ASSERT_EQ(fus->start(STREAM_FUSION), 0);
    ASSERT_TRUE(fus->startRecording(dir.path(), "base", STREAM_FUSION, true));
    EXPECT_EQ(siblings().size(), 2u); // the .raw and the .mp4 grow beside the old ones
    ASSERT_TRUE(waitFor([&] { return fus->getRecordedFrameCount() >= 3; }));
    EXPECT_TRUE(unchanged());
    ASSERT_TRUE(fus->stopRecording(STREAM_FUSION));
    fus->stop(STREAM_FUSION);
    EXPECT_EQ(siblings(), std::vector<std::string>{});

    auto events = DvsFileReader::createFileReader(names[0]);
    ASSERT_TRUE(events && events->prepareFile());
    EXPECT_EQ(events->getStats().eventCount, fus->getRecordedEventCount());
    DvsFileInfo info;
    uint64_t first = 0, last = 0;
    ASSERT_TRUE(events->getFileInfo(info) && events->getStartTimestamp(first) && events->getEndTimestamp(last));
    auto video = ApsFileReader::createFileReader(names[1]);
    ASSERT_TRUE(video);
    EXPECT_EQ(video->getFrameCount(), fus->getRecordedFrameCount());
    std::vector<ApsFrameIndexEntry> frames;
    video->getFrameIndex(frames);
    ASSERT_FALSE(frames.empty());
    for (const auto& f : frames) {
        EXPECT_GE(info.apsStartTimestamp + f.timestamp, first);
        EXPECT_LE(info.apsStartTimestamp + f.timestamp, last);
    }
    CalibratorParameters cal;
    EXPECT_TRUE(jsonFileToParam(names[2], cal));
    EXPECT_EQ(cal.dvsFrameCols, 1280);
}

// Header values are single lines whatever the serial holds, so what is written reads back.
TEST(RecordingHeader, ASerialWithControlCharactersOrOfAnyLengthStillReadsBack) {
    TempDir dir;
    for (const std::string& serial : {std::string("SIM-A\n% end\nB\r\x01"), std::string(2 << 20, 'S')}) {
        const std::string path = dir.path("s.raw");
        RawFileWriter w;
        DvsFileInfo info;
        info.serialNumber = serial;
        ASSERT_TRUE(w.open(path, info));
        const Event2D ev[2] = {{5, 6, 1, 100}, {7, 8, 0, 200}};
        ASSERT_TRUE(w.addEvents(ev, ev + 2));
        ASSERT_TRUE(w.close());
        auto r = DvsFileReader::createFileReader(path);
        ASSERT_TRUE(r && r->prepareFile());
        EXPECT_EQ(r->getStats().eventCount, 2u);
        DvsFileInfo back;
        ASSERT_TRUE(r->getFileInfo(back));
        EXPECT_EQ(back.serialNumber.find_first_of("\n\r\x01"), std::string::npos);
        EXPECT_LE(back.serialNumber.size(), 256u);
        EXPECT_EQ(back.serialNumber.compare(0, 5, serial.substr(0, 5)), 0);
    }
}
