#pragma once

// NrFileRecorder: starts and stops the recording of the open DVS camera into a raw file (the camera
// writes it), runs recordings of a set duration on a thread of its own, hands the camera its
// pre-trigger cache time, and tells the user through tips.
//
// One recording at a time, whoever asked for it: a recording by hand (the record button goes
// through startQuietly and endRecording) and a timed one (a trigger edge, recordingTime) exclude
// each other here, so the camera is never asked for a second one.
//
// Threads
// - Owner (GUI) thread: every slot, setDevice, construction, destruction.
// - Record thread (one at a time): a timed recording; it waits for the end of the duration or a
//   stop, whichever comes first, and emits its tips (queued to receivers in other threads).
// Lock: mutex guards camera, recordingCamera, mode, stopping, recordingPath, recordingId and the
// wake-up of the record thread (cv). The camera is called with mutex released.
//
// Decisions
// - The camera starts a timed recording on the owner thread (opening a file is quick), so a
//   refusal is known at once: one error tip instead of a start tip followed by an error.
// - A trigger edge while any recording runs is ignored with a log line and no tip: with a pulse
//   each second the user would otherwise get a tip a second.
// - Other refusals of a timed recording get the tip of their cause: "No camera is connected." or
//   "The recording duration must be at least one second.".
// - Whoever claims the stop of a recording (the record thread at its deadline, or endRecording)
//   stops the camera and reports it; the other reports nothing, so a recording ends with one tip.
// - The end is a success only when the camera says so and the file is there.
// - A recording never replaces a file: a name taken already gets a number.
// - A failed setFileCacheTime leaves the cache off with a warning tip.
#include <QObject>
#include <QString>

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

#include "Utility/nrmessagetype.h"

namespace norvale {
class DvsCamera;
} // namespace norvale

class NrFileRecorder : public QObject {
    Q_OBJECT
public:
    // What ending a recording came to.
    struct Ended {
        bool ran = false;   // a recording was running and is stopped now
        bool timed = false; // it was a timed one
        bool saved = false; // the camera finished it and the file is there
        QString path;
    };

    explicit NrFileRecorder(std::shared_ptr<norvale::DvsCamera> camera = nullptr, QObject* parent = nullptr);
    ~NrFileRecorder() override;
    NrFileRecorder(const NrFileRecorder&) = delete;
    NrFileRecorder& operator=(const NrFileRecorder&) = delete;

    // Replaces the camera; a running recording is not touched.
    void setDevice(std::shared_ptr<norvale::DvsCamera> camera);
    bool isRecording() const;
    bool isTimedRecording() const;
    // Stops a recording, waits for the record thread and lets go of the camera (owner thread; the
    // camera is about to close).
    void release();
    bool isCacheEnabled() const { return cacheEnabled; }

    // A recording by hand as startRecording, but a refusal is left to the caller to tell.
    bool startQuietly(const QString& path);
    // Stops the running recording, by hand or timed, without a tip: the caller tells the user.
    Ended endRecording();

signals:
    void signalShowLeftBottomTips(QString tips, NrMessageType type, QString file_path);
    // A recording began or ended (the end of a timed one comes from the record thread).
    void signalRecordingChanged(bool recording);

public slots:
    void setCacheTime(int sec);
    // A recording of seconds into path, ended on the record thread.
    bool recordingTime(uint32_t seconds, QString path);
    bool startRecording(QString path);
    // Stops a running recording (manual or timed); false when none runs. A timed one reports its end.
    bool stopRecording();
    void slotSaveFileParamChanged();
    void slotDetectionRecordingTime(QString info);

private:
    enum class Mode { Idle, Manual, Timed };

    bool beginManual(const QString& path, bool tell);
    void recordFor(uint64_t id, std::shared_ptr<norvale::DvsCamera> cam, uint32_t seconds, QString path);
    // The tip at the end of a timed recording.
    void reportTimedEnd(const Ended& ended);

    mutable std::mutex mutex;
    std::condition_variable stopped;
    std::shared_ptr<norvale::DvsCamera> camera;          // mutex
    std::shared_ptr<norvale::DvsCamera> recordingCamera; // mutex: the camera of the running recording
    bool cacheEnabled = false;                           // owner thread
    Mode mode = Mode::Idle;                              // mutex
    bool stopping = false;                               // mutex: a stop claimed the running recording
    QString recordingPath;                               // mutex
    uint64_t recordingId = 0;                            // mutex: counts recordings started
    std::thread recordThread;                            // owner thread
};
