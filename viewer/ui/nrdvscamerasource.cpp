#include "ui/nrdvscamerasource.h"

#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QMetaObject>

#include <algorithm>
#include <chrono>

#include "Utility/nrmessagetype.h"
#include "loadconfig.h"
#include "norvale/DvsCamera.h"
#include "processing/nreventsproccess.h"

namespace {

// folder/serial_yyyyMMdd_HHmmss.raw, the name of every recording of a camera (by hand or on a trigger).
QString newRecordingPath(const QString& folder, const QString& serial) {
    return folder + QLatin1Char('/') + serial +
           QDateTime::currentDateTime().toString(QStringLiteral("_yyyyMMdd_HHmmss")) + QStringLiteral(".raw");
}

} // namespace

NrDvsCameraSource::NrDvsCameraSource(std::shared_ptr<norvale::DvsCamera> camera, NrEventProcessor* processor,
                                     QObject* parent)
    : NrSource(parent), m_camera(std::move(camera)), m_processor(processor) {
    m_processor->setProccessMode(NR_FLUSH_BY_CALLER);
    m_processor->setDisplay(m_camera->getWidth(), m_camera->getHeight());
    m_processor->setDevicePtr(m_camera);
    m_droppedBase = m_camera->getDroppedEventCount();
    // Streaming thread, once a second; the text reaches the GUI thread as one queued call.
    m_camera->setStatisticInfoCallback([this](const norvale::NrStatisticInfo& info) {
        const uint64_t dropped = m_camera->getDroppedEventCount();
        const uint64_t lastSecond = dropped - m_droppedBase.exchange(dropped);
        const QString text = tr(" Bandwidth: ") + QString::number(double(info.bandwidth) / 1024 / 1024, 'f', 1) +
                             QStringLiteral(" MB/s ") + tr(" Events: ") +
                             QString::number(double(info.eventRate) / 1e6, 'f', 1) + QStringLiteral(" MEv/s ") +
                             tr(" Dropped: ") + QString::number(lastSecond) + QLatin1Char(' ');
        QMetaObject::invokeMethod(this, [this, text] { emit signalStatus(text); }, Qt::QueuedConnection);
    });
}

NrDvsCameraSource::~NrDvsCameraSource() {
    removeTriggerInCallback();
    m_camera->setStatisticInfoCallback(nullptr);
    stopStreaming();
    if (m_recording)
        stopRecording();
    m_camera->stop();
    m_processor->setDevicePtr(nullptr);
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
    if (!checked) {
        stopStreaming();
        m_camera->stop();
        qDebug() << "stop camera.";
        return false;
    }
    stopStreaming();
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

void NrDvsCameraSource::stopStreaming() {
    m_streaming = false;
    if (m_displayThread.joinable())
        m_displayThread.join();
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
            QMetaObject::invokeMethod(this, [this] { onConnectionLost(); }, Qt::QueuedConnection);
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

void NrDvsCameraSource::onConnectionLost() {
    stopStreaming();
    if (m_recording) {
        stopRecording();
        emit signalRecording(false);
    }
    emit signalConnectionLost();
    emit signalTip(tr("Camera connection lost."), NrMessageError, QString());
}

bool NrDvsCameraSource::stopRecording() {
    m_recording = false;
    return m_camera->stopRecording();
}

bool NrDvsCameraSource::record(bool checked) {
    (void)checked; // the button toggles; the source's own state decides
    if (!m_camera->isConnected()) {
        qDebug() << "Please connect camera first.";
        return false;
    }
    const QString folder = LoadConfig::getGlobalConfig()->outputRawFilePath;
    if (m_recording) {
        qDebug() << "stop recording";
        const bool ok = stopRecording();
        // Success only when the camera says so and the file is really there.
        if (ok && QFileInfo(m_recordPath).isFile())
            emit signalTip(tr("Save file success!"), NrMessageSuccess, m_recordPath);
        else
            emit signalTip(tr("Save file failed!"), NrMessageError, QString());
        return false;
    }
    qDebug() << "start recording...";
    QDir().mkpath(folder);
    m_recordPath = newRecordingPath(folder, serial());
    if (!m_camera->startRecording(m_recordPath.toLocal8Bit().toStdString())) {
        emit signalTip(tr("Cannot start recording: ") + m_recordPath, NrMessageError, QString());
        return false;
    }
    m_recording = true;
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
    const QString serialText = serial();
    // Streaming thread: a matching edge asks for a timed recording; the receiver takes it queued.
    m_triggerInCallbackId =
        m_camera->addTriggerInCallback([this, polarity, seconds, folder, serialText](const norvale::EventTriggerIn& t) {
            if (t.value == polarity)
                emit signalRecByTime(seconds, newRecordingPath(folder, serialText));
        });
}

QString NrDvsCameraSource::serial() const { return QString::fromStdString(m_camera->getCameraDescription().serial); }
