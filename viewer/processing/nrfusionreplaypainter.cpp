// One replay window of a fusion recording as an image: the APS frame of its time, mapped, and its events.
#include "processing/nrfusionreplaypainter.h"

#include <algorithm>
#include <cstring>

#include "loadconfig.h"
#include "norvale/CameraTypes.h"
#include "processing/nreventcounts.h"
#include "processing/nrfusioncalibration.h"
#include "processing/nrfusionlive.h"

using norvale::Event2D;

NrFusionReplayPainter::NrFusionReplayPainter(int width, int height)
    : width(width), height(height), mapped(width, height, QImage::Format_RGB888) {}

void NrFusionReplayPainter::setVideo(std::unique_ptr<norvale::ApsFileReader> r,
                                     std::vector<norvale::ApsFrameIndexEntry> frames, uint64_t start) {
    prefetch.setReader(nullptr);
    reader = std::move(r);
    index = std::move(frames);
    prefetch.setReader(reader.get());
    base = start;
    haveCurrent = mappedValid = false;
}

void NrFusionReplayPainter::clear() {
    prefetch.setReader(nullptr);
    reader.reset();
    index.clear();
    haveCurrent = mappedValid = false;
}

// The frame after the current one is decoded ahead; a position further on, or back, seeks.
bool NrFusionReplayPainter::chooseApsFrame(uint64_t ts) {
    if (!reader || index.empty())
        return false;
    const uint64_t t = ts > base ? ts - base : 0;
    const auto after = std::upper_bound(index.begin(), index.end(), t,
                                        [](uint64_t v, const norvale::ApsFrameIndexEntry& e) { return v < e.timestamp; });
    const size_t wanted = after == index.begin() ? 0 : size_t(after - index.begin()) - 1;
    if (haveCurrent && wanted == currentIndex)
        return true;
    if (haveCurrent && wanted == currentIndex + 1 && prefetch.take(current)) {
        currentIndex = wanted;
    } else {
        prefetch.wait(); // the reader is ours again
        haveCurrent = reader->seekFrame(wanted) && reader->readNextFrame(current);
        currentIndex = wanted;
        if (!haveCurrent)
            return false;
    }
    mappedValid = false;
    if (currentIndex + 1 < index.size())
        prefetch.start();
    return true;
}

bool NrFusionReplayPainter::prepare(int view, uint64_t ts, const NrFusionCalibrationStore& calibration) {
    if (view == norvale::STREAM_DVS)
        return true;
    if (view != norvale::STREAM_APS && view != norvale::STREAM_FUSION)
        return false;
    if (!chooseApsFrame(ts))
        return false; // nothing to show without the APS frame
    const uint64_t generation = calibration.generation();
    if (!mappedValid || mappedGeneration != generation) {
        mapper.mapToRgb(current, calibration.transform(), mapped.bits(), size_t(mapped.bytesPerLine()));
        mappedValid = true;
        mappedGeneration = generation;
    }
    return true;
}

void NrFusionReplayPainter::paint(int view, const std::vector<Event2D>& events, QImage& image,
                                  const NrFusionLiveView& views) const {
    if (view == norvale::STREAM_APS || view == norvale::STREAM_FUSION) {
        const size_t rowBytes = size_t(width) * 3;
        for (int y = 0; y < height; ++y)
            std::memcpy(image.scanLine(y), mapped.constScanLine(y), rowBytes);
    } else {
        nrcounts::fillRows(image.bits(), size_t(image.bytesPerLine()), width, height,
                           toFrameRgb(LoadConfig::getGlobalConfig()->dvsBackgroundColor));
    }
    if (view != norvale::STREAM_APS && !events.empty())
        views.drawEvents(image, events.data(), events.data() + events.size());
}
