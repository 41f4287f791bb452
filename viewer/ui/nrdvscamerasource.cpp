#include "ui/nrdvscamerasource.h"
#include "norvale/FuncUtils.h"

#include <QDebug>
#include <QDir>
#include <QMetaObject>

#include <algorithm>
#include <chrono>

#include "Utility/nrfilerecorder.h"
#include "loadconfig.h"
#include "norvale/DvsCamera.h"
#include "processing/nreventsproccess.h"

NrDvsCameraSource::NrDvsCameraSource(std::shared_ptr<norvale::DvsCamera> camera, NrEventProcessor* processor,
                                     QObject* parent)
    : NrCameraSource(parent), m_camera(std::move(camera)), m_processor(processor) {
    m_processor->setDisplay(m_camera->getWidth(), m_camera->getHeight());
    m_processor->setDevicePtr(m_camera);
    setDroppedBase(m_camera->getDroppedEventCount());
    m_camera->setStatisticInfoCallback(
        [this](const norvale::NrStatisticInfo& info) {
            const norvale::NrStreamLoss loss = m_camera->getStreamLoss(); // zero but for network cameras
            postStatus(info, m_camera->getDroppedEventCount(), loss.lostDatagrams + loss.malformedDatagrams);
        });
}

NrDvsCameraSource::~NrDvsCameraSource() {
    removeTriggerInCallback();
    m_camera->setStatisticInfoCallback(nullptr);
    stopStream();
    if (isRecording())
        stopRecording();
    m_processor->setDevicePtr(nullptr);
}

bool NrDvsCameraSource::isConnected() const { return m_camera->isConnected(); }

const norvale::CameraDescription& NrDvsCameraSource::description() const { return m_camera->getCameraDescription(); }

std::string NrDvsCameraSource::firmwareVersion() const { return m_camera->getCameraDescription().firmwareVersion; }

std::shared_ptr<norvale::CameraTool> NrDvsCameraSource::tool(norvale::ToolType type) const {
    return m_camera->getTool(type);
}

void NrDvsCameraSource::setBatchTime(uint64_t us) {
    m_batchTimeUs = us;
    m_camera->setBatchEventsTime(us);
}

bool NrDvsCameraSource::play(bool checked) {
    if (!m_camera->isConnected()) {
        qDebug() << "Please connect camera first.";
        return false;
    }
    stopStream(); // the display thread is joined before the camera stops
    if (!checked) {
        qDebug() << "stop camera.";
        return false;
    }
    m_camera->visitNextBatch([](const norvale::EventRun*, size_t) {}); // begins the hand-off before the first event
    if (m_camera->start() != 0) {
        qDebug() << "Please check the camera connection.";
        return false;
    }
    if (m_batchTimeUs > 0)
        m_camera->setBatchEventsTime(m_batchTimeUs);
    // Every batch the display thread takes becomes a frame, swapped on that thread; nothing counts
    // now (the display thread is joined and the player does not play while a camera is open).
    m_processor->setLiveFramePeriodUs(0);
    m_processor->setProccessMode(NR_FLUSH_BY_EVENT_TIME);
    m_streaming = true;
    m_displayThread = std::thread(&NrDvsCameraSource::ctrlDisplayFpsLoop, this);
    return true;
}

void NrDvsCameraSource::stopStream() {
    m_streaming = false;
    if (m_displayThread.joinable())
        m_displayThread.join();
    // Back to frames flushed by their caller, so recordings played later swap only once a frame.
    m_processor->setProccessMode(NR_FLUSH_BY_CALLER);
    m_camera->stop();
}

void NrDvsCameraSource::ctrlDisplayFpsLoop() {
    norvale::nameThisThread("live display");
    using Clock = std::chrono::steady_clock;
    const auto period = std::chrono::microseconds(1000000 / kDisplayFps);
    while (m_streaming) {
        const auto begin = Clock::now();
        // Counts, swaps and wakes the render thread; the image and its timestamp reach the GUI
        // thread together through the processor's mailbox.
        // Counted straight from the camera's buffers: no copy of the batch (26 MB at 50 Mev/s).
        m_camera->visitNextBatch(
            [this](const norvale::EventRun* runs, size_t count) { m_processor->processEventRuns(runs, count); });
        if (!m_camera->isConnected()) {
            qDebug() << "Camera connection lost.";
            m_streaming = false;
            QMetaObject::invokeMethod(this, [this] { connectionLost(); }, Qt::QueuedConnection);
            return;
        }
        const auto left = period - (Clock::now() - begin);
        if (left.count() > 0 && m_streaming)
            std::this_thread::sleep_for(left);
    }
}

void NrDvsCameraSource::setRecorder(NrFileRecorder* recorder) { m_recorder = recorder; }

QString NrDvsCameraSource::startCameraRecording(const QString& folder, const QString& baseName) {
    const QString path = eventsFile(folder, baseName);
    m_recordingViaRecorder = !m_recorder.isNull();
    if (m_recordingViaRecorder)
        return m_recorder->startQuietly(path) ? path : QString();
    return m_camera->startRecording(path.toLocal8Bit().toStdString()) ? path : QString();
}

bool NrDvsCameraSource::stopCameraRecording() {
    if (!m_recordingViaRecorder)
        return m_camera->stopRecording();
    // A recorder that went first has stopped the recording already.
    return m_recorder && m_recorder->endRecording().saved;
}

bool NrDvsCameraSource::endTimedRecording(QString& path, bool& saved) {
    if (!m_recorder || !m_recorder->isTimedRecording())
        return false;
    const NrFileRecorder::Ended ended = m_recorder->endRecording();
    if (!ended.ran)
        return false; // it ended by itself just now and has told the user
    path = ended.path;
    saved = ended.saved;
    return true;
}

void NrDvsCameraSource::removeTriggerInCallback() {
    if (m_triggerInCallbackId == -1)
        return;
    m_camera->removeTriggerInCallback(m_triggerInCallbackId);
    m_triggerInCallbackId = -1;
}

void NrDvsCameraSource::applyTriggerInRecording(const LoadConfig& config) {
    removeTriggerInCallback();
    m_camera->setFileCacheTime(0, ".");
    if (!config.dvsTriggerInRecEnable)
        return;
    const QString folder = config.outputRawFilePath;
    QDir().mkpath(folder);
    const uint16_t before = uint16_t(std::min<uint32_t>(config.dvsBeforeTriggerInSaveTime, 65535));
    if (!m_camera->setFileCacheTime(before, folder.toLocal8Bit().toStdString()))
        emit signalTip(tr("The pre-trigger cache could not be set up in ") + folder, NrMessageWarning, folder);
    const uint16_t polarity = config.dvsTriggerInRecEdgeType == QLatin1String("Rising Edge") ? 1 : 0;
    const uint32_t seconds = config.dvsAfterTriggerInSaveTime;
    const QString serialText = QString::fromStdString(description().serial);
    // Streaming thread: a matching edge asks for a timed recording; the receiver takes it queued.
    m_triggerInCallbackId =
        m_camera->addTriggerInCallback([this, polarity, seconds, folder, serialText](const norvale::EventTriggerIn& t) {
            if (t.value == polarity)
                emit signalRecByTime(seconds, eventsFile(folder, recordingBaseName(serialText)));
        });
}
