// Network cameras: listed from the cameras file, receiving hand-packed datagrams on loopback,
// recording exactly what was sent, counting and leaving out what is bad, dropping a flood.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <tuple>

#include "NetworkTestUtil.h"
#include "TempDir.h"
#include "WaitFor.h"
#include "network/NetworkDevice.h"
#include "norvale/DvsCameraManager.h"
#include "norvale/EventGenerator.h"

using namespace norvale;
using nettest::ev;

namespace {

constexpr uint32_t kW = 640, kH = 480;

// A cameras file with one network camera per (serial, port, format) and a recording to send.
class NetworkCameraTest : public ::testing::Test {
protected:
    void SetUp() override {
        port = nettest::freePort();
        writeCameras("[{\"serial\": \"NET-T64\", \"port\": " + std::to_string(port) +
                     ", \"width\": 640, \"height\": 480},"
                     " {\"serial\": \"NET-T32\", \"port\": " + std::to_string(port) +
                     ", \"width\": 640, \"height\": 480, \"format\": \"t32_x16_y15_on1\"}]");
    }
    void writeCameras(const std::string& networkCameras) {
        std::ofstream(dir.path("cams.json")) << "{\"network_cameras\": " << networkCameras << "}";
        setenv("NORVALE_SIMULATED_CAMERAS", dir.path("cams.json").c_str(), 1);
    }
    // A generated recording's events from startUs, 0.3 s at 200 kev/s.
    std::vector<Event2D> recording(uint64_t startUs) {
        GeneratorConfig g;
        g.width = kW;
        g.height = kH;
        g.eventRate = 200000;
        g.startTimestamp = startUs;
        EXPECT_TRUE(generateRecordingFile(dir.path("source.raw"), g, 300000));
        auto events = nettest::readEvents(dir.path("source.raw"));
        EXPECT_GT(events.size(), 50000u);
        return events;
    }
    std::string url() const { return "udp://127.0.0.1:" + std::to_string(port); }

    // Opens serial, records what sendFn sends until `expected` events are through, and returns
    // the recording's events.
    template <typename Send>
    std::vector<Event2D> receive(const std::string& serial, uint64_t expected, Send sendFn,
                                 std::shared_ptr<DvsCamera>* keep = nullptr) {
        DvsCameraManager manager;
        auto cam = manager.openCamera(serial);
        EXPECT_TRUE(cam);
        if (!cam) return {};
        EXPECT_EQ(cam->start(), 0);
        EXPECT_TRUE(cam->startRecording(dir.path(serial + ".raw")));
        sendFn(*cam);
        // all of it, or the system dropped some (the caller then cannot ask for exactness)
        EXPECT_TRUE(waitFor([&] {
            return cam->getDeliveredEventCount() >= expected || cam->getStreamLoss().lostDatagrams != 0;
        })) << cam->getDeliveredEventCount() << " of " << expected;
        if (cam->getStreamLoss().lostDatagrams != 0) std::this_thread::sleep_for(std::chrono::milliseconds(300));
        EXPECT_TRUE(cam->stopRecording());
        cam->stop();
        EXPECT_EQ(cam->getRecordedEventCount(), cam->getDeliveredEventCount());
        if (keep) *keep = cam;
        return nettest::readEvents(dir.path(serial + ".raw"));
    }

    TempDir dir;
    uint16_t port = 0;
};

} // namespace

TEST_F(NetworkCameraTest, ListedBesideTheSimulatedCamerasWithoutBiases) {
    DvsCameraManager manager;
    const auto descs = manager.getCameraDescs();
    ASSERT_EQ(descs.size(), 5u); // the three defaults, then the file's two
    EXPECT_EQ(descs[3].serial, "NET-T64");
    EXPECT_EQ(descs[3].linkType, LINK_NETWORK_STREAM);
    EXPECT_EQ(descs[3].localIp, "127.0.0.1");
    EXPECT_EQ(descs[3].deviceIndex, 3);
    EXPECT_FALSE(manager.isFusionCamera("NET-T64"));
    EXPECT_FALSE(manager.openFusionCamera("NET-T64"));
    auto cam = manager.openCamera("NET-T64");
    ASSERT_TRUE(cam);
    EXPECT_EQ(cam->getWidth(), kW);
    EXPECT_EQ(cam->getHeight(), kH);
    EXPECT_FALSE(cam->getTool(TOOL_BIASES));
    EXPECT_FALSE(cam->getTool(TOOL_TRIGGER_IN));
    for (ToolType t : {TOOL_ROI, TOOL_ANTI_FLICKER, TOOL_EVENT_TRAIL_FILTER, TOOL_EVENT_RATE_CONTROL})
        EXPECT_TRUE(cam->getTool(t)) << t;
    // the second camera listens on the same port: it cannot open while the first does
    EXPECT_FALSE(manager.openCamera("NET-T32"));
    cam.reset();
    EXPECT_TRUE(manager.openCamera("NET-T32"));
}

TEST_F(NetworkCameraTest, BadEntriesOfTheFileAreSkipped) {
    writeCameras("[{\"serial\": \"NET-A\"}, {\"serial\": \"NET-B\", \"port\": 70000},"
                 " {\"serial\": \"NET-C\", \"port\": 5000, \"format\": \"t16\"},"
                 " {\"serial\": \"NET-D\", \"port\": 5000, \"address\": \"localhost\"},"
                 " {\"serial\": \"NET-E\", \"port\": 5000, \"width\": 100000},"
                 " {\"serial\": \"SIM-DVS-0001\", \"port\": 5000}, {\"serial\": \"NET-OK\", \"port\": 5000}]");
    DvsCameraManager manager;
    const auto descs = manager.getCameraDescs();
    ASSERT_EQ(descs.size(), 4u);
    EXPECT_EQ(descs[3].serial, "NET-OK");
    EXPECT_EQ(descs[3].firmwareVersion, "t64_x16_y16_on8 on udp port 5000");
}

TEST_F(NetworkCameraTest, T64StreamIsRecordedExactly) {
    const auto events = recording(1000000);
    std::shared_ptr<DvsCamera> cam;
    const auto got = receive(
        "NET-T64", events.size(), [&](DvsCamera&) { ASSERT_TRUE(nettest::sendPaced(url(), false, events)); }, &cam);
    const NrStreamLoss loss = cam->getStreamLoss();
    EXPECT_EQ(loss.malformedDatagrams + loss.reorderedDatagrams + loss.invalidEvents, 0u);
    if (loss.lostDatagrams != 0) GTEST_SKIP() << "the system dropped " << loss.lostDatagrams << " datagrams";
    EXPECT_EQ(loss.datagrams, (events.size() + 99) / 100);
    ASSERT_EQ(got.size(), events.size());
    EXPECT_TRUE(got == events);
}

TEST_F(NetworkCameraTest, T32StreamAcrossTheWrapIsRecordedExactly) {
    const auto events = recording((1ull << 32) - 150000); // wraps half-way
    ASSERT_LT(events.front().timestamp, 1ull << 32);
    ASSERT_GT(events.back().timestamp, 1ull << 32);
    std::shared_ptr<DvsCamera> cam;
    const auto got = receive(
        "NET-T32", events.size(), [&](DvsCamera&) { ASSERT_TRUE(nettest::sendPaced(url(), true, events)); }, &cam);
    if (cam->getStreamLoss().lostDatagrams != 0) GTEST_SKIP() << "the system dropped datagrams";
    ASSERT_EQ(got.size(), events.size());
    EXPECT_TRUE(got == events);
}

// The viewer's dialog and Python name a stream by its address: checked as a file's entry would be.
TEST_F(NetworkCameraTest, ACameraNamedAtRunTimeIsListedAndRecordsExactly) {
    const std::string local = "udp://localhost:" + std::to_string(port);
    std::string why;
    for (const auto& [url, w, format, reason] :
         std::vector<std::tuple<std::string, uint32_t, std::string, std::string>>{
             {"udp://127.0.0.1", kW, "t64_x16_y16_on8", "udp://HOST:PORT"},
             {local, kW, "t16", "\"format\""},
             {local, 0, "t64_x16_y16_on8", "\"width\""},
             {"udp://cameras.example:5000", kW, "t64_x16_y16_on8", "dotted-quad"}}) {
        why.clear();
        EXPECT_EQ(DvsCameraManager::addNetworkCamera(url, w, kH, format, why), "") << url;
        EXPECT_NE(why.find(reason), std::string::npos) << url << ": " << why;
    }
    const std::string serial = DvsCameraManager::addNetworkCamera(local, kW, kH, "t32_x16_y15_on1", why);
    ASSERT_EQ(serial, "UDP-127.0.0.1-" + std::to_string(port)) << why;
    DvsCameraManager manager;
    const auto descs = manager.getCameraDescs();
    ASSERT_EQ(descs.size(), 6u); // the defaults, the file's two, then this one
    EXPECT_EQ(descs[5].serial, serial);
    EXPECT_EQ(descs[5].linkType, LINK_NETWORK_STREAM);

    const auto events = recording(1000000);
    std::shared_ptr<DvsCamera> cam;
    const auto got = receive(
        serial, events.size(), [&](DvsCamera&) { ASSERT_TRUE(nettest::sendPaced(url(), true, events)); }, &cam);
    // Named again while open: the same settings are the same camera, others wait for its close.
    EXPECT_EQ(DvsCameraManager::addNetworkCamera(local, kW, kH, "t32_x16_y15_on1", why), serial);
    EXPECT_EQ(DvsCameraManager::addNetworkCamera(local, kW, kH, "t64_x16_y16_on8", why), "");
    EXPECT_NE(why.find("is open"), std::string::npos) << why;
    const bool lost = cam->getStreamLoss().lostDatagrams != 0;
    cam.reset();
    EXPECT_EQ(DvsCameraManager::addNetworkCamera(local, kW, kH, "t64_x16_y16_on8", why), serial);
    if (lost) GTEST_SKIP() << "the system dropped datagrams";
    ASSERT_EQ(got.size(), events.size());
    EXPECT_TRUE(got == events);
}

TEST_F(NetworkCameraTest, BadDatagramsAndEventsAreCountedAndLeftOut) {
    const std::vector<Event2D> want = {ev(100, 1, 1, 1),    ev(200, 2, 2, 0),     ev(500, 639, 479, 1),
                                       ev(900, 6, 6, 0),    ev(50000, 9, 9, 1),   ev(60000, 12, 12, 0),
                                       ev(60200, 14, 14, 0), ev(60500, 13, 13, 1)};
    std::shared_ptr<DvsCamera> cam;
    const auto got = receive("NET-T64", want.size(), [&](DvsCamera& c) {
        std::string why;
        auto tx = UdpEventSender::open(url(), WireFormat::T64_X16_Y16_ON8, 100, why);
        ASSERT_TRUE(tx);
        auto send = [&](const std::vector<uint8_t>& b) { ASSERT_TRUE(tx->sendRaw(b.data(), b.size(), why)); };
        send(nettest::packT64({ev(100, 1, 1, 1), ev(200, 2, 2, 0)}));
        auto cut = nettest::packT64({ev(300, 3, 3, 1), ev(400, 4, 4, 1)});
        cut.pop_back(); // a datagram cut short: refused whole
        send(cut);
        send({});
        // outside the geometry (x 640, y 480), a polarity byte of 7: left out, the rest kept
        send(nettest::packT64({ev(500, 639, 479, 1), ev(600, 640, 0, 1), ev(700, 0, 480, 0), ev(800, 5, 5, 7),
                               ev(900, 6, 6, 0)}));
        send(nettest::packT64({ev(2000, 7, 7, 1), ev(1900, 8, 8, 1)})); // steps back within itself
        send(nettest::packT64({ev(50000, 9, 9, 1)}));
        // the stream pauses: everything up to 50000 is handed on
        ASSERT_TRUE(waitFor([&] { return c.getCameraTime() >= 50000; }));
        send(nettest::packT64({ev(40000, 10, 10, 1), ev(40001, 11, 11, 0)})); // after 50000 was handed on: too late
        send(nettest::packT64({ev(60000, 12, 12, 0)}));
        // a datagram late by less than the reorder window takes its place
        send(nettest::packT64({ev(60500, 13, 13, 1)}));
        send(nettest::packT64({ev(60200, 14, 14, 0)}));
    }, &cam);
    const NrStreamLoss loss = cam->getStreamLoss();
    if (loss.lostDatagrams != 0) GTEST_SKIP() << "the system dropped datagrams";
    EXPECT_EQ(loss.datagrams, 10u);
    EXPECT_EQ(loss.malformedDatagrams, 2u);
    EXPECT_EQ(loss.reorderedDatagrams, 2u);
    EXPECT_EQ(loss.reorderedEvents, 4u);
    EXPECT_EQ(loss.invalidEvents, 3u);
    EXPECT_EQ(cam->getDroppedEventCount(), 7u);
    EXPECT_EQ(got, want);
}

// A sender that starts over sends times the stream has passed: dropped as late until the camera
// restarts, which begins its clock anew.
TEST_F(NetworkCameraTest, AStreamThatStartsOverIsFollowedAfterARestart) {
    DvsCameraManager manager;
    auto cam = manager.openCamera("NET-T64");
    ASSERT_TRUE(cam);
    std::vector<Event2D> batch;
    cam->getNextBatch(batch); // the hand-off keeps the stream from now on
    ASSERT_EQ(cam->start(), 0);
    std::string why;
    auto tx = UdpEventSender::open(url(), WireFormat::T64_X16_Y16_ON8, 100, why);
    ASSERT_TRUE(tx);
    const std::vector<Event2D> first = {ev(1000000, 1, 1, 1)}, again = {ev(10, 2, 2, 0), ev(20, 3, 3, 1)};
    ASSERT_TRUE(tx->send(first.data(), first.data() + 1, why));
    ASSERT_TRUE(waitFor([&] { return cam->getCameraTime() >= 1000000; }));
    ASSERT_TRUE(tx->send(again.data(), again.data() + 2, why));
    ASSERT_TRUE(waitFor([&] { return cam->getStreamLoss().reorderedDatagrams == 1; }));
    EXPECT_EQ(cam->getDeliveredEventCount(), 1u);
    ASSERT_EQ(cam->stop(), 0);
    ASSERT_EQ(cam->start(), 0);
    ASSERT_TRUE(tx->send(again.data(), again.data() + 2, why));
    ASSERT_TRUE(waitFor([&] { return cam->getDeliveredEventCount() == 3; }));
    ASSERT_TRUE(waitFor([&] { return cam->getNextBatch(batch) && !batch.empty(); }));
    EXPECT_EQ(batch, again);
    EXPECT_EQ(cam->getStreamLoss().reorderedDatagrams, 1u);
}

TEST_F(NetworkCameraTest, RoiToolActsOnTheStream) {
    const auto events = recording(0);
    std::vector<Event2D> inside;
    for (const auto& e : events)
        if (e.x >= 100 && e.x < 300 && e.y >= 50 && e.y < 150) inside.push_back(e);
    ASSERT_GT(inside.size(), 1000u);
    DvsCameraManager manager;
    auto cam = manager.openCamera("NET-T64");
    ASSERT_TRUE(cam);
    auto roi = cam->getTool(TOOL_ROI);
    ASSERT_TRUE(roi->setParam("roi_width", 200) && roi->setParam("roi_height", 100) && roi->setParam("roi_x", 100) &&
                roi->setParam("roi_y", 50) && roi->setParam("roi_enable", true));
    ASSERT_EQ(cam->start(), 0);
    ASSERT_TRUE(cam->startRecording(dir.path("roi.raw")));
    ASSERT_TRUE(nettest::sendPaced(url(), false, events));
    EXPECT_TRUE(waitFor([&] { return cam->getDeliveredEventCount() >= inside.size(); }));
    ASSERT_TRUE(cam->stopRecording());
    if (cam->getStreamLoss().lostDatagrams != 0) GTEST_SKIP() << "the system dropped datagrams";
    EXPECT_TRUE(nettest::readEvents(dir.path("roi.raw")) == inside);
}

namespace {

// Reads dev until the sender is done (when told), the queue is empty and the held-back events
// are out; the events handed on.
uint64_t readUntilQuiet(NetworkDevice& dev, const std::atomic<bool>* sending = nullptr) {
    EventChunk chunk;
    chunk.events.reserve(NetworkDevice::kMaxChunkEvents);
    uint64_t received = 0;
    for (int quietReads = 0; quietReads < 5;) {
        if (!dev.read(chunk)) return received;
        received += chunk.events.size();
        quietReads = chunk.events.empty() && !(sending && *sending) ? quietReads + 1 : 0;
    }
    return received;
}

// A device of kW x kH on a free loopback port, streaming.
std::unique_ptr<NetworkDevice> streamingDevice() {
    NetworkStreamSettings s;
    s.width = kW;
    s.height = kH;
    std::string why;
    auto dev = NetworkDevice::open(s, why);
    EXPECT_TRUE(dev) << why;
    if (dev) dev->startStream(true);
    return dev;
}

} // namespace

// More events within the reorder window than the device holds back (100 events a microsecond):
// they are handed on regardless, never stall the stream.
TEST(NetworkDevice, ADenseStreamIsHandedOnWhole) {
    auto dev = streamingDevice();
    ASSERT_TRUE(dev);
    std::string why;
    auto tx =
        UdpEventSender::open("udp://127.0.0.1:" + std::to_string(dev->port()), WireFormat::T64_X16_Y16_ON8, 100, why);
    ASSERT_TRUE(tx);
    std::vector<Event2D> part(100);
    constexpr uint64_t kSent = 2000;
    std::atomic<bool> sending{true};
    uint64_t received = 0;
    std::thread reader([&] { received = readUntilQuiet(*dev, &sending); });
    for (uint64_t n = 0; n < kSent; ++n) {
        for (size_t i = 0; i < part.size(); ++i) part[i] = ev(1000 + n, uint16_t(i), uint16_t(n % kH), 1);
        ASSERT_TRUE(tx->send(part.data(), part.data() + part.size(), why));
        if (n % 20 == 19) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    sending = false;
    reader.join();
    const NrStreamLoss loss = dev->streamLoss();
    EXPECT_EQ(received, loss.datagrams * 100);
    EXPECT_EQ(loss.datagrams + loss.lostDatagrams, kSent);
    EXPECT_EQ(loss.reorderedDatagrams, 0u);
}

// A sender far faster than the reader: the system's queue overflows, what it dropped is
// counted, and every datagram is either received or counted lost.
TEST(NetworkDevice, AFloodIsDroppedAndCounted) {
    auto dev = streamingDevice();
    ASSERT_TRUE(dev);
    std::string why;
    std::vector<Event2D> part;
    for (int i = 0; i < 100; ++i) part.push_back(ev(uint64_t(i), uint16_t(i), 7, 1));
    auto tx =
        UdpEventSender::open("udp://127.0.0.1:" + std::to_string(dev->port()), WireFormat::T64_X16_Y16_ON8, 100, why);
    ASSERT_TRUE(tx);
    constexpr uint64_t kSent = 20000; // 26 MB: several times what the queue holds
    for (uint64_t n = 0; n < kSent; ++n) {
        for (auto& e : part) e.timestamp += 100;
        const auto bytes = nettest::packT64(part);
        ASSERT_TRUE(tx->sendRaw(bytes.data(), bytes.size(), why));
    }
    const uint64_t received = readUntilQuiet(*dev);
    const NrStreamLoss loss = dev->streamLoss();
    EXPECT_GT(loss.lostDatagrams, 0u);
    EXPECT_EQ(loss.datagrams + loss.lostDatagrams, kSent);
    EXPECT_EQ(received, loss.datagrams * 100);
    EXPECT_EQ(loss.reorderedDatagrams + loss.malformedDatagrams + loss.invalidEvents, 0u);
}
