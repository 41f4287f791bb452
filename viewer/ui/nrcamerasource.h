#pragma once

// What every live camera in the main window shares, whatever its kind: recording by hand (the
// file named after the serial and the local time, success only when the camera says so and the
// file is there), the status-bar text with the events the display dropped in the last second,
// and what a lost connection does (stream and recording stopped, play and record off, the user
// told). A kind supplies its camera's calls. A recording started by a trigger edge is ended by the
// record button like one started by hand (a kind that has such recordings says how).
//
// Threads
// - GUI thread: every public function, every signal, the protected hooks.
// - postStatus may be called from any thread (the camera's statistics callback); the text reaches
//   the GUI thread as one queued call.
// Fields: streaming and droppedBase are atomics; everything else is the GUI thread's.
#include <QString>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "Utility/nrmessagetype.h"
#include "norvale/CameraTool.h"
#include "norvale/CameraTypes.h"
#include "ui/nrsource.h"

class NrCameraSource : public NrSource {
    Q_OBJECT
public:
    using NrSource::NrSource;

    bool isLive() const override { return true; }
    // The record button was clicked: starts a recording, or stops the running one.
    bool record(bool checked) override;

    virtual bool isConnected() const = 0;
    virtual const norvale::CameraDescription& description() const = 0;
    virtual std::string firmwareVersion() const = 0;
    // Empty for a tool the camera lacks.
    virtual std::shared_ptr<norvale::CameraTool> tool(norvale::ToolType type) const = 0;

    bool isStreaming() const { return m_streaming.load(); }
    bool isRecording() const { return m_recording; }
    // The events file of the recording being written (or last written).
    QString recordingPath() const { return m_recordPath; }

    // " Bandwidth: x.x MB/s  Events: y.y MEv/s  Dropped: n ", and "Lost datagrams: m " after it
    // when a network camera's stream lost some in that second.
    // serial_yyyyMMdd_HHmmss: every recording of a camera, by hand or on a trigger, is named so.
    static QString recordingBaseName(const QString& serial);
    // folder/baseName.raw: the events file of a recording.
    static QString eventsFile(const QString& folder, const QString& baseName);
    static QString statusText(const norvale::NrStatisticInfo& info, uint64_t droppedLastSecond,
                              uint64_t lostDatagramsLastSecond = 0);

signals:
    void signalStatus(QString text);
    void signalTip(QString tips, NrMessageType type, QString filePath);
    // The camera went away: play and record are off now.
    void signalConnectionLost();
    // Record state changed by the source itself (a lost connection).
    void signalRecording(bool on);

protected:
    // Starts the camera's recording into folder under baseName; returns the events file's path,
    // or "" when the camera refused.
    virtual QString startCameraRecording(const QString& folder, const QString& baseName) = 0;
    // Finishes the recording; true when the camera reports success and every file it writes exists.
    virtual bool stopCameraRecording() = 0;
    // Stops the stream after the connection was lost (the camera may refuse: it is gone).
    virtual void stopStream() = 0;
    // Ends a recording the source did not start (a timed one on a trigger edge); false when none
    // runs. path is its events file, saved the camera's verdict with the file there.
    virtual bool endTimedRecording(QString& path, bool& saved) {
        (void)path;
        (void)saved;
        return false;
    }

    // droppedTotal: the display's drop counter since the source began, lostDatagramsTotal a network
    // camera's datagrams lost or malformed; the text shows their growth since the previous call.
    // Any thread.
    void postStatus(const norvale::NrStatisticInfo& info, uint64_t droppedTotal, uint64_t lostDatagramsTotal = 0);
    void setDroppedBase(uint64_t total) { m_droppedBase = total; }
    // GUI thread: the camera is gone.
    void connectionLost();
    // Stops a running recording; returns the camera's verdict.
    bool stopRecording();
    // The tip at the end of a recording the button stopped.
    void reportSaved(bool saved, const QString& path);

    std::atomic<bool> m_streaming{false};

private:
    std::atomic<uint64_t> m_droppedBase{0};
    std::atomic<uint64_t> m_lostBase{0};
    bool m_recording = false;
    QString m_recordPath;
};
