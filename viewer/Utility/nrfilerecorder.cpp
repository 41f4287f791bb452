#include "Utility/nrfilerecorder.h"

#include <QDebug>

#include <algorithm>
#include <chrono>

#include "loadconfig.h"
#include "norvale/DvsCamera.h"
#include "norvale/Logger.h"

namespace {
constexpr const char* kLogSource = "Utility/nrfilerecorder";
}

NrFileRecorder::NrFileRecorder(std::shared_ptr<norvale::DvsCamera> cam, QObject* parent)
    : QObject(parent), camera(std::move(cam)) {
    qRegisterMetaType<NrMessageType>("NrMessageType");
}

NrFileRecorder::~NrFileRecorder() {
    stopRecording();
    if (recordThread.joinable())
        recordThread.join();
}

void NrFileRecorder::setDevice(std::shared_ptr<norvale::DvsCamera> cam) {
    std::lock_guard<std::mutex> lock(mutex);
    camera = std::move(cam);
}

bool NrFileRecorder::isRecording() const {
    std::lock_guard<std::mutex> lock(mutex);
    return recording;
}

void NrFileRecorder::setCacheTime(int sec) {
    std::shared_ptr<norvale::DvsCamera> cam;
    {
        std::lock_guard<std::mutex> lock(mutex);
        cam = camera;
    }
    cacheEnabled = false;
    if (!cam)
        return;
    const uint16_t seconds = uint16_t(std::clamp(sec, 0, 65535));
    const QString folder = LoadConfig::getGlobalConfig()->appDataPath;
    if (!cam->setFileCacheTime(seconds, folder.toLocal8Bit().toStdString())) {
        emit signalShowLeftBottomTips(tr("The pre-trigger cache could not be set up in ") + folder, NrMessageWarning,
                                      folder);
        return;
    }
    cacheEnabled = seconds != 0;
}

bool NrFileRecorder::recordingTime(uint32_t seconds, QString path) {
    std::shared_ptr<norvale::DvsCamera> cam;
    bool busy = false;
    {
        std::lock_guard<std::mutex> lock(mutex);
        cam = camera;
        busy = recording;
    }
    const bool connected = cam && cam->isConnected();
    if (busy || !connected || seconds == 0) {
        QDebug line = qDebug().noquote() << "Recording false." << (busy ? "true" : "false");
        if (cam)
            line << (connected ? "true" : "false");
        line << seconds;
        QString tip = tr("Currently being recorded.");
        if (!busy)
            tip = !connected ? tr("No camera is connected.") : tr("The recording duration must be at least one second.");
        emit signalShowLeftBottomTips(tip, NrMessageWarning, path);
        return false;
    }
    if (recordThread.joinable())
        recordThread.join(); // the last one has finished: recording is clear
    uint64_t id = 0;
    {
        std::lock_guard<std::mutex> lock(mutex);
        recording = true;
        id = ++recordingId;
        recordingCamera = cam;
    }
    emit signalRecordingChanged(true);
    emit signalShowLeftBottomTips(tr("Recording file ... "), NrMessageSuccess, path);
    qDebug() << "record time : " << seconds << "file path: " << path;
    recordThread = std::thread(&NrFileRecorder::recordFor, this, id, cam, seconds, path);
    return true;
}

// Record thread.
void NrFileRecorder::recordFor(uint64_t id, std::shared_ptr<norvale::DvsCamera> cam, uint32_t seconds, QString path) {
    norvale::Logger::Instance().log_(norvale::LOG_INFO, kLogSource, __LINE__, "recording start");
    if (!cam->startRecording(path.toLocal8Bit().toStdString())) {
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (recordingId == id)
                recording = false;
        }
        norvale::Logger::Instance().log_(norvale::LOG_ERROR, kLogSource, __LINE__, "recording failed");
        emit signalRecordingChanged(false);
        emit signalShowLeftBottomTips(tr("Recording failed: the camera cannot write ") + path, NrMessageError, path);
        return;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    bool mine = false;
    {
        std::unique_lock<std::mutex> lock(mutex);
        stopped.wait_until(lock, deadline, [&] { return !recording || recordingId != id; });
        mine = recording && recordingId == id; // not stopped by hand meanwhile
    }
    if (mine)
        cam->stopRecording();
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (recordingId == id)
            recording = false;
    }
    norvale::Logger::Instance().log_(norvale::LOG_INFO, kLogSource, __LINE__, "recording end");
    emit signalRecordingChanged(false);
    emit signalShowLeftBottomTips(tr("Recording end"), NrMessageSuccess, QString());
}

bool NrFileRecorder::startRecording(QString path) {
    std::shared_ptr<norvale::DvsCamera> cam;
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (recording)
            return false;
        cam = camera;
    }
    if (!cam || !cam->isConnected()) {
        emit signalShowLeftBottomTips(tr("No camera is connected."), NrMessageError, path);
        return false;
    }
    if (!cam->startRecording(path.toLocal8Bit().toStdString())) {
        emit signalShowLeftBottomTips(tr("Recording failed: the camera cannot write ") + path, NrMessageError, path);
        return false;
    }
    {
        std::lock_guard<std::mutex> lock(mutex);
        recording = true;
        ++recordingId;
        recordingCamera = cam;
    }
    emit signalRecordingChanged(true);
    return true;
}

bool NrFileRecorder::stopRecording() {
    std::shared_ptr<norvale::DvsCamera> cam;
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (!recording)
            return false;
        cam = recordingCamera;
        // Keep recording set until the camera has stopped, so that no new recording starts meanwhile.
    }
    if (cam)
        cam->stopRecording();
    {
        std::lock_guard<std::mutex> lock(mutex);
        recording = false;
        recordingCamera.reset();
    }
    stopped.notify_all();
    emit signalRecordingChanged(false);
    return true;
}

void NrFileRecorder::release() {
    stopRecording();
    if (recordThread.joinable())
        recordThread.join();
    setDevice(nullptr);
}

void NrFileRecorder::slotSaveFileParamChanged() { LoadConfig::getGlobalConfig(); }

void NrFileRecorder::slotDetectionRecordingTime(QString) { LoadConfig::getGlobalConfig(); }
