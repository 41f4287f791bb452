#pragma once

// NrEventProcessor: counts DVS events per pixel and polarity and paints the counts into images of
// the source's geometry (1280 x 720 until told otherwise) on its render thread, for a live DVS
// camera and for recordings. Recordings play through its NrPlaybackFront (loading, the paced loop,
// steps, seeks, trim, loop, export and cut, the busy indicator), whose painter this class is: a
// window of events becomes counts, then an image. Its slots and signals are the front's, forwarded.
//
// Threads
// - Owner (GUI) thread: every slot, flushEventsDisplay, setDisplay, the destructor. Every signal is
//   emitted in this thread (through the front's mailbox: the newest frame wins, nothing queues up).
// - Caller's thread (live view: the camera source's display thread): processEvents, which in
//   mode NR_FLUSH_BY_EVENT_TIME also swaps and so wakes the render thread; the timestamp of those
//   counts travels with them to the render thread and through the mailbox with the painted image,
//   and is emitted right after it (the time label never runs ahead of the picture). The player
//   thread: paintWindow (processEvents and the swap). Render thread: renderThread.
//
// Locks (order: the player's readerLock -> accMutex -> renderMutex -> the mailbox's lock)
// - accMutex: accumulateBuffer. The count loop of processEvents and the exchange in swapEventBuffer
//   take it, so accumulation in one thread and the swap in another never overlap.
// - renderMutex: renderBuffer, renderTs, renderHasTs, frameReady, renderRunning, width/height
//   changes; held by a swap and for one whole render. The render thread waits for frameReady, so a
//   swap that comes while it paints is not lost, and swaps faster than rendering replace the
//   waiting counts (frames are dropped, never queued).
//
// Decisions
// - processEvents with an empty batch touches nothing.
// - Events outside the frame (x >= width or y >= height) are dropped rather than wrapped to another row.
// - An export plays like the viewer: the display rate as frame rate, the viewer's frame step,
//   accumulation and window placement, so slow motion (and fast) is kept in the video.
// - A loaded recording sets the display to its own geometry (a camera's source does the same on
//   open); every change of the display is announced with signalDisplaySize.
#include <QImage>
#include <QObject>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "Utility/nrmessagetype.h"
#include "norvale/Event2D.h"
#include "norvale/EventRun.h"
#include "norvale/FuncUtils.h"
#include "processing/nrplaybackfront.h"

class LoadConfig;

namespace norvale {
class DvsCamera;
} // namespace norvale

enum NR_PLAY_MODE : int {
    NR_FLUSH_BY_CALLER = 0,     // frames are flushed by flushEventsDisplay or the player
    NR_FLUSH_BY_EVENT_TIME = 1, // processEvents flushes every liveFramePeriodUs of event time (live view)
};

class NrEventProcessor : public QObject, private NrPlaybackPainter {
    Q_OBJECT
public:
    static constexpr uint64_t kLiveFramePeriodUs = 33333;

    explicit NrEventProcessor(QObject* parent = nullptr);
    ~NrEventProcessor() override;
    NrEventProcessor(const NrEventProcessor&) = delete;
    NrEventProcessor& operator=(const NrEventProcessor&) = delete;

    // Counts one batch (caller's thread).
    void processEvents(const norvale::Event2D* begin, const norvale::Event2D* end);
    // One batch given as runs in time order (a live camera's own buffers): counted as one.
    void processEventRuns(const norvale::EventRun* runs, size_t count);
    // Emits signalRealTimeTimeStamp(lastBatchTs) and hands the counts to the render thread (GUI
    // thread). Not on the live path any more (the display thread flushes through processEvents);
    // kept for callers that count and flush from the GUI thread, today the processor's tests.
    void flushEventsDisplay();
    // Hands the accumulated counts to the render thread and starts a fresh accumulation (any thread).
    void swapEventBuffer();
    // Paints renderBuffer onto image in the configured colours (render thread, renderMutex held).
    void visualizeEventsOnFrame(QImage& image);
    void renderThread();
    // Recreates the images and both count buffers and emits signalDisplaySize (owner thread).
    void setDisplay(int width, int height);
    // Call while nothing counts (before a stream starts or after it has stopped).
    void setProccessMode(NR_PLAY_MODE mode);
    // Event time between self-flushed frames in mode NR_FLUSH_BY_EVENT_TIME (33333 at first); 0
    // makes every batch a frame, for a caller that paces its batches itself. Call while nothing counts.
    void setLiveFramePeriodUs(uint64_t us);
    // Kept for the live DVS camera, which hands its device here; nothing reads it yet.
    void setDevicePtr(std::shared_ptr<norvale::DvsCamera> device);
    // The playback thread's body: the front's player loop. Player thread.
    void dvsFilePlayLoop();
    // What the play bar drives while a recording of this processor is shown.
    NrPlaybackFront* playbackFront() { return &front; }
    static QString tsToLocalTime(const norvale::SysTimePoint& recordStart, uint64_t ts, uint64_t startTs);

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
    // The size of the images from now on (a recording or camera of another geometry was opened).
    void signalDisplaySize(int width, int height);

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
    // Stops a running export or cut (the waiting window's Cancel).
    void cancelWork();

private:
    static constexpr int kStepWaitMs = 1000;

    // The painter of recordings (player thread; loading results on the owner thread).
    void paintWindow(const std::vector<norvale::Event2D>& events, uint64_t ts) override;
    QString finishLoad(const NrLoadResult& result, bool ok) override;
    void finishFrames() override;

    // The swap; with carryTs the frame painted from these counts is published with ts.
    void swapEventBuffer(bool carryTs, uint64_t ts);

    // Accumulation and rendering.
    std::atomic<int> playMode{NR_FLUSH_BY_CALLER};
    std::shared_ptr<norvale::DvsCamera> camera;
    std::atomic<uint64_t> liveFramePeriodUs{kLiveFramePeriodUs};
    uint64_t lastFlushTs = 0; // caller's thread (mode 1)
    std::atomic<uint64_t> lastBatchTs{0};
    std::vector<uint16_t> accumulateBuffer; // accMutex
    std::vector<uint16_t> renderBuffer;     // renderMutex
    uint64_t renderTs = 0;                  // renderMutex: the time of renderBuffer's counts
    bool renderHasTs = false;               // renderMutex: renderTs travels with the image
    std::mutex accMutex;
    std::mutex renderMutex;
    int32_t height = 720;
    int32_t width = 1280;
    int32_t maxEventCount = norvale::kEventCountCap;
    std::condition_variable renderCond;
    std::condition_variable renderedCond; // a render has ended
    bool renderRunning = true; // renderMutex
    bool frameReady = false;   // renderMutex
    LoadConfig* config = nullptr;

    // Playback, export and cut; the front's player stops before the buffers its painter fills go.
    NrPlaybackFront front;

    std::thread renderWorker; // last: starts once everything above exists
};
