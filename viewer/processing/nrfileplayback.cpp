// Raw file playback of NrEventProcessor: loading, the playback thread, steps, seeks, reset, trim range.
#include <QDebug>
#include <QFileInfo>

#include <algorithm>
#include <chrono>

#include "norvale/DvsFileReader.h"
#include "processing/nreventsproccess.h"

using norvale::DvsFileReader;
using norvale::Event2D;

// Shared by the processor and its loading thread, so that the thread never touches a destroyed processor.
struct NrEventProcessor::LoadJob {
    std::mutex mutex;                  // held while the thread hands its result over
    NrEventProcessor* owner = nullptr; // cleared by the processor's destructor
    bool finished = false;             // mutex
    std::condition_variable finishedCond;
    std::shared_ptr<DvsFileReader> reader;
    QString path;
    bool dropped = false; // owner thread: the file was closed while it loaded
};

struct NrEventProcessor::LoadResult {
    bool ok = false;
    uint64_t startTs = 0;
    uint64_t endTs = 0;
    norvale::DvsFileInfo info;
    NrTriggerList triggers;
    norvale::RateProfile rate;
};

bool NrEventProcessor::usable() const { return reader != nullptr && !loading; }

bool NrEventProcessor::refuseWhileWorking(const char* request) {
    if (!workRunning())
        return false;
    qDebug() << request << "ignored: an export or cut is using the file.";
    return true;
}

void NrEventProcessor::stopPlayback(bool deliver) {
    {
        std::lock_guard<std::mutex> lock(pacingMutex);
        playing = false;
    }
    pacingCond.notify_all();
    if (!playThread.joinable())
        return;
    playThread.join();
    // What the thread showed last reaches the receivers now, before whatever the caller does next.
    if (deliver)
        deliverPending();
}

void NrEventProcessor::loadFile(QString path) {
    if (path.isEmpty()) {
        emit signalPlayStatus(false);
        stopPlayback();
        reader.reset();
        if (loadJob)
            loadJob->dropped = true; // a load still running is discarded when it ends
        return;
    }
    qDebug() << "Load raw file: " << path;
    if (loading) {
        qDebug() << "is loading.";
        return;
    }
    emit signalPlayStatus(false);
    stopPlayback();
    reader.reset();
    windowValid = false;
    std::unique_ptr<DvsFileReader> created = DvsFileReader::createFileReader(path.toLocal8Bit().toStdString());
    if (!created) {
        qDebug() << "not raw file.";
        reportUnreadable(path);
        return;
    }
    reader = std::move(created);
    if (loadThread.joinable())
        loadThread.join();
    auto job = std::make_shared<LoadJob>();
    job->owner = this;
    job->reader = reader;
    job->path = path;
    loadJob = job;
    loading = true;
    beginBusy();
    loadThread = std::thread(&NrEventProcessor::loadWork, this, job);
}

// Loading thread: touches only the job until it hands the result over under the job's lock.
void NrEventProcessor::loadWork(std::shared_ptr<LoadJob> job) {
    LoadResult r;
    DvsFileReader& file = *job->reader;
    r.ok = file.prepareFile() && file.getStartTimestamp(r.startTs) && file.getEndTimestamp(r.endTs);
    if (r.ok) {
        file.getFileInfo(r.info);
        r.rate = file.getRateProfile();
        std::vector<norvale::EventTriggerIn> triggers;
        if (file.getTriggerList(triggers)) {
            r.triggers.reserve(triggers.size());
            for (const norvale::EventTriggerIn& t : triggers)
                r.triggers.emplace_back(t.timestamp, uint8_t(t.value & 0xff));
        } else {
            qDebug() << "No triggers found in file or error reading triggers.";
        }
    }
    std::lock_guard<std::mutex> lock(job->mutex);
    if (job->owner)
        job->owner->postToOwner([this, job, r] { finishLoading(job, r); });
    job->finished = true;
    job->finishedCond.notify_all();
}

void NrEventProcessor::finishLoading(std::shared_ptr<LoadJob> job, const LoadResult& r) {
    loading = false;
    if (job->dropped) {
        endBusy();
        return;
    }
    if (!r.ok) {
        qDebug() << "not raw file.";
        reader.reset();
        reportUnreadable(job->path);
        endBusy();
        return;
    }
    lowerTs = r.startTs;
    upperTs = r.endTs;
    fileInfo = r.info;
    qDebug() << "Start time: " << r.startTs;
    qDebug() << "End time: " << r.endTs;
    currentTs = r.startTs;
    emit signalTriggerList(r.triggers);
    const uint64_t rateEnd = r.rate.startTimestamp + uint64_t(r.rate.counts.size()) * r.rate.slotDurationUs;
    emit signalRateProfile(r.rate.counts, r.rate.startTimestamp, rateEnd);
    emit signalEndTimeStamp(r.endTs);
    emit signalStartTimeStamp(r.startTs);
    emit signalRealTimeTimeStamp(r.startTs);
    emit signalLocalTime(tsToLocalTime(fileInfo.recordStartTime, r.startTs, fileInfo.dvsStartTimestamp));
    emit signalPlayStatus(true);
    endBusy();
    qDebug() << "Load raw file success.";
}

void NrEventProcessor::reportUnreadable(const QString& path) {
    const QFileInfo info(path);
    emit signalShowLeftBottomTips(tr("Cannot open the recording: ") + info.fileName(), NrMessageError,
                                  info.absoluteFilePath());
}

void NrEventProcessor::abandonLoading() {
    std::shared_ptr<LoadJob> job = loadJob;
    if (!loadThread.joinable())
        return;
    // loadJob is the job of the last loading thread started.
    bool finished = true;
    if (job) {
        std::unique_lock<std::mutex> lock(job->mutex);
        job->owner = nullptr;
        finished = job->finishedCond.wait_for(lock, std::chrono::milliseconds(kLoadAbandonWaitMs),
                                               [&] { return job->finished; });
    }
    if (finished)
        loadThread.join();
    else
        loadThread.detach(); // still inside the driver; it holds its own reader and job
}

void NrEventProcessor::slotPlaybackCtrl(bool play) {
    if (!play) {
        stopPlayback();
        return;
    }
    if (!usable())
        return;
    if (refuseWhileWorking("play")) {
        emit signalPlayStatus(false);
        return;
    }
    if (playing)
        return;
    if (playThread.joinable())
        playThread.join(); // ended by itself at the end of the range
    playing = true;
    playThread = std::thread(&NrEventProcessor::dvsFilePlayLoop, this);
}

void NrEventProcessor::dvsFilePlayLoop() {
    using Clock = std::chrono::steady_clock;
    while (playing && reader) {
        const Clock::time_point t0 = Clock::now();
        if (!playStep())
            return;
        std::unique_lock<std::mutex> lock(pacingMutex);
        pacingCond.wait_until(lock, t0 + std::chrono::microseconds(kPlayStepUs), [this] { return !playing; });
    }
}

// One step of the playback thread: read, accumulate, swap. False when playback has ended.
bool NrEventProcessor::playStep() {
    std::lock_guard<std::mutex> lock(playMutex);
    const uint64_t lo = lowerTs;
    const uint64_t hi = upperTs;
    const uint64_t interval = frameIntervalUs;
    uint64_t cur = std::max<uint64_t>(currentTs, lo); // the start point may have moved past us
    bool end = true;
    if (cur <= hi) {
        const std::vector<Event2D>* events = nullptr;
        if (interval > hi - cur) { // the last, partial window includes hi
            events = readWindow(cur, hi == UINT64_MAX ? hi : hi + 1);
            cur = hi;
        } else {
            const uint64_t acc = accTimeUs;
            events = readWindow(cur, acc > UINT64_MAX - cur ? UINT64_MAX : cur + acc);
            cur += interval;
        }
        currentTs = cur;
        if (events && !events->empty())
            showFrame(*events, cur);
        end = !events || cur >= hi;
    }
    if (!end)
        return true;
    reader->seekTime(lo);
    currentTs = lo;
    if (loop)
        return true;
    playing = false;
    postToOwner([this] { emit signalPlayStatus(false); });
    return false;
}

// Events with start <= t < end. Consecutive windows overlap when the accumulation is longer than
// the frame interval: the part already read is kept and only the new part comes from the file.
const std::vector<Event2D>* NrEventProcessor::readWindow(uint64_t start, uint64_t end) {
    if (windowValid && start >= windowStart && start <= windowEnd && end >= windowEnd) {
        if (!reader->readRange(windowEnd, end, windowFresh)) {
            windowValid = false;
            return nullptr;
        }
        if (start > windowStart) // by timestamp, not position: file order need not be time order
            window.erase(std::remove_if(window.begin(), window.end(),
                                        [start](const Event2D& e) { return e.timestamp < start; }),
                         window.end());
        window.insert(window.end(), windowFresh.begin(), windowFresh.end());
    } else if (!reader->readRange(start, end, window)) {
        windowValid = false;
        return nullptr;
    }
    windowValid = true;
    windowStart = start;
    windowEnd = end;
    return &window;
}

// A step or seek may use the reader when a file is loaded and no export or cut holds it; it
// pauses playback first.
bool NrEventProcessor::beginStep(const char* request) {
    if (!usable()) {
        qDebug() << "not raw file.";
        return false;
    }
    if (refuseWhileWorking(request))
        return false;
    if (playing) {
        stopPlayback();
        emit signalPlayStatus(false);
    }
    return true;
}

void NrEventProcessor::showFrame(const std::vector<Event2D>& events, uint64_t ts) {
    processEvents(events.data(), events.data() + events.size());
    publishTimestamp(ts, true);
    swapEventBuffer();
}

void NrEventProcessor::preFrame() {
    if (!beginStep("previous frame"))
        return;
    const uint64_t lo = lowerTs;
    const uint64_t interval = frameIntervalUs;
    uint64_t cur = currentTs;
    cur = (cur < interval || cur - interval < lo) ? lo : cur - interval;
    currentTs = cur;
    std::unique_lock<std::mutex> lock(playMutex, std::try_to_lock);
    if (!lock)
        return;
    if (reader->seekTime(cur)) {
        std::shared_ptr<std::vector<Event2D>> events = reader->readNextEvents(accTimeUs);
        if (events)
            showFrame(*events, cur);
    }
    lock.unlock();
    deliverPending();
}

void NrEventProcessor::nextFrame() {
    if (!beginStep("next frame"))
        return;
    std::unique_lock<std::mutex> lock(playMutex, std::try_to_lock);
    if (!lock)
        return;
    const uint64_t cur = currentTs;
    const uint64_t acc = accTimeUs;
    const uint64_t hi = upperTs;
    if (cur < hi && acc < hi - cur) {
        std::shared_ptr<std::vector<Event2D>> events = reader->readEvents(cur, acc);
        const uint64_t shown = cur + frameIntervalUs;
        currentTs = shown;
        if (!events)
            qDebug() << "File read end.";
        else
            showFrame(*events, shown);
    }
    lock.unlock();
    deliverPending();
}

void NrEventProcessor::setPlayPos(uint64_t ts) {
    if (usable() && (ts < lowerTs || ts > upperTs))
        return;
    if (!beginStep("seek"))
        return;
    std::unique_lock<std::mutex> lock(playMutex, std::try_to_lock);
    if (!lock)
        return;
    if (reader->seekTime(ts)) {
        const uint64_t acc = accTimeUs;
        std::shared_ptr<std::vector<Event2D>> events = reader->readEvents(ts, acc);
        const uint64_t shown = ts + acc;
        currentTs = shown;
        if (events)
            showFrame(*events, shown);
    } else {
        qDebug() << "seek time err." << ts;
    }
    lock.unlock();
    deliverPending();
}

void NrEventProcessor::slotPlaybackReset() {
    if (!usable()) {
        qDebug() << "not raw file.";
        return;
    }
    if (refuseWhileWorking("reset"))
        return;
    stopPlayback();
    const uint64_t lo = lowerTs;
    std::unique_lock<std::mutex> lock(playMutex, std::try_to_lock);
    if (!lock)
        return;
    reader->seekTime(lo);
    std::shared_ptr<std::vector<Event2D>> events = reader->readEvents(lo, accTimeUs);
    if (events) {
        processEvents(events->data(), events->data() + events->size());
        swapEventBuffer();
    }
    events.reset();
    lock.unlock();
    qDebug() << "set ts: " << lo;
    publishTimestamp(lo, true);
    currentTs = lo;
    deliverPending();
    emit signalPlayStatus(false);
}

void NrEventProcessor::slotPlayLoop(bool on) { loop = on; }

void NrEventProcessor::slotSetLowerTimeStamp(uint64_t ts) { lowerTs = ts; }

void NrEventProcessor::slotSetUpperTimeStamp(uint64_t ts) { upperTs = ts; }
