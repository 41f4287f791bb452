#pragma once

// NrEventProcessor: counts DVS events per pixel and polarity, paints the counts into 1280 x 720
// images on its render thread, plays raw files (loading, playing, stepping, seeking, trim range)
// and exports or cuts them on worker threads.
//
// Threads
// - Owner (GUI) thread: every slot, flushEventsDisplay, the destructor. Every signal is emitted in
//   this thread: worker threads leave their newest frame timestamp, image and progress in the mailbox
//   and wake the owner (one wake-up however many frames: the newest wins, nothing queues up); one-off
//   results (loading done, playback ended, export done) are posted as queued calls, which first
//   deliver the mailbox so that signals keep the order in which they arose.
// - Caller's thread (live view): processEvents.
// - Render thread: renderThread. Playback thread: dvsFilePlayLoop. Loading, export and cut threads:
//   one std::thread each, owned here, joined before the next of its kind and at destruction.
// - A file that cannot be opened or read gives the tip "Cannot open the recording: " + its name.
//
// Locks (order: accMutex -> renderMutex -> mailMutex; playMutex before accMutex)
// - accMutex: accumulateBuffer. The count loop of processEvents and the exchange in swapEventBuffer
//   take it, so live accumulation in the caller's thread and the swap in the GUI thread never overlap.
// - renderMutex: renderBuffer, frameReady, renderRunning, width/height changes; held by a swap and for
//   one whole render. The render thread waits for frameReady, so a swap that comes while it paints is
//   not lost, and swaps faster than rendering replace the waiting counts (frames are dropped, never queued).
// - mailMutex: frames (image slots), frameState, pendingFrame, pendingTs*, pendingProgress*.
// - playMutex: use of the reader. Playback steps, single steps, seeks and reset take it; the export and
//   cut threads hold it for their whole run (so an export and a cut take turns). Requests from the GUI
//   that arrive while an export or cut runs are ignored with a debug line; they never wait for one.
// Plain atomics: playing, loop, lowerTs, upperTs, currentTs, fps-derived values (written in the GUI
// thread, read by the playback thread). reader, fileInfo, loadJob, thread objects: owner thread only
// (the playback thread reads reader only while it runs; it is replaced only after playback is joined).
//
// Decisions
// - processEvents with an empty batch touches nothing; setFps with 0 or less keeps the previous rate.
// - Events outside the frame (x >= width or y >= height) are dropped rather than wrapped to another row.
// - At most one playback thread: a finished one is joined before a new one starts.
// - A loading thread reports through a shared LoadJob; the destructor detaches it from the processor
//   under the job's lock, waits at most kLoadAbandonWaitMs for it and then lets it finish on its own.
// - The reader is shared: export and cut threads keep theirs alive even if another file is loaded.
// - Frames are painted into a small pool of images; one is reused once the display has let go of it,
//   so neither the live path nor the playback loop allocates per frame.
// - Playback paces itself with the steady clock and leaves its sleep as soon as it is stopped.
//   Overlapping windows (accumulation longer than the frame interval) keep the events already read
//   and read only the new part. Stopping playback delivers its last frame before anything else.
// - A range end moved below the position, or a start moved past it, is obeyed at the next step
//   (no read past the end, no frame before the start).
// - Export and cut report failure with an error tip, and progress through signalProgress.
#include <QImage>
#include <QObject>
#include <QString>

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "Utility/nrmessagetype.h"
#include "norvale/DvsFileInfo.h"
#include "norvale/Event2D.h"
#include "norvale/FuncUtils.h"

class LoadConfig;
class NrWakeup;

namespace norvale {
class DvsCamera;
class DvsFileReader;
} // namespace norvale

enum NR_PLAY_MODE : int {
    NR_FLUSH_BY_CALLER = 0,     // frames are flushed by flushEventsDisplay
    NR_FLUSH_BY_EVENT_TIME = 1, // processEvents flushes every liveFramePeriodUs of event time
};

using NrTriggerList = std::vector<std::pair<uint64_t, uint8_t>>;

class NrEventProcessor : public QObject {
    Q_OBJECT
public:
    explicit NrEventProcessor(QObject* parent = nullptr);
    ~NrEventProcessor() override;
    NrEventProcessor(const NrEventProcessor&) = delete;
    NrEventProcessor& operator=(const NrEventProcessor&) = delete;

    // Counts one batch (caller's thread).
    void processEvents(const norvale::Event2D* begin, const norvale::Event2D* end);
    // Emits signalRealTimeTimeStamp(lastBatchTs) and hands the counts to the render thread (GUI thread).
    void flushEventsDisplay();
    // Hands the accumulated counts to the render thread and starts a fresh accumulation (any thread).
    void swapEventBuffer();
    // Paints renderBuffer onto image in the configured colours (render thread, renderMutex held).
    void visualizeEventsOnFrame(QImage& image);
    void renderThread();
    // Recreates the images and both count buffers (owner thread).
    void setDisplay(int width, int height);
    void setProccessMode(NR_PLAY_MODE mode);
    void setDevicePtr(std::shared_ptr<norvale::DvsCamera> device);
    static QString tsToLocalTime(const norvale::SysTimePoint& recordStart, uint64_t ts, uint64_t startTs);
    void dvsFilePlayLoop();

signals:
    void signalEventImage(const QImage& image);
    void signalRealTimeTimeStamp(uint64_t timestamp_us);
    void signalStartTimeStamp(uint64_t timestamp_us);
    void signalEndTimeStamp(uint64_t timestamp_us);
    void signalPlayStatus(bool playing);
    void signalLoadingStatus(bool busy);
    void signalShowLeftBottomTips(QString tips, NrMessageType type, QString file_path);
    void signalLocalTime(QString str);
    void signalTriggerList(std::vector<std::pair<uint64_t, uint8_t> > triggers);
    // Events per slot of the loaded file, the slots covering [startUs, endUs) evenly; after loading,
    // before signalEndTimeStamp.
    void signalRateProfile(std::vector<uint32_t> counts, uint64_t startUs, uint64_t endUs);
    // Fraction (0..1) of a running export or cut, for the busy indicator.
    void signalProgress(double fraction);

public slots:
    void loadFile(QString path);
    void preFrame();
    void nextFrame();
    void setPlayPos(uint64_t timestamp_us);
    void slotPlaybackCtrl(bool play);
    void slotPlaybackReset();
    void slotPlayLoop(bool on);
    void setFps(int fps);
    void setAccTime(uint64_t time_us);
    void slotSetLowerTimeStamp(uint64_t timestamp_us);
    void slotSetUpperTimeStamp(uint64_t timestamp_us);
    void slotExportVideo(QString qs_out_full_path, QString qs_out_dir, uint64_t start_ts, uint64_t end_ts);
    void slotCutRawFile(QString qs_out_full_path, QString qs_out_dir, uint64_t start_ts, uint64_t end_ts);

private:
    struct LoadJob;
    struct LoadResult;
    enum class FrameState : uint8_t { Free, Painting, Pending, Lent };
    static constexpr int kFrameSlots = 3;
    static constexpr int kLoadAbandonWaitMs = 2000;
    static constexpr uint64_t kPlayStepUs = 33333;

    friend struct NrEventProcessorBench;

    // Playback (playback_*.cpp).
    bool usable() const;
    bool workRunning() const { return workJobs > 0; }
    bool refuseWhileWorking(const char* request);
    bool beginStep(const char* request);
    void stopPlayback(bool deliver = true);
    bool playStep();
    const std::vector<norvale::Event2D>* readWindow(uint64_t start, uint64_t end);
    void showFrame(const std::vector<norvale::Event2D>& events, uint64_t ts);
    void loadWork(std::shared_ptr<LoadJob> job);
    void finishLoading(std::shared_ptr<LoadJob> job, const LoadResult& result);
    void abandonLoading();
    // Error tip naming a file that is not a readable recording.
    void reportUnreadable(const QString& path);

    // Export and cut.
    void startWork(std::thread& slot, bool video, const QString& fullPath, const QString& dir, uint64_t start,
                   uint64_t end);
    void finishWork(bool video, bool ok, const QString& dir, uint64_t start, uint64_t end);
    void beginBusy();
    void endBusy();

    // Hand-over to the owner thread.
    void publishTimestamp(uint64_t ts, bool withLocalTime);
    void publishProgress(double fraction);
    void deliverPending();
    void postToOwner(std::function<void()> f);
    int takeFrameSlot();

    // Accumulation and rendering.
    std::atomic<int> playMode{NR_FLUSH_BY_CALLER};
    std::shared_ptr<norvale::DvsCamera> camera;
    uint64_t liveFramePeriodUs = 33333;
    uint64_t lastFlushTs = 0; // caller's thread (mode 1)
    std::atomic<uint64_t> lastBatchTs{0};
    std::array<QImage, kFrameSlots> frames;          // the images painted and emitted
    std::array<FrameState, kFrameSlots> frameState{}; // mailMutex
    int pendingFrame = -1;                            // mailMutex
    std::vector<uint16_t> accumulateBuffer;           // accMutex
    std::vector<uint16_t> renderBuffer;               // renderMutex
    std::mutex accMutex;
    std::mutex renderMutex;
    int32_t height = 720;
    int32_t width = 1280;
    int32_t maxEventCount = 3;
    std::thread renderWorker;
    std::condition_variable renderCond;
    bool renderRunning = true; // renderMutex
    bool frameReady = false;   // renderMutex

    // Mailbox to the owner thread.
    std::mutex mailMutex;
    uint64_t pendingTs = 0;
    bool pendingTsSet = false;
    bool pendingTsLocal = false;
    double pendingProgress = 0;
    bool pendingProgressSet = false;
    NrWakeup* wakeup = nullptr;

    // File playback.
    std::shared_ptr<norvale::DvsFileReader> reader;
    norvale::DvsFileInfo fileInfo;
    std::atomic<bool> loop{false};
    std::atomic<bool> playing{false};
    std::thread playThread;
    std::mutex playMutex;
    std::mutex pacingMutex; // only for the pacing sleep
    std::condition_variable pacingCond;
    std::atomic<uint64_t> currentTs{0};
    std::atomic<uint64_t> upperTs{0};
    std::atomic<uint64_t> lowerTs{0};
    std::thread loadThread;
    std::atomic<bool> loading{false};
    std::shared_ptr<LoadJob> loadJob;
    // Playback thread (owner thread while no playback runs): the events of the last window read.
    std::vector<norvale::Event2D> window;
    std::vector<norvale::Event2D> windowFresh;
    uint64_t windowStart = 0;
    uint64_t windowEnd = 0;
    bool windowValid = false;

    std::atomic<int32_t> fps{33};
    std::atomic<uint64_t> frameIntervalUs{1000000 / 33};
    std::atomic<uint64_t> accTimeUs{33333};
    LoadConfig* config = nullptr;

    // Export and cut.
    std::thread exportThread;
    std::thread cutThread;
    int workJobs = 0;  // owner thread: export and cut threads not yet finished
    int busyJobs = 0;  // owner thread: loading, export and cut jobs behind the busy indicator
    std::atomic<bool> cancelWork{false};
};
