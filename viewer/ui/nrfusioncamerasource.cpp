#include "ui/nrfusioncamerasource.h"

#include <QDebug>
#include <QFileInfo>

#include "norvale/FusionCamera.h"
#include "processing/nrfusioncameradataprocessor.h"

NrFusionCameraSource::NrFusionCameraSource(std::shared_ptr<norvale::FusionCamera> camera, std::string firmware,
                                           NrFusionCameraDataProcessor* processor, QObject* parent)
    : NrCameraSource(parent), m_camera(std::move(camera)), m_firmware(std::move(firmware)), m_processor(processor) {
    NrFusionCameraDataProcessor* p = m_processor;
    setDroppedBase(p->droppedEvents());
    m_camera->setStatisticInfoCallback(
        [this, p](const norvale::NrStatisticInfo& info) { postStatus(info, p->droppedEvents()); });
    m_callbackIds.push_back(m_camera->addApsFrameCallback(
        [p](const norvale::ApsFrame& frame) { p->addApsFrameToFusionProccessor(frame); }));
    m_callbackIds.push_back(m_camera->addEventsCallback([p](const norvale::Event2D* begin, const norvale::Event2D* end) {
        p->updateEvents(begin, end);
        p->addEventsToFusionProccessor(begin, end);
    }));
    m_callbackIds.push_back(m_camera->addTriggerInCallback(
        [p](const norvale::EventTriggerIn& trigger) { p->addTriggerInToFusionProccessor(trigger); }));
    p->setDevicePtr(m_camera);
    m_watch.setInterval(kConnectionWatchMs);
    connect(&m_watch, &QTimer::timeout, this, &NrFusionCameraSource::watchConnection);
    m_watch.start();
}

NrFusionCameraSource::~NrFusionCameraSource() {
    m_watch.stop();
    m_camera->setStatisticInfoCallback(nullptr);
    if (isRecording())
        stopRecording();
    stopStream();
    for (int id : m_callbackIds)
        m_camera->removeCallback(id); // none runs any more once removed: the processor may go
    m_processor->setDevicePtr(nullptr);
    m_processor->clearCache(); // what a callback added after stopStream's clear
}

bool NrFusionCameraSource::isConnected() const { return m_camera->isConnected(); }

const norvale::CameraDescription& NrFusionCameraSource::description() const {
    return m_camera->getCameraDescription();
}

std::shared_ptr<norvale::CameraTool> NrFusionCameraSource::tool(norvale::ToolType type) const {
    return m_camera->getTool(type);
}

bool NrFusionCameraSource::play(bool checked) {
    (void)checked;
    if (!m_camera->isConnected()) {
        qDebug() << "Please connect camera first.";
        return false;
    }
    if (m_streaming) {
        stopStream();
        qDebug() << "Fusion camera stop.";
        return false;
    }
    m_processor->clearCache(); // no stale half of a pair from before
    if (m_camera->start(norvale::STREAM_FUSION) != 0) {
        qDebug() << "Please check the camera connection.";
        return false;
    }
    m_streaming = true;
    qDebug() << "Fusion camera start";
    return true;
}

void NrFusionCameraSource::stopStream() {
    m_streaming = false;
    m_camera->stop(norvale::STREAM_FUSION);
    m_processor->clearCache();
}

void NrFusionCameraSource::watchConnection() {
    if (m_camera->isConnected() || (!m_streaming && !isRecording()))
        return;
    qDebug() << "Camera connection lost.";
    m_watch.stop();
    connectionLost();
}

QString NrFusionCameraSource::startCameraRecording(const QString& folder, const QString& baseName) {
    if (!m_camera->startRecording(folder.toLocal8Bit().toStdString(), baseName.toLocal8Bit().toStdString(),
                                  norvale::STREAM_FUSION))
        return QString();
    m_recordBase = folder + QLatin1Char('/') + baseName;
    return eventsFile(folder, baseName);
}

bool NrFusionCameraSource::stopCameraRecording() {
    // The events file is checked by the caller; the APS video belongs to the recording too.
    return m_camera->stopRecording(norvale::STREAM_FUSION) && QFileInfo(m_recordBase + QStringLiteral(".mp4")).isFile();
}
