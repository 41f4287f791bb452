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
// - The camera's streaming thread: the statistics callback, once a second, posts the status text.
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

signals:
    // " Bandwidth: x.x MB/s  Events: y.y MEv/s  Dropped: n "
    void signalStatus(QString text);
    void signalTip(QString tips, NrMessageType type, QString filePath);
    // The camera went away: play and record are off now.
    void signalConnectionLost();
    // Record state changed by the source itself (a failed start, a lost connection).
    void signalRecording(bool on);

private:
    void ctrlDisplayFpsLoop();
    void stopStreaming();
    void showEvents();
    void onConnectionLost();
    bool stopRecording();

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
};
