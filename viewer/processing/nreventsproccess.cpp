// Counting, rendering, and the glue between the processor's parts and its signals.
#include "processing/nreventsproccess.h"
#include "norvale/FuncUtils.h"

#include <QDebug>

#include <algorithm>
#include <chrono>

#include <QFileInfo>

#include "loadconfig.h"
#include "processing/nreventcounts.h"
#include "processing/nrlocaltime.h"

namespace {

nrcounts::Rgb toRgb(const QColor& c) { return toFrameRgb(c); }

} // namespace

NrEventProcessor::NrEventProcessor(QObject* parent)
    : QObject(parent), config(LoadConfig::getGlobalConfig()),
      front(*this, NrPlaybackFront::Options{{norvale::EventWindowAnchor::FrameStart, false}, kStepWaitMs, 1000000 / 33,
                                            33333, [this] { dvsFilePlayLoop(); }}) {
    connect(&front, &NrPlaybackFront::signalImage, this, &NrEventProcessor::signalEventImage);
    connect(&front, &NrPlaybackFront::signalTimeStamp, this, &NrEventProcessor::signalRealTimeTimeStamp);
    connect(&front, &NrPlaybackFront::signalLocalTime, this, &NrEventProcessor::signalLocalTime);
    connect(&front, &NrPlaybackFront::signalStartTimeStamp, this, &NrEventProcessor::signalStartTimeStamp);
    connect(&front, &NrPlaybackFront::signalEndTimeStamp, this, &NrEventProcessor::signalEndTimeStamp);
    connect(&front, &NrPlaybackFront::signalPlayStatus, this, &NrEventProcessor::signalPlayStatus);
    connect(&front, &NrPlaybackFront::signalLoadingStatus, this, &NrEventProcessor::signalLoadingStatus);
    connect(&front, &NrPlaybackFront::signalShowLeftBottomTips, this, &NrEventProcessor::signalShowLeftBottomTips);
    connect(&front, &NrPlaybackFront::signalProgress, this, &NrEventProcessor::signalProgress);
    setDisplay(1280, 720);
    renderWorker = std::thread(&NrEventProcessor::renderThread, this);
}

NrEventProcessor::~NrEventProcessor() {
    front.shutdown(); // the jobs and the player thread stop before the buffers they fill go
    {
        std::lock_guard<std::mutex> lock(renderMutex);
        renderRunning = false;
    }
    renderCond.notify_one();
    renderedCond.notify_all();
    if (renderWorker.joinable())
        renderWorker.join();
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
        front.mailbox().resize(w, h, config->dvsBackgroundColor);
        frameReady = false;
        height = h;
        width = w;
    }
    emit signalDisplaySize(w, h);
}

void NrEventProcessor::setProccessMode(NR_PLAY_MODE mode) { playMode = mode; }

void NrEventProcessor::dvsFilePlayLoop() { front.runPlayerLoop(); }

void NrEventProcessor::setDevicePtr(std::shared_ptr<norvale::DvsCamera> device) { camera = std::move(device); }

void NrEventProcessor::processEvents(const norvale::Event2D* begin, const norvale::Event2D* end) {
    const norvale::EventRun run{begin, end};
    processEventRuns(&run, 1);
}

void NrEventProcessor::processEventRuns(const norvale::EventRun* runs, size_t count) {
    const norvale::Event2D* firstEvent = nullptr;
    {
        std::lock_guard<std::mutex> lock(accMutex);
        for (size_t i = 0; i < count; ++i) {
            if (runs[i].begin == nullptr || runs[i].begin >= runs[i].end)
                continue;
            if (!firstEvent)
                firstEvent = runs[i].begin;
            nrcounts::countEvents(accumulateBuffer.data(), uint32_t(width), uint32_t(height), runs[i].begin,
                                  runs[i].end, uint16_t(maxEventCount));
        }
    }
    if (!firstEvent)
        return;
    const uint64_t first = firstEvent->timestamp;
    lastBatchTs = first;
    // A live frame lasts the period from its first batch; a batch outside it begins the next one,
    // also one earlier in time (a new stream: flush at once rather than wait for the old one's time).
    if (playMode == NR_FLUSH_BY_EVENT_TIME &&
        !norvale::EventWindow::startingAt(lastFlushTs, liveFramePeriodUs).contains(first)) {
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
    norvale::nameThisThread("event render");
    std::unique_lock<std::mutex> lock(renderMutex);
    for (;;) {
        renderCond.wait(lock, [this] { return frameReady || !renderRunning; });
        if (!renderRunning)
            return;
        frameReady = false;
        NrFrameMailbox& mailbox = front.mailbox();
        QImage* image = mailbox.beginFrame();
        if (image) {
            nrcounts::fillRows(image->bits(), size_t(image->bytesPerLine()), width, height,
                               toRgb(config->dvsBackgroundColor));
            visualizeEventsOnFrame(*image);
            if (renderHasTs)
                mailbox.publishFrame(renderTs);
            else
                mailbox.publishFrame();
        }
        renderedCond.notify_all();
    }
}

void NrEventProcessor::finishFrames() {
    // The render thread holds renderMutex for a whole render: once we hold it with no frame
    // waiting, every swapped frame is in the mailbox.
    // Bounded: a live camera swapping frames all the time must not hold the caller.
    std::unique_lock<std::mutex> lock(renderMutex);
    renderedCond.wait_for(lock, std::chrono::milliseconds(200), [this] { return !frameReady || !renderRunning; });
}

QString NrEventProcessor::tsToLocalTime(const norvale::SysTimePoint& recordStart, uint64_t ts, uint64_t startTs) {
    return nrLocalTime(recordStart, ts, startTs);
}

// Recordings: the front plays, steps and exports; this processor paints.

void NrEventProcessor::paintWindow(const std::vector<norvale::Event2D>& events, uint64_t ts) {
    processEvents(events.data(), events.data() + events.size());
    front.mailbox().publishTimestamp(ts, true);
    swapEventBuffer();
}

QString NrEventProcessor::finishLoad(const NrLoadResult& r, bool ok) {
    if (!ok)
        return QString();
    // Shown at its own size; nothing plays yet, so the buffers can change.
    if (int(r.info.width) != width || int(r.info.height) != height)
        setDisplay(int(r.info.width), int(r.info.height));
    emit signalTriggerList(r.triggers);
    const uint64_t rateEnd = r.rate.startTimestamp + uint64_t(r.rate.counts.size()) * r.rate.slotDurationUs;
    emit signalRateProfile(r.rate.counts, r.rate.startTimestamp, rateEnd);
    return QString();
}

void NrEventProcessor::loadFile(QString path) {
    if (path.isEmpty())
        front.close();
    else
        front.open(path);
}

void NrEventProcessor::setFps(int fps) { front.setFps(fps); }
void NrEventProcessor::setAccTime(uint64_t time_us) { front.setAccTime(time_us); }
void NrEventProcessor::preFrame() { front.preFrame(); }
void NrEventProcessor::nextFrame() { front.nextFrame(); }
void NrEventProcessor::setPlayPos(uint64_t ts) { front.setPlayPos(ts); }
void NrEventProcessor::slotPlaybackCtrl(bool play) { front.slotPlaybackCtrl(play); }
void NrEventProcessor::slotPlaybackReset() { front.slotPlaybackReset(); }
void NrEventProcessor::slotPlayLoop(bool on) { front.slotPlayLoop(on); }
void NrEventProcessor::slotSetLowerTimeStamp(uint64_t ts) { front.slotSetLowerTimeStamp(ts); }
void NrEventProcessor::slotSetUpperTimeStamp(uint64_t ts) { front.slotSetUpperTimeStamp(ts); }
void NrEventProcessor::cancelWork() { front.cancelWork(); }

void NrEventProcessor::slotCutRawFile(QString qs_out_full_path, QString qs_out_dir, uint64_t start_ts,
                                      uint64_t end_ts) {
    front.cutRecording(qs_out_full_path, qs_out_dir, start_ts, end_ts);
}

void NrEventProcessor::slotExportVideo(QString qs_out_full_path, QString qs_out_dir, uint64_t start_ts,
                                       uint64_t end_ts) {
    const NrRecordingPlayer& player = front.player();
    if (!player.usable())
        return;
    // The video plays like the viewer: display rate, frame step, accumulation, window placement.
    const uint64_t step = std::max<uint64_t>(player.frameStep(), 1);
    norvale::VideoExportOptions o;
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
    front.exportVideo(qs_out_full_path, qs_out_dir, start_ts, end_ts, o);
}
