// The fusion processor: wires the live view, the replay painter and the calibration store, and
// keeps the window's names and signals.
#include "processing/nrfusioncameradataprocessor.h"

#include <QDebug>
#include <QFileInfo>

#include <algorithm>
#include <chrono>

#include "Utility/Utility.h"
#include "loadconfig.h"
#include "norvale/FusionCamera.h"
#include "processing/nrlocaltime.h"

using norvale::ApsFrame;
using norvale::Event2D;

NrFusionCameraDataProcessor::NrFusionCameraDataProcessor(QObject* parent)
    : QObject(parent), config(LoadConfig::getGlobalConfig()), store(kWidth, kHeight),
      // A replay step is one display period of event time (real time); windows end at the APS
      // frame's time, and a window without events still shows its frame.
      front(*this, NrPlaybackFront::Options{{norvale::EventWindowAnchor::FrameEnd, true}, kStepWaitMs, 33333, 33333,
                                            [this] { playbackFusionFileLoop(); }}),
      live(std::make_unique<NrFusionLiveView>(kWidth, kHeight, kMaxEventCount, front.mailbox(), paintMutex, store)),
      replay(std::make_unique<NrFusionReplayPainter>(kWidth, kHeight)) {
    front.mailbox().resize(kWidth, kHeight, config->dvsBackgroundColor);
    connect(&front, &NrPlaybackFront::signalImage, this, &NrFusionCameraDataProcessor::signalFusionImage);
    connect(&front, &NrPlaybackFront::signalTimeStamp, this, &NrFusionCameraDataProcessor::signalTimeStamp);
    connect(&front, &NrPlaybackFront::signalStartTimeStamp, this, &NrFusionCameraDataProcessor::signalStartTimeStamp);
    connect(&front, &NrPlaybackFront::signalEndTimeStamp, this, &NrFusionCameraDataProcessor::signalEndTimeStamp);
    connect(&front, &NrPlaybackFront::signalEnded, this, &NrFusionCameraDataProcessor::signalPalyFileFinished);
    connect(&front, &NrPlaybackFront::signalPlayStatus, this, &NrFusionCameraDataProcessor::signalPlayStatus);
    connect(&front, &NrPlaybackFront::signalLoadingStatus, this, &NrFusionCameraDataProcessor::signalLoadingStatus);
    connect(&front, &NrPlaybackFront::signalShowLeftBottomTips, this,
            &NrFusionCameraDataProcessor::signalShowLeftBottomTips);
}

// The front's player stops first (its thread paints with the parts below); the live view then
// waits for a pair being shown.
NrFusionCameraDataProcessor::~NrFusionCameraDataProcessor() { front.shutdown(); }

void NrFusionCameraDataProcessor::setDevicePtr(std::shared_ptr<norvale::FusionCamera> device) {
    live->setCamera(std::move(device));
}

// Live.

void NrFusionCameraDataProcessor::updateEvents(const Event2D* begin, const Event2D* end) {
    live->updateEvents(begin, end);
}

void NrFusionCameraDataProcessor::addEventsToFusionProccessor(const Event2D* begin, const Event2D* end) {
    live->addEvents(begin, end);
}

void NrFusionCameraDataProcessor::addTriggerInToFusionProccessor(const norvale::EventTriggerIn& trigger) {
    live->addTriggerIn(trigger);
}

void NrFusionCameraDataProcessor::addApsFrameToFusionProccessor(const ApsFrame& frame) { live->addApsFrame(frame); }

void NrFusionCameraDataProcessor::clearCache() { live->clearCache(); }

void NrFusionCameraDataProcessor::updateFusionData(ApsFrame& frame, const Event2D* begin, const Event2D* end) {
    const norvale::DvsApsFusionProccessor::EventSpan span{begin, end};
    live->showPair(frame, &span, 1);
}

void NrFusionCameraDataProcessor::visualizeEventsOnFrame(QImage& image) { live->paintCurrentCounts(image); }

void NrFusionCameraDataProcessor::fusionDvsToAps(QImage& image, std::shared_ptr<std::vector<uint16_t>>& counts) {
    if (counts)
        live->paintCounts(image, *counts);
}

void NrFusionCameraDataProcessor::visualizeEventsOnFrame(QImage& image, const Event2D* begin, const Event2D* end) {
    live->drawEvents(image, begin, end);
}

// Calibration.

norvale::Calibrator NrFusionCameraDataProcessor::calibration() const { return store.calibration(); }

void NrFusionCameraDataProcessor::reportCalibrationRefusal(NrFusionCalibrationStore::Verdict verdict,
                                                           const norvale::CalibratorParameters& p) {
    QString why;
    if (verdict == NrFusionCalibrationStore::Verdict::WrongDvsSize)
        why = tr("The calibration is not used: its DVS size is %1 x %2, not 1280 x 720. The previous "
                 "calibration stays in use.")
                  .arg(p.dvsFrameCols)
                  .arg(p.dvsFrameRows);
    else
        why = tr("The calibration is not used: it has no valid DVS to APS transform. The previous calibration "
                 "stays in use.");
    qWarning() << why;
    emit signalShowLeftBottomTips(why, NrMessageWarning, QString());
}

void NrFusionCameraDataProcessor::setCalibrationParam(norvale::CalibratorParameters& params) {
    const NrFusionCalibrationStore::Verdict verdict = store.set(params);
    if (verdict != NrFusionCalibrationStore::Verdict::Accepted)
        reportCalibrationRefusal(verdict, params);
}

void NrFusionCameraDataProcessor::slotSetApsOffset(double x, double y) { store.setOffset(x, y); }

void NrFusionCameraDataProcessor::slotApplyOffset() {
    ensurePathExists(config->inputRawFilePath);
    const std::string path = config->inputRawFilePath.toLocal8Bit().toStdString() + "/tmp_calibration_file.json";
    if (store.writeFolded(path, live->camera()))
        emit signalShowLeftBottomTips(tr("Manual calibration parameters were written successfully!"),
                                      NrMessageSuccess, QString());
    else
        emit signalShowLeftBottomTips(tr("Manual calibration parameters were written failed!"), NrMessageError,
                                      QString());
}

void NrFusionCameraDataProcessor::loadCalibrationFile(const QString& path) {
    norvale::CalibratorParameters params;
    if (!NrFusionCalibrationStore::readFile(path.toLocal8Bit().toStdString(), params)) {
        emit signalShowLeftBottomTips(tr("Cannot read the calibration file %1; the previous calibration stays in use.")
                                          .arg(QFileInfo(path).fileName()),
                                      NrMessageWarning, path);
        return;
    }
    setCalibrationParam(params);
}

// Views and rates.

void NrFusionCameraDataProcessor::slotSetViewerType(norvale::STREAM_TYPE type) {
    const int previous = live->setView(type);
    // A paused replay shows its moment in the new view at once; playback and the live camera
    // show the next frame in it anyway.
    if (previous != type)
        replayOneFrameFusionFileByTimebase();
}

QString NrFusionCameraDataProcessor::tsToLocalTime(const norvale::SysTimePoint& recordStart, uint64_t ts,
                                                   uint64_t startTs) {
    return nrLocalTime(recordStart, ts, startTs);
}

Event2D* NrFusionCameraDataProcessor::binarySearchTimestamp(uint64_t ts, Event2D* begin, Event2D* end) {
    return std::lower_bound(begin, end, ts, [](const Event2D& e, uint64_t t) { return e.timestamp < t; });
}
