#pragma once

// A live fusion camera in the main window: its three stream callbacks feed the fusion processor
// (events counted for the DVS view and paired with APS frames, frames, trigger edges), play starts
// and stops both streams, and recording writes the camera's ".raw", ".mp4" and ".json" together.
// Recording, the status text and a lost connection are shared with the other camera kinds
// (ui/nrcamerasource.h); the dropped events are those the fusion view had to let go.
//
// Threads
// - GUI thread: every public function, every signal, the connection watch (a timer).
// - The camera's streaming thread: the events and trigger-in callbacks and, once a second, the
//   statistics callback; its APS thread: the frame callback. They only call into the processor,
//   which guards itself, and postStatus. The callbacks are removed before the source goes.
// Fields: m_streaming is atomic; everything else is the GUI thread's.
#include <QTimer>

#include <memory>
#include <string>
#include <vector>

#include "ui/nrcamerasource.h"

namespace norvale {
class FusionCamera;
}
class NrFusionCameraDataProcessor;

class NrFusionCameraSource : public NrCameraSource {
    Q_OBJECT
public:
    // How often the GUI thread looks whether the camera is still there.
    static constexpr int kConnectionWatchMs = 200;

    // firmware: the version text read when the camera was opened.
    NrFusionCameraSource(std::shared_ptr<norvale::FusionCamera> camera, std::string firmware,
                         NrFusionCameraDataProcessor* processor, QObject* parent = nullptr);
    ~NrFusionCameraSource() override;

    NrSourceType kind() const override { return NrSourceFusionCamera; }
    // Toggles on the stream's own state, not on the button's.
    bool play(bool checked) override;
    bool isConnected() const override;
    const norvale::CameraDescription& description() const override;
    std::string firmwareVersion() const override { return m_firmware; }
    std::shared_ptr<norvale::CameraTool> tool(norvale::ToolType type) const override;

    const std::shared_ptr<norvale::FusionCamera>& camera() const { return m_camera; }

protected:
    QString startCameraRecording(const QString& folder, const QString& baseName) override;
    bool stopCameraRecording() override;
    void stopStream() override;

private:
    void watchConnection();

    std::shared_ptr<norvale::FusionCamera> m_camera;
    std::string m_firmware;
    NrFusionCameraDataProcessor* m_processor;
    std::vector<int> m_callbackIds;
    QTimer m_watch;
    QString m_recordBase; // folder/baseName of the running recording
};
