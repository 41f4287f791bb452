// NrRecordingPlayer on its own: its thread is the only one that reads the recording, a burst of
// seeks while the reader is busy ends at the last position asked for, and every step, seek, reset
// and paced frame shows exactly the events of its window, however the window cache was left.
#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <future>
#include <mutex>
#include <thread>
#include <vector>

#include "norvale/DvsFileReader.h"
#include "norvale/RawFileWriter.h"
#include "processing/nrrecordingplayer.h"

using norvale::Event2D;

namespace {

struct Shown {
    uint64_t ts;
    std::thread::id thread;
    std::vector<Event2D> events;
};

struct PlayerTest : ::testing::Test {
    QTemporaryDir tmp;
    QString path;
    std::mutex mutex;
    std::vector<Shown> shown; // mutex
    std::unique_ptr<std::promise<std::pair<std::shared_ptr<NrRecordingPlayer::LoadJob>, NrLoadResult>>> loaded;
    std::unique_ptr<NrRecordingPlayer> playerPtr;

    void SetUp() override {
        ASSERT_TRUE(tmp.isValid());
        path = tmp.filePath("ramp.raw");
        std::vector<Event2D> ev;
        for (uint64_t t = 1000; t <= 200000; t += 100)
            ev.push_back(Event2D{uint16_t(t / 200), 0, 1, t});
        norvale::RawFileWriter w;
        norvale::DvsFileInfo info;
        info.dvsStartTimestamp = 1000;
        ASSERT_TRUE(w.open(path.toStdString(), info));
        w.addEvents(ev.data(), ev.data() + ev.size());
        ASSERT_TRUE(w.close());
        open(NrRecordingPlayer::Options{});
    }

    // A player of the ramp with these options, loaded; range 1000..200000, accumulation 10000.
    void open(NrRecordingPlayer::Options options) {
        playerPtr.reset();
        loaded = std::make_unique<std::promise<std::pair<std::shared_ptr<NrRecordingPlayer::LoadJob>, NrLoadResult>>>();
        playerPtr = std::make_unique<NrRecordingPlayer>(
            NrRecordingPlayer::Sink{[this](const std::vector<Event2D>& events, uint64_t ts) {
                                        std::lock_guard<std::mutex> lock(mutex);
                                        shown.push_back({ts, std::this_thread::get_id(), events});
                                    },
                                    {},
                                    [this](std::shared_ptr<NrRecordingPlayer::LoadJob> job, const NrLoadResult& r) {
                                        loaded->set_value({std::move(job), r});
                                    },
                                    {}},
            options);
        ASSERT_TRUE(player().open(path));
        auto [job, result] = loaded->get_future().get();
        ASSERT_EQ(player().adopt(job, result), NrRecordingPlayer::Adoption::Ready);
        player().setAccTimeUs(10000);
    }

    NrRecordingPlayer& player() { return *playerPtr; }

    std::vector<Shown> taken() {
        std::lock_guard<std::mutex> lock(mutex);
        return shown;
    }
};

} // namespace

TEST_F(PlayerTest, NewestSeekWinsWhileTheReaderIsBusy) {
    {
        // An export holds the reader: the first seek waits for it, later ones replace each other.
        std::lock_guard<std::mutex> busy(player().readerLock());
        player().request(NrRecordingPlayer::Request::Seek, 10000);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        player().request(NrRecordingPlayer::Request::Seek, 20000);
        player().request(NrRecordingPlayer::Request::Seek, 30000);
        EXPECT_FALSE(player().waitIdle(std::chrono::milliseconds(20)));
    }
    ASSERT_TRUE(player().waitIdle(std::chrono::milliseconds(30000)));
    const std::vector<Shown> s = taken();
    ASSERT_FALSE(s.empty());
    EXPECT_LE(s.size(), 2u);
    EXPECT_EQ(s.back().ts, 30000u); // shown at the target
    for (const Shown& f : s)
        EXPECT_NE(f.ts, 20000u) << "the seek to 20000 was carried out, not replaced";
    EXPECT_EQ(player().position(), 30000u);
}

TEST_F(PlayerTest, OnlyThePlayerThreadReadsAndStopWaitsForTheLastFrame) {
    player().setFrameStepUs(5000);
    player().request(NrRecordingPlayer::Request::Next);
    player().request(NrRecordingPlayer::Request::Reset);
    ASSERT_TRUE(player().waitIdle(std::chrono::milliseconds(30000)));
    const size_t before = taken().size();
    player().play();
    // a few frames of the paced loop, however long a busy machine takes for them
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (taken().size() < before + 3 && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    player().stop();
    EXPECT_FALSE(player().isPlaying());
    const size_t n = taken().size();
    EXPECT_GE(n, before + 3);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const std::vector<Shown> s = taken();
    EXPECT_EQ(s.size(), n) << "a frame arrived after stop returned";
    for (const Shown& f : s)
        EXPECT_NE(f.thread, std::this_thread::get_id());
}

// Frames of step 5000 and accumulation 12000 in the range 1000..200000, for both anchors: forward,
// back over windows the cache holds, jumps, reset, the paced loop to the end. Each frame's events
// are compared with a fresh read of its window on a reader of its own.
TEST_F(PlayerTest, EveryFrameShowsExactlyItsWindow) {
    struct Frame {
        NrRecordingPlayer::Request request; // None: one step of the paced loop
        uint64_t arg;
        uint64_t ts, from, to; // to: excluded; 0: nothing is shown
    };
    using R = NrRecordingPlayer::Request;
    const std::vector<Frame> frameStart = {
        {R::Seek, 50000, 50000, 45000, 57000},  {R::Next, 0, 55000, 50000, 62000},
        {R::Next, 0, 60000, 55000, 67000},      {R::Previous, 0, 55000, 50000, 62000},
        {R::Previous, 0, 50000, 45000, 57000},  {R::Next, 0, 55000, 50000, 62000},
        {R::Seek, 150000, 150000, 145000, 157000}, {R::Reset, 0, 1000, 1000, 8000},
        {R::Next, 0, 6000, 1000, 13000},        {R::Seek, 181000, 181000, 176000, 188000},
        {R::None, 0, 186000, 181000, 193000},   {R::None, 0, 191000, 186000, 198000},
        {R::None, 0, 196000, 191000, 200001},   {R::None, 0, 200000, 196000, 200001},
        {R::Seek, 200000, 200000, 195000, 200001}, {R::Next, 0, 0, 0, 0},
        {R::Previous, 0, 195000, 190000, 200001},
    };
    const std::vector<Frame> frameEnd = {
        {R::Seek, 50000, 50000, 38000, 50000}, {R::Next, 0, 55000, 43000, 55000},
        {R::Previous, 0, 50000, 38000, 50000}, {R::Reset, 0, 1000, 1000, 1000},
        {R::Next, 0, 6000, 1000, 6000},        {R::None, 0, 11000, 1000, 11000},
        {R::Seek, 198000, 198000, 186000, 198000}, {R::Next, 0, 200000, 188001, 200001},
        {R::Previous, 0, 198000, 186000, 198000}, // back from the partial last frame: the one before it
    };
    auto reference = norvale::DvsFileReader::createFileReader(path.toStdString());
    ASSERT_TRUE(reference && reference->prepareFile());
    for (const auto anchor : {norvale::EventWindowAnchor::FrameStart, norvale::EventWindowAnchor::FrameEnd}) {
        const bool start = anchor == norvale::EventWindowAnchor::FrameStart;
        SCOPED_TRACE(start ? "FrameStart" : "FrameEnd");
        open(NrRecordingPlayer::Options{anchor, !start});
        player().setFrameStepUs(5000);
        player().setAccTimeUs(12000);
        for (const Frame& f : start ? frameStart : frameEnd) {
            SCOPED_TRACE(f.ts);
            const size_t before = taken().size();
            if (f.request == R::None) {
                ASSERT_TRUE(player().playStep() || f.ts == 200000);
            } else {
                player().request(f.request, f.arg);
                ASSERT_TRUE(player().waitIdle(std::chrono::milliseconds(30000)));
            }
            const std::vector<Shown> s = taken();
            if (f.to == 0) {
                EXPECT_EQ(s.size(), before);
                continue;
            }
            ASSERT_EQ(s.size(), before + 1);
            EXPECT_EQ(s.back().ts, f.ts);
            std::vector<Event2D> expected;
            ASSERT_TRUE(reference->readRange(f.from, f.to, expected));
            EXPECT_EQ(s.back().events.size(), expected.size());
            EXPECT_TRUE(s.back().events == expected);
            if (f.request != R::None || f.ts != 200000)
                EXPECT_EQ(player().position(), f.ts);
            else
                EXPECT_EQ(player().position(), 1000u); // the end of the range: back to its start
        }
    }
}
