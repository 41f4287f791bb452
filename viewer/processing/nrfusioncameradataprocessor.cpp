// Live fusion views, replay of fusion recordings, and the calibration in use.
#include "processing/nrfusioncameradataprocessor.h"

#include <QDebug>
#include <QFileInfo>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>

#include "Utility/Utility.h"
#include "loadconfig.h"
#include "norvale/FusionCamera.h"
#include "processing/nreventcounts.h"
#include "processing/nreventsproccess.h"
#include "processing/nrfusionreplayframes.h"

using norvale::ApsFrame;
using norvale::Event2D;

namespace {

void registerTypes() {
    static const bool once = [] {
        qRegisterMetaType<uint64_t>("uint64_t");
        qRegisterMetaType<NrMessageType>("NrMessageType");
        qRegisterMetaType<norvale::STREAM_TYPE>("STREAM_TYPE");
        qRegisterMetaType<norvale::STREAM_TYPE>("norvale::STREAM_TYPE");
        return true;
    }();
    (void)once;
}

nrcounts::Rgb rgb(const QColor& c) { return toFrameRgb(c); }

} // namespace

NrFusionCameraDataProcessor::NrFusionCameraDataProcessor(QObject* parent)
    : QObject(parent), countBuffer(nrcounts::countBufferSize(kWidth, kHeight), 0),
      paintBuffer(nrcounts::countBufferSize(kWidth, kHeight), 0), config(LoadConfig::getGlobalConfig()),
      calibrator(norvale::Calibrator::defaultCalibration()), mailbox(this, [this] { deliverPending(); }),
      replay(std::make_unique<ReplayFrames>()),
      player(
          NrRecordingPlayer::Sink{
              [this](const std::vector<Event2D>& events, uint64_t ts) { replayFrame(events, ts); },
              [this] { postToOwner([this] { emit signalPalyFileFinished(); }); },
              [this](std::shared_ptr<NrRecordingPlayer::LoadJob> job, const NrLoadResult& r) {
                  postToOwner([this, job, r] { finishLoading(job, r); });
              },
              [this] { playbackFusionFileLoop(); }},
          NrRecordingPlayer::Options{norvale::EventWindowAnchor::FrameEnd, true}),
      fusion(std::make_unique<norvale::DvsApsFusionProccessor>()) {
    registerTypes();
    player.setFrameStepUs(33333); // a replay step is one display period of event time: real time
    player.setAccTimeUs(33333);
    mailbox.resize(kWidth, kHeight, config->dvsBackgroundColor);
    fusion->setCallback([this](ApsFrame& frame, const norvale::DvsApsFusionProccessor::EventSpan* spans, size_t n) {
        showPair(frame, spans, n);
    });
}

NrFusionCameraDataProcessor::~NrFusionCameraDataProcessor() {
    fusion->setCallback(nullptr); // waits for a pair being shown
    // The player (a member) stops its thread and abandons a load when it is destroyed.
}

void NrFusionCameraDataProcessor::setDevicePtr(std::shared_ptr<norvale::FusionCamera> device) {
    std::atomic_store(&camera, std::move(device));
}

// Live.

void NrFusionCameraDataProcessor::updateEvents(const Event2D* begin, const Event2D* end) {
    if (viewerType != norvale::STREAM_DVS || !begin || begin >= end)
        return;
    std::lock_guard<std::mutex> lock(countMutex);
    nrcounts::countEvents(countBuffer.data(), kWidth, kHeight, begin, end, kMaxEventCount);
}

void NrFusionCameraDataProcessor::addEventsToFusionProccessor(const Event2D* begin, const Event2D* end) {
    fusion->addEvents(begin, end);
}

void NrFusionCameraDataProcessor::addTriggerInToFusionProccessor(const norvale::EventTriggerIn& trigger) {
    fusion->addTriggerIn(trigger);
}

void NrFusionCameraDataProcessor::addApsFrameToFusionProccessor(const ApsFrame& frame) { fusion->addApsFrame(frame); }

void NrFusionCameraDataProcessor::clearCache() { fusion->clearCache(); }

void NrFusionCameraDataProcessor::updateFusionData(ApsFrame& frame, const Event2D* begin, const Event2D* end) {
    const norvale::DvsApsFusionProccessor::EventSpan span{begin, end};
    showPair(frame, &span, 1);
}

void NrFusionCameraDataProcessor::showPair(ApsFrame& frame, const norvale::DvsApsFusionProccessor::EventSpan* spans,
                                           size_t count) {
    const int view = viewerType;
    if (view != norvale::STREAM_DVS && view != norvale::STREAM_APS && view != norvale::STREAM_FUSION)
        return;
    if (view == norvale::STREAM_FUSION) {
        const std::shared_ptr<norvale::FusionCamera> cam = std::atomic_load(&camera);
        if (!cam || !cam->isConnected())
            return;
    }
    std::lock_guard<std::mutex> lock(paintMutex);
    QImage* image = mailbox.beginFrame();
    if (!image)
        return;
    if (view == norvale::STREAM_DVS) {
        nrcounts::fillRows(image->bits(), size_t(image->bytesPerLine()), kWidth, kHeight,
                           rgb(config->dvsBackgroundColor));
        {
            std::lock_guard<std::mutex> counts(countMutex);
            countBuffer.swap(paintBuffer); // counting goes on in the other buffer
        }
        nrcounts::paintCounts(paintBuffer.data(), kWidth, kHeight, image->bits(), size_t(image->bytesPerLine()),
                              rgb(config->dvsOnColor), rgb(config->dvsOffColor), nrcounts::Tie::On);
        std::fill(paintBuffer.begin(), paintBuffer.end(), uint16_t(0));
    } else {
        liveMapper.mapToRgb(frame, currentTransform(), image->bits(), size_t(image->bytesPerLine()));
        if (view == norvale::STREAM_FUSION)
            for (size_t i = 0; i < count; ++i)
                visualizeEventsOnFrame(*image, spans[i].begin, spans[i].end);
    }
    mailbox.publishFrame();
    mailbox.publishTimestamp(frame.timestamp, false);
}

void NrFusionCameraDataProcessor::visualizeEventsOnFrame(QImage& image) {
    std::lock_guard<std::mutex> lock(countMutex);
    if (image.width() != kWidth || image.height() != kHeight || image.format() != QImage::Format_RGB888)
        return;
    nrcounts::paintCounts(countBuffer.data(), kWidth, kHeight, image.bits(), size_t(image.bytesPerLine()),
                          rgb(config->dvsOnColor), rgb(config->dvsOffColor), nrcounts::Tie::On);
}

void NrFusionCameraDataProcessor::fusionDvsToAps(QImage& image, std::shared_ptr<std::vector<uint16_t>>& counts) {
    if (!counts || counts->size() < size_t(kWidth) * kHeight * 2 || image.width() != kWidth ||
        image.height() != kHeight || image.format() != QImage::Format_RGB888)
        return;
    nrcounts::paintCounts(counts->data(), kWidth, kHeight, image.bits(), size_t(image.bytesPerLine()),
                          rgb(config->dvsOnColor), rgb(config->dvsOffColor), nrcounts::Tie::On);
}

void NrFusionCameraDataProcessor::visualizeEventsOnFrame(QImage& image, const Event2D* begin, const Event2D* end) {
    if (image.format() != QImage::Format_RGB888)
        return;
    nrcounts::paintEvents(begin, end, std::min(image.width(), kWidth), std::min(image.height(), kHeight),
                          image.bits(), size_t(image.bytesPerLine()), rgb(config->dvsOnColor),
                          rgb(config->dvsOffColor), dvsLoaded);
}

// Calibration.

norvale::NrApsMapper::Transform NrFusionCameraDataProcessor::currentTransform() const {
    std::lock_guard<std::mutex> lock(calibrationMutex);
    return norvale::NrApsMapper::transformOf(calibrator, apsOffsetX, apsOffsetY);
}

norvale::Calibrator NrFusionCameraDataProcessor::calibration() const {
    std::lock_guard<std::mutex> lock(calibrationMutex);
    return calibrator;
}

bool NrFusionCameraDataProcessor::calibrationAcceptable(const norvale::CalibratorParameters& p, QString* why) const {
    if (p.dvsFrameCols != kWidth || p.dvsFrameRows != kHeight) {
        *why = tr("The calibration is not used: its DVS size is %1 x %2, not 1280 x 720. The previous "
                  "calibration stays in use.")
                   .arg(p.dvsFrameCols)
                   .arg(p.dvsFrameRows);
        return false;
    }
    const auto it = p.affineMatrix.find("1");
    bool valid = it != p.affineMatrix.end() && it->second.data.size() == 6 && p.apsFrameCols > 0 && p.apsFrameRows > 0;
    for (size_t i = 0; valid && i < 6; ++i)
        valid = std::isfinite(it->second.data[i]);
    if (!valid) {
        *why = tr("The calibration is not used: it has no valid DVS to APS transform. The previous calibration "
                  "stays in use.");
        return false;
    }
    return true;
}

void NrFusionCameraDataProcessor::setCalibrationParam(norvale::CalibratorParameters& params) {
    QString why;
    if (!calibrationAcceptable(params, &why)) {
        qWarning() << why;
        emit signalShowLeftBottomTips(why, NrMessageWarning, QString());
        return;
    }
    std::lock_guard<std::mutex> lock(calibrationMutex);
    calibrator.loadCalibrationParam(params);
    ++calibrationGeneration;
}

void NrFusionCameraDataProcessor::slotSetApsOffset(double x, double y) {
    std::lock_guard<std::mutex> lock(calibrationMutex);
    apsOffsetX = x;
    apsOffsetY = y;
    ++calibrationGeneration;
}

void NrFusionCameraDataProcessor::slotApplyOffset() {
    ensurePathExists(config->inputRawFilePath);
    const std::string path = config->inputRawFilePath.toLocal8Bit().toStdString() + "/tmp_calibration_file.json";
    norvale::CalibratorParameters folded;
    {
        // Folding and resetting the offset together: no frame is mapped with the shift twice.
        std::lock_guard<std::mutex> lock(calibrationMutex);
        calibrator.foldOffset(apsOffsetX, apsOffsetY);
        apsOffsetX = 0.0;
        apsOffsetY = 0.0;
        ++calibrationGeneration;
        folded = calibrator;
    }
    norvale::paramToJsonFile(folded, path);
    const std::shared_ptr<norvale::FusionCamera> cam = std::atomic_load(&camera);
    if (cam && cam->isConnected() && cam->writeCalibrationParams(path))
        emit signalShowLeftBottomTips(tr("Manual calibration parameters were written successfully!"),
                                      NrMessageSuccess, QString());
    else
        emit signalShowLeftBottomTips(tr("Manual calibration parameters were written failed!"), NrMessageError,
                                      QString());
}

void NrFusionCameraDataProcessor::loadCalibrationFile(const QString& path) {
    norvale::CalibratorParameters params;
    bool ok = false;
    try {
        ok = norvale::jsonFileToParam(path.toLocal8Bit().toStdString(), params);
    } catch (const std::exception& e) {
        qWarning() << "calibration file" << path << "is not valid:" << e.what();
    }
    if (!ok) {
        emit signalShowLeftBottomTips(tr("Cannot read the calibration file %1; the previous calibration stays in use.")
                                          .arg(QFileInfo(path).fileName()),
                                      NrMessageWarning, path);
        return;
    }
    setCalibrationParam(params);
}

// Views and rates.

void NrFusionCameraDataProcessor::slotSetViewerType(norvale::STREAM_TYPE type) {
    const int previous = viewerType.exchange(type);
    // A paused replay shows its moment in the new view at once; playback and the live camera
    // show the next frame in it anyway.
    if (previous != type && player.usable() && !player.isPlaying())
        replayOneFrameFusionFileByTimebase();
}

void NrFusionCameraDataProcessor::setFps(int fps) {
    if (fps < 1) {
        qDebug() << "ignored fps:" << fps;
        return;
    }
    const uint64_t step = uint64_t(1000000 / fps);
    player.setFrameStepUs(step);
    qDebug() << "set fps: " << fps << " time interval: " << step;
}

void NrFusionCameraDataProcessor::setAccTime(uint64_t time_us) { player.setAccTimeUs(time_us); }

QString NrFusionCameraDataProcessor::tsToLocalTime(const norvale::SysTimePoint& recordStart, uint64_t ts,
                                                   uint64_t startTs) {
    return NrEventProcessor::tsToLocalTime(recordStart, ts, startTs);
}

Event2D* NrFusionCameraDataProcessor::binarySearchTimestamp(uint64_t ts, Event2D* begin, Event2D* end) {
    return std::lower_bound(begin, end, ts, [](const Event2D& e, uint64_t t) { return e.timestamp < t; });
}

// Hand-over to the owner thread.

void NrFusionCameraDataProcessor::deliverPending() {
    NrFrameMailbox::Mail mail = mailbox.take();
    if (mail.slot >= 0) {
        emit signalFusionImage(mail.image);
        mailbox.release(mail);
    }
    if (mail.hasTimestamp)
        emit signalTimeStamp(mail.timestamp);
}

void NrFusionCameraDataProcessor::postToOwner(std::function<void()> f) { mailbox.postAfterPending(std::move(f)); }
