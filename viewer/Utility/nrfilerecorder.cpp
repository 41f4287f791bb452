#include "Utility/nrfilerecorder.h"

#include <QDebug>
#include <QFileInfo>

#include <algorithm>
#include <chrono>

#include "Utility/Utility.h"
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
    return mode != Mode::Idle;
}

bool NrFileRecorder::isTimedRecording() const {
    std::lock_guard<std::mutex> lock(mutex);
    return mode == Mode::Timed;
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
        busy = mode != Mode::Idle;
    }
    if (busy) {
        // An edge during a recording: the running one goes on, the user is not told again.
        qDebug().noquote() << "Recording false. true" << seconds << "(a recording runs; edge ignored)";
        norvale::Logger::Instance().log_(norvale::LOG_INFO, kLogSource, __LINE__,
                                         "trigger edge ignored: a recording runs (%s not written)",
                                         path.toLocal8Bit().constData());
        return false;
    }
    const bool connected = cam && cam->isConnected();
    if (!connected || seconds == 0) {
        QDebug line = qDebug().noquote() << "Recording false. false";
        if (cam)
            line << (connected ? "true" : "false");
        line << seconds;
        emit signalShowLeftBottomTips(!connected ? tr("No camera is connected.")
                                                 : tr("The recording duration must be at least one second."),
                                      NrMessageWarning, path);
        return false;
    }
    if (recordThread.joinable())
        recordThread.join(); // its recording has ended: the thread has nothing left to wait for
    path = unusedPath(path);
    if (!cam->startRecording(path.toLocal8Bit().toStdString())) {
        norvale::Logger::Instance().log_(norvale::LOG_ERROR, kLogSource, __LINE__, "recording failed");
        emit signalShowLeftBottomTips(tr("Recording failed: the camera cannot write ") + path, NrMessageError, path);
        return false;
    }
    uint64_t id = 0;
    {
        std::lock_guard<std::mutex> lock(mutex);
        mode = Mode::Timed;
        id = ++recordingId;
        recordingCamera = cam;
        recordingPath = path;
    }
    norvale::Logger::Instance().log_(norvale::LOG_INFO, kLogSource, __LINE__, "recording start");
    emit signalRecordingChanged(true);
    emit signalShowLeftBottomTips(tr("Recording file ... "), NrMessageSuccess, path);
    qDebug() << "record time : " << seconds << "file path: " << path;
    recordThread = std::thread(&NrFileRecorder::recordFor, this, id, cam, seconds, path);
    return true;
}

// Record thread.
void NrFileRecorder::recordFor(uint64_t id, std::shared_ptr<norvale::DvsCamera> cam, uint32_t seconds, QString path) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    {
        std::unique_lock<std::mutex> lock(mutex);
        const auto endedElsewhere = [&] { return recordingId != id || mode != Mode::Timed || stopping; };
        if (stopped.wait_until(lock, deadline, endedElsewhere))
            return; // stopped before its time: whoever stopped it has reported
        stopping = true; // ours to stop
    }
    Ended ended;
    ended.ran = true;
    ended.timed = true;
    ended.path = path;
    ended.saved = cam->stopRecording() && QFileInfo(path).isFile();
    {
        std::lock_guard<std::mutex> lock(mutex);
        mode = Mode::Idle;
        stopping = false;
        recordingCamera.reset();
    }
    stopped.notify_all();
    norvale::Logger::Instance().log_(norvale::LOG_INFO, kLogSource, __LINE__, "recording end");
    emit signalRecordingChanged(false);
    reportTimedEnd(ended);
}

void NrFileRecorder::reportTimedEnd(const Ended& ended) {
    if (ended.saved)
        emit signalShowLeftBottomTips(tr("Recording end"), NrMessageSuccess, QString());
    else
        emit signalShowLeftBottomTips(tr("Recording failed: the camera cannot write ") + ended.path, NrMessageError,
                                      QString());
}

bool NrFileRecorder::startRecording(QString path) { return beginManual(path, true); }

bool NrFileRecorder::startQuietly(const QString& path) { return beginManual(path, false); }

bool NrFileRecorder::beginManual(const QString& path, bool tell) {
    std::shared_ptr<norvale::DvsCamera> cam;
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (mode != Mode::Idle)
            return false;
        cam = camera;
    }
    if (!cam || !cam->isConnected()) {
        if (tell)
            emit signalShowLeftBottomTips(tr("No camera is connected."), NrMessageError, path);
        return false;
    }
    if (!cam->startRecording(path.toLocal8Bit().toStdString())) {
        if (tell)
            emit signalShowLeftBottomTips(tr("Recording failed: the camera cannot write ") + path, NrMessageError,
                                          path);
        return false;
    }
    {
        std::lock_guard<std::mutex> lock(mutex);
        mode = Mode::Manual;
        ++recordingId;
        recordingCamera = cam;
        recordingPath = path;
    }
    emit signalRecordingChanged(true);
    return true;
}

NrFileRecorder::Ended NrFileRecorder::endRecording() {
    Ended ended;
    std::shared_ptr<norvale::DvsCamera> cam;
    {
        std::unique_lock<std::mutex> lock(mutex);
        // The record thread is ending it right now: it reports; wait until the camera is free.
        stopped.wait(lock, [&] { return !stopping; });
        if (mode == Mode::Idle)
            return ended;
        stopping = true; // mode stays set until the camera has stopped: nothing new starts meanwhile
        ended.timed = mode == Mode::Timed;
        ended.path = recordingPath;
        cam = recordingCamera;
    }
    ended.ran = true;
    ended.saved = cam && cam->stopRecording() && QFileInfo(ended.path).isFile();
    {
        std::lock_guard<std::mutex> lock(mutex);
        mode = Mode::Idle;
        stopping = false;
        recordingCamera.reset();
    }
    stopped.notify_all();
    if (ended.timed)
        norvale::Logger::Instance().log_(norvale::LOG_INFO, kLogSource, __LINE__, "recording end");
    emit signalRecordingChanged(false);
    return ended;
}

bool NrFileRecorder::stopRecording() {
    const Ended ended = endRecording();
    if (ended.timed)
        reportTimedEnd(ended);
    return ended.ran;
}

void NrFileRecorder::release() {
    stopRecording();
    if (recordThread.joinable())
        recordThread.join();
    setDevice(nullptr);
}

void NrFileRecorder::slotSaveFileParamChanged() { LoadConfig::getGlobalConfig(); }

void NrFileRecorder::slotDetectionRecordingTime(QString) { LoadConfig::getGlobalConfig(); }
