#pragma once

// NrFusionCameraDataProcessor: shows a fusion camera (DVS events, APS frames, trigger edges) live
// and replays fusion recordings (".raw" events + ".mp4" APS frames + optional ".json" calibration
// sharing one base name, or an AEDAT 4 file holding frames beside its events), in one of three views: DVS, APS mapped onto the 1280 x 720 DVS grid, or
// fusion (the events drawn over the mapped APS image).
//
// Recordings play through its NrPlaybackFront (as the event processor's do), with windows ending at
// the frame's time; this class is the front's painter (the APS frame of that time with its events)
// and loads the ".mp4" beside the ".raw" with it. Three parts of its own, one job each:
// NrFusionLiveView (nrfusionlive: live pairing and the views), NrFusionReplayPainter
// (nrfusionreplaypainter: a replay window as an image) and NrFusionCalibrationStore
// (nrfusioncalibration: the calibration in use, its offset and generation). This class wires them
// and keeps the names and signals the window uses; the playback slots are the front's, forwarded.
//
// Threads
// - Owner (GUI) thread: every slot, setDevicePtr, clearCache, setCalibrationParam, the destructor;
//   every signal is emitted here (worker threads leave their newest image and timestamp in the
//   mailbox; one-off results come as queued calls that first deliver the mailbox).
// - The camera's driver threads: updateEvents and addEventsToFusionProccessor (streaming thread),
//   addTriggerInToFusionProccessor, addApsFrameToFusionProccessor (APS thread); updateFusionData
//   runs on whichever completes a pair, inside the pairing lock.
// - The front's player thread: paintWindow (the replay painter, then painting into the mailbox);
//   the loading thread loads the ".raw" and the ".mp4" of a recording and touches only its own job.
//
// Locks (order: pairing lock or the player's readerLock -> paintMutex -> the live view's countMutex
// -> the calibration store's lock -> the mailbox's lock)
// - paintMutex: the mailbox's painting side (one painter: live pairs and replay steps take turns).
// - The player's readerLock hands the replay painter to the player thread.
// - Atomics: the view and the mirror flag (in the live view), the calibration's offsets and generation.
//
// Decisions
// - A calibration whose DVS size is not 1280 x 720, or without six finite DVS -> APS numbers, is
//   refused with a warning tip; the previous calibration stays.
// - A ".json" beside a recording that is not a valid calibration keeps the previous calibration
//   and shows a warning tip naming the file.
// - The DVS view of a replay is filled with the background colour before its events are drawn.
// - The DVS view counts into a second buffer while the first is painted: no event is lost
//   between painting and clearing.
// - A recording that cannot be opened or read gives the tip "Cannot open the recording: " + its name.
// - Replay events are mirrored (x' = width - 1 - x) while a fusion camera's recording is loaded.
// - An AEDAT 4 file's frames lie on its event grid: they are shown pixel for pixel at the grid's
//   top left (no calibration applies), its events unmirrored, and its timeline starts with its
//   first frame as a ".raw"'s does.
// - slotReadFusionFile("") unloads the recording and returns false (nothing was opened).
#include <QImage>
#include <QObject>
#include <QPixmap>
#include <QString>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "Utility/nrmessagetype.h"
#include "norvale/ApsFileReader.h"
#include "norvale/ApsFrame.h"
#include "norvale/CameraTypes.h"
#include "norvale/Event2D.h"
#include "norvale/EventFrame.h"
#include "norvale/FuncUtils.h"
#include "norvale/JsonUtils.h"
#include "processing/nrcalibrator.h"
#include "processing/nrdvsapsfusion.h"
#include "processing/nrfusioncalibration.h"
#include "processing/nrfusionlive.h"
#include "processing/nrfusionreplaypainter.h"
#include "processing/nrmetatypes.h"
#include "processing/nrplaybackfront.h"

class LoadConfig;

namespace norvale {
class FusionCamera;
} // namespace norvale

class NrFusionCameraDataProcessor : public QObject, private NrPlaybackPainter {
    Q_OBJECT
public:
    explicit NrFusionCameraDataProcessor(QObject* parent = nullptr);
    ~NrFusionCameraDataProcessor() override;
    NrFusionCameraDataProcessor(const NrFusionCameraDataProcessor&) = delete;
    NrFusionCameraDataProcessor& operator=(const NrFusionCameraDataProcessor&) = delete;

    void setDevicePtr(std::shared_ptr<norvale::FusionCamera> device);
    // Counts events for the DVS view (only while the view is DVS).
    void updateEvents(const norvale::Event2D* begin, const norvale::Event2D* end);
    void addEventsToFusionProccessor(const norvale::Event2D* begin, const norvale::Event2D* end);
    void addTriggerInToFusionProccessor(const norvale::EventTriggerIn& trigger);
    void addApsFrameToFusionProccessor(const norvale::ApsFrame& frame);
    // One APS frame and the events of its window: composes and publishes the view (pairing lock held).
    void updateFusionData(norvale::ApsFrame& frame, const norvale::Event2D* begin, const norvale::Event2D* end);
    // Paints the counts (tie: ON) onto image, 1280 x 720 RGB888.
    void visualizeEventsOnFrame(QImage& image);
    // Paints the events in order, mirrored while a fusion camera's recording is loaded.
    void visualizeEventsOnFrame(QImage& image, const norvale::Event2D* begin, const norvale::Event2D* end);
    // Paints given counts like visualizeEventsOnFrame(QImage&); nothing uses it yet.
    void fusionDvsToAps(QImage& image, std::shared_ptr<std::vector<uint16_t>>& counts);
    void clearCache();
    // Live events the pairing had to drop since construction. Any thread.
    uint64_t droppedEvents() const { return live->pairing().droppedEvents(); }
    void setCalibrationParam(norvale::CalibratorParameters& params);
    static QString tsToLocalTime(const norvale::SysTimePoint& recordStart, uint64_t ts, uint64_t startTs);
    // The paused replay's frame at the play position again (waits for it at most kStepWaitMs).
    void replayOneFrameFusionFileByTimebase();
    // The replay thread's body: the front's player loop. Player thread.
    void playbackFusionFileLoop();
    // What the play bar drives while a fusion recording is shown.
    NrPlaybackFront* playbackFront() { return &front; }
    // The first event in [begin, end) with timestamp >= ts, or end. Nothing uses it yet.
    static norvale::Event2D* binarySearchTimestamp(uint64_t ts, norvale::Event2D* begin, norvale::Event2D* end);

    // For tests and benchmarks.
    norvale::Calibrator calibration() const;
    bool isPlaying() const { return front.isPlaying(); }
    uint64_t playPosition() const { return front.player().position(); }
    const norvale::DvsApsFusionProccessor* pairing() const { return &live->pairing(); }

signals:
    void signalFusionImage(const QImage& image);
    // Neither is emitted yet (the image view takes signalFusionImage); the window connects the first.
    void signalFusionPixMap(const QPixmap& pixmap);
    void triggerFusionImage();
    void signalTimeStamp(uint64_t timestamp_us);
    void signalLocalTime(QString str);
    void signalStartTimeStamp(uint64_t timestamp_us);
    void signalEndTimeStamp(uint64_t timestamp_us);
    void signalPalyFileFinished();
    void signalPlayStatus(bool playing);
    void signalLoadingStatus(bool busy);
    // The part of the 1280 x 720 grid a loaded recording uses (an AEDAT 4 file's sensor, or all of it).
    void signalDisplaySize(int width, int height);
    void signalShowLeftBottomTips(QString tips, NrMessageType type = NrMessageSuccess, QString file_path = QString());

public slots:
    void slotSetViewerType(norvale::STREAM_TYPE type);
    bool slotReadFusionFile(QString path);
    void slotSetLowerTimeStamp(uint64_t timestamp_us);
    void slotSetUpperTimeStamp(uint64_t timestamp_us);
    void slotSetReplayFlag(bool loop);
    void slotPlaybackCtrl(bool play);
    void slotPlaybackReset();
    void preFrame();
    void nextFrame();
    void setPlayPos(uint64_t timestamp_us);
    void setFps(int fps);
    void setAccTime(uint64_t time_us);
    void slotSetApsOffset(double x, double y);
    void slotApplyOffset();

public:
    static constexpr int kWidth = 1280;
    static constexpr int kHeight = 720;
    static constexpr uint16_t kMaxEventCount = norvale::kFusionEventCountCap; // the fusion frame rule
    static constexpr int kStepWaitMs = 500;

private:
    struct ApsLoad;

    void reportCalibrationRefusal(NrFusionCalibrationStore::Verdict verdict, const norvale::CalibratorParameters& p);

    // The front's painter.
    void paintWindow(const std::vector<norvale::Event2D>& events, uint64_t ts) override;
    NrRecordingPlayer::Companion companion(const QString& raw) override;
    QString finishLoad(const NrLoadResult& result, bool ok) override;
    void closed() override;
    void loadCalibrationFile(const QString& path);

    LoadConfig* config = nullptr;
    std::mutex paintMutex;
    NrFusionCalibrationStore store;
    NrPlaybackFront front;                         // its mailbox and player serve everything below
    std::unique_ptr<NrFusionLiveView> live;        // its pairing's callback reaches everything above
    std::unique_ptr<NrFusionReplayPainter> replay; // player thread (handed over under readerLock)
    std::shared_ptr<ApsLoad> pendingAps;           // owner thread: the APS side of the load running
};
