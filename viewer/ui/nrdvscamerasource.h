#pragma once

// A live DVS camera in the main window: starts and stops the camera and runs the display thread
// that feeds the event processor. Recording, the status text and a lost connection are shared with
// the other camera kinds (ui/nrcamerasource.h).
//
// Threads
// - GUI thread: every public function, every signal.
// - Display thread (ctrlDisplayFpsLoop, while streaming): about 33 times a second takes the
//   camera's newest batch (visitNextBatch: its runs in the camera's own buffers, no copy) and hands
//   it to processEventRuns, which
//   (the processor in NR_FLUSH_BY_EVENT_TIME with period 0 while streaming) counts it, swaps the
//   counts and wakes the render thread, all on this thread. The painted image and the batch's
//   timestamp reach the GUI thread together through the processor's mailbox: one wake-up, the
//   newest frame wins, so frames are dropped, never queued. The GUI thread is not on this path.
//   The mode is set before the thread starts and set back after it is joined.
// - The camera's streaming thread: the statistics callback, once a second, posts the status text;
//   the trigger-in callback (trigger-in recording on) emits signalRecByTime on a matching edge.
//   The callbacks capture copies of what they need; removing one waits until it no longer runs,
//   which the destructor does before anything else goes.
// Fields: m_streaming is atomic;
// everything else is the GUI thread's.
//
// Recording: with a recorder given (setRecorder), recordings by hand go through it as well, so a
// trigger edge during one is ignored there and the record button ends a timed one.
#include <QPointer>
#include <QString>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "norvale/Event2D.h"
#include "ui/nrcamerasource.h"

namespace norvale {
class DvsCamera;
}
class NrEventProcessor;
class NrFileRecorder;
class LoadConfig;

class NrDvsCameraSource : public NrCameraSource {
    Q_OBJECT
public:
    static constexpr int kDisplayFps = 33;

    NrDvsCameraSource(std::shared_ptr<norvale::DvsCamera> camera, NrEventProcessor* processor,
                      QObject* parent = nullptr);
    ~NrDvsCameraSource() override;

    NrSourceType kind() const override { return NrSourceDvsCamera; }
    bool play(bool checked) override;
    bool isConnected() const override;
    const norvale::CameraDescription& description() const override;
    // The driver's firmware text of the camera, "" when it has none.
    std::string firmwareVersion() const override;
    std::shared_ptr<norvale::CameraTool> tool(norvale::ToolType type) const override;

    const std::shared_ptr<norvale::DvsCamera>& camera() const { return m_camera; }
    // Hands the camera the time a batch covers at most (the side bar's accumulation time).
    void setBatchTime(uint64_t us);
    // Trigger-in recording from the configuration: the cache off and no trigger-in callback when it
    // is disabled; else the cache of dvsBeforeTriggerInSaveTime seconds in the recording folder and
    // a callback asking for a recording of dvsAfterTriggerInSaveTime seconds on each edge of the
    // configured kind ("Rising Edge": polarity 1, "Falling Edge": 0). Replaces an earlier callback.
    void applyTriggerInRecording(const LoadConfig& config);
    bool hasTriggerInCallback() const { return m_triggerInCallbackId != -1; }
    // The recorder of this camera's timed recordings; recordings by hand go through it too.
    void setRecorder(NrFileRecorder* recorder);

signals:
    // A trigger edge asks for a recording of seconds into path (emitted on the streaming thread).
    void signalRecByTime(uint32_t seconds, QString path);

protected:
    QString startCameraRecording(const QString& folder, const QString& baseName) override;
    bool stopCameraRecording() override;
    void stopStream() override;
    bool endTimedRecording(QString& path, bool& saved) override;

private:
    void ctrlDisplayFpsLoop();
    void removeTriggerInCallback();

    std::shared_ptr<norvale::DvsCamera> m_camera;
    NrEventProcessor* m_processor;
    std::thread m_displayThread;
    uint64_t m_batchTimeUs = 0;
    int m_triggerInCallbackId = -1;
    QPointer<NrFileRecorder> m_recorder; // the window's; it may go first
    bool m_recordingViaRecorder = false;  // how the recording by hand was started
};
