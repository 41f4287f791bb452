// Live fusion views: counting, pairing and showing each pair.
#include "processing/nrfusionlive.h"

#include <algorithm>

#include "loadconfig.h"
#include "norvale/FusionCamera.h"
#include "processing/nreventcounts.h"
#include "processing/nrframemailbox.h"
#include "processing/nrfusioncalibration.h"

using norvale::ApsFrame;
using norvale::Event2D;

NrFusionLiveView::NrFusionLiveView(int width, int height, uint16_t countCap, NrFrameMailbox& mailbox,
                                   std::mutex& paintMutex, const NrFusionCalibrationStore& calibration)
    : width(width), height(height), countCap(countCap), mailbox(mailbox), paintMutex(paintMutex),
      calibration(calibration), countBuffer(nrcounts::countBufferSize(width, height), 0),
      paintBuffer(nrcounts::countBufferSize(width, height), 0) {
    pairing_.setCallback([this](ApsFrame& frame, const norvale::DvsApsFusionProccessor::EventSpan* spans, size_t n) {
        showPair(frame, spans, n);
    });
}

NrFusionLiveView::~NrFusionLiveView() { pairing_.setCallback(nullptr); }

void NrFusionLiveView::setCamera(std::shared_ptr<norvale::FusionCamera> device) {
    std::atomic_store(&camera_, std::move(device));
}

void NrFusionLiveView::updateEvents(const Event2D* begin, const Event2D* end) {
    if (view_ != norvale::STREAM_DVS || !begin || begin >= end)
        return;
    std::lock_guard<std::mutex> lock(countMutex);
    nrcounts::countEvents(countBuffer.data(), uint32_t(width), uint32_t(height), begin, end, countCap);
}

void NrFusionLiveView::showPair(ApsFrame& frame, const norvale::DvsApsFusionProccessor::EventSpan* spans,
                                size_t count) {
    const int view = view_;
    if (view != norvale::STREAM_DVS && view != norvale::STREAM_APS && view != norvale::STREAM_FUSION)
        return;
    if (view == norvale::STREAM_FUSION) {
        const std::shared_ptr<norvale::FusionCamera> cam = std::atomic_load(&camera_);
        if (!cam || !cam->isConnected())
            return;
    }
    const LoadConfig* config = LoadConfig::getGlobalConfig();
    std::lock_guard<std::mutex> lock(paintMutex);
    QImage* image = mailbox.beginFrame();
    if (!image)
        return;
    if (view == norvale::STREAM_DVS) {
        nrcounts::fillRows(image->bits(), size_t(image->bytesPerLine()), width, height,
                           toFrameRgb(config->dvsBackgroundColor));
        {
            std::lock_guard<std::mutex> counts(countMutex);
            countBuffer.swap(paintBuffer); // counting goes on in the other buffer
        }
        nrcounts::paintCounts(paintBuffer.data(), width, height, image->bits(), size_t(image->bytesPerLine()),
                              toFrameRgb(config->dvsOnColor), toFrameRgb(config->dvsOffColor), nrcounts::Tie::On);
        std::fill(paintBuffer.begin(), paintBuffer.end(), uint16_t(0));
    } else {
        liveMapper.mapToRgb(frame, calibration.transform(), image->bits(), size_t(image->bytesPerLine()));
        if (view == norvale::STREAM_FUSION)
            for (size_t i = 0; i < count; ++i)
                drawEvents(*image, spans[i].begin, spans[i].end);
    }
    mailbox.publishFrame(frame.timestamp); // the time travels with its image
}

void NrFusionLiveView::paintCurrentCounts(QImage& image) {
    std::lock_guard<std::mutex> lock(countMutex);
    paintCounts(image, countBuffer);
}

void NrFusionLiveView::paintCounts(QImage& image, const std::vector<uint16_t>& counts) const {
    if (counts.size() < size_t(width) * size_t(height) * 2 || image.width() != width || image.height() != height ||
        image.format() != QImage::Format_RGB888)
        return;
    const LoadConfig* config = LoadConfig::getGlobalConfig();
    nrcounts::paintCounts(counts.data(), width, height, image.bits(), size_t(image.bytesPerLine()),
                          toFrameRgb(config->dvsOnColor), toFrameRgb(config->dvsOffColor), nrcounts::Tie::On);
}

void NrFusionLiveView::drawEvents(QImage& image, const Event2D* begin, const Event2D* end) const {
    if (image.format() != QImage::Format_RGB888)
        return;
    const LoadConfig* config = LoadConfig::getGlobalConfig();
    nrcounts::paintEvents(begin, end, std::min(image.width(), width), std::min(image.height(), height), image.bits(),
                          size_t(image.bytesPerLine()), toFrameRgb(config->dvsOnColor),
                          toFrameRgb(config->dvsOffColor), mirrored_);
}
