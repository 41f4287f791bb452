#pragma once

// A live DVS camera in the main window: starts and stops the camera, runs the display thread that
// feeds the event processor, records by hand and reports the status-bar figures.
//
// Threads
// - GUI thread: every public function, every signal.
// - Display thread (ctrlDisplayFpsLoop, while streaming): about 33 times a second takes the
//   camera's newest batch (getNextBatch) into eventBuffer, counts it (processEvents) and wakes the
//   GUI thread, which flushes the counts to the screen. The wake-up is one pending flag, so a busy
//   GUI thread is woken once however many batches pass: frames are dropped, never queued.
// - The camera's streaming thread: the statistics callback, once a second, posts the status text;
//   the trigger-in callback (trigger-in recording on) emits signalRecByTime on a matching edge.
//   The callbacks capture copies of what they need; removing one waits until it no longer runs,
//   which the destructor does before anything else goes.
// Fields: eventBuffer is the display thread's alone; streaming, flushPending and droppedBase are
// atomics; everything else is the GUI thread's.
#include <QString>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "Utility/nrmessagetype.h"
#include "norvale/Event2D.h"
#include "ui/nrsource.h"

namespace norvale {
class DvsCamera;
}
class NrEventProcessor;
class LoadConfig;

class NrDvsCameraSource : public NrSource {
    Q_OBJECT
public:
    static constexpr int kDisplayFps = 33;

    NrDvsCameraSource(std::shared_ptr<norvale::DvsCamera> camera, NrEventProcessor* processor,
                      QObject* parent = nullptr);
    ~NrDvsCameraSource() override;

    NrSourceType kind() const override { return NrSourceDvsCamera; }
    bool isLive() const override { return true; }
    bool play(bool checked) override;
    bool record(bool checked) override;

    const std::shared_ptr<norvale::DvsCamera>& camera() const { return m_camera; }
    bool isStreaming() const { return m_streaming.load(); }
    bool isRecording() const { return m_recording; }
    // The path of the recording being written (or last written).
    QString recordingPath() const { return m_recordPath; }
    // Hands the camera the time a batch covers at most (the side bar's accumulation time).
    void setBatchTime(uint64_t us);
    // Trigger-in recording from the configuration: the cache off and no trigger-in callback when it
    // is disabled; else the cache of dvsBeforeTriggerInSaveTime seconds in the recording folder and
    // a callback asking for a recording of dvsAfterTriggerInSaveTime seconds on each edge of the
    // configured kind ("Rising Edge": polarity 1, "Falling Edge": 0). Replaces an earlier callback.
    void applyTriggerInRecording(const LoadConfig& config);
    QString serial() const;
    bool hasTriggerInCallback() const { return m_triggerInCallbackId != -1; }

signals:
    // " Bandwidth: x.x MB/s  Events: y.y MEv/s  Dropped: n "
    void signalStatus(QString text);
    void signalTip(QString tips, NrMessageType type, QString filePath);
    // The camera went away: play and record are off now.
    void signalConnectionLost();
    // Record state changed by the source itself (a failed start, a lost connection).
    void signalRecording(bool on);
    // A trigger edge asks for a recording of seconds into path (emitted on the streaming thread).
    void signalRecByTime(uint32_t seconds, QString path);

private:
    void ctrlDisplayFpsLoop();
    void stopStreaming();
    void showEvents();
    void onConnectionLost();
    bool stopRecording();
    void removeTriggerInCallback();

    std::shared_ptr<norvale::DvsCamera> m_camera;
    NrEventProcessor* m_processor;
    std::thread m_displayThread;
    std::atomic<bool> m_streaming{false};
    std::atomic<bool> m_flushPending{false};
    std::atomic<uint64_t> m_droppedBase{0};
    std::vector<norvale::Event2D> eventBuffer;
    uint64_t m_batchTimeUs = 0;
    bool m_recording = false;
    QString m_recordPath;
    int m_triggerInCallbackId = -1;
};
