// NrFileRecorder against the simulated DVS camera: a timed recording's length and tips, a manual
// stop during a timed recording (which must not stop the next recording), the refusals and their
// tips, and a camera that cannot record.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "Utility/nrfilerecorder.h"
#include "TestEnv.h"
#include "loadconfig.h"
#include "norvale/DvsCameraManager.h"
#include "norvale/DvsFileReader.h"

using namespace norvale;
using namespace std::chrono_literals;

namespace {

struct Tips {
    std::mutex mutex;
    std::vector<std::pair<QString, QString>> all; // tip, path
    explicit Tips(NrFileRecorder& r) {
        QObject::connect(&r, &NrFileRecorder::signalShowLeftBottomTips, [this](QString t, NrMessageType, QString p) {
            std::lock_guard<std::mutex> lock(mutex);
            all.emplace_back(t, p);
        });
    }
    size_t count(const QString& tip) {
        std::lock_guard<std::mutex> lock(mutex);
        size_t n = 0;
        for (const auto& t : all)
            n += t.first == tip;
        return n;
    }
    QString last() {
        std::lock_guard<std::mutex> lock(mutex);
        return all.empty() ? QString() : all.back().first;
    }
    bool waitFor(const QString& tip, size_t n, std::chrono::milliseconds limit) {
        const auto end = std::chrono::steady_clock::now() + limit;
        while (count(tip) < n) {
            if (std::chrono::steady_clock::now() > end)
                return false;
            std::this_thread::sleep_for(10ms);
        }
        return true;
    }
};

// Event time covered by a recording, in microseconds.
uint64_t span(const QString& path) {
    auto r = DvsFileReader::createFileReader(path.toStdString());
    uint64_t a = 0, b = 0;
    if (!r || !r->prepareFile() || !r->getStartTimestamp(a) || !r->getEndTimestamp(b))
        return 0;
    return b - a;
}

// Waits until the camera has streamed us more of its time (not of the wall clock, which a busy
// machine leaves it behind); false when it does not within a generous limit.
bool waitStreamed(const DvsCamera& cam, uint64_t us) {
    const uint64_t target = cam.getCameraTime() + us;
    const auto end = std::chrono::steady_clock::now() + 20s;
    while (cam.getCameraTime() < target) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

// A recording spans what the camera streamed while it ran: its first event comes no earlier than
// camera time startedBy (read before the start) and before sawRunning (read while it surely ran),
// its last no earlier than sawRunning and no later than endedBy (read after the end). Holds however
// far the camera lags the wall clock.
void expectSpans(const QString& path, uint64_t startedBy, uint64_t sawRunning, uint64_t endedBy) {
    auto r = DvsFileReader::createFileReader(path.toStdString());
    uint64_t a = 0, b = 0;
    ASSERT_TRUE(r && r->prepareFile() && r->getStartTimestamp(a) && r->getEndTimestamp(b)) << path.toStdString();
    constexpr uint64_t kSlack = 10000; // a chunk of the stream on either side
    EXPECT_GE(a + kSlack, startedBy) << path.toStdString();
    EXPECT_LT(a, sawRunning) << path.toStdString();
    EXPECT_GE(b + kSlack, sawRunning) << path.toStdString();
    EXPECT_LE(b, endedBy + kSlack) << path.toStdString();
}

class RecorderTest : public ::testing::Test {
protected:
    void SetUp() override {
        testenv::useLightCameras(dir.path());
        cam = manager.openCamera("SIM-LIGHT-DVS");
        ASSERT_TRUE(cam);
        ASSERT_EQ(cam->start(), 0);
    }
    void TearDown() override {
        if (cam)
            cam->stop();
    }
    QTemporaryDir dir;
    DvsCameraManager manager;
    std::shared_ptr<DvsCamera> cam;
};

} // namespace

TEST_F(RecorderTest, TimedRecordingLastsItsDuration) {
    NrFileRecorder rec;
    Tips tips(rec);
    const QString path = dir.path() + "/timed.raw";
    EXPECT_FALSE(rec.recordingTime(2, path)); // no camera yet
    EXPECT_EQ(tips.last(), QStringLiteral("No camera is connected."));
    rec.setDevice(cam);
    EXPECT_FALSE(rec.recordingTime(0, path));
    EXPECT_EQ(tips.last(), QStringLiteral("The recording duration must be at least one second."));
    const uint64_t startedBy = cam->getCameraTime();
    const auto t0 = std::chrono::steady_clock::now();
    ASSERT_TRUE(rec.recordingTime(2, path));
    EXPECT_EQ(tips.count(QStringLiteral("Recording file ... ")), 1u);
    EXPECT_TRUE(rec.isRecording());
    EXPECT_FALSE(rec.recordingTime(2, dir.path() + "/edge.raw")); // ignored without a tip
    EXPECT_EQ(tips.last(), QStringLiteral("Recording file ... "));
    EXPECT_FALSE(rec.startRecording(dir.path() + "/other.raw"));
    // Two seconds of the wall clock from the start at the earliest: at t0 + 1.5 s it still runs.
    std::this_thread::sleep_until(t0 + 1500ms);
    const uint64_t sawRunning = cam->getCameraTime();
    EXPECT_TRUE(rec.isRecording());
    ASSERT_TRUE(tips.waitFor(QStringLiteral("Recording end"), 1, 30000ms));
    const uint64_t endedBy = cam->getCameraTime();
    // How much later than two seconds it ends depends on the load (not checked here).
    const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    EXPECT_GE(took, 1.9);
    EXPECT_FALSE(rec.isRecording());
    // the file covers the stream of those two seconds, however far it lags the wall clock
    expectSpans(path, startedBy, sawRunning, endedBy);
    EXPECT_FALSE(rec.stopRecording()); // idle
}

TEST_F(RecorderTest, ManualStopEndsATimedRecordingButNotTheNextOne) {
    NrFileRecorder rec(cam);
    Tips tips(rec);
    const QString timed = dir.path() + "/timed.raw";
    uint64_t startedBy = cam->getCameraTime();
    ASSERT_TRUE(rec.recordingTime(30, timed));
    ASSERT_TRUE(waitStreamed(*cam, 300000));
    uint64_t sawRunning = cam->getCameraTime();
    EXPECT_TRUE(rec.stopRecording());
    uint64_t endedBy = cam->getCameraTime();
    ASSERT_TRUE(tips.waitFor(QStringLiteral("Recording end"), 1, 30000ms));
    expectSpans(timed, startedBy, sawRunning, endedBy); // ended by the stop, not after 30 s
    // a manual recording right after: the timed recording's thread leaves it alone
    const QString manual = dir.path() + "/manual.raw";
    startedBy = cam->getCameraTime();
    ASSERT_TRUE(rec.startRecording(manual));
    std::this_thread::sleep_for(800ms); // time for that thread to do wrong
    ASSERT_TRUE(waitStreamed(*cam, 200000));
    sawRunning = cam->getCameraTime();
    EXPECT_TRUE(rec.isRecording());
    EXPECT_TRUE(rec.stopRecording());
    endedBy = cam->getCameraTime();
    expectSpans(manual, startedBy, sawRunning, endedBy);
    EXPECT_EQ(tips.count(QStringLiteral("Recording end")), 1u);
}

TEST_F(RecorderTest, ACameraThatCannotRecordIsReported) {
    NrFileRecorder rec(cam);
    Tips tips(rec);
    const QString nowhere = dir.path() + "/missing/folder/x.raw";
    EXPECT_FALSE(rec.startRecording(nowhere));
    EXPECT_TRUE(tips.last().startsWith(QStringLiteral("Recording failed")));
    EXPECT_FALSE(rec.isRecording());
    EXPECT_FALSE(rec.recordingTime(1, nowhere)); // the camera refuses at once: one error tip, no start tip
    EXPECT_EQ(tips.count(QStringLiteral("Recording failed: the camera cannot write ") + nowhere), 2u);
    EXPECT_EQ(tips.count(QStringLiteral("Recording file ... ")), 0u);
    EXPECT_FALSE(rec.isRecording());
    EXPECT_EQ(tips.count(QStringLiteral("Recording end")), 0u);
    // the cache: on with seconds, off with 0
    rec.setCacheTime(1);
    EXPECT_TRUE(rec.isCacheEnabled());
    rec.setCacheTime(0);
    EXPECT_FALSE(rec.isCacheEnabled());
}

// One recording at a time, the user told once: edges during a recording by hand or a timed one are
// ignored without a tip and write no file; a recording by hand is refused during a timed one; the
// button's stop of a timed recording reports the file and leaves the record thread silent.
TEST_F(RecorderTest, OneRecordingAtATimeAndOneTipForIt) {
    NrFileRecorder rec(cam);
    Tips tips(rec);
    const QString manual = dir.path() + "/manual.raw";
    ASSERT_TRUE(rec.startQuietly(manual));
    for (int i = 0; i < 3; ++i)
        EXPECT_FALSE(rec.recordingTime(5, dir.path() + "/edge_during_manual.raw"));
    EXPECT_FALSE(QFile::exists(dir.path() + "/edge_during_manual.raw"));
    EXPECT_TRUE(rec.isRecording());
    EXPECT_FALSE(rec.isTimedRecording());
    ASSERT_TRUE(waitStreamed(*cam, 50000));
    NrFileRecorder::Ended ended = rec.endRecording();
    EXPECT_TRUE(ended.ran);
    EXPECT_FALSE(ended.timed);
    EXPECT_TRUE(ended.saved);
    EXPECT_EQ(ended.path, manual);
    EXPECT_GT(span(manual), 0u);
    EXPECT_TRUE(tips.all.empty());

    const QString timed = dir.path() + "/timed.raw";
    ASSERT_TRUE(rec.recordingTime(30, timed));
    for (int i = 0; i < 3; ++i)
        EXPECT_FALSE(rec.recordingTime(30, dir.path() + "/edge_during_timed.raw"));
    EXPECT_FALSE(QFile::exists(dir.path() + "/edge_during_timed.raw"));
    EXPECT_FALSE(rec.startQuietly(dir.path() + "/manual_during_timed.raw"));
    EXPECT_FALSE(QFile::exists(dir.path() + "/manual_during_timed.raw"));
    EXPECT_TRUE(rec.isTimedRecording());
    ASSERT_TRUE(waitStreamed(*cam, 50000));
    ended = rec.endRecording();
    EXPECT_TRUE(ended.ran);
    EXPECT_TRUE(ended.timed);
    EXPECT_TRUE(ended.saved);
    EXPECT_EQ(ended.path, timed);
    EXPECT_FALSE(rec.isRecording());
    EXPECT_FALSE(rec.endRecording().ran);
    rec.release(); // the record thread has finished: whatever it had to say is said
    EXPECT_GT(span(timed), 0u);
    ASSERT_EQ(tips.all.size(), 1u);
    EXPECT_EQ(tips.all.front().first, QStringLiteral("Recording file ... "));
    EXPECT_EQ(tips.all.front().second, timed);
}

// Closing the camera under a timed recording: release ends it at once, reports the end of the
// recording, waits for its thread and lets go of the camera (nothing else holds it then).
TEST_F(RecorderTest, ReleaseEndsATimedRecordingAndDropsTheCamera) {
    NrFileRecorder rec;
    std::mutex statesMutex; // the record thread reports the end too
    std::vector<bool> states;
    QObject::connect(&rec, &NrFileRecorder::signalRecordingChanged, [&](bool on) {
        std::lock_guard<std::mutex> lock(statesMutex);
        states.push_back(on);
    });
    rec.setDevice(cam);
    ASSERT_TRUE(rec.recordingTime(30, dir.path() + "/released.raw"));
    ASSERT_TRUE(waitStreamed(*cam, 50000));
    const auto t0 = std::chrono::steady_clock::now();
    rec.release();
    // At once, not at the end of the 30 s the recording was asked for (a busy machine may take
    // seconds, never that long).
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 20s);
    EXPECT_FALSE(rec.isRecording());
    EXPECT_EQ(cam.use_count(), 1);
    ASSERT_GE(states.size(), 2u);
    EXPECT_TRUE(states.front());
    EXPECT_FALSE(states.back());
    EXPECT_FALSE(rec.recordingTime(1, dir.path() + "/after.raw")); // no camera any more
    EXPECT_GT(span(dir.path() + "/released.raw"), 0u);
}
