#pragma once

// NrFileRecorder: starts and stops the recording of the open DVS camera into a raw file (the camera
// writes it), runs recordings of a set duration on a thread of its own, hands the camera its
// pre-trigger cache time, and tells the user through tips.
//
// Threads
// - Owner (GUI) thread: every slot, setDevice, construction, destruction.
// - Record thread (one at a time): a timed recording; it waits for the end of the duration or a
//   manual stop, whichever comes first, and emits its tips (queued to receivers in other threads).
// Lock: mutex guards camera, recordingCamera, recording, recordingId and the wake-up of the record thread (cv).
// The camera is called with mutex released.
//
// Decisions
// - startRecording consults the camera: false and an error tip when it cannot record.
// - A refused timed recording gets the tip of its cause: "Currently being recorded." (a recording
//   runs), "No camera is connected." or "The recording duration must be at least one second.".
// - A manual stop ends a timed recording at once; its thread then stops the camera only if its own
//   recording still runs, so it never stops a recording started after it.
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
    explicit NrFileRecorder(std::shared_ptr<norvale::DvsCamera> camera = nullptr, QObject* parent = nullptr);
    ~NrFileRecorder() override;
    NrFileRecorder(const NrFileRecorder&) = delete;
    NrFileRecorder& operator=(const NrFileRecorder&) = delete;

    // Replaces the camera; a running recording is not touched.
    void setDevice(std::shared_ptr<norvale::DvsCamera> camera);
    bool isRecording() const;
    // Stops a recording, waits for the record thread and lets go of the camera (owner thread; the
    // camera is about to close).
    void release();
    bool isCacheEnabled() const { return cacheEnabled; }

signals:
    void signalShowLeftBottomTips(QString tips, NrMessageType type, QString file_path);
    // A recording began or ended (the end of a timed one comes from the record thread).
    void signalRecordingChanged(bool recording);

public slots:
    void setCacheTime(int sec);
    // A recording of seconds into path, on the record thread.
    bool recordingTime(uint32_t seconds, QString path);
    bool startRecording(QString path);
    // Stops a running recording (manual or timed); false when none runs.
    bool stopRecording();
    void slotSaveFileParamChanged();
    void slotDetectionRecordingTime(QString info);

private:
    void recordFor(uint64_t id, std::shared_ptr<norvale::DvsCamera> cam, uint32_t seconds, QString path);

    mutable std::mutex mutex;
    std::condition_variable stopped;
    std::shared_ptr<norvale::DvsCamera> camera; // mutex
    std::shared_ptr<norvale::DvsCamera> recordingCamera; // mutex: the camera of the running recording
    bool cacheEnabled = false;                  // owner thread
    bool recording = false;                     // mutex
    uint64_t recordingId = 0;                   // mutex: counts recordings started
    std::thread recordThread;                   // owner thread
};
