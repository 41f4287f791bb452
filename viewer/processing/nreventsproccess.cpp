// Counting, rendering, and the glue between the processor's parts and its signals.
#include "processing/nreventsproccess.h"

#include <QDebug>

#include <algorithm>
#include <chrono>

#include <QFileInfo>

#include "loadconfig.h"
#include "processing/nreventcounts.h"
#include "processing/nrlocaltime.h"

namespace {

nrcounts::Rgb toRgb(const QColor& c) { return toFrameRgb(c); }

void registerTypes() {
    static const bool once = [] {
        qRegisterMetaType<uint64_t>("uint64_t");
        qRegisterMetaType<NrMessageType>("NrMessageType");
        qRegisterMetaType<NrTriggerList>("std::vector<std::pair<uint64_t,uint8_t> >");
        return true;
    }();
    (void)once;
}

} // namespace

NrEventProcessor::NrEventProcessor(QObject* parent)
    : QObject(parent), config(LoadConfig::getGlobalConfig()), mailbox(this, [this] { deliverPending(); }),
      player(NrRecordingPlayer::Sink{
          [this](const std::vector<norvale::Event2D>& events, uint64_t ts) { showFrame(events, ts); },
          [this] { postToOwner([this] { emit signalPlayStatus(false); }); },
          [this](std::shared_ptr<NrRecordingPlayer::LoadJob> job, const NrLoadResult& r) {
              postToOwner([this, job, r] { finishLoading(job, r); });
          },
          [this] { dvsFilePlayLoop(); }}) {
    registerTypes();
    setDisplay(1280, 720);
    renderWorker = std::thread(&NrEventProcessor::renderThread, this);
}

NrEventProcessor::~NrEventProcessor() {
    exportJob.cancel(); // a running export or cut stops at its next frame
    cutJob.cancel();
    exportJob.join();
    cutJob.join();
    {
        std::lock_guard<std::mutex> lock(renderMutex);
        renderRunning = false;
    }
    renderCond.notify_one();
    if (renderWorker.joinable())
        renderWorker.join();
    // The player (a member) stops its thread and abandons a load when it is destroyed.
}

void NrEventProcessor::setDisplay(int w, int h) {
    if (w <= 0 || h <= 0)
        return;
    {
        std::lock_guard<std::mutex> acc(accMutex);
        std::lock_guard<std::mutex> render(renderMutex);
        const size_t n = nrcounts::countBufferSize(w, h);
        accumulateBuffer.assign(n, 0);
        accumulateBuffer.shrink_to_fit();
        renderBuffer.assign(n, 0);
        renderBuffer.shrink_to_fit();
        mailbox.resize(w, h, config->dvsBackgroundColor);
        frameReady = false;
        height = h;
        width = w;
    }
    emit signalDisplaySize(w, h);
}

void NrEventProcessor::setProccessMode(NR_PLAY_MODE mode) { playMode = mode; }

void NrEventProcessor::dvsFilePlayLoop() { player.runLoop(); }

void NrEventProcessor::setDevicePtr(std::shared_ptr<norvale::DvsCamera> device) { camera = std::move(device); }

void NrEventProcessor::processEvents(const norvale::Event2D* begin, const norvale::Event2D* end) {
    if (begin == nullptr || begin >= end)
        return;
    {
        std::lock_guard<std::mutex> lock(accMutex);
        nrcounts::countEvents(accumulateBuffer.data(), uint32_t(width), uint32_t(height), begin, end,
                              uint16_t(maxEventCount));
    }
    const uint64_t first = begin->timestamp;
    lastBatchTs = first;
    // Time going back is a new stream: flush at once rather than wait for the old stream's time.
    if (playMode == NR_FLUSH_BY_EVENT_TIME && (first >= lastFlushTs + liveFramePeriodUs || first < lastFlushTs)) {
        lastFlushTs = first;
        swapEventBuffer(true, first);
    }
}

void NrEventProcessor::setLiveFramePeriodUs(uint64_t us) { liveFramePeriodUs = us; }

void NrEventProcessor::flushEventsDisplay() {
    emit signalRealTimeTimeStamp(lastBatchTs);
    swapEventBuffer();
}

void NrEventProcessor::swapEventBuffer() { swapEventBuffer(false, 0); }

void NrEventProcessor::swapEventBuffer(bool carryTs, uint64_t ts) {
    std::lock_guard<std::mutex> acc(accMutex);
    std::lock_guard<std::mutex> render(renderMutex);
    accumulateBuffer.swap(renderBuffer);
    renderHasTs = carryTs;
    renderTs = ts;
    frameReady = true;
    renderCond.notify_one();
    std::fill(accumulateBuffer.begin(), accumulateBuffer.end(), uint16_t(0));
}

void NrEventProcessor::visualizeEventsOnFrame(QImage& image) {
    if (image.width() != width || image.height() != height || image.format() != QImage::Format_RGB888)
        return;
    nrcounts::paintCounts(renderBuffer.data(), width, height, image.bits(), size_t(image.bytesPerLine()),
                          toRgb(config->dvsOnColor), toRgb(config->dvsOffColor));
}

void NrEventProcessor::renderThread() {
    std::unique_lock<std::mutex> lock(renderMutex);
    for (;;) {
        renderCond.wait(lock, [this] { return frameReady || !renderRunning; });
        if (!renderRunning)
            return;
        frameReady = false;
        QImage* image = mailbox.beginFrame();
        if (!image)
            continue;
        nrcounts::fillRows(image->bits(), size_t(image->bytesPerLine()), width, height,
                           toRgb(config->dvsBackgroundColor));
        visualizeEventsOnFrame(*image);
        if (renderHasTs)
            mailbox.publishFrame(renderTs);
        else
            mailbox.publishFrame();
    }
}

void NrEventProcessor::deliverPending() {
    NrFrameMailbox::Mail mail = mailbox.take();
    if (mail.hasTimestamp && !mail.timestampOfImage) {
        emit signalRealTimeTimeStamp(mail.timestamp);
        if (mail.withLocalTime) {
            const norvale::DvsFileInfo& info = player.fileInfo();
            emit signalLocalTime(tsToLocalTime(info.recordStartTime, mail.timestamp, info.dvsStartTimestamp));
        }
    }
    if (mail.slot >= 0) {
        emit signalEventImage(mail.image);
        mailbox.release(mail);
    }
    if (mail.timestampOfImage)
        emit signalRealTimeTimeStamp(mail.timestamp); // after its image: the label never runs ahead
    if (mail.hasProgress)
        emit signalProgress(mail.progress);
}

void NrEventProcessor::postToOwner(std::function<void()> f) { mailbox.postAfterPending(std::move(f)); }

QString NrEventProcessor::tsToLocalTime(const norvale::SysTimePoint& recordStart, uint64_t ts, uint64_t startTs) {
    return nrLocalTime(recordStart, ts, startTs);
}

void NrEventProcessor::setFps(int fps) {
    // fps is the display rate times the slow motion; each frame steps 1 s / fps of event time.
    if (fps <= 0) {
        qDebug() << "ignored fps:" << fps;
        return;
    }
    const uint64_t step = uint64_t(1000000 / fps);
    player.setFrameStepUs(step);
    qDebug() << "set fps: " << fps << " time interval: " << step;
}

void NrEventProcessor::setAccTime(uint64_t time_us) { player.setAccTimeUs(time_us); }

// Recordings: the slots ask the player and the export jobs, and turn their reports into signals.

void NrEventProcessor::showFrame(const std::vector<norvale::Event2D>& events, uint64_t ts) {
    processEvents(events.data(), events.data() + events.size());
    mailbox.publishTimestamp(ts, true);
    swapEventBuffer();
}

void NrEventProcessor::stopPlayback() {
    player.stop();
    deliverPending(); // what playback showed last reaches the receivers before anything else
}

void NrEventProcessor::loadFile(QString path) {
    if (path.isEmpty()) {
        emit signalPlayStatus(false);
        player.close();
        deliverPending();
        return;
    }
    qDebug() << "Load raw file: " << path;
    if (player.isLoading()) {
        qDebug() << "is loading.";
        return;
    }
    emit signalPlayStatus(false);
    const bool opened = player.open(path); // stops and closes the previous recording first
    deliverPending();
    if (!opened) {
        qDebug() << "not raw file.";
        reportUnreadable(path);
        return;
    }
    loadingPath = path;
    beginBusy();
}

void NrEventProcessor::finishLoading(const std::shared_ptr<NrRecordingPlayer::LoadJob>& job, const NrLoadResult& r) {
    switch (player.adopt(job, r)) {
    case NrRecordingPlayer::Adoption::Dropped:
        endBusy();
        return;
    case NrRecordingPlayer::Adoption::Failed:
        qDebug() << "not raw file.";
        reportUnreadable(loadingPath);
        endBusy();
        return;
    case NrRecordingPlayer::Adoption::Ready:
        break;
    }
    // Shown at its own size; nothing plays yet, so the buffers can change.
    if (int(r.info.width) != width || int(r.info.height) != height)
        setDisplay(int(r.info.width), int(r.info.height));
    qDebug() << "Start time: " << r.startTs;
    qDebug() << "End time: " << r.endTs;
    emit signalTriggerList(r.triggers);
    const uint64_t rateEnd = r.rate.startTimestamp + uint64_t(r.rate.counts.size()) * r.rate.slotDurationUs;
    emit signalRateProfile(r.rate.counts, r.rate.startTimestamp, rateEnd);
    emit signalEndTimeStamp(r.endTs);
    emit signalStartTimeStamp(r.startTs);
    emit signalRealTimeTimeStamp(r.startTs);
    emit signalLocalTime(tsToLocalTime(r.info.recordStartTime, r.startTs, r.info.dvsStartTimestamp));
    emit signalPlayStatus(true);
    endBusy();
    qDebug() << "Load raw file success.";
}

void NrEventProcessor::reportUnreadable(const QString& path) {
    const QFileInfo info(path);
    emit signalShowLeftBottomTips(tr("Cannot open the recording: ") + info.fileName(), NrMessageError,
                                  info.absoluteFilePath());
}

// The recording is lent to an export or cut: tell the user once per job, do nothing.
bool NrEventProcessor::refuseWhileWorking() {
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

void NrEventProcessor::slotPlaybackCtrl(bool play) {
    if (!play) {
        stopPlayback();
        return;
    }
    if (!player.usable())
        return;
    if (refuseWhileWorking()) {
        emit signalPlayStatus(false);
        return;
    }
    player.play();
}

// A step or seek may be asked for when a file is loaded and no export or cut holds it; it pauses
// playback first.
bool NrEventProcessor::beginStep() {
    if (!player.usable()) {
        qDebug() << "not raw file.";
        return false;
    }
    if (refuseWhileWorking())
        return false;
    if (player.isPlaying()) {
        stopPlayback();
        emit signalPlayStatus(false);
    }
    return true;
}

void NrEventProcessor::runStep(NrRecordingPlayer::Request request, uint64_t ts) {
    player.request(request, ts);
    // A quick read shows at once, as a click expects; a slow one arrives later through the mailbox.
    player.waitIdle(std::chrono::milliseconds(kStepWaitMs));
    deliverPending();
}

void NrEventProcessor::preFrame() {
    if (beginStep())
        runStep(NrRecordingPlayer::Request::Previous);
}

void NrEventProcessor::nextFrame() {
    if (beginStep())
        runStep(NrRecordingPlayer::Request::Next);
}

void NrEventProcessor::setPlayPos(uint64_t ts) {
    if (player.usable() && (ts < player.lower() || ts > player.upper()))
        return;
    if (beginStep())
        runStep(NrRecordingPlayer::Request::Seek, ts);
}

void NrEventProcessor::slotPlaybackReset() {
    if (!player.usable()) {
        qDebug() << "not raw file.";
        return;
    }
    if (refuseWhileWorking())
        return;
    stopPlayback();
    const uint64_t lo = player.lower();
    runStep(NrRecordingPlayer::Request::Reset);
    qDebug() << "set ts: " << lo;
    mailbox.publishTimestamp(lo, true); // also when the start could not be read
    deliverPending();
    emit signalPlayStatus(false);
}

void NrEventProcessor::slotPlayLoop(bool on) { player.setLoop(on); }

void NrEventProcessor::slotSetLowerTimeStamp(uint64_t ts) { player.setLowerTs(ts); }

void NrEventProcessor::slotSetUpperTimeStamp(uint64_t ts) { player.setUpperTs(ts); }

void NrEventProcessor::slotExportVideo(QString qs_out_full_path, QString qs_out_dir, uint64_t start_ts,
                                       uint64_t end_ts) {
    startWork(exportJob, NrExportRequest::Kind::Video, qs_out_full_path, qs_out_dir, start_ts, end_ts);
}

void NrEventProcessor::slotCutRawFile(QString qs_out_full_path, QString qs_out_dir, uint64_t start_ts,
                                      uint64_t end_ts) {
    startWork(cutJob, NrExportRequest::Kind::Cut, qs_out_full_path, qs_out_dir, start_ts, end_ts);
}

void NrEventProcessor::startWork(NrExportJob& job, NrExportRequest::Kind kind, const QString& fullPath,
                                 const QString& dir, uint64_t start, uint64_t end) {
    if (!player.usable())
        return;
    if (player.isPlaying()) {
        stopPlayback();
        emit signalPlayStatus(false);
    }
    NrExportRequest request;
    request.kind = kind;
    request.path = fullPath.toLocal8Bit().toStdString();
    request.start = start;
    request.end = end;
    if (kind == NrExportRequest::Kind::Video) {
        // The video plays like the viewer: display rate, frame step, accumulation, window placement.
        const uint64_t step = std::max<uint64_t>(player.frameStep(), 1);
        norvale::VideoExportOptions& o = request.options;
        o.fps = norvale::kDisplayRateHz;
        o.slowMotion = std::clamp(1e6 / (double(norvale::kDisplayRateHz) * double(step)), 0.001, 1000.0);
        o.accTimeUs = std::clamp<uint64_t>(player.accTime(), 1, 3600ull * 1000000);
        o.anchor = norvale::EventWindowAnchor::FrameStart;
        // The recording's own size; the encoder needs even sides of at least 16.
        const auto evenSide = [](uint32_t side) { return int(std::clamp<uint32_t>((side + 1) & ~1u, 16, 8192)); };
        o.width = evenSide(player.reader()->width());
        o.height = evenSide(player.reader()->height());
        o.onColor = toFrameRgb(config->dvsOnColor);
        o.offColor = toFrameRgb(config->dvsOffColor);
        o.backgroundColor = toFrameRgb(config->dvsBackgroundColor);
        qDebug() << "start export video: " << fullPath;
    }
    ++workJobs;
    job.prepare();
    // The busy indicator (with its Cancel) shows before the job starts: a Cancel from now on
    // reaches this job, however quickly it would have finished.
    beginBusy();
    emit signalProgress(0.0);
    job.start(
        player.reader(), player.readerLock(), std::move(request),
        [this](double fraction) { mailbox.publishProgress(fraction); },
        [this, kind, dir, start, end](bool ok, const std::string& reason) {
            if (ok)
                mailbox.publishProgress(1.0);
            postToOwner([this, kind, ok, reason, dir, start, end] { finishWork(kind, ok, reason, dir, start, end); });
        });
}

void NrEventProcessor::cancelWork() {
    exportJob.cancel();
    cutJob.cancel();
}

void NrEventProcessor::finishWork(NrExportRequest::Kind kind, bool ok, const std::string& reason, const QString& dir,
                                  uint64_t start, uint64_t end) {
    if (--workJobs == 0)
        refusalShown = false;
    const bool video = kind == NrExportRequest::Kind::Video;
    if (!ok && (video ? exportJob : cutJob).wasCancelled()) {
        qDebug() << "extract event data start:" << start << " end: " << end << " cancelled.";
        emit signalShowLeftBottomTips(video ? tr("Export video cancelled.") : tr("Export raw file cancelled."),
                                      NrMessageWarning, QString());
    } else if (ok) {
        qDebug() << "extract event data start:" << start << " end: " << end << " success.";
        emit signalShowLeftBottomTips(video ? tr("Export video success!") : tr("Export raw file success!"),
                                      NrMessageSuccess, dir);
    } else {
        qDebug() << "extract event data start:" << start << " end: " << end << " failed.";
        QString tip = video ? tr("Export video failed!") : tr("Export raw file failed!");
        if (!reason.empty())
            tip += QLatin1Char(' ') + QString::fromLocal8Bit(reason.c_str());
        emit signalShowLeftBottomTips(tip, NrMessageError, dir);
    }
    endBusy();
}

void NrEventProcessor::beginBusy() {
    if (busyJobs++ == 0)
        emit signalLoadingStatus(true);
}

void NrEventProcessor::endBusy() {
    if (busyJobs > 0 && --busyJobs == 0)
        emit signalLoadingStatus(false);
}
