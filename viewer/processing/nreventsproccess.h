#pragma once

// NrEventProcessor: counts DVS events per pixel and polarity, paints the counts into images of
// the source's geometry (1280 x 720 until told otherwise) on its render thread, and plays, exports and cuts raw recordings. It is built from parts
// that the fusion processor reuses: NrFrameMailbox (results to the GUI thread), NrRecordingPlayer
// (loading, the paced loop, steps, seeks, trim range) and NrExportJob (export and cut). This class
// counts, renders, and turns what the parts report into its signals.
//
// Threads
// - Owner (GUI) thread: every slot, flushEventsDisplay, the destructor. Every signal is emitted in
//   this thread: worker threads leave their newest frame timestamp, image and progress in the
//   mailbox and wake the owner (one wake-up however many frames: the newest wins, nothing queues
//   up); one-off results (loading done, playback ended, export done) are posted as queued calls,
//   which first deliver the mailbox so that signals keep the order in which they arose.
// - Caller's thread (live view: the camera source's display thread): processEvents, which in
//   mode NR_FLUSH_BY_EVENT_TIME also swaps and so wakes the render thread; the timestamp of those
//   counts travels with them to the render thread and through the mailbox with the painted image,
//   and is emitted right after it (the time label never runs ahead of the picture). The player
//   thread: processEvents and swapEventBuffer through the player's sink. Render thread:
//   renderThread. Loading, export and cut threads belong to the player and the export jobs.
// - A file that cannot be opened or read gives the tip "Cannot open the recording: " + its name.
//
// Locks (order: the player's readerLock -> accMutex -> renderMutex -> the mailbox's lock)
// - accMutex: accumulateBuffer. The count loop of processEvents and the exchange in swapEventBuffer
//   take it, so live accumulation in the caller's thread and the swap in the GUI thread never overlap.
// - renderMutex: renderBuffer, renderTs, renderHasTs, frameReady, renderRunning, width/height
//   changes; held by a swap and
//   for one whole render. The render thread waits for frameReady, so a swap that comes while it
//   paints is not lost, and swaps faster than rendering replace the waiting counts (frames are
//   dropped, never queued).
// - Owner thread only: workJobs, busyJobs, refusalShown, loadingPath.
//
// Decisions
// - processEvents with an empty batch touches nothing; setFps with 0 or less keeps the previous rate.
// - Events outside the frame (x >= width or y >= height) are dropped rather than wrapped to another row.
// - Steps, seeks and reset are asked of the player thread; the slot waits for the frame at most
//   kStepWaitMs, so a slow read never freezes the GUI (the frame then arrives by itself).
// - While an export or cut uses the recording, play, steps, seeks and reset are refused, with a
//   warning tip once per export or cut.
// - An export plays like the viewer: the display rate as frame rate, the viewer's frame step,
//   accumulation and window placement, so slow motion (and fast) is kept in the video.
// - Export and cut report failure with an error tip naming the driver's reason, and progress
//   through signalProgress. cancelWork stops them at their next frame; a cancelled job leaves no
//   file and says so with a warning tip instead of a failure.
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
#include "norvale/FuncUtils.h"
#include "processing/nrexportjob.h"
#include "processing/nrframemailbox.h"
#include "processing/nrrecordingplayer.h"

class LoadConfig;

namespace norvale {
class DvsCamera;
} // namespace norvale

enum NR_PLAY_MODE : int {
    NR_FLUSH_BY_CALLER = 0,     // frames are flushed by flushEventsDisplay or the player
    NR_FLUSH_BY_EVENT_TIME = 1, // processEvents flushes every liveFramePeriodUs of event time (live view)
};

class NrEventProcessor : public QObject {
    Q_OBJECT
public:
    static constexpr uint64_t kLiveFramePeriodUs = 33333;

    explicit NrEventProcessor(QObject* parent = nullptr);
    ~NrEventProcessor() override;
    NrEventProcessor(const NrEventProcessor&) = delete;
    NrEventProcessor& operator=(const NrEventProcessor&) = delete;

    // Counts one batch (caller's thread).
    void processEvents(const norvale::Event2D* begin, const norvale::Event2D* end);
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
    // The playback thread's body: the player's loop (NrRecordingPlayer::runLoop). Player thread.
    void dvsFilePlayLoop();
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

    // Playback.
    bool refuseWhileWorking();
    bool beginStep();
    void stopPlayback();
    void runStep(NrRecordingPlayer::Request request, uint64_t ts = 0);
    void showFrame(const std::vector<norvale::Event2D>& events, uint64_t ts);
    void finishLoading(const std::shared_ptr<NrRecordingPlayer::LoadJob>& job, const NrLoadResult& result);
    // Error tip naming a file that is not a readable recording.
    void reportUnreadable(const QString& path);

    // Export and cut.
    void startWork(NrExportJob& job, NrExportRequest::Kind kind, const QString& fullPath, const QString& dir,
                   uint64_t start, uint64_t end);
    void finishWork(NrExportRequest::Kind kind, bool ok, const std::string& reason, const QString& dir,
                    uint64_t start, uint64_t end);
    void beginBusy();
    void endBusy();

    // Hand-over to the owner thread.
    void deliverPending();
    // The swap; with carryTs the frame painted from these counts is published with ts.
    void swapEventBuffer(bool carryTs, uint64_t ts);
    void postToOwner(std::function<void()> f);

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
    bool renderRunning = true; // renderMutex
    bool frameReady = false;   // renderMutex
    LoadConfig* config = nullptr;

    NrFrameMailbox mailbox;
    // Playback; the player is destroyed before the buffers its sink fills.
    NrRecordingPlayer player;
    QString loadingPath;

    // Export and cut.
    NrExportJob exportJob;
    NrExportJob cutJob;
    int workJobs = 0;  // export and cut jobs not yet finished
    int busyJobs = 0;  // loading, export and cut jobs behind the busy indicator
    bool refusalShown = false;

    std::thread renderWorker; // last: starts once everything above exists
};
