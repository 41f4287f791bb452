#include "ui/nrdvscamerasource.h"

#include <QDebug>
#include <QMetaObject>

#include <chrono>

#include "norvale/DvsCamera.h"
#include "processing/nreventsproccess.h"

NrDvsCameraSource::NrDvsCameraSource(std::shared_ptr<norvale::DvsCamera> camera, NrEventProcessor* processor,
                                     QObject* parent)
    : NrCameraSource(parent), m_camera(std::move(camera)), m_processor(processor) {
    m_processor->setProccessMode(NR_FLUSH_BY_CALLER);
    m_processor->setDisplay(m_camera->getWidth(), m_camera->getHeight());
    m_processor->setDevicePtr(m_camera);
    setDroppedBase(m_camera->getDroppedEventCount());
    m_camera->setStatisticInfoCallback(
        [this](const norvale::NrStatisticInfo& info) { postStatus(info, m_camera->getDroppedEventCount()); });
}

NrDvsCameraSource::~NrDvsCameraSource() {
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
    eventBuffer.clear();
    m_camera->getNextBatch(eventBuffer); // begins the hand-off before the first event
    if (m_camera->start() != 0) {
        qDebug() << "Please check the camera connection.";
        return false;
    }
    if (m_batchTimeUs > 0)
        m_camera->setBatchEventsTime(m_batchTimeUs);
    m_streaming = true;
    m_displayThread = std::thread(&NrDvsCameraSource::ctrlDisplayFpsLoop, this);
    return true;
}

void NrDvsCameraSource::stopStream() {
    m_streaming = false;
    if (m_displayThread.joinable())
        m_displayThread.join();
    m_camera->stop();
}

void NrDvsCameraSource::ctrlDisplayFpsLoop() {
    using Clock = std::chrono::steady_clock;
    const auto period = std::chrono::microseconds(1000000 / kDisplayFps);
    while (m_streaming) {
        const auto begin = Clock::now();
        if (m_camera->getNextBatch(eventBuffer) && !eventBuffer.empty()) {
            m_processor->processEvents(eventBuffer.data(), eventBuffer.data() + eventBuffer.size());
            if (!m_flushPending.exchange(true))
                QMetaObject::invokeMethod(this, [this] { showEvents(); }, Qt::QueuedConnection);
        }
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

void NrDvsCameraSource::showEvents() {
    m_flushPending = false;
    if (m_streaming)
        m_processor->flushEventsDisplay();
}

QString NrDvsCameraSource::startCameraRecording(const QString& folder, const QString& baseName) {
    const QString path = folder + QLatin1Char('/') + baseName + QStringLiteral(".raw");
    return m_camera->startRecording(path.toLocal8Bit().toStdString()) ? path : QString();
}

bool NrDvsCameraSource::stopCameraRecording() { return m_camera->stopRecording(); }
