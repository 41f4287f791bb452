#include "ui/nrcamerasource.h"

#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QMetaObject>

#include "Utility/Utility.h"
#include "loadconfig.h"

QString NrCameraSource::statusText(const norvale::NrStatisticInfo& info, uint64_t droppedLastSecond,
                                   uint64_t lostDatagramsLastSecond) {
    QString text = tr(" Bandwidth: ") + QString::number(double(info.bandwidth) / 1024 / 1024, 'f', 1) +
                   QStringLiteral(" MB/s ") + tr(" Events: ") + QString::number(double(info.eventRate) / 1e6, 'f', 1) +
                   QStringLiteral(" MEv/s ") + tr(" Dropped: ") + QString::number(droppedLastSecond) + QLatin1Char(' ');
    if (lostDatagramsLastSecond)
        text += tr(" Lost datagrams: ") + QString::number(lostDatagramsLastSecond) + QLatin1Char(' ');
    return text;
}

void NrCameraSource::postStatus(const norvale::NrStatisticInfo& info, uint64_t droppedTotal,
                                uint64_t lostDatagramsTotal) {
    const QString text = statusText(info, droppedTotal - m_droppedBase.exchange(droppedTotal),
                                    lostDatagramsTotal - m_lostBase.exchange(lostDatagramsTotal));
    QMetaObject::invokeMethod(this, [this, text] { emit signalStatus(text); }, Qt::QueuedConnection);
}

void NrCameraSource::connectionLost() {
    stopStream();
    if (m_recording) {
        stopRecording(); // the camera closed the file when it went; this ends our side cleanly
        emit signalRecording(false);
    }
    QString timedPath;
    bool saved = false;
    endTimedRecording(timedPath, saved); // told below, with the lost connection
    emit signalConnectionLost();
    emit signalTip(tr("Camera connection lost."), NrMessageError, QString());
}

bool NrCameraSource::stopRecording() {
    m_recording = false;
    return stopCameraRecording();
}

void NrCameraSource::reportSaved(bool saved, const QString& path) {
    // Success only when the camera says so and the file is really there.
    if (saved && QFileInfo(path).isFile())
        emit signalTip(tr("Save file success!"), NrMessageSuccess, path);
    else
        emit signalTip(tr("Save file failed!"), NrMessageError, QString());
}

bool NrCameraSource::record(bool checked) {
    (void)checked; // the button toggles; the source's own state decides
    if (!isConnected()) {
        qDebug() << "Please connect camera first.";
        return false;
    }
    if (m_recording) {
        qDebug() << "stop recording";
        reportSaved(stopRecording(), m_recordPath);
        return false;
    }
    // A recording on a trigger edge runs: the button ends it, and the camera is free again.
    QString timedPath;
    bool timedSaved = false;
    if (endTimedRecording(timedPath, timedSaved)) {
        qDebug() << "stop recording";
        m_recordPath = timedPath;
        reportSaved(timedSaved, timedPath);
        return false;
    }
    qDebug() << "start recording...";
    const QString folder = LoadConfig::getGlobalConfig()->outputRawFilePath;
    QDir().mkpath(folder);
    // A recording of the same second (a trigger's, or the last one) keeps its file.
    const QString baseName = QFileInfo(unusedPath(
                                           eventsFile(folder, recordingBaseName(QString::fromStdString(description().serial)))))
                                 .completeBaseName();
    const QString path = startCameraRecording(folder, baseName);
    if (path.isEmpty()) {
        emit signalTip(tr("Cannot start recording: ") + folder + QLatin1Char('/') + baseName, NrMessageError,
                       QString());
        return false;
    }
    m_recordPath = path;
    m_recording = true;
    return true;
}

QString NrCameraSource::recordingBaseName(const QString& serial) {
    return serial + QDateTime::currentDateTime().toString(QStringLiteral("_yyyyMMdd_HHmmss"));
}

QString NrCameraSource::eventsFile(const QString& folder, const QString& baseName) {
    return folder + QLatin1Char('/') + baseName + QStringLiteral(".raw");
}
