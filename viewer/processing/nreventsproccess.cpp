// Accumulation, rendering and the hand-over of results to the owner thread.
#include "processing/nreventsproccess.h"

#include <QDebug>

#include <algorithm>
#include <chrono>

#include "loadconfig.h"
#include "norvale/DvsFileReader.h"
#include "processing/nreventcounts.h"
#include "processing/nrwakeup.h"

namespace {

nrcounts::Rgb toRgb(const QColor& c) { return {uint8_t(c.red()), uint8_t(c.green()), uint8_t(c.blue())}; }

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

NrEventProcessor::NrEventProcessor(QObject* parent) : QObject(parent) {
    registerTypes();
    config = LoadConfig::getGlobalConfig();
    wakeup = new NrWakeup(this);
    connect(wakeup, &NrWakeup::woken, this, &NrEventProcessor::deliverPending);
    setDisplay(1280, 720);
    renderWorker = std::thread(&NrEventProcessor::renderThread, this);
}

NrEventProcessor::~NrEventProcessor() {
    {
        std::lock_guard<std::mutex> lock(renderMutex);
        renderRunning = false;
    }
    renderCond.notify_one();
    if (renderWorker.joinable())
        renderWorker.join();
    abandonLoading();
    stopPlayback(false);
    cancelWork = true; // a running video export stops at its next frame
    if (exportThread.joinable())
        exportThread.join();
    if (cutThread.joinable())
        cutThread.join();
    reader.reset();
}

void NrEventProcessor::setDisplay(int w, int h) {
    if (w <= 0 || h <= 0)
        return;
    std::lock_guard<std::mutex> acc(accMutex);
    std::lock_guard<std::mutex> render(renderMutex);
    std::lock_guard<std::mutex> mail(mailMutex);
    const size_t n = nrcounts::countBufferSize(w, h);
    accumulateBuffer.assign(n, 0);
    accumulateBuffer.shrink_to_fit();
    renderBuffer.assign(n, 0);
    renderBuffer.shrink_to_fit();
    for (int i = 0; i < kFrameSlots; ++i) {
        frames[size_t(i)] = QImage(w, h, QImage::Format_RGB888);
        frames[size_t(i)].fill(config->dvsBackgroundColor);
        frameState[size_t(i)] = FrameState::Free;
    }
    pendingFrame = -1;
    frameReady = false;
    height = h;
    width = w;
}

void NrEventProcessor::setProccessMode(NR_PLAY_MODE mode) { playMode = mode; }

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
    if (playMode == NR_FLUSH_BY_EVENT_TIME && first >= lastFlushTs + liveFramePeriodUs) {
        publishTimestamp(first, false);
        lastFlushTs = first;
        swapEventBuffer();
    }
}

void NrEventProcessor::flushEventsDisplay() {
    emit signalRealTimeTimeStamp(lastBatchTs);
    swapEventBuffer();
}

void NrEventProcessor::swapEventBuffer() {
    std::lock_guard<std::mutex> acc(accMutex);
    std::lock_guard<std::mutex> render(renderMutex);
    accumulateBuffer.swap(renderBuffer);
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

// Called with renderMutex held (so width and height are stable).
int NrEventProcessor::takeFrameSlot() {
    std::lock_guard<std::mutex> lock(mailMutex);
    for (int i = 0; i < kFrameSlots; ++i) {
        if (frameState[size_t(i)] == FrameState::Free) {
            frameState[size_t(i)] = FrameState::Painting;
            return i;
        }
    }
    // Receivers still hold every delivered image: leave them theirs and paint into a new one.
    for (int i = 0; i < kFrameSlots; ++i) {
        if (frameState[size_t(i)] == FrameState::Lent) {
            frames[size_t(i)] = QImage(width, height, QImage::Format_RGB888);
            frameState[size_t(i)] = FrameState::Painting;
            return i;
        }
    }
    return -1; // cannot happen: at most one slot is pending and one painting
}

void NrEventProcessor::renderThread() {
    std::unique_lock<std::mutex> lock(renderMutex);
    for (;;) {
        renderCond.wait(lock, [this] { return frameReady || !renderRunning; });
        if (!renderRunning)
            return;
        frameReady = false;
        const int slot = takeFrameSlot();
        if (slot < 0)
            continue;
        QImage& image = frames[size_t(slot)];
        nrcounts::fillRows(image.bits(), size_t(image.bytesPerLine()), width, height,
                           toRgb(config->dvsBackgroundColor));
        visualizeEventsOnFrame(image);
        bool wake = false;
        {
            std::lock_guard<std::mutex> mail(mailMutex);
            if (pendingFrame >= 0)
                frameState[size_t(pendingFrame)] = FrameState::Free; // never delivered: superseded
            else
                wake = true;
            pendingFrame = slot;
            frameState[size_t(slot)] = FrameState::Pending;
        }
        if (wake)
            wakeup->wake();
    }
}

void NrEventProcessor::publishTimestamp(uint64_t ts, bool withLocalTime) {
    {
        std::lock_guard<std::mutex> lock(mailMutex);
        pendingTs = ts;
        pendingTsSet = true;
        pendingTsLocal = withLocalTime;
    }
    wakeup->wake();
}

void NrEventProcessor::publishProgress(double fraction) {
    {
        std::lock_guard<std::mutex> lock(mailMutex);
        pendingProgress = fraction;
        pendingProgressSet = true;
    }
    wakeup->wake();
}

void NrEventProcessor::deliverPending() {
    uint64_t ts = 0;
    bool tsSet = false;
    bool tsLocal = false;
    double progress = 0;
    bool progressSet = false;
    int slot = -1;
    QImage image;
    {
        std::lock_guard<std::mutex> lock(mailMutex);
        std::swap(ts, pendingTs);
        std::swap(tsSet, pendingTsSet);
        std::swap(tsLocal, pendingTsLocal);
        std::swap(progress, pendingProgress);
        std::swap(progressSet, pendingProgressSet);
        std::swap(slot, pendingFrame);
        if (slot >= 0) {
            frameState[size_t(slot)] = FrameState::Lent;
            image = frames[size_t(slot)];
        }
    }
    if (tsSet) {
        emit signalRealTimeTimeStamp(ts);
        if (tsLocal)
            emit signalLocalTime(tsToLocalTime(fileInfo.recordStartTime, ts, fileInfo.dvsStartTimestamp));
    }
    if (slot >= 0) {
        emit signalEventImage(image);
        image = QImage();
        std::lock_guard<std::mutex> lock(mailMutex);
        // Reusable once no receiver kept a copy; otherwise the render thread replaces it.
        if (frameState[size_t(slot)] == FrameState::Lent && frames[size_t(slot)].isDetached())
            frameState[size_t(slot)] = FrameState::Free;
    }
    if (progressSet)
        emit signalProgress(progress);
}

void NrEventProcessor::postToOwner(std::function<void()> f) {
    QMetaObject::invokeMethod(
        this,
        [this, f = std::move(f)] {
            deliverPending();
            f();
        },
        Qt::QueuedConnection);
}

QString NrEventProcessor::tsToLocalTime(const norvale::SysTimePoint& recordStart, uint64_t ts, uint64_t startTs) {
    const int64_t deltaUs = ts >= startTs ? int64_t(ts - startTs) : -int64_t(startTs - ts);
    const norvale::SysTimePoint tp = recordStart + std::chrono::microseconds(deltaUs);
    return QString::fromStdString(norvale::timePointToString(tp));
}

void NrEventProcessor::setFps(int newFps) {
    if (newFps <= 0) {
        qDebug() << "ignored fps:" << newFps;
        return;
    }
    fps = newFps;
    frameIntervalUs = uint64_t(1000000 / newFps);
    qDebug() << "set fps: " << newFps << " time interval: " << frameIntervalUs.load();
}

void NrEventProcessor::setAccTime(uint64_t time_us) { accTimeUs = time_us; }
