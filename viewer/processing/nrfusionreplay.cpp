// Replay of fusion recordings: loading, the APS frame of each step, the replay slots.
#include <QDebug>
#include <QFileInfo>

#include <algorithm>
#include <cstring>

#include "loadconfig.h"
#include "processing/nreventcounts.h"
#include "processing/nrfusioncameradataprocessor.h"
#include "processing/nrfusionreplayframes.h"

using norvale::ApsFrame;
using norvale::Event2D;

bool NrFusionCameraDataProcessor::slotReadFusionFile(QString path) {
    if (player.isLoading())
        return false;
    if (path.isEmpty()) {
        unload();
        return false;
    }
    qDebug() << "Load fusion file: " << path;
    unload();
    const QFileInfo info(path);
    const QString base = info.path() + QLatin1Char('/') + info.completeBaseName(); // up to the last '.'
    if (QFileInfo::exists(base + QStringLiteral(".json")))
        loadCalibrationFile(base + QStringLiteral(".json"));

    auto aps = std::make_shared<ApsLoad>();
    aps->path = (base + QStringLiteral(".mp4")).toLocal8Bit().toStdString();
    // Loading thread: only the job's own ApsLoad is touched.
    auto companion = [aps](const NrLoadResult&) {
        aps->reader = norvale::ApsFileReader::createFileReader(aps->path);
        ApsFrame first;
        if (!aps->reader || !aps->reader->isOpened() || !aps->reader->readNextFrame(first)) {
            qDebug() << "Load aps file failed.";
            aps->reader.reset();
            aps->failed = true;
            return false;
        }
        aps->reader->getFrameIndex(aps->index);
        return aps->reader->seekFrame(0);
    };
    const QString raw = base + QStringLiteral(".raw");
    if (!player.open(raw, companion)) {
        qDebug() << "Load dvs file failed.";
        reportUnreadable(raw);
        return false;
    }
    loadingPath = raw;
    pendingAps = aps;
    busy = true;
    emit signalLoadingStatus(true);
    return true;
}

void NrFusionCameraDataProcessor::endBusy() {
    if (!busy)
        return;
    busy = false;
    emit signalLoadingStatus(false);
}

void NrFusionCameraDataProcessor::finishLoading(const std::shared_ptr<NrRecordingPlayer::LoadJob>& job,
                                                const NrLoadResult& r) {
    const NrRecordingPlayer::Adoption adoption = player.adopt(job, r);
    if (adoption == NrRecordingPlayer::Adoption::Dropped)
        return; // closed meanwhile, or not the last load: pendingAps belongs to another
    const std::shared_ptr<ApsLoad> aps = std::move(pendingAps);
    if (adoption == NrRecordingPlayer::Adoption::Failed) {
        endBusy();
        reportUnreadable(aps && aps->failed ? QString::fromLocal8Bit(aps->path.c_str()) : loadingPath);
        return;
    }
    if (!aps) {
        endBusy();
        return;
    }
    {
        std::lock_guard<std::mutex> lock(player.readerLock());
        ReplayFrames& s = *replay;
        s.prefetch.setReader(nullptr);
        s.reader = std::move(aps->reader);
        s.index = std::move(aps->index);
        s.prefetch.setReader(s.reader.get());
        s.base = r.info.apsStartTimestamp;
        s.haveCurrent = s.mappedValid = false;
    }
    dvsLoaded = true;
    const uint64_t lower = r.info.apsStartTimestamp;
    player.setLowerTs(lower);
    player.setPosition(lower);
    qDebug() << "Read aps file time offset: " << lower;
    qDebug() << "fusion file start : " << lower << "fusion_file_end_timestamp_: " << r.endTs << "time base: " << lower;
    emit signalStartTimeStamp(lower);
    emit signalEndTimeStamp(r.endTs);
    emit signalTimeStamp(lower);
    endBusy();
    emit signalPlayStatus(true);
}

void NrFusionCameraDataProcessor::unload() {
    player.close();
    deliverPending();
    pendingAps.reset();
    endBusy();
    std::lock_guard<std::mutex> lock(player.readerLock());
    replay->prefetch.setReader(nullptr);
    replay->reader.reset();
    replay->index.clear();
    replay->haveCurrent = replay->mappedValid = false;
    dvsLoaded = false;
}

void NrFusionCameraDataProcessor::reportUnreadable(const QString& path) {
    const QFileInfo info(path);
    emit signalShowLeftBottomTips(tr("Cannot open the recording: ") + info.fileName(), NrMessageError,
                                  info.absoluteFilePath());
}

// Player thread, readerLock held: makes replay->current the frame shown at event time ts (the last
// frame whose time is <= ts; the first frame before it). The frame after the current one is decoded
// ahead; a position further on, or back, seeks.
bool NrFusionCameraDataProcessor::chooseApsFrame(uint64_t ts) {
    ReplayFrames& s = *replay;
    if (!s.reader || s.index.empty())
        return false;
    const uint64_t t = ts > s.base ? ts - s.base : 0;
    const auto after = std::upper_bound(s.index.begin(), s.index.end(), t,
                                        [](uint64_t v, const norvale::ApsFrameIndexEntry& e) { return v < e.timestamp; });
    const size_t wanted = after == s.index.begin() ? 0 : size_t(after - s.index.begin()) - 1;
    if (s.haveCurrent && wanted == s.currentIndex)
        return true;
    if (s.haveCurrent && wanted == s.currentIndex + 1 && s.prefetch.take(s.current)) {
        s.currentIndex = wanted;
    } else {
        s.prefetch.wait(); // the reader is ours again
        s.haveCurrent = s.reader->seekFrame(wanted) && s.reader->readNextFrame(s.current);
        s.currentIndex = wanted;
        if (!s.haveCurrent)
            return false;
    }
    s.mappedValid = false;
    if (s.currentIndex + 1 < s.index.size())
        s.prefetch.start();
    return true;
}

// Player thread, readerLock held: one replay step, the events of [ts - accTime, ts) on the view.
void NrFusionCameraDataProcessor::replayFrame(const std::vector<Event2D>& events, uint64_t ts) {
    const int view = viewerType;
    const bool withAps = view == norvale::STREAM_APS || view == norvale::STREAM_FUSION;
    if (view != norvale::STREAM_DVS && !withAps)
        return;
    if (withAps && !chooseApsFrame(ts))
        return; // nothing to show without the APS frame
    ReplayFrames& s = *replay;
    if (withAps) {
        const uint64_t generation = calibrationGeneration;
        if (!s.mappedValid || s.mappedGeneration != generation) {
            s.mapper.mapToRgb(s.current, currentTransform(), s.mapped.bits(), size_t(s.mapped.bytesPerLine()));
            s.mappedValid = true;
            s.mappedGeneration = generation;
        }
    }
    std::lock_guard<std::mutex> lock(paintMutex);
    QImage* image = mailbox.beginFrame();
    if (!image)
        return;
    if (withAps) {
        const size_t rowBytes = size_t(kWidth) * 3;
        for (int y = 0; y < kHeight; ++y)
            std::memcpy(image->scanLine(y), s.mapped.constScanLine(y), rowBytes);
    } else {
        nrcounts::fillRows(image->bits(), size_t(image->bytesPerLine()), kWidth, kHeight,
                           toFrameRgb(config->dvsBackgroundColor));
    }
    if (view != norvale::STREAM_APS && !events.empty())
        visualizeEventsOnFrame(*image, events.data(), events.data() + events.size());
    mailbox.publishFrame();
    mailbox.publishTimestamp(ts, false);
}

void NrFusionCameraDataProcessor::stopPlayback() {
    player.stop();
    deliverPending(); // what replay showed last reaches the receivers before anything else
}

void NrFusionCameraDataProcessor::slotPlaybackCtrl(bool play) {
    if (!play) {
        stopPlayback();
        return;
    }
    player.play(); // ignored unless loaded; a second start while playing is ignored too
}

bool NrFusionCameraDataProcessor::beginStep() {
    if (!player.usable())
        return false;
    if (player.isPlaying()) {
        stopPlayback();
        emit signalPlayStatus(false);
    }
    return true;
}

void NrFusionCameraDataProcessor::runStep(NrRecordingPlayer::Request request, uint64_t ts) {
    player.request(request, ts);
    player.waitIdle(std::chrono::milliseconds(kStepWaitMs));
    deliverPending();
}

void NrFusionCameraDataProcessor::slotPlaybackReset() {
    if (!player.usable())
        return;
    stopPlayback();
    emit signalPlayStatus(false);
    runStep(NrRecordingPlayer::Request::Reset);
}

void NrFusionCameraDataProcessor::preFrame() {
    if (beginStep())
        runStep(NrRecordingPlayer::Request::Previous);
}

void NrFusionCameraDataProcessor::nextFrame() {
    if (!beginStep())
        return;
    runStep(NrRecordingPlayer::Request::Next);
    qDebug() << "time base update: " << player.position() << " interval: " << player.frameStep();
}

void NrFusionCameraDataProcessor::setPlayPos(uint64_t timestamp_us) {
    if (beginStep())
        runStep(NrRecordingPlayer::Request::Seek, timestamp_us);
}

void NrFusionCameraDataProcessor::replayOneFrameFusionFileByTimebase() {
    if (player.usable())
        runStep(NrRecordingPlayer::Request::Seek, player.position());
}

void NrFusionCameraDataProcessor::playbackFusionFileLoop() { player.runLoop(); }

void NrFusionCameraDataProcessor::slotSetLowerTimeStamp(uint64_t ts) { player.setLowerTs(ts); }

void NrFusionCameraDataProcessor::slotSetUpperTimeStamp(uint64_t ts) { player.setUpperTs(ts); }

void NrFusionCameraDataProcessor::slotSetReplayFlag(bool loop) { player.setLoop(loop); }
