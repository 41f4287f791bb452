// The playback front: the player's and the export jobs' reports turned into the window's signals.
#include "processing/nrplaybackfront.h"

#include <QDebug>
#include <QFileInfo>

#include <chrono>

#include "processing/nrlocaltime.h"
#include "processing/nrmetatypes.h"

NrPlaybackFront::NrPlaybackFront(NrPlaybackPainter& p, Options options, QObject* parent)
    : QObject(parent), painter(p), stepWaitMs(options.stepWaitMs), box(this, [this] { deliverPending(); }) {
    nrRegisterMetaTypes();
    playerPtr = std::make_unique<NrRecordingPlayer>(
        NrRecordingPlayer::Sink{
            [this](const std::vector<norvale::Event2D>& events, uint64_t ts) { painter.paintWindow(events, ts); },
            [this] {
                postToOwner([this] {
                    emit signalEnded();
                    emit signalPlayStatus(false);
                });
            },
            [this](std::shared_ptr<NrRecordingPlayer::LoadJob> job, const NrLoadResult& r) {
                postToOwner([this, job, r] { finishLoading(job, r); });
            },
            options.threadBody ? options.threadBody : std::function<void()>([this] { runPlayerLoop(); })},
        options.player);
    playerPtr->setFrameStepUs(options.frameStepUs);
    playerPtr->setAccTimeUs(options.accTimeUs);
    {
        std::lock_guard<std::mutex> lock(startMutex);
        started = playerPtr.get();
    }
    startCond.notify_all();
}

void NrPlaybackFront::runPlayerLoop() {
    NrRecordingPlayer* p = nullptr;
    {
        std::unique_lock<std::mutex> lock(startMutex);
        startCond.wait(lock, [this] { return started != nullptr; });
        p = started;
    }
    p->runLoop();
}

NrPlaybackFront::~NrPlaybackFront() { shutdown(); }

void NrPlaybackFront::shutdown() {
    exportJob.cancel(); // a running export or cut stops at its next frame
    cutJob.cancel();
    exportJob.join();
    cutJob.join();
    playerPtr.reset(); // stops its thread and abandons a load
}

// Hand-over to the owner thread.

void NrPlaybackFront::deliverPending() {
    NrFrameMailbox::Mail mail = box.take();
    if (mail.hasTimestamp && !mail.timestampOfImage) {
        emit signalTimeStamp(mail.timestamp);
        if (mail.withLocalTime && playerPtr) {
            const norvale::DvsFileInfo& info = playerPtr->fileInfo();
            emit signalLocalTime(nrLocalTime(info.recordStartTime, mail.timestamp, info.dvsStartTimestamp));
        }
    }
    if (mail.slot >= 0) {
        emit signalImage(mail.image);
        box.release(mail);
    }
    if (mail.timestampOfImage)
        emit signalTimeStamp(mail.timestamp); // after its image: the label never runs ahead
    if (mail.hasProgress)
        emit signalProgress(mail.progress);
}

void NrPlaybackFront::postToOwner(std::function<void()> f) { box.postAfterPending(std::move(f)); }

// Loading.

bool NrPlaybackFront::open(const QString& path) {
    if (player().isLoading()) {
        qDebug() << "is loading.";
        return false;
    }
    emit signalPlayStatus(false);
    player().close();
    deliverPending();
    painter.closed();
    if (!player().open(path, painter.companion(path))) {
        qDebug() << "not a readable recording:" << path;
        painter.closed();
        reportUnreadable(path);
        return false;
    }
    loadingPath = path;
    beginBusy();
    return true;
}

void NrPlaybackFront::close() {
    emit signalPlayStatus(false);
    player().close();
    deliverPending();
    painter.closed();
}

void NrPlaybackFront::finishLoading(const std::shared_ptr<NrRecordingPlayer::LoadJob>& job, const NrLoadResult& r) {
    const NrRecordingPlayer::Adoption adoption = player().adopt(job, r);
    if (adoption == NrRecordingPlayer::Adoption::Dropped) {
        endBusy();
        return;
    }
    const bool ok = adoption == NrRecordingPlayer::Adoption::Ready;
    const QString named = painter.finishLoad(r, ok);
    if (!ok) {
        reportUnreadable(named.isEmpty() ? loadingPath : named);
        endBusy();
        return;
    }
    const uint64_t start = player().lower();
    qDebug() << "Loaded" << loadingPath << "from" << start << "to" << r.endTs;
    emit signalEndTimeStamp(r.endTs);
    emit signalStartTimeStamp(start);
    emit signalTimeStamp(start);
    emit signalLocalTime(nrLocalTime(r.info.recordStartTime, start, r.info.dvsStartTimestamp));
    endBusy();
    // Playing starts here; the play button only hears of it.
    player().play();
    emit signalPlayStatus(player().isPlaying());
}

void NrPlaybackFront::reportUnreadable(const QString& path) {
    const QFileInfo info(path);
    emit signalShowLeftBottomTips(tr("Cannot open the recording: ") + info.fileName(), NrMessageError,
                                  info.absoluteFilePath());
}

// Playing and stepping.

// The recording is lent to an export or cut: tell the user once per job, do nothing.
bool NrPlaybackFront::refuseWhileWorking() {
    if (workJobs == 0)
        return false;
    qDebug() << "request ignored: an export or cut is using the file.";
    if (!refusalShown) {
        refusalShown = true;
        emit signalShowLeftBottomTips(tr("The recording is busy with an export or cut; try again when it has finished."),
                                      NrMessageWarning, QString());
    }
    return true;
}

void NrPlaybackFront::stopPlayback() {
    player().stop();
    painter.finishFrames();
    deliverPending(); // what playback showed last reaches the receivers before anything else
}

void NrPlaybackFront::slotPlaybackCtrl(bool play) {
    if (!play) {
        stopPlayback();
        return;
    }
    if (!player().usable())
        return;
    if (refuseWhileWorking()) {
        emit signalPlayStatus(false);
        return;
    }
    player().play();
}

// A step or seek may be asked for when a recording is loaded and no export or cut holds it; it
// pauses playback first.
bool NrPlaybackFront::beginStep() {
    if (!player().usable())
        return false;
    if (refuseWhileWorking())
        return false;
    if (player().isPlaying()) {
        stopPlayback();
        emit signalPlayStatus(false);
    }
    return true;
}

void NrPlaybackFront::runStep(NrRecordingPlayer::Request request, uint64_t ts) {
    player().request(request, ts);
    // A quick read shows at once, as a click expects; a slow one arrives later through the mailbox.
    player().waitIdle(std::chrono::milliseconds(stepWaitMs));
    deliverPending();
}

void NrPlaybackFront::preFrame() {
    if (beginStep())
        runStep(NrRecordingPlayer::Request::Previous);
}

void NrPlaybackFront::nextFrame() {
    if (beginStep())
        runStep(NrRecordingPlayer::Request::Next);
}

void NrPlaybackFront::setPlayPos(uint64_t ts) {
    if (player().usable() && (ts < player().lower() || ts > player().upper()))
        return;
    if (beginStep())
        runStep(NrRecordingPlayer::Request::Seek, ts);
}

void NrPlaybackFront::showCurrentFrame() {
    if (player().usable() && !player().isPlaying() && workJobs == 0)
        runStep(NrRecordingPlayer::Request::Seek, player().position());
}

void NrPlaybackFront::slotPlaybackReset() {
    if (!player().usable() || refuseWhileWorking())
        return;
    stopPlayback();
    const uint64_t lo = player().lower();
    runStep(NrRecordingPlayer::Request::Reset);
    box.publishTimestamp(lo, true); // also when the start could not be read
    deliverPending();
    emit signalPlayStatus(false);
}

void NrPlaybackFront::slotPlayLoop(bool on) { player().setLoop(on); }

void NrPlaybackFront::setFps(int fps) {
    if (fps <= 0) {
        qDebug() << "ignored fps:" << fps;
        return;
    }
    const uint64_t step = uint64_t(1000000 / fps);
    player().setFrameStepUs(step);
    qDebug() << "set fps: " << fps << " time interval: " << step;
}

void NrPlaybackFront::setFrameStepUs(uint64_t us) {
    if (us > 0)
        player().setFrameStepUs(us);
}

void NrPlaybackFront::setAccTime(uint64_t time_us) { player().setAccTimeUs(time_us); }

void NrPlaybackFront::slotSetLowerTimeStamp(uint64_t ts) { player().setLowerTs(ts); }

void NrPlaybackFront::slotSetUpperTimeStamp(uint64_t ts) { player().setUpperTs(ts); }

// Export and cut.

void NrPlaybackFront::exportVideo(const QString& path, const QString& dir, uint64_t start, uint64_t end,
                                  const norvale::VideoExportOptions& options) {
    NrExportRequest request;
    request.kind = NrExportRequest::Kind::Video;
    request.path = path.toLocal8Bit().toStdString();
    request.start = start;
    request.end = end;
    request.options = options;
    qDebug() << "start export video: " << path;
    startWork(exportJob, std::move(request), dir);
}

void NrPlaybackFront::cutRecording(const QString& path, const QString& dir, uint64_t start, uint64_t end) {
    NrExportRequest request;
    request.kind = NrExportRequest::Kind::Cut;
    request.path = path.toLocal8Bit().toStdString();
    request.start = start;
    request.end = end;
    startWork(cutJob, std::move(request), dir);
}

void NrPlaybackFront::startWork(NrExportJob& job, NrExportRequest request, const QString& dir) {
    if (!player().usable())
        return;
    if (player().isPlaying()) {
        stopPlayback();
        emit signalPlayStatus(false);
    }
    ++workJobs;
    job.prepare();
    // The busy indicator (with its Cancel) shows before the job starts: a Cancel from now on
    // reaches this job, however quickly it would have finished.
    beginBusy();
    emit signalProgress(0.0);
    const NrExportRequest::Kind kind = request.kind;
    job.start(
        player().reader(), player().readerLock(), std::move(request),
        [this](double fraction) { box.publishProgress(fraction); },
        [this, kind, dir](bool ok, const std::string& reason) {
            if (ok)
                box.publishProgress(1.0);
            postToOwner([this, kind, ok, reason, dir] { finishWork(kind, ok, reason, dir); });
        });
}

void NrPlaybackFront::cancelWork() {
    exportJob.cancel();
    cutJob.cancel();
}

void NrPlaybackFront::finishWork(NrExportRequest::Kind kind, bool ok, const std::string& reason, const QString& dir) {
    if (--workJobs == 0)
        refusalShown = false;
    const bool video = kind == NrExportRequest::Kind::Video;
    if (!ok && (video ? exportJob : cutJob).wasCancelled()) {
        emit signalShowLeftBottomTips(video ? tr("Export video cancelled.") : tr("Export raw file cancelled."),
                                      NrMessageWarning, QString());
    } else if (ok) {
        emit signalShowLeftBottomTips(video ? tr("Export video success!") : tr("Export raw file success!"),
                                      NrMessageSuccess, dir);
    } else {
        QString tip = video ? tr("Export video failed!") : tr("Export raw file failed!");
        if (!reason.empty())
            tip += QLatin1Char(' ') + QString::fromLocal8Bit(reason.c_str());
        emit signalShowLeftBottomTips(tip, NrMessageError, dir);
    }
    qDebug() << (video ? "export" : "cut") << (ok ? "done" : "not done");
    endBusy();
}

void NrPlaybackFront::beginBusy() {
    if (busyJobs++ == 0)
        emit signalLoadingStatus(true);
}

void NrPlaybackFront::endBusy() {
    if (busyJobs > 0 && --busyJobs == 0)
        emit signalLoadingStatus(false);
}
