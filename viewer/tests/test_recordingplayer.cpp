// NrRecordingPlayer on its own: its thread is the only one that reads the recording, and a burst
// of seeks while the reader is busy ends at the last position asked for.
#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <future>
#include <mutex>
#include <thread>
#include <vector>

#include "norvale/RawFileWriter.h"
#include "processing/nrrecordingplayer.h"

using norvale::Event2D;

namespace {

struct Shown {
    uint64_t ts;
    std::thread::id thread;
};

struct PlayerTest : ::testing::Test {
    QTemporaryDir tmp;
    std::mutex mutex;
    std::vector<Shown> shown; // mutex
    std::promise<std::pair<std::shared_ptr<NrRecordingPlayer::LoadJob>, NrLoadResult>> loaded;
    NrRecordingPlayer player{NrRecordingPlayer::Sink{
        [this](const std::vector<Event2D>&, uint64_t ts) {
            std::lock_guard<std::mutex> lock(mutex);
            shown.push_back({ts, std::this_thread::get_id()});
        },
        {},
        [this](std::shared_ptr<NrRecordingPlayer::LoadJob> job, const NrLoadResult& r) {
            loaded.set_value({std::move(job), r});
        }}};

    void SetUp() override {
        ASSERT_TRUE(tmp.isValid());
        const QString path = tmp.filePath("ramp.raw");
        std::vector<Event2D> ev;
        for (uint64_t t = 1000; t <= 200000; t += 100)
            ev.push_back(Event2D{uint16_t(t / 200), 0, 1, t});
        norvale::RawFileWriter w;
        norvale::DvsFileInfo info;
        info.dvsStartTimestamp = 1000;
        ASSERT_TRUE(w.open(path.toStdString(), info));
        w.addEvents(ev.data(), ev.data() + ev.size());
        ASSERT_TRUE(w.close());
        ASSERT_TRUE(player.open(path));
        auto [job, result] = loaded.get_future().get();
        ASSERT_EQ(player.adopt(job, result), NrRecordingPlayer::Adoption::Ready);
        player.setAccTimeUs(10000);
    }

    std::vector<Shown> taken() {
        std::lock_guard<std::mutex> lock(mutex);
        return shown;
    }
};

} // namespace

TEST_F(PlayerTest, NewestSeekWinsWhileTheReaderIsBusy) {
    {
        // An export holds the reader: the first seek waits for it, later ones replace each other.
        std::lock_guard<std::mutex> busy(player.readerLock());
        player.request(NrRecordingPlayer::Request::Seek, 10000);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        player.request(NrRecordingPlayer::Request::Seek, 20000);
        player.request(NrRecordingPlayer::Request::Seek, 30000);
        EXPECT_FALSE(player.waitIdle(std::chrono::milliseconds(20)));
    }
    ASSERT_TRUE(player.waitIdle(std::chrono::milliseconds(30000)));
    const std::vector<Shown> s = taken();
    ASSERT_FALSE(s.empty());
    EXPECT_LE(s.size(), 2u);
    EXPECT_EQ(s.back().ts, 40000u); // shown at the target + the accumulation
    for (const Shown& f : s)
        EXPECT_NE(f.ts, 30000u) << "the seek to 20000 was carried out, not replaced";
    EXPECT_EQ(player.position(), 40000u);
}

TEST_F(PlayerTest, OnlyThePlayerThreadReadsAndStopWaitsForTheLastFrame) {
    player.setFrameStepUs(5000);
    player.request(NrRecordingPlayer::Request::Next);
    player.request(NrRecordingPlayer::Request::Reset);
    ASSERT_TRUE(player.waitIdle(std::chrono::milliseconds(30000)));
    const size_t before = taken().size();
    player.play();
    // a few frames of the paced loop, however long a busy machine takes for them
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (taken().size() < before + 3 && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    player.stop();
    EXPECT_FALSE(player.isPlaying());
    const size_t n = taken().size();
    EXPECT_GE(n, before + 3);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const std::vector<Shown> s = taken();
    EXPECT_EQ(s.size(), n) << "a frame arrived after stop returned";
    for (const Shown& f : s)
        EXPECT_NE(f.thread, std::this_thread::get_id());
}
