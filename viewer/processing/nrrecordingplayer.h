#pragma once

// NrRecordingPlayer: plays one raw recording: opens it, loads it on a thread of its own (which can
// be abandoned), then shows frames from its player thread: the paced loop, single steps, seeks and
// reset, within a trim range, optionally looping. Frames go to a sink; the player knows nothing
// of counting, painting or Qt signals.
//
// A frame shown at t: the events of one window of event time, handed to Sink::showFrame with t.
// Where the window lies is norvale::EventWindow's rule, placed by the player's anchor (FrameStart
// for the DVS processor, FrameEnd for the fusion processor, whose frames are APS images at t).
// Playing shows one frame per kDisplayPeriodUs of wall-clock time: the next frame from the
// position p, shown at p + frameStepUs (at upperTs for the last, partial one), which becomes the
// position. Steps agree with playing: Next shows that same frame, Previous the frame at
// p - frameStepUs (not below lowerTs), Seek the frame at its target, Reset the frame at lowerTs;
// a step shows its frame even when it holds no event. Every window is read through one cache:
// one that overlaps the last window read reuses its events. With showEmpty, the paced loop shows
// windows without events too (the fusion processor still has an APS image to show).
//
// Threads
// - Owner thread: everything public unless said otherwise, construction and destruction.
// - Player thread (one, for the player's whole life): the only user of the reader while a
//   recording is open, except while the owner has lent it to an export or cut (lendReader), when
//   the player thread keeps off it. Steps, seeks, reset and the paced loop all run here; the owner
//   only asks for them. A pending request is replaced by a newer one (newest wins), so a burst of
//   seeks ends at the last position asked for.
// - Loading thread: one per open; it touches only its job (LoadJob) and reports through
//   Sink::loaded under the job's lock, never after the player has abandoned it.
// Sink::showFrame and Sink::ended run on the player thread, Sink::loaded on the loading thread.
//
// Locks (order: readerMutex -> whatever the sink takes; mutex and a job's mutex are leaves)
// - mutex: request, requestTs, playRequested, busy, quit, nextStepAt, reader, readerGeneration.
// - readerMutex: use of the reader. The player thread holds it for one step, seek or reset; a
//   lent reader's user holds it for its whole run.
// - Atomics: playingFlag, loop, lowerTs, upperTs, position, frameStepUs, accTimeUs, loadingFlag
//   (written by the owner, read by the player thread; the player thread also moves position),
//   shownEvents (player thread).
// - Owner thread only: job, info, the loading thread object. Player thread only: the window cache.
#include <QString>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "norvale/DvsFileInfo.h"
#include "norvale/DvsFileReader.h"
#include "norvale/Event2D.h"
#include "norvale/EventFrame.h"
#include "norvale/EventWindow.h"

using NrTriggerList = std::vector<std::pair<uint64_t, uint8_t>>;

// What loading a recording found.
struct NrLoadResult {
    bool ok = false;
    uint64_t startTs = 0;
    uint64_t endTs = 0;
    norvale::DvsFileInfo info;
    NrTriggerList triggers; // (timestamp, low byte of the edge value), in file order
    norvale::RateProfile rate;
};

class NrRecordingPlayer {
public:
    struct LoadJob;
    struct Options {
        norvale::EventWindowAnchor anchor = norvale::EventWindowAnchor::FrameStart;
        bool showEmpty = false;
    };
    // Runs on the loading thread after the recording was prepared; false fails the load. It must
    // touch only what it owns (it may outlive the player when loading is abandoned).
    using Companion = std::function<bool(const NrLoadResult& result)>;
    struct Sink {
        std::function<void(const std::vector<norvale::Event2D>& events, uint64_t ts)> showFrame;
        // Playback reached the end of the range without loop and stopped.
        std::function<void()> ended;
        // Loading finished (ok or not); the owner passes the result to adopt() in its own thread.
        std::function<void(std::shared_ptr<LoadJob> job, const NrLoadResult& result)> loaded;
        // The player thread's body under its owner's name: it must call runLoop and nothing else.
        // Empty: the thread runs runLoop itself.
        std::function<void()> threadBody;
    };
    enum class Request : uint8_t { None, Next, Previous, Seek, Reset };

    explicit NrRecordingPlayer(Sink sink);
    NrRecordingPlayer(Sink sink, Options options);
    // Abandons a loading thread (waits at most kLoadAbandonWaitMs for it), stops the player thread.
    ~NrRecordingPlayer();
    NrRecordingPlayer(const NrRecordingPlayer&) = delete;
    NrRecordingPlayer& operator=(const NrRecordingPlayer&) = delete;

    // Stops playback and closes the current recording, then opens path and starts loading it.
    // False when the driver cannot open it (nothing is open then). companion loads what belongs
    // with the recording (the fusion processor's APS video).
    bool open(const QString& path, Companion companion = Companion());
    // Stops playback and closes the recording; a load still running is discarded when it ends.
    void close();
    // Takes the result of a load (owner thread, after Sink::loaded). Ready: the range is the whole
    // recording and the position its start. Failed: not a readable recording; it is closed.
    // Dropped: the recording was closed meanwhile, or the job is not the last one.
    enum class Adoption { Ready, Failed, Dropped };
    Adoption adopt(const std::shared_ptr<LoadJob>& job, const NrLoadResult& result);

    bool isOpen() const { return reader() != nullptr; }
    bool isLoading() const { return loadingFlag; }
    // Open, loaded: steps, seeks and play may be asked for.
    bool usable() const { return isOpen() && !loadingFlag; }
    const norvale::DvsFileInfo& fileInfo() const { return info; }

    // Starts the paced loop at the position (at the lower bound when it lies outside the range).
    void play();
    // Stops the paced loop and waits until the player thread is idle, so that its last frame has
    // been handed to the sink.
    void stop();
    bool isPlaying() const { return playingFlag; }

    // Asks the player thread for a step, seek or reset, replacing one not yet picked up. ts: the
    // seek target. Does not wait.
    void request(Request r, uint64_t ts = 0);
    // Waits until no request is pending or running and no step runs, at most timeout. True when idle.
    bool waitIdle(std::chrono::milliseconds timeout);

    void setLoop(bool on) { loop = on; }
    void setLowerTs(uint64_t ts) { lowerTs = ts; }
    void setUpperTs(uint64_t ts) { upperTs = ts; }
    uint64_t lower() const { return lowerTs; }
    uint64_t upper() const { return upperTs; }
    uint64_t position() const { return position_; }
    void setPosition(uint64_t ts) { position_ = ts; }
    void setFrameStepUs(uint64_t us) { frameStepUs = us; }
    uint64_t frameStep() const { return frameStepUs; }
    void setAccTimeUs(uint64_t us) { accTimeUs = us; }
    uint64_t accTime() const { return accTimeUs; }
    // Events handed to the sink so far, by the loop and by steps (windows that overlap count
    // their shared events again): with the accumulation equal to the step, a play through the
    // range adds exactly the range's events. Any thread.
    uint64_t eventsShown() const { return shownEvents; }

    // The open recording's reader and the lock its user holds. An export or cut takes both, holds
    // the lock for its whole run and keeps the reader alive even if another file is opened.
    std::shared_ptr<norvale::DvsFileReader> reader() const;
    std::mutex& readerLock() { return readerMutex; }

    // One step of the paced loop: read, show, advance; false when playback has ended. Player
    // thread; benchmarks call it directly while the player is idle.
    bool playStep();
    // The player thread's body: requests, then the paced loop while playing, until destruction.
    // Player thread only (through Sink::threadBody when given).
    void runLoop();

    static constexpr int kLoadAbandonWaitMs = 2000;

private:
    void perform(Request r, uint64_t ts);
    norvale::FramePlacement placement() const;
    void abandonLoading();
    void replaceReader(std::shared_ptr<norvale::DvsFileReader> r);
    const std::vector<norvale::Event2D>* readWindow(norvale::DvsFileReader& file, uint64_t generation,
                                                    const norvale::EventWindow& w);
    static void loadWork(std::shared_ptr<LoadJob> job);

    Sink sink;
    const Options options;

    mutable std::mutex mutex;
    std::condition_variable wake;     // to the player thread
    std::condition_variable idleCond; // to waiters of waitIdle and stop
    Request pending = Request::None;
    uint64_t pendingTs = 0;
    bool playRequested = false;
    bool busy = false;
    bool quit = false;
    std::chrono::steady_clock::time_point nextStepAt;
    std::shared_ptr<norvale::DvsFileReader> current;
    uint64_t readerGeneration = 0;

    std::mutex readerMutex;

    std::atomic<bool> playingFlag{false};
    std::atomic<bool> loop{false};
    std::atomic<uint64_t> lowerTs{0};
    std::atomic<uint64_t> upperTs{0};
    std::atomic<uint64_t> position_{0};
    std::atomic<uint64_t> frameStepUs{1000000 / 33};
    std::atomic<uint64_t> accTimeUs{33333};
    std::atomic<bool> loadingFlag{false};
    std::atomic<uint64_t> shownEvents{0};

    std::shared_ptr<LoadJob> job;
    std::thread loadThread;
    norvale::DvsFileInfo info;

    // Player thread: the events of the last window read, for overlapping windows.
    std::vector<norvale::Event2D> window;
    std::vector<norvale::Event2D> windowFresh;
    uint64_t windowStart = 0;
    uint64_t windowEnd = 0;
    uint64_t windowGeneration = 0; // readerGeneration the window was read from; 0: none
    uint64_t partialFrom = UINT64_MAX; // where the last Next step started (for Previous from the end)

    std::thread thread; // last: starts once everything above exists
};
