#pragma once

// NrPlaybackFront: what playing a recording means to the window, once for every kind of recording.
// It owns the NrRecordingPlayer (loading, the paced loop, steps, seeks, trim and loop), the
// NrFrameMailbox (results to the GUI thread, newest wins), the busy indicator and its tips, and
// the export and cut jobs. Its one point of variation is the painter, which turns a window of
// events into the frame shown at a time: the DVS processor counts them, the fusion processor
// paints them over the APS frame of that time. The processors keep their named slots and signals
// and forward them; the window connects its play bar to the front of the recording shown.
//
// Threads
// - Owner (GUI) thread: every slot, open/close, the export calls, shutdown and destruction. Every
//   signal is emitted here: worker threads leave frames, timestamps and progress in the mailbox,
//   one-off results (loading done, playback ended, export done) come as calls posted after it.
// - Player thread: NrPlaybackPainter::paintWindow (the reader lock held). Loading thread: the
//   painter's companion. Export and cut threads: the jobs.
// Locks: the player's readerLock -> whatever the painter takes -> the mailbox's lock.
//
// Decisions
// - Loading ends by playing: the front starts the player itself and then tells the play button.
// - Steps, seeks and reset wait for their frame at most the front's step wait, so a slow read never
//   freezes the GUI (the frame then arrives by itself).
// - While an export or cut uses the recording, play, steps, seeks and reset are refused, with a
//   warning tip once per job.
// - A file that cannot be opened or read gives the tip "Cannot open the recording: " + its name.
// - setFps with less than 1 keeps the previous frame step.
#include <QImage>
#include <QObject>
#include <QString>

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "Utility/nrmessagetype.h"
#include "norvale/Event2D.h"
#include "processing/nrexportjob.h"
#include "processing/nrframemailbox.h"
#include "processing/nrrecordingplayer.h"

// The one part that differs between kinds of recording.
class NrPlaybackPainter {
public:
    virtual ~NrPlaybackPainter() = default;
    // Player thread, the reader lock held: the frame shown at ts from these events, left in the
    // front's mailbox.
    virtual void paintWindow(const std::vector<norvale::Event2D>& events, uint64_t ts) = 0;
    // Owner thread, as a load starts: what to load beside the recording on the loading thread.
    virtual NrRecordingPlayer::Companion companion(const QString& path) {
        (void)path;
        return NrRecordingPlayer::Companion();
    }
    // Owner thread: the load of the last open ended; ok when the player took it. May move the
    // range's start (the player's lower bound and position). On failure, the file to name in the
    // tip (empty: the recording).
    virtual QString finishLoad(const NrLoadResult& result, bool ok) {
        (void)result;
        (void)ok;
        return QString();
    }
    // Owner thread: the recording was closed.
    virtual void closed() {}
    // Owner thread: returns once a frame paintWindow handed to a thread of the painter's own is in
    // the mailbox (a stop then delivers playback's last frame, and nothing of it comes later).
    virtual void finishFrames() {}
};

class NrPlaybackFront : public QObject {
    Q_OBJECT
public:
    struct Options {
        NrRecordingPlayer::Options player;
        int stepWaitMs = 1000;
        uint64_t frameStepUs = 1000000 / 33;
        uint64_t accTimeUs = 33333;
        // The player thread's body under its owner's name; it must call runPlayerLoop and nothing
        // else. Empty: the thread runs the player's loop itself.
        std::function<void()> threadBody;
    };

    NrPlaybackFront(NrPlaybackPainter& painter, Options options, QObject* parent = nullptr);
    ~NrPlaybackFront() override;
    NrPlaybackFront(const NrPlaybackFront&) = delete;
    NrPlaybackFront& operator=(const NrPlaybackFront&) = delete;

    // Stops the jobs and the player thread, abandons a load: the painter is not called after it.
    // Owners whose painter parts go before the front call it first.
    void shutdown();

    // Closes the current recording and starts loading path; false (with the tip) when it cannot be
    // opened, or while another load runs.
    bool open(const QString& path);
    void close();
    // The player thread's loop (NrRecordingPlayer::runLoop), for Options::threadBody. Player thread.
    void runPlayerLoop();
    // Shows the frame at the play position again (a paused recording's new look).
    void showCurrentFrame();

    // Export and cut of the open recording's range [start, end]; the tips name dir.
    void exportVideo(const QString& path, const QString& dir, uint64_t start, uint64_t end,
                     const norvale::VideoExportOptions& options);
    void cutRecording(const QString& path, const QString& dir, uint64_t start, uint64_t end);

    NrFrameMailbox& mailbox() { return box; }
    NrRecordingPlayer& player() { return *playerPtr; }
    const NrRecordingPlayer& player() const { return *playerPtr; }
    bool isPlaying() const { return playerPtr && playerPtr->isPlaying(); }

    void reportUnreadable(const QString& path);

signals:
    void signalImage(const QImage& image);
    void signalTimeStamp(uint64_t timestamp_us);
    void signalLocalTime(QString str);
    void signalStartTimeStamp(uint64_t timestamp_us);
    void signalEndTimeStamp(uint64_t timestamp_us);
    void signalPlayStatus(bool playing);
    // Playback reached the end of the range without loop (signalPlayStatus(false) follows).
    void signalEnded();
    void signalLoadingStatus(bool busy);
    void signalShowLeftBottomTips(QString tips, NrMessageType type, QString file_path);
    void signalProgress(double fraction);

public slots:
    void slotPlaybackCtrl(bool play);
    void preFrame();
    void nextFrame();
    void setPlayPos(uint64_t timestamp_us);
    void slotPlaybackReset();
    void slotPlayLoop(bool on);
    // The display rate times the slow motion: each frame steps 1 s / fps of event time.
    void setFps(int fps);
    void setFrameStepUs(uint64_t us);
    void setAccTime(uint64_t time_us);
    void slotSetLowerTimeStamp(uint64_t timestamp_us);
    void slotSetUpperTimeStamp(uint64_t timestamp_us);
    // Stops a running export or cut (the waiting window's Cancel).
    void cancelWork();

private:
    bool refuseWhileWorking();
    bool beginStep();
    void runStep(NrRecordingPlayer::Request request, uint64_t ts = 0);
    void stopPlayback();
    void finishLoading(const std::shared_ptr<NrRecordingPlayer::LoadJob>& job, const NrLoadResult& result);
    void startWork(NrExportJob& job, NrExportRequest request, const QString& dir);
    void finishWork(NrExportRequest::Kind kind, bool ok, const std::string& reason, const QString& dir);
    void beginBusy();
    void endBusy();
    void deliverPending();
    void postToOwner(std::function<void()> f);

    NrPlaybackPainter& painter;
    const int stepWaitMs;
    NrFrameMailbox box;
    QString loadingPath;
    NrExportJob exportJob;
    NrExportJob cutJob;
    int workJobs = 0; // export and cut jobs not yet finished
    int busyJobs = 0; // loading, export and cut jobs behind the busy indicator
    bool refusalShown = false;
    // The player as its thread may use it: set once the player exists (its thread starts first).
    std::mutex startMutex;
    std::condition_variable startCond;
    NrRecordingPlayer* started = nullptr;
    std::unique_ptr<NrRecordingPlayer> playerPtr; // last: its thread reaches everything above
};
