// The cameras through their public interface, as the viewer and nrraw use them: listing,
// opening, streaming in real time (a second or two per test), recording, the pre-trigger
// cache, unplugging, Ethernet addresses, the simulated-cameras file and the fusion camera.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <mutex>
#include <thread>

#include "TestFiles.h"
#include "WaitFor.h"
#include "norvale/ApsFileReader.h"
#include "norvale/DvsCameraManager.h"
#include "norvale/DvsFileReader.h"
#include "norvale/EventGenerator.h"
#include "norvale/FuncUtils.h"

using namespace norvale;
using namespace std::chrono_literals;

namespace {

// Each test sees only the simulated-cameras file it writes: by default two light cameras (half a
// million events per second), cheap enough to keep up with the clock in a sanitizer build on a
// busy machine.
class CameraTest : public ::testing::Test {
protected:
    void SetUp() override {
        useCamerasFile(R"({"cameras": [{"serial": "SIM-LIGHT-DVS", "event_rate": 0.5},
                                       {"serial": "SIM-LIGHT-FUS", "kind": "fusion", "event_rate": 0.5}]})");
    }
    void useCamerasFile(const std::string& text) {
        std::ofstream(dir.path("cams.json")) << text;
        setenv("NORVALE_SIMULATED_CAMERAS", dir.path("cams.json").c_str(), 1);
    }
    TempDir dir;
    DvsCameraManager manager;
};

uint64_t fileEvents(const std::string& path, uint64_t* first = nullptr, std::vector<EventTriggerIn>* trig = nullptr) {
    auto r = DvsFileReader::createFileReader(path);
    if (!r || !r->prepareFile()) return ~0ull;
    if (first) r->getStartTimestamp(*first);
    if (trig) r->getTriggerList(*trig);
    return r->getStats().eventCount;
}

// Takes batches until done() holds (at least one batch is asked for), at most 20 s.
template <typename Pred>
std::vector<Event2D> collectUntil(DvsCamera& cam, Pred done) {
    std::vector<Event2D> all, batch;
    const auto end = std::chrono::steady_clock::now() + 20000ms;
    do {
        std::this_thread::sleep_for(10ms);
        if (cam.getNextBatch(batch)) all.insert(all.end(), batch.begin(), batch.end());
    } while (!done() && std::chrono::steady_clock::now() < end);
    return all;
}

// What the hand-off still holds, appended to all (the camera stopped).
void drain(DvsCamera& cam, std::vector<Event2D>& all) {
    std::vector<Event2D> batch;
    while (cam.getNextBatch(batch)) all.insert(all.end(), batch.begin(), batch.end());
}

// A reader this late loses nothing: the hand-off keeps 8 s (its cap of 4 Mi events is more than
// 8 s of a light camera), far more than a busy machine keeps a test from reading.
constexpr uint64_t kPatientBatchUs = 8000000;

// The recording holds the live events from its first one on, x mirrored when mirrorWidth is not 0.
void expectRecordedAs(const std::vector<Event2D>& live, const std::string& path, uint32_t mirrorWidth) {
    auto r = DvsFileReader::createFileReader(path);
    ASSERT_TRUE(r && r->prepareFile());
    uint64_t first = 0, last = 0;
    r->getStartTimestamp(first);
    r->getEndTimestamp(last);
    std::vector<Event2D> file;
    ASSERT_TRUE(r->readRange(first, last + 1, file));
    ASSERT_GT(file.size(), 10000u);
    const auto from = std::lower_bound(live.begin(), live.end(), file.front().timestamp,
                                       [](const Event2D& e, uint64_t t) { return e.timestamp < t; });
    ASSERT_GE(size_t(live.end() - from), file.size());
    size_t wrong = 0;
    for (size_t i = 0; i < file.size(); ++i) {
        const Event2D& l = from[i];
        const uint32_t x = mirrorWidth ? mirrorWidth - 1 - l.x : l.x;
        wrong += file[i].x != x || file[i].y != l.y || file[i].polarity != l.polarity ||
                 file[i].timestamp != l.timestamp;
    }
    EXPECT_EQ(wrong, 0u) << "of " << file.size() << " in " << path;
}

} // namespace

TEST_F(CameraTest, FusionRecordingIsMirroredAndDvsRecordingIsNot) {
    {
        auto fus = manager.openFusionCamera("SIM-LIGHT-FUS");
        ASSERT_TRUE(fus);
        std::mutex m;
        std::vector<Event2D> live;
        live.reserve(2u << 20); // no copying inside the streaming thread's callback
        fus->addEventsCallback([&](const Event2D* b, const Event2D* e) {
            std::lock_guard<std::mutex> l(m);
            live.insert(live.end(), b, e);
        });
        ASSERT_EQ(fus->start(STREAM_DVS), 0);
        ASSERT_TRUE(fus->startRecording(dir.path(), "fus", STREAM_DVS));
        ASSERT_TRUE(waitFor([&] { return fus->getRecordedEventCount() > 200000; }));
        ASSERT_TRUE(fus->stopRecording(STREAM_DVS));
        fus->stop(STREAM_DVS);
        expectRecordedAs(live, dir.path("fus.raw"), fus->getWidth());
    }
    auto dvs = manager.openCamera("SIM-LIGHT-DVS");
    ASSERT_TRUE(dvs);
    // The batches are the live stream as long as the hand-off drops nothing.
    dvs->setBatchEventsTime(kPatientBatchUs);
    std::vector<Event2D> live;
    dvs->getNextBatch(live); // the hand-off begins
    ASSERT_EQ(dvs->start(), 0);
    live = collectUntil(*dvs, [&] { return dvs->getCameraTime() >= 100000; }); // before the recording
    const std::string path = dir.path("dvs.raw");
    ASSERT_TRUE(dvs->startRecording(path));
    std::vector<Event2D> more = collectUntil(*dvs, [&] { return dvs->getRecordedEventCount() > 50000; });
    ASSERT_TRUE(dvs->stopRecording());
    dvs->stop();
    live.insert(live.end(), more.begin(), more.end());
    drain(*dvs, live);
    EXPECT_EQ(dvs->getDroppedEventCount(), 0u);
    expectRecordedAs(live, path, 0);
}

TEST_F(CameraTest, DefaultCamerasAreListedAndOpenOnce) {
    useCamerasFile("{}");
    const auto descs = manager.getCameraDescs();
    ASSERT_EQ(descs.size(), 3u);
    for (const auto& d : descs) EXPECT_EQ(d.serial.compare(0, 4, "SIM-"), 0) << d.serial;
    EXPECT_EQ(descs[1].product, "Velfox");
    EXPECT_EQ(descs[1].firmwareVersion, "Velfox_V1.7.2");
    EXPECT_TRUE(manager.isFusionCamera(descs[1].serial));
    EXPECT_FALSE(manager.isFusionCamera(descs[0].serial) || manager.isFusionCamera("SIM-NONE"));
    const auto& eth = descs[2];
    EXPECT_EQ(eth.linkType, LINK_ETHERNET);
    const uint32_t mask = stringToIP(eth.netmask);
    EXPECT_NE(eth.cameraIp, eth.localIp);
    EXPECT_EQ(stringToIP(eth.cameraIp) & mask, stringToIP(eth.localIp) & mask);

    auto a = manager.openCamera(descs[0].serial);
    ASSERT_TRUE(a);
    EXPECT_FALSE(manager.openCamera(descs[0].serial)); // open already
    EXPECT_FALSE(manager.openCamera("SIM-NOPE"));
    EXPECT_FALSE(manager.openCamera(descs[1].serial)); // a fusion camera
    EXPECT_FALSE(manager.openFusionCamera(descs[0].serial));
    const auto biases = a->getTool(TOOL_BIASES);
    ASSERT_TRUE(biases && biases->setParam("bias_refr", 9));
    a.reset();
    // a tool kept after its camera went refuses, and still reads its last value
    EXPECT_FALSE(biases->setParam("bias_refr", 10));
    int refr = 0;
    EXPECT_TRUE(biases->getParam("bias_refr", refr));
    EXPECT_EQ(refr, 9);
    auto again = manager.openCamera(descs[0].serial); // released with its last owner
    ASSERT_TRUE(again);
    EXPECT_TRUE(again->getTool(TOOL_BIASES)->setParam("bias_refr", 10)); // its own, new tools
}

TEST_F(CameraTest, TwoCamerasStreamAtOnceWithStatistics) {
    auto a = manager.openCamera("SIM-DVS-0001"), b = manager.openCamera("SIM-ETH-0001");
    ASSERT_TRUE(a && b);
    EXPECT_EQ(a->getWidth(), 1280);
    EXPECT_EQ(a->getHeight(), 720);
    // The first figures: what they say, the events delivered by then, and when they came.
    struct Figures {
        NrStatisticInfo info;
        uint64_t delivered = 0;
        std::chrono::steady_clock::time_point at;
    };
    std::mutex m;
    std::vector<Figures> figures;
    a->setStatisticInfoCallback([&](const NrStatisticInfo& i) {
        Figures f{i, a->getDeliveredEventCount(), std::chrono::steady_clock::now()};
        std::lock_guard<std::mutex> l(m);
        figures.push_back(f);
    });
    std::vector<Event2D> fromB, batch;
    a->setBatchEventsTime(kPatientBatchUs);
    a->getNextBatch(batch);
    b->getNextBatch(batch);
    const uint64_t deliveredBefore = a->getDeliveredEventCount();
    const auto started = std::chrono::steady_clock::now();
    ASSERT_EQ(a->start(), 0);
    ASSERT_EQ(b->start(), 0);
    std::vector<Event2D> fromA = collectUntil(*a, [&] {
        std::lock_guard<std::mutex> l(m);
        return !figures.empty();
    });
    while (b->getNextBatch(batch)) fromB.insert(fromB.end(), batch.begin(), batch.end());
    EXPECT_EQ(a->stop(), 0);
    EXPECT_EQ(b->stop(), 0);
    drain(*a, fromA);
    // the batches are the whole stream, in time order, from a clock that starts near 0
    ASSERT_FALSE(fromA.empty());
    EXPECT_EQ(a->getDroppedEventCount(), 0u);
    EXPECT_EQ(fromA.size(), a->getDeliveredEventCount() - deliveredBefore);
    EXPECT_LT(fromA.front().timestamp, 200000u);
    for (size_t i = 1; i < fromA.size(); ++i) ASSERT_LE(fromA[i - 1].timestamp, fromA[i].timestamp);
    // The first figures count every event since the start over at least a second and at most the
    // time since the start: exact bounds however busy the machine (how many events a second the
    // camera reaches is the camera benchmark's figure).
    std::lock_guard<std::mutex> l(m);
    ASSERT_FALSE(figures.empty());
    const Figures& first = figures.front();
    const uint64_t counted = first.delivered - deliveredBefore;
    const double upTo = std::chrono::duration<double>(first.at - started).count();
    ASSERT_GE(upTo, 1.0);
    EXPECT_GT(first.info.eventRate, 0u);
    EXPECT_LE(first.info.eventRate, counted);
    EXPECT_GE(first.info.eventRate, uint64_t(double(counted) / upTo));
    EXPECT_GT(first.info.bandwidth, first.info.eventRate * 2); // at least a word per event
    EXPECT_FALSE(fromB.empty());
}

TEST_F(CameraTest, ASlowReaderGetsACappedBatchAndTheDropsAreCounted) {
    auto cam = manager.openCamera("SIM-DVS-0001");
    ASSERT_TRUE(cam);
    std::vector<Event2D> batch;
    EXPECT_FALSE(cam->getNextBatch(batch)); // the first call starts the hand-off
    cam->setBatchEventsTime(33333);
    ASSERT_EQ(cam->start(), 0);
    ASSERT_TRUE(waitFor([&] { return cam->getDeliveredEventCount() > 1500000; })); // half a second of stream
    ASSERT_TRUE(cam->getNextBatch(batch));
    cam->stop();
    const uint64_t span = batch.back().timestamp - batch.front().timestamp;
    // The newest 100 ms, not 600 ms of backlog; whole chunks are kept, and a camera catching up
    // after a stall makes chunks of up to 10 ms.
    EXPECT_LE(span, 111000u);
    EXPECT_GT(cam->getDroppedEventCount(), batch.size());
}

TEST_F(CameraTest, RecordingHoldsExactlyTheRecordedEventsAndTriggers) {
    auto cam = manager.openCamera("SIM-LIGHT-DVS");
    ASSERT_TRUE(cam);
    cam->getTool(TOOL_TRIGGER_IN)->setParam("channel_0_enable", true);
    std::atomic<int> edges{0};
    const int id = cam->addTriggerInCallback([&](const EventTriggerIn&) { ++edges; });
    ASSERT_EQ(cam->start(), 0);
    EXPECT_FALSE(cam->startRecording(dir.path("missing/x.raw")));
    const std::string path = dir.path("rec.raw");
    ASSERT_TRUE(cam->startRecording(path));
    EXPECT_FALSE(cam->startRecording(dir.path("second.raw")));
    ASSERT_TRUE(waitFor([&] { return edges.load() >= 3; })); // edges at 0, 0.5 and 1 s of camera time
    ASSERT_TRUE(cam->stopRecording());
    EXPECT_FALSE(cam->stopRecording());
    EXPECT_TRUE(cam->removeTriggerInCallback(id));
    EXPECT_FALSE(cam->removeTriggerInCallback(id));
    cam->stop();
    std::vector<EventTriggerIn> trig;
    const uint64_t n = cam->getRecordedEventCount();
    EXPECT_GT(n, 100000u);
    EXPECT_EQ(fileEvents(path, nullptr, &trig), n);
    EXPECT_GE(trig.size(), 2u); // the one at 0 came before the recording
}

TEST_F(CameraTest, CacheFolderMustBeUsableAndCacheFilesGoWithTheCamera) {
    auto cam = manager.openCamera("SIM-LIGHT-DVS");
    ASSERT_TRUE(cam);
    EXPECT_FALSE(cam->setFileCacheTime(1, dir.path("no_such_folder")));
    ASSERT_TRUE(cam->setFileCacheTime(1, dir.path()));
    ASSERT_EQ(cam->start(), 0);
    EXPECT_TRUE(waitFor([&] {
        for (const auto& name : dir.entries())
            if (name.find(".nrcache_SIM-LIGHT-DVS_") == 0) return true;
        return false;
    }));
    cam->stop();
    cam.reset();
    for (const auto& name : dir.entries()) EXPECT_EQ(name.find(".nrcache_"), std::string::npos) << name;
}

TEST_F(CameraTest, UnplugEndsStreamingAndLeavesTheRecordingReadable) {
    auto cam = manager.openCamera("SIM-LIGHT-DVS");
    ASSERT_TRUE(cam);
    ASSERT_EQ(cam->start(), 0);
    const std::string path = dir.path("unplugged.raw");
    ASSERT_TRUE(cam->startRecording(path));
    ASSERT_TRUE(waitFor([&] { return cam->getRecordedEventCount() > 20000; }));
    cam->simulateUnplug();
    EXPECT_FALSE(cam->isConnected());
    EXPECT_EQ(cam->start(), -1);
    EXPECT_FALSE(cam->startRecording(dir.path("after.raw")));
    EXPECT_GT(cam->getRecordedEventCount(), 20000u);
    EXPECT_EQ(fileEvents(path), cam->getRecordedEventCount());
}

TEST_F(CameraTest, EthernetAddressesAreCheckedAndKept) {
    useCamerasFile("{}");
    const CameraDescription eth = manager.getCameraDescs()[2];
    const CameraDescription usb = manager.getCameraDescs()[0];
    const uint32_t ip = stringToIP("192.0.2.77"), mask = stringToIP("255.255.255.0"), gw = stringToIP("192.0.2.254");
    EXPECT_FALSE(DvsCameraManager::ethCameraForceIP(usb, ip, mask, gw));
    EXPECT_FALSE(DvsCameraManager::ethCameraForceIP(eth, 0, mask, gw));
    EXPECT_FALSE(DvsCameraManager::ethCameraForceIP(eth, stringToIP("192.0.2.255"), mask, gw)); // broadcast
    EXPECT_FALSE(DvsCameraManager::ethCameraForceIP(eth, stringToIP("255.255.255.255"), mask, gw));
    EXPECT_FALSE(DvsCameraManager::ethCameraForceIP(eth, ip, stringToIP("255.0.255.0"), gw)); // not contiguous
    EXPECT_FALSE(DvsCameraManager::ethCameraForceIP(eth, ip, mask, stringToIP("198.51.100.1"))); // elsewhere
    EXPECT_EQ(manager.getCameraDescs()[2].cameraIp, eth.cameraIp);
    ASSERT_TRUE(DvsCameraManager::ethCameraForceIP(eth, ip, stringToIP("255.255.0.0"), gw));
    const auto now = manager.getCameraDescs()[2];
    EXPECT_EQ(now.cameraIp, "192.0.2.77");
    EXPECT_EQ(now.netmask, "255.255.0.0");
    EXPECT_EQ(now.gateway, "192.0.2.254");
    ASSERT_TRUE(DvsCameraManager::ethCameraForceIP(eth, stringToIP(eth.cameraIp), stringToIP(eth.netmask),
                                                   stringToIP(eth.gateway))); // back as it was
}

TEST_F(CameraTest, CamerasFileAddsCamerasAndSkipsBadEntries) {
    const std::string raw = dir.path("replay.raw");
    GeneratorConfig g;
    g.eventRate = 2e6;
    g.startTimestamp = 5000000;
    ASSERT_TRUE(generateRecordingFile(raw, g, 400000));
    useCamerasFile(R"({"cameras": [
      {"serial": "SIM-OLD-0001", "kind": "fusion", "firmware": "Velfox_V1.7.1"},
      {"serial": "SIM-ETH-CONFLICT", "link": "ethernet", "camera_ip": "192.0.2.5", "local_ip": "192.0.2.5",
       "netmask": "255.255.255.0", "gateway": "192.0.2.1"},
      {"serial": "SIM-REPLAY-0001", "kind": "replay", "file": ")" + raw + R"("},
      {"serial": "SIM-REPLAY-0002", "kind": "replay", "file": "/no/such.raw"},
      {"serial": "SIM-REPLAY-0003", "kind": "replay", "file": ")" + dir.path() + R"("},
      {"serial": "SIM-NEW\nLINE"},
      {"serial": "SIM-TAB", "product": "a\tb"},
      {"serial": "SIM-)" + std::string(200, 'L') + R"("},
      {"serial": "CAM-0009"},
      {"serial": "SIM-BAD-TYPE", "event_rate": "fast"},
      {"serial": "SIM-DVS-0001"},
      42
    ]})");
    const auto descs = manager.getCameraDescs();
    ASSERT_EQ(descs.size(), 6u);
    EXPECT_EQ(descs[3].product, "Velfox");
    EXPECT_EQ(descs[3].firmwareVersion, "Velfox_V1.7.1");
    EXPECT_EQ(descs[4].cameraIp, descs[4].localIp);
    EXPECT_EQ(descs[5].serial, "SIM-REPLAY-0001");

    // the replay camera plays the file in real time from its first event, timestamps from 0
    auto cam = manager.openCamera("SIM-REPLAY-0001");
    ASSERT_TRUE(cam);
    std::vector<Event2D> none;
    EXPECT_FALSE(cam->getNextBatch(none));
    ASSERT_EQ(cam->start(), 0);
    std::vector<Event2D> live, batch;
    ASSERT_TRUE(waitFor([&] {
        if (cam->getNextBatch(batch)) live.insert(live.end(), batch.begin(), batch.end());
        return !live.empty() && live.back().timestamp > 150000;
    }));
    cam->stop();
    auto reader = DvsFileReader::createFileReader(raw);
    ASSERT_TRUE(reader && reader->prepareFile());
    std::vector<Event2D> file;
    ASSERT_TRUE(reader->readRange(5000000, 5100000, file));
    ASSERT_GT(live.size(), file.size());
    for (size_t i = 0; i < file.size(); ++i) {
        ASSERT_EQ(live[i].x, file[i].x) << i;
        ASSERT_EQ(live[i].y, file[i].y);
        ASSERT_EQ(live[i].polarity, file[i].polarity);
        ASSERT_EQ(live[i].timestamp, file[i].timestamp - 5000000);
    }

    // a file that is not JSON leaves the defaults
    useCamerasFile("{ not json");
    EXPECT_EQ(manager.getCameraDescs().size(), 3u);

    // what is not a regular file of a sane size leaves the defaults at once: a FIFO without a
    // writer is not waited on, a listing padded past 1 MiB is not read
    const std::string fifo = dir.path("cams.fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    std::string huge = R"({"cameras": [{"serial": "SIM-HUGE-0001"}]})";
    huge.append(size_t(1) << 20, ' ');
    std::ofstream(dir.path("huge.json")) << huge;
    for (const std::string& path : {fifo, dir.path(), dir.path("huge.json"), dir.path("missing.json")}) {
        setenv("NORVALE_SIMULATED_CAMERAS", path.c_str(), 1);
        EXPECT_EQ(manager.getCameraDescs().size(), 3u) << path;
    }
    huge.resize(size_t(1) << 20); // at the limit: read
    std::ofstream(dir.path("huge.json"), std::ios::trunc) << huge;
    setenv("NORVALE_SIMULATED_CAMERAS", dir.path("huge.json").c_str(), 1);
    EXPECT_EQ(manager.getCameraDescs().size(), 4u);
}

TEST_F(CameraTest, FusionFramesFollowTheirRisingEdgeAndRecordAllThree) {
    auto cam = manager.openFusionCamera("SIM-LIGHT-FUS");
    ASSERT_TRUE(cam);
    EXPECT_EQ(cam->getFirmwareVersion(), "Velfox_V1.7.2");
    CalibratorParameters cal;
    ASSERT_TRUE(cam->getCalibrationParams(cal));
    ASSERT_EQ(cal.affineMatrix.at("1").data.size(), 6u);
    std::mutex m;
    std::vector<std::pair<char, uint64_t>> seq; // 'R' rising edge, 'F' frame
    std::atomic<uint64_t> events{0};
    cam->addTriggerInCallback([&](const EventTriggerIn& t) {
        std::lock_guard<std::mutex> l(m);
        if (t.value == 1) seq.emplace_back('R', t.timestamp);
    });
    cam->addApsFrameCallback([&](const ApsFrame& f) {
        EXPECT_EQ(f.width(), 3840);
        EXPECT_EQ(f.height(), 2160);
        std::lock_guard<std::mutex> l(m);
        seq.emplace_back('F', f.timestamp);
    });
    cam->addEventsCallback([&](const Event2D* b, const Event2D* e) { events += uint64_t(e - b); });
    auto frameCount = [&] {
        std::lock_guard<std::mutex> l(m);
        return std::count_if(seq.begin(), seq.end(), [](const auto& x) { return x.first == 'F'; });
    };
    ASSERT_EQ(cam->start(STREAM_FUSION), 0);
    ASSERT_TRUE(waitFor([&] { return frameCount() >= 2; }));
    ASSERT_TRUE(cam->startRecording(dir.path(), "fus", STREAM_FUSION));
    ASSERT_TRUE(waitFor([&] { return cam->getRecordedFrameCount() >= 3; }));
    ASSERT_TRUE(cam->stopRecording(STREAM_FUSION));
    cam->stop(STREAM_FUSION);
    EXPECT_GT(events.load(), 20000u);
    {
        std::lock_guard<std::mutex> l(m);
        int frames = 0;
        for (size_t i = 0; i < seq.size(); ++i) {
            if (seq[i].first != 'F') continue;
            ++frames;
            // its rising edge came earlier, with the frame's timestamp
            bool found = false;
            for (size_t j = 0; j < i; ++j) found = found || (seq[j].first == 'R' && seq[j].second == seq[i].second);
            EXPECT_TRUE(found) << seq[i].second;
        }
        EXPECT_GE(frames, 5);
    }
    const std::string base = dir.path("fus");
    EXPECT_EQ(fileEvents(base + ".raw"), cam->getRecordedEventCount());
    const std::string header = readBytes(base + ".raw").substr(0, 2000);
    EXPECT_NE(header.find("% aps_start_timestamp "), std::string::npos);
    auto video = ApsFileReader::createFileReader(base + ".mp4");
    ASSERT_TRUE(video && video->isOpened());
    ApsFrame f;
    ASSERT_TRUE(video->readNextFrame(f));
    // from the header's aps_start_timestamp (the first frame, unless a busy machine skipped it)
    EXPECT_EQ(f.timestamp % 100000, 0u);
    EXPECT_LT(f.timestamp, 1000000u);
    EXPECT_GE(cam->getRecordedFrameCount(), 3u);
    CalibratorParameters back;
    ASSERT_TRUE(jsonFileToParam(base + ".json", back));
    EXPECT_EQ(back.affineMatrix.at("1").data, cal.affineMatrix.at("1").data);
    // a calibration file is validated before the camera takes it
    std::ofstream(dir.path("bad_cal.json")) << "{\"x\": 1}";
    EXPECT_FALSE(cam->writeCalibrationParams(dir.path("bad_cal.json")));
    EXPECT_TRUE(cam->writeCalibrationParams(base + ".json"));
    cam->closeCamera();
    EXPECT_FALSE(cam->isConnected());
}

TEST_F(CameraTest, ShippedConfigurationsAreEveryParameterAtItsDefault) {
    auto dvs = manager.openCamera("SIM-DVS-0001");
    auto fusion = manager.openFusionCamera("SIM-LIGHT-FUS");
    ASSERT_TRUE(dvs && fusion);
    const std::string src = std::string(NORVALE_SOURCE_DIR) + "/config/";
    EXPECT_TRUE(dvs->loadCameraConfigParams(src + "dvs_default_config.json"));
    EXPECT_TRUE(fusion->loadCameraConfigParams(src + "fusion_cmaera_default_config.json"));
    ASSERT_TRUE(dvs->exportCameraConfigParams(dir.path("dvs.json")));
    ASSERT_TRUE(fusion->exportCameraConfigParams(dir.path("fusion.json")));
    EXPECT_EQ(readBytes(dir.path("dvs.json")), readBytes(src + "dvs_default_config.json"));
    EXPECT_EQ(readBytes(dir.path("fusion.json")), readBytes(src + "fusion_cmaera_default_config.json"));
}
