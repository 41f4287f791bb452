// Replay of fusion recordings: what loads beside the ".raw" (the APS video), or the frames of an
// AEDAT 4 file itself, and each frame of the front's player painted from its APS frame and events.
#include <QDebug>
#include <algorithm>
#include <QFileInfo>

#include "norvale/EventFileFormat.h"

#include "processing/nrfusioncameradataprocessor.h"

using norvale::ApsFrame;
using norvale::Event2D;

namespace {

// An AEDAT 4 file holds its frames beside its events, on the same pixel grid.
bool holdsOwnFrames(const QString& path) {
    norvale::EventFileFormat format = norvale::EventFileFormat::Evt3;
    std::string problem;
    return norvale::detectFormat(path.toLocal8Bit().toStdString(), format, problem) &&
           format == norvale::EventFileFormat::Aedat4;
}

} // namespace

// What the loading thread finds beside the ".raw": the APS video (or the recording's own frames).
// Owned by the load's companion.
struct NrFusionCameraDataProcessor::ApsLoad {
    std::string path;
    bool sameGrid = false; // the frames are the recording's own, pixel for pixel with its events
    std::unique_ptr<norvale::ApsFileReader> reader;
    std::vector<norvale::ApsFrameIndexEntry> index; // filled, not read further
    bool failed = false;
};

bool NrFusionCameraDataProcessor::slotReadFusionFile(QString path) {
    if (front.player().isLoading())
        return false;
    if (path.isEmpty()) {
        front.close();
        return false;
    }
    qDebug() << "Load fusion file: " << path;
    if (holdsOwnFrames(path))
        return front.open(path);
    const QFileInfo info(path);
    const QString base = info.path() + QLatin1Char('/') + info.completeBaseName(); // up to the last '.'
    if (QFileInfo::exists(base + QStringLiteral(".json")))
        loadCalibrationFile(base + QStringLiteral(".json"));
    return front.open(base + QStringLiteral(".raw"));
}

NrRecordingPlayer::Companion NrFusionCameraDataProcessor::companion(const QString& raw) {
    const QFileInfo info(raw);
    auto aps = std::make_shared<ApsLoad>();
    aps->sameGrid = holdsOwnFrames(raw);
    const QString video = info.path() + QLatin1Char('/') + info.completeBaseName() + QStringLiteral(".mp4");
    aps->path = (aps->sameGrid ? raw : video).toLocal8Bit().toStdString();
    pendingAps = aps;
    // Loading thread: only the job's own ApsLoad is touched.
    return [aps](const NrLoadResult&) {
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
}

QString NrFusionCameraDataProcessor::finishLoad(const NrLoadResult& r, bool ok) {
    const std::shared_ptr<ApsLoad> aps = std::move(pendingAps);
    if (!ok)
        return aps && aps->failed ? QString::fromLocal8Bit(aps->path.c_str()) : QString();
    if (!aps)
        return QString();
    NrRecordingPlayer& player = front.player();
    // A video's frames count from the start its recording's header states; an AEDAT 4 file's from
    // its first frame, whose event time the reader knows.
    const uint64_t lower = aps->sameGrid ? aps->reader->getStartTimestamp() : r.info.apsStartTimestamp;
    {
        std::lock_guard<std::mutex> lock(player.readerLock());
        replay->setVideo(std::move(aps->reader), std::move(aps->index), lower);
    }
    store.setSameGrid(aps->sameGrid);
    // An AEDAT 4 sensor sits in the grid's corner: the view shows that part.
    const bool corner = aps->sameGrid && r.info.width > 0 && r.info.height > 0;
    emit signalDisplaySize(corner ? std::min<int>(int(r.info.width), kWidth) : kWidth,
                           corner ? std::min<int>(int(r.info.height), kHeight) : kHeight);
    live->setMirrored(!aps->sameGrid); // a fusion camera's recording is drawn mirrored, an AEDAT 4 file as it lies
    // The recording starts with its first APS frame.
    player.setLowerTs(lower);
    player.setPosition(lower);
    qDebug() << "fusion file start : " << lower << "fusion_file_end_timestamp_: " << r.endTs;
    return QString();
}

void NrFusionCameraDataProcessor::closed() {
    pendingAps.reset();
    std::lock_guard<std::mutex> lock(front.player().readerLock());
    replay->clear();
    live->setMirrored(false);
    store.setSameGrid(false);
}

// Player thread, readerLock held: one replay frame, the window's events on the view.
void NrFusionCameraDataProcessor::paintWindow(const std::vector<Event2D>& events, uint64_t ts) {
    const int view = live->view();
    if (!replay->prepare(view, ts, store))
        return;
    std::lock_guard<std::mutex> lock(paintMutex);
    NrFrameMailbox& mailbox = front.mailbox();
    QImage* image = mailbox.beginFrame();
    if (!image)
        return;
    replay->paint(view, events, *image, *live);
    mailbox.publishFrame(ts); // the time travels with its image
}

void NrFusionCameraDataProcessor::replayOneFrameFusionFileByTimebase() { front.showCurrentFrame(); }

void NrFusionCameraDataProcessor::playbackFusionFileLoop() { front.runPlayerLoop(); }

void NrFusionCameraDataProcessor::slotPlaybackCtrl(bool play) { front.slotPlaybackCtrl(play); }
void NrFusionCameraDataProcessor::slotPlaybackReset() { front.slotPlaybackReset(); }
void NrFusionCameraDataProcessor::preFrame() { front.preFrame(); }
void NrFusionCameraDataProcessor::nextFrame() { front.nextFrame(); }
void NrFusionCameraDataProcessor::setPlayPos(uint64_t ts) { front.setPlayPos(ts); }
void NrFusionCameraDataProcessor::slotSetLowerTimeStamp(uint64_t ts) { front.slotSetLowerTimeStamp(ts); }
void NrFusionCameraDataProcessor::slotSetUpperTimeStamp(uint64_t ts) { front.slotSetUpperTimeStamp(ts); }
void NrFusionCameraDataProcessor::slotSetReplayFlag(bool loop) { front.slotPlayLoop(loop); }
void NrFusionCameraDataProcessor::setFps(int fps) { front.setFps(fps); }
void NrFusionCameraDataProcessor::setAccTime(uint64_t time_us) { front.setAccTime(time_us); }
