// NrFusionCameraDataProcessor: the three live views (images, timestamps, the tie rule), the
// simulated fusion camera's frames paired with their own windows, the calibration it refuses,
// slotApplyOffset with and without the camera, and the replay of a recording made by the simulated
// fusion camera: range, steps, seek, loop, the finished signal, the fused image (the mapped APS
// frame with the window's events drawn on it) and a paused replay redrawn in a new view.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <chrono>
#include <algorithm>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "TestEnv.h"
#include "loadconfig.h"
#include "norvale/ApsFileReader.h"
#include "norvale/DvsCameraManager.h"
#include "norvale/DvsFileReader.h"
#include "processing/nrfusioncameradataprocessor.h"

using namespace norvale;
using namespace std::chrono_literals;

namespace {

// Generous by default: a sanitizer build on a busy machine is slow, and only what the code
// controls is checked, never how fast it ran.
bool waitFor(const std::function<bool()>& done, std::chrono::milliseconds limit = 30000ms) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

// Everything the processor tells its receivers.
struct Listener {
    std::vector<QImage> images;
    std::vector<uint64_t> stamps;
    std::vector<std::pair<QString, NrMessageType>> tips;
    std::vector<uint64_t> starts, ends;
    std::vector<bool> playStatus;
    int finished = 0;
    explicit Listener(NrFusionCameraDataProcessor& p) {
        QObject::connect(&p, &NrFusionCameraDataProcessor::signalFusionImage, [this](const QImage& i) { images.push_back(i); });
        QObject::connect(&p, &NrFusionCameraDataProcessor::signalTimeStamp, [this](uint64_t t) { stamps.push_back(t); });
        QObject::connect(&p, &NrFusionCameraDataProcessor::signalShowLeftBottomTips,
                         [this](QString t, NrMessageType k, QString) { tips.emplace_back(t, k); });
        QObject::connect(&p, &NrFusionCameraDataProcessor::signalStartTimeStamp, [this](uint64_t t) { starts.push_back(t); });
        QObject::connect(&p, &NrFusionCameraDataProcessor::signalEndTimeStamp, [this](uint64_t t) { ends.push_back(t); });
        QObject::connect(&p, &NrFusionCameraDataProcessor::signalPlayStatus, [this](bool b) { playStatus.push_back(b); });
        QObject::connect(&p, &NrFusionCameraDataProcessor::signalPalyFileFinished, [this] { ++finished; });
    }
    void clear() {
        images.clear();
        stamps.clear();
        tips.clear();
    }
};

ApsFrame codedFrame(uint64_t ts) {
    ApsFrame f(3840, 2160, 0, ts);
    for (int v = 0; v < 2160; ++v)
        for (int u = 0; u < 3840; ++u) {
            uint8_t* p = f.data() + (size_t(v) * 3840 + u) * 3;
            p[0] = uint8_t(u);     // blue
            p[1] = uint8_t(v);     // green
            p[2] = uint8_t(u + v); // red
        }
    return f;
}

// One frame through the live path, fed as the driver feeds it: the exposure's rising edge, the
// events of its window (their timestamps taken as offsets from frameTs, below 1000), the frame, then
// the next exposure's edge and an event past it (outside the display) that completes the window.
void livePair(NrFusionCameraDataProcessor& p, std::vector<Event2D> ev, uint64_t frameTs) {
    for (Event2D& e : ev)
        e.timestamp += frameTs;
    p.addTriggerInToFusionProccessor(EventTriggerIn{1, frameTs, 0});
    p.updateEvents(ev.data(), ev.data() + ev.size());
    p.addEventsToFusionProccessor(ev.data(), ev.data() + ev.size());
    p.addApsFrameToFusionProccessor(codedFrame(frameTs));
    p.addTriggerInToFusionProccessor(EventTriggerIn{1, frameTs + 1000, 0});
    const Event2D past{5000, 0, 1, frameTs + 1000};
    p.updateEvents(&past, &past + 1);
    p.addEventsToFusionProccessor(&past, &past + 1);
}

class FusionProcessorTest : public ::testing::Test {
protected:
    void SetUp() override {
        testenv::useLightCameras(dir.path());
        config = LoadConfig::getGlobalConfig();
        config->inputRawFilePath = dir.path() + QStringLiteral("/in");
    }
    QTemporaryDir dir;
    LoadConfig* config = nullptr;
    DvsCameraManager manager;
};

} // namespace

TEST_F(FusionProcessorTest, ThreeLiveViewsWithTheirTimestamps) {
    NrFusionCameraDataProcessor p;
    Listener l(p);
    const QColor on = config->dvsOnColor, off = config->dvsOffColor, bg = config->dvsBackgroundColor;

    // DVS view: counts since the previous frame; a tie is ON; counting starts with the view
    p.slotSetViewerType(STREAM_APS);
    std::vector<Event2D> before{{40, 10, 1, 1}};
    p.updateEvents(before.data(), before.data() + 1); // not counted: APS view
    p.slotSetViewerType(STREAM_DVS);
    std::vector<Event2D> ev;
    for (int i = 0; i < 3; ++i) {
        ev.push_back({10, 10, 1, 5});
        ev.push_back({10, 10, 0, 5});
    }
    ev.push_back({20, 10, 0, 6});
    ev.push_back({20, 10, 0, 6});
    ev.push_back({20, 10, 1, 6});
    ev.push_back({2000, 10, 1, 6}); // outside: dropped
    livePair(p, ev, 1000);
    ASSERT_TRUE(waitFor([&] { return !l.images.empty() && !l.stamps.empty(); }));
    EXPECT_EQ(l.stamps.back(), 1000u);
    EXPECT_EQ(l.images.back().pixelColor(10, 10), on);
    EXPECT_EQ(l.images.back().pixelColor(20, 10), off);
    EXPECT_EQ(l.images.back().pixelColor(40, 10), bg);
    l.clear();
    livePair(p, {}, 2000); // the counts were cleared with the frame
    ASSERT_TRUE(waitFor([&] { return !l.images.empty() && !l.stamps.empty(); }));
    EXPECT_EQ(l.images.back().pixelColor(10, 10), bg);
    EXPECT_EQ(l.stamps.back(), 2000u);

    // APS view: the frame mapped through the default calibration, no events
    p.slotSetViewerType(STREAM_APS);
    l.clear();
    livePair(p, {{700, 300, 1, 7}}, 3000);
    ASSERT_TRUE(waitFor([&] { return !l.images.empty() && !l.stamps.empty(); }));
    const QImage aps = l.images.back();
    EXPECT_EQ(aps.pixelColor(640, 360), QColor(uint8_t(1920 + 1080), uint8_t(1080), uint8_t(1920)));
    EXPECT_EQ(aps.pixelColor(0, 0), QColor(0, 0, 0));
    EXPECT_EQ(l.stamps.back(), 3000u);

    // fusion view: nothing without a connected camera
    p.slotSetViewerType(STREAM_FUSION);
    l.clear();
    livePair(p, {{700, 300, 1, 8}}, 4000);
    waitFor([] { return false; }, 100ms);
    EXPECT_TRUE(l.images.empty());
    EXPECT_TRUE(l.stamps.empty());
    auto cam = manager.openFusionCamera("SIM-LIGHT-FUS");
    ASSERT_TRUE(cam);
    p.setDevicePtr(cam);
    p.clearCache();
    livePair(p, {{700, 300, 1, 8}, {701, 300, 0, 8}}, 5000);
    ASSERT_TRUE(waitFor([&] { return !l.images.empty() && !l.stamps.empty(); }));
    EXPECT_EQ(l.images.back().pixelColor(700, 300), on);
    EXPECT_EQ(l.images.back().pixelColor(701, 300), off);
    EXPECT_EQ(l.images.back().pixelColor(640, 360), aps.pixelColor(640, 360));
    EXPECT_EQ(l.stamps.back(), 5000u);
    cam->simulateUnplug();
    l.clear();
    livePair(p, {{700, 300, 1, 9}}, 6000);
    waitFor([] { return false; }, 100ms);
    EXPECT_TRUE(l.images.empty());
}

TEST_F(FusionProcessorTest, CalibrationRefusalAndApplyOffset) {
    NrFusionCameraDataProcessor p;
    Listener l(p);
    const std::vector<double> initial = p.calibration().dvsToAps;
    CalibratorParameters wrong;
    wrong.dvsFrameCols = 640;
    wrong.dvsFrameRows = 480;
    wrong.affineMatrix["1"] = MatrixData{2, 3, 6, {1, 0, 0, 0, 1, 0}};
    p.setCalibrationParam(wrong);
    ASSERT_EQ(l.tips.size(), 1u);
    EXPECT_EQ(l.tips[0].second, NrMessageWarning);
    EXPECT_TRUE(l.tips[0].first.contains(QStringLiteral("640 x 480")));
    EXPECT_EQ(p.calibration().dvsToAps, initial);

    // without a camera: folded and written, but the camera's answer is a failure
    const QString tmp = config->inputRawFilePath + QStringLiteral("/tmp_calibration_file.json");
    p.slotSetApsOffset(10, -2);
    p.slotApplyOffset();
    ASSERT_EQ(l.tips.size(), 2u);
    EXPECT_EQ(l.tips[1].first, QStringLiteral("Manual calibration parameters were written failed!"));
    EXPECT_EQ(l.tips[1].second, NrMessageError);
    const Calibrator folded = p.calibration();
    EXPECT_DOUBLE_EQ(folded.dvsToAps[2], initial[2] + 10);
    EXPECT_DOUBLE_EQ(folded.dvsToAps[5], initial[5] - 2);
    CalibratorParameters written;
    ASSERT_TRUE(jsonFileToParam(tmp.toStdString(), written));
    EXPECT_EQ(written.affineMatrix["1"].data, folded.dvsToAps);
    EXPECT_EQ(written.affineMatrix["0"].data, folded.apsToDvs);
    // the inverse of the folded transform
    EXPECT_NEAR(folded.apsToDvs[0] * (initial[0] * 100 + folded.dvsToAps[2]) + folded.apsToDvs[2], 100, 1e-9);
    // the offset now lives in the matrix: applying again changes nothing
    p.slotApplyOffset();
    EXPECT_EQ(p.calibration().dvsToAps, folded.dvsToAps);

    // with a connected camera: it takes the file
    auto cam = manager.openFusionCamera("SIM-LIGHT-FUS");
    ASSERT_TRUE(cam);
    p.setDevicePtr(cam);
    p.slotSetApsOffset(0, 4);
    p.slotApplyOffset();
    EXPECT_EQ(l.tips.back().first, QStringLiteral("Manual calibration parameters were written successfully!"));
    EXPECT_EQ(l.tips.back().second, NrMessageSuccess);
    CalibratorParameters camCal;
    ASSERT_TRUE(cam->getCalibrationParams(camCal));
    EXPECT_DOUBLE_EQ(camCal.affineMatrix["1"].data[5], initial[5] + 2);
}

// A few seconds from the simulated fusion camera, replayed.
// The simulated fusion camera's own streams through the pairing: every shown frame holds exactly
// the events from its exposure's start to the next exposure's start, as the camera documents it
// (its edges come before the events of their stretch, its frames after their exposure).
TEST_F(FusionProcessorTest, LiveCameraFramesHoldTheirOwnWindows) {
    struct Shown {
        uint64_t ts;
        std::vector<uint64_t> events;
    };
    std::mutex m;
    std::vector<uint64_t> all, rising;
    all.reserve(4u << 20);
    std::vector<Shown> shown;
    DvsApsFusionProccessor pairing;
    pairing.setCallback([&](ApsFrame& f, const DvsApsFusionProccessor::EventSpan* spans, size_t n) {
        Shown s{f.timestamp, {}};
        for (size_t i = 0; i < n; ++i)
            for (const Event2D* e = spans[i].begin; e != spans[i].end; ++e)
                s.events.push_back(e->timestamp);
        std::lock_guard<std::mutex> lock(m);
        shown.push_back(std::move(s));
    });
    {
        auto cam = manager.openFusionCamera("SIM-LIGHT-FUS");
        ASSERT_TRUE(cam);
        cam->addEventsCallback([&](const Event2D* b, const Event2D* e) {
            {
                std::lock_guard<std::mutex> lock(m);
                for (const Event2D* i = b; i != e; ++i)
                    all.push_back(i->timestamp);
            }
            pairing.addEvents(b, e);
        });
        cam->addTriggerInCallback([&](const EventTriggerIn& t) {
            if (t.value == 1 && t.id == 0) {
                std::lock_guard<std::mutex> lock(m);
                rising.push_back(t.timestamp);
            }
            pairing.addTriggerIn(t);
        });
        cam->addApsFrameCallback([&](const ApsFrame& f) { pairing.addApsFrame(f); });
        ASSERT_EQ(cam->start(STREAM_FUSION), 0);
        std::this_thread::sleep_for(1500ms);
        // a busy machine may show few frames: wait for three, at most a few seconds more
        waitFor([&] {
            std::lock_guard<std::mutex> lock(m);
            return shown.size() >= 3;
        });
        cam->stop(STREAM_FUSION);
        cam->closeCamera();
    }
    std::lock_guard<std::mutex> lock(m);
    ASSERT_GE(shown.size(), 3u);
    for (const Shown& s : shown) {
        const auto next = std::upper_bound(rising.begin(), rising.end(), s.ts);
        ASSERT_TRUE(std::binary_search(rising.begin(), rising.end(), s.ts)) << s.ts; // starts at an edge
        ASSERT_NE(next, rising.end());
        const auto lo = std::lower_bound(all.begin(), all.end(), s.ts);
        const auto hi = std::lower_bound(all.begin(), all.end(), *next);
        EXPECT_EQ(s.events, std::vector<uint64_t>(lo, hi)) << "frame " << s.ts;
    }
}

TEST_F(FusionProcessorTest, ReplaysARecordingOfTheSimulatedFusionCamera) {
    const QString folder = dir.path();
    std::mutex liveMutex;
    std::vector<Event2D> live; // the stream as the callbacks saw it, aligned with the APS image
    live.reserve(4u << 20);    // no copying inside the streaming thread's callback
    {
        auto cam = manager.openFusionCamera("SIM-LIGHT-FUS");
        ASSERT_TRUE(cam);
        cam->addEventsCallback([&](const Event2D* b, const Event2D* e) {
            std::lock_guard<std::mutex> lock(liveMutex);
            live.insert(live.end(), b, e);
        });
        const auto streamedUntil = [&] {
            std::lock_guard<std::mutex> lock(liveMutex);
            return live.empty() ? uint64_t(0) : live.back().timestamp;
        };
        ASSERT_EQ(cam->start(STREAM_FUSION), 0);
        ASSERT_TRUE(waitFor([&] { return streamedUntil() >= 200000; }));
        ASSERT_TRUE(cam->startRecording(folder.toStdString(), "fus", STREAM_FUSION));
        // two seconds of the camera's time (a busy machine takes longer to stream them)
        const uint64_t from = streamedUntil();
        ASSERT_TRUE(waitFor([&] { return streamedUntil() >= from + 2000000; }));
        ASSERT_TRUE(cam->stopRecording(STREAM_FUSION));
        cam->closeCamera();
    }
    const std::string base = (folder + QStringLiteral("/fus")).toStdString();
    auto raw = DvsFileReader::createFileReader(base + ".raw");
    ASSERT_TRUE(raw && raw->prepareFile());
    DvsFileInfo info;
    raw->getFileInfo(info);
    uint64_t dvsEnd = 0;
    raw->getEndTimestamp(dvsEnd);
    ASSERT_GT(info.apsStartTimestamp, 0u);

    NrFusionCameraDataProcessor p;
    Listener l(p);
    bool loading = false;
    QObject::connect(&p, &NrFusionCameraDataProcessor::signalLoadingStatus, [&](bool b) { loading = b; });
    ASSERT_TRUE(p.slotReadFusionFile(folder + QStringLiteral("/fus.raw")));
    EXPECT_TRUE(loading);
    // Opening pauses what played before; loading ends playing.
    ASSERT_TRUE(waitFor([&] { return l.playStatus.size() >= 2; }, 20000ms));
    EXPECT_FALSE(loading);
    EXPECT_EQ(l.playStatus, (std::vector<bool>{false, true}));
    ASSERT_EQ(l.starts.size(), 1u);
    EXPECT_EQ(l.starts[0], info.apsStartTimestamp);
    EXPECT_EQ(l.ends.at(0), dvsEnd);
    EXPECT_EQ(l.stamps.at(0), info.apsStartTimestamp);
    const uint64_t lower = info.apsStartTimestamp;

    // steps: back at the start stays, on by one step, seek
    // (a step waits half a second for its frame; a slow decode arrives later by itself)
    auto shown = [&](uint64_t ts) { return waitFor([&] { return !l.stamps.empty() && l.stamps.back() == ts; }); };
    p.slotPlaybackReset(); // loading ends playing: back to the paused start
    l.clear();
    p.preFrame();
    EXPECT_TRUE(shown(lower));
    p.nextFrame();
    EXPECT_TRUE(shown(lower + 33333));
    // a moment whose window holds events (the scene's shapes come and go) and the video a frame
    // (on a busy machine the first recorded frame may come well after the recording's start)
    auto video = ApsFileReader::createFileReader(base + ".mp4");
    ASSERT_TRUE(video);
    std::vector<ApsFrameIndexEntry> frames;
    video->getFrameIndex(frames);
    ASSERT_FALSE(frames.empty());
    std::vector<Event2D> window;
    uint64_t mid = lower + std::max<uint64_t>(100000, frames.front().timestamp);
    while (mid + 33333 < dvsEnd && raw->readRange(mid - 33333, mid, window) && window.size() < 500)
        mid += 33333;
    ASSERT_GE(window.size(), 500u);
    p.setPlayPos(mid);
    EXPECT_TRUE(shown(mid));
    EXPECT_EQ(p.playPosition(), mid);

    // the fused image at mid: the APS frame shown at mid, mapped, with the events of
    // [mid - 33333, mid) drawn where they were live (the file holds them mirrored)
    ASSERT_FALSE(l.images.empty());
    const QImage fused = l.images.back();
    ApsFrame frame;
    ASSERT_TRUE(video->readFrameByTimestamp(mid - lower, frame))
        << "at " << (mid - lower) << " us; " << frames.size() << " frames from " << frames.front().timestamp << " us";
    NrApsMapper mapper;
    const ApsFrame mapped = mapper.mapToFrame(frame, NrApsMapper::transformOf(p.calibration(), 0, 0));
    std::map<std::pair<int, int>, uint8_t> last; // live pixel -> polarity of its last event
    size_t liveInWindow = 0;
    for (const Event2D& e : live)
        if (e.timestamp + 33333 >= mid && e.timestamp < mid) {
            last[{e.x, e.y}] = e.polarity;
            ++liveInWindow;
        }
    EXPECT_EQ(liveInWindow, window.size());
    size_t eventPixels = 0, apsPixels = 0, wrong = 0;
    for (int y = 0; y < 720; y += 2)
        for (int x = 0; x < 1280; ++x) {
            const auto it = last.find({x, y});
            const QColor got = fused.pixelColor(x, y);
            if (it != last.end()) {
                ++eventPixels;
                wrong += got != (it->second ? config->dvsOnColor : config->dvsOffColor);
            } else {
                ++apsPixels;
                const uint8_t* s = mapped.data() + (size_t(y) * 1280 + x) * 3;
                wrong += got != QColor(s[2], s[1], s[0]);
            }
        }
    EXPECT_GT(eventPixels, 100u);
    EXPECT_EQ(wrong, 0u);
    // the scene's edge: the mapped APS image has bright shapes on a dark background
    int bright = 0;
    for (int x = 0; x < 1280; ++x) {
        const uint8_t* s = mapped.data() + (size_t(360) * 1280 + x) * 3;
        bright += s[0] > 120;
    }
    EXPECT_GT(bright, 5);
    // and the fused image's event pixels lie on the mapped APS image's edges: within 30 px of a
    // step in their row (the fastest bar moves about 27 px from the window's start to the
    // exposure's middle; mirrored, about 2 % of them would)
    auto level = [&](int x, int y) {
        const uint8_t* s = mapped.data() + (size_t(y) * 1280 + x) * 3;
        return int(s[0]) + s[1] + s[2];
    };
    size_t onEdge = 0;
    for (const auto& px : last) {
        const int ex = px.first.first, ey = px.first.second;
        int lo = 1000, hi = 0;
        for (int x = std::max(0, ex - 30); x <= std::min(1279, ex + 30); ++x) {
            lo = std::min(lo, level(x, ey));
            hi = std::max(hi, level(x, ey));
        }
        onEdge += hi - lo > 150;
    }
    EXPECT_GT(onEdge * 10, last.size() * 6) << onEdge << " of " << last.size();

    // play to the end of a short range without loop: finished once, back at the start
    const uint64_t upper = std::min(lower + 300000, dvsEnd);
    p.slotSetUpperTimeStamp(upper);
    p.setPlayPos(upper - 100000);
    p.slotPlaybackCtrl(true);
    EXPECT_TRUE(p.isPlaying());
    ASSERT_TRUE(waitFor([&] { return l.finished == 1; }));
    waitFor([&] { return false; }, 200ms);
    EXPECT_EQ(l.finished, 1);
    EXPECT_FALSE(p.isPlaying());
    EXPECT_EQ(p.playPosition(), lower);
    // with loop it goes on through the start
    p.slotSetReplayFlag(true);
    l.clear();
    p.slotPlaybackCtrl(true);
    p.slotPlaybackCtrl(true); // a second start while playing starts nothing more
    const bool wrapped = waitFor([&] {
        for (size_t i = 1; i < l.stamps.size(); ++i)
            if (l.stamps[i] < l.stamps[i - 1])
                return true;
        return false;
    });
    ASSERT_TRUE(wrapped);
    EXPECT_TRUE(p.isPlaying());
    EXPECT_EQ(l.finished, 1);
    p.slotPlaybackCtrl(false);
    EXPECT_FALSE(p.isPlaying());

    // the DVS view of a replay: background, then the events
    p.slotSetViewerType(STREAM_DVS);
    l.clear();
    p.setPlayPos(lower + 200000);
    ASSERT_TRUE(shown(lower + 200000));
    ASSERT_FALSE(l.images.empty());
    size_t background = 0;
    for (int y = 0; y < 720; y += 4)
        for (int x = 0; x < 1280; x += 4)
            background += l.images.back().pixelColor(x, y) == config->dvsBackgroundColor;
    EXPECT_GT(background, size_t(180 * 320 / 2));

    // paused, a new view redraws the same moment in it: APS shows the mapped frame, fusion adds
    // the events; choosing the view it already has shows nothing new
    ASSERT_TRUE(video->readFrameByTimestamp(200000, frame));
    const ApsFrame mappedAt = mapper.mapToFrame(frame, NrApsMapper::transformOf(p.calibration(), 0, 0));
    auto apsMismatches = [&](const QImage& image) {
        size_t n = 0;
        for (int y = 0; y < 720; y += 3)
            for (int x = 0; x < 1280; x += 3) {
                const uint8_t* s = mappedAt.data() + (size_t(y) * 1280 + x) * 3;
                const QColor got = image.pixelColor(x, y);
                n += got != QColor(s[2], s[1], s[0]) && got != config->dvsOnColor && got != config->dvsOffColor;
            }
        return n;
    };
    auto eventColoured = [&](const QImage& image) {
        size_t n = 0;
        for (int y = 0; y < 720; ++y)
            for (int x = 0; x < 1280; ++x) {
                const QColor got = image.pixelColor(x, y);
                n += got == config->dvsOnColor || got == config->dvsOffColor;
            }
        return n;
    };
    size_t eventsIn[3] = {0, 0, 0};
    for (STREAM_TYPE view : {STREAM_APS, STREAM_FUSION}) {
        l.clear();
        p.slotSetViewerType(view);
        ASSERT_TRUE(waitFor([&] { return !l.images.empty() && !l.stamps.empty(); })) << view;
        EXPECT_EQ(l.stamps.back(), lower + 200000);
        EXPECT_EQ(apsMismatches(l.images.back()), 0u) << view;
        eventsIn[view] = eventColoured(l.images.back());
        EXPECT_EQ(p.playPosition(), lower + 200000);
    }
    EXPECT_GT(eventsIn[STREAM_FUSION], eventsIn[STREAM_APS] + 100);
    l.clear();
    p.slotSetViewerType(STREAM_FUSION);
    waitFor([] { return false; }, 100ms);
    EXPECT_TRUE(l.images.empty());

    // a ".json" beside the recording that is not a calibration: warning naming it, calibration kept
    for (const char* ext : {".raw", ".mp4"})
        ASSERT_TRUE(QFile::copy(QString::fromStdString(base + ext), folder + QStringLiteral("/bad") + ext));
    QFile bad(folder + QStringLiteral("/bad.json"));
    ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
    bad.write("{ not json");
    bad.close();
    const std::vector<double> before = p.calibration().dvsToAps;
    l.clear();
    ASSERT_TRUE(p.slotReadFusionFile(folder + QStringLiteral("/bad.raw")));
    ASSERT_FALSE(l.tips.empty());
    EXPECT_EQ(l.tips[0].second, NrMessageWarning);
    EXPECT_TRUE(l.tips[0].first.contains(QStringLiteral("bad.json")));
    EXPECT_EQ(p.calibration().dvsToAps, before);
    ASSERT_TRUE(waitFor([&] { return !loading; }, 20000ms));

    // a recording without its video: an error tip naming the video
    QFile::remove(folder + QStringLiteral("/bad.mp4"));
    QFile::remove(folder + QStringLiteral("/bad.json"));
    l.clear();
    ASSERT_TRUE(p.slotReadFusionFile(folder + QStringLiteral("/bad.raw")));
    ASSERT_TRUE(waitFor([&] { return !l.tips.empty(); }, 20000ms));
    EXPECT_EQ(l.tips[0].second, NrMessageError);
    EXPECT_TRUE(l.tips[0].first.contains(QStringLiteral("bad.mp4")));
}
