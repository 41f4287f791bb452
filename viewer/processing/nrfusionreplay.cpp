// Replay of fusion recordings: loading, the APS frame of each step, the replay slots.
#include <QDebug>
#include <QFileInfo>

#include <algorithm>
#include <cstring>

#include "loadconfig.h"
#include "processing/nrfusioncameradataprocessor.h"

using norvale::ApsFrame;
using norvale::Event2D;

// What the loading thread finds beside the ".raw": the APS video. Owned by the load's companion.
struct NrFusionCameraDataProcessor::ApsLoad {
    std::string path;
    std::unique_ptr<norvale::ApsFileReader> reader;
    std::vector<norvale::ApsFrameIndexEntry> index; // filled, not read further
    bool failed = false;
};

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
        replay->setVideo(std::move(aps->reader), std::move(aps->index), r.info.apsStartTimestamp);
    }
    live->setMirrored(true);
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
    replay->clear();
    live->setMirrored(false);
}

void NrFusionCameraDataProcessor::reportUnreadable(const QString& path) {
    const QFileInfo info(path);
    emit signalShowLeftBottomTips(tr("Cannot open the recording: ") + info.fileName(), NrMessageError,
                                  info.absoluteFilePath());
}

// Player thread, readerLock held: one replay step, the events of [ts - accTime, ts) on the view.
void NrFusionCameraDataProcessor::replayFrame(const std::vector<Event2D>& events, uint64_t ts) {
    const int view = live->view();
    if (!replay->prepare(view, ts, store))
        return;
    std::lock_guard<std::mutex> lock(paintMutex);
    QImage* image = mailbox.beginFrame();
    if (!image)
        return;
    replay->paint(view, events, *image, *live);
    mailbox.publishFrame(ts); // the time travels with its image
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
