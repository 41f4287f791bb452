#include "processing/nrrecordingplayer.h"

#include <QDebug>

#include <algorithm>

using norvale::DvsFileReader;
using norvale::Event2D;
using Clock = std::chrono::steady_clock;

// Shared by the player and its loading thread, so that the thread never touches a destroyed player.
struct NrRecordingPlayer::LoadJob {
    std::mutex mutex;       // held while the thread reports
    bool abandoned = false; // mutex: the player is gone, report nothing
    bool finished = false;  // mutex
    std::condition_variable finishedCond;
    std::function<void(std::shared_ptr<LoadJob>, const NrLoadResult&)> report;
    std::shared_ptr<DvsFileReader> reader;
    Companion companion;
    bool dropped = false; // owner thread: the recording was closed while it loaded
};

NrRecordingPlayer::NrRecordingPlayer(Sink s) : NrRecordingPlayer(std::move(s), Options{}) {}

NrRecordingPlayer::NrRecordingPlayer(Sink s, Options o)
    : sink(std::move(s)), options(o), thread([this] {
          if (sink.threadBody)
              sink.threadBody();
          else
              runLoop();
      }) {}

NrRecordingPlayer::~NrRecordingPlayer() {
    abandonLoading();
    {
        std::lock_guard<std::mutex> lock(mutex);
        quit = true;
        playRequested = false;
        pending = Request::None;
    }
    playingFlag = false;
    wake.notify_all();
    thread.join();
}

std::shared_ptr<DvsFileReader> NrRecordingPlayer::reader() const {
    std::lock_guard<std::mutex> lock(mutex);
    return current;
}

void NrRecordingPlayer::replaceReader(std::shared_ptr<DvsFileReader> r) {
    std::lock_guard<std::mutex> lock(mutex);
    current = std::move(r);
    ++readerGeneration;
    pending = Request::None;
}

bool NrRecordingPlayer::open(const QString& path, Companion companion) {
    close();
    std::shared_ptr<DvsFileReader> created = DvsFileReader::createFileReader(path.toLocal8Bit().toStdString());
    if (!created)
        return false;
    replaceReader(created);
    if (loadThread.joinable())
        loadThread.join(); // a dropped load that has reported already
    auto j = std::make_shared<LoadJob>();
    j->reader = created;
    j->companion = std::move(companion);
    j->report = sink.loaded;
    job = j;
    loadingFlag = true;
    loadThread = std::thread(&NrRecordingPlayer::loadWork, j);
    return true;
}

void NrRecordingPlayer::close() {
    stop();
    replaceReader(nullptr);
    waitIdle(std::chrono::milliseconds::max()); // a request picked up before the reader went
    if (job)
        job->dropped = true; // a load still running is discarded when it ends
}

// Loading thread: touches only the job until it reports under the job's lock.
void NrRecordingPlayer::loadWork(std::shared_ptr<LoadJob> j) {
    NrLoadResult r;
    DvsFileReader& file = *j->reader;
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
        if (j->companion)
            r.ok = j->companion(r);
    }
    std::lock_guard<std::mutex> lock(j->mutex);
    if (!j->abandoned && j->report)
        j->report(j, r);
    j->finished = true;
    j->finishedCond.notify_all();
}

NrRecordingPlayer::Adoption NrRecordingPlayer::adopt(const std::shared_ptr<LoadJob>& j, const NrLoadResult& r) {
    if (j != job)
        return Adoption::Dropped;
    loadingFlag = false;
    if (j->dropped)
        return Adoption::Dropped;
    if (!r.ok) {
        replaceReader(nullptr);
        return Adoption::Failed;
    }
    lowerTs = r.startTs;
    upperTs = r.endTs;
    position_ = r.startTs;
    info = r.info;
    return Adoption::Ready;
}

void NrRecordingPlayer::abandonLoading() {
    if (!loadThread.joinable())
        return;
    // job is the job of the last loading thread started.
    bool finished = true;
    if (job) {
        std::unique_lock<std::mutex> lock(job->mutex);
        job->abandoned = true;
        finished = job->finishedCond.wait_for(lock, std::chrono::milliseconds(kLoadAbandonWaitMs),
                                               [this] { return job->finished; });
    }
    if (finished)
        loadThread.join();
    else
        loadThread.detach(); // still inside the driver; it holds its own reader and job
}

void NrRecordingPlayer::play() {
    if (!usable())
        return;
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (playRequested)
            return;
        playRequested = true;
        playingFlag = true;
        nextStepAt = Clock::now();
    }
    wake.notify_all();
}

void NrRecordingPlayer::stop() {
    std::unique_lock<std::mutex> lock(mutex);
    playRequested = false;
    playingFlag = false;
    wake.notify_all();
    idleCond.wait(lock, [this] { return !busy; });
}

void NrRecordingPlayer::request(Request r, uint64_t ts) {
    {
        std::lock_guard<std::mutex> lock(mutex);
        pending = r;
        pendingTs = ts;
    }
    wake.notify_all();
}

bool NrRecordingPlayer::waitIdle(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(mutex);
    auto idle = [this] { return !busy && pending == Request::None; };
    if (timeout == std::chrono::milliseconds::max()) {
        idleCond.wait(lock, idle);
        return true;
    }
    return idleCond.wait_for(lock, timeout, idle);
}

void NrRecordingPlayer::runLoop() {
    std::unique_lock<std::mutex> lock(mutex);
    while (!quit) {
        if (pending != Request::None) {
            const Request r = pending;
            const uint64_t ts = pendingTs;
            pending = Request::None;
            busy = true;
            lock.unlock();
            perform(r, ts);
            lock.lock();
            busy = false;
            idleCond.notify_all();
            continue;
        }
        if (!playRequested) {
            wake.wait(lock);
            continue;
        }
        const Clock::time_point now = Clock::now();
        if (now < nextStepAt) {
            wake.wait_until(lock, nextStepAt); // or a request, a stop
            continue;
        }
        nextStepAt = now + std::chrono::microseconds(norvale::kDisplayPeriodUs);
        busy = true;
        lock.unlock();
        const bool more = playStep();
        lock.lock();
        busy = false;
        if (!more)
            playRequested = false;
        idleCond.notify_all();
    }
}

bool NrRecordingPlayer::playStep() {
    uint64_t generation = 0;
    std::shared_ptr<DvsFileReader> file;
    {
        std::lock_guard<std::mutex> lock(mutex);
        file = current;
        generation = readerGeneration;
    }
    if (!file)
        return false;
    bool end = true;
    {
        std::lock_guard<std::mutex> lock(readerMutex);
        if (windowGeneration != generation) {
            window.clear();
            windowGeneration = 0;
        }
        const uint64_t lo = lowerTs;
        const uint64_t hi = upperTs;
        const uint64_t step = frameStepUs;
        uint64_t cur = std::max<uint64_t>(position_, lo); // the start point may have moved past us
        if (cur <= hi) {
            const std::vector<Event2D>* events = nullptr;
            const uint64_t acc = accTimeUs;
            const bool last = step > hi - cur; // the last, partial window includes hi
            const uint64_t next = last ? hi : cur + step;
            uint64_t from = cur;
            uint64_t to = acc > UINT64_MAX - cur ? UINT64_MAX : cur + acc;
            if (options.anchor == norvale::EventWindowAnchor::FrameEnd) {
                from = next > acc ? next - acc : 0;
                to = next;
            }
            if (last)
                to = hi == UINT64_MAX ? hi : hi + 1;
            events = readWindow(*file, from, to);
            cur = next;
            windowGeneration = events ? generation : 0;
            position_ = cur;
            if (events && (!events->empty() || options.showEmpty))
                sink.showFrame(*events, cur);
            end = !events || cur >= hi;
        }
        if (end) {
            file->seekTime(lo);
            position_ = lo;
        }
    }
    if (!end || loop)
        return true;
    playingFlag = false;
    if (sink.ended)
        sink.ended();
    return false;
}

// Events with start <= t < end. Consecutive windows overlap when the accumulation is longer than
// the frame step: the part already read is kept and only the new part comes from the file.
const std::vector<Event2D>* NrRecordingPlayer::readWindow(DvsFileReader& file, uint64_t start, uint64_t end) {
    if (windowGeneration != 0 && start >= windowStart && start <= windowEnd && end >= windowEnd) {
        if (!file.readRange(windowEnd, end, windowFresh))
            return nullptr;
        if (start > windowStart) // by timestamp, not position: file order need not be time order
            window.erase(std::remove_if(window.begin(), window.end(),
                                        [start](const Event2D& e) { return e.timestamp < start; }),
                         window.end());
        window.insert(window.end(), windowFresh.begin(), windowFresh.end());
    } else if (!file.readRange(start, end, window)) {
        return nullptr;
    }
    windowStart = start;
    windowEnd = end;
    return &window;
}

void NrRecordingPlayer::perform(Request r, uint64_t ts) {
    std::shared_ptr<DvsFileReader> file = reader();
    if (!file)
        return;
    std::lock_guard<std::mutex> lock(readerMutex);
    if (options.anchor == norvale::EventWindowAnchor::FrameEnd) {
        performEndAnchored(*file, r, ts);
        return;
    }
    const uint64_t acc = accTimeUs;
    const uint64_t step = frameStepUs;
    switch (r) {
    case Request::Previous: {
        const uint64_t lo = lowerTs;
        uint64_t cur = position_;
        cur = (cur < step || cur - step < lo) ? lo : cur - step;
        position_ = cur;
        if (file->seekTime(cur)) {
            std::shared_ptr<std::vector<Event2D>> events = file->readNextEvents(acc);
            if (events)
                sink.showFrame(*events, cur);
        }
        break;
    }
    case Request::Next: {
        const uint64_t cur = position_;
        const uint64_t hi = upperTs;
        if (cur < hi && acc < hi - cur) {
            std::shared_ptr<std::vector<Event2D>> events = file->readEvents(cur, acc);
            const uint64_t shown = cur + step;
            position_ = shown;
            if (!events)
                qDebug() << "File read end.";
            else
                sink.showFrame(*events, shown);
        }
        break;
    }
    case Request::Seek:
        if (file->seekTime(ts)) {
            std::shared_ptr<std::vector<Event2D>> events = file->readEvents(ts, acc);
            const uint64_t shown = ts + acc;
            position_ = shown;
            if (events)
                sink.showFrame(*events, shown);
        } else {
            qDebug() << "seek time err." << ts;
        }
        break;
    case Request::Reset: {
        const uint64_t lo = lowerTs;
        file->seekTime(lo);
        std::shared_ptr<std::vector<Event2D>> events = file->readEvents(lo, acc);
        position_ = lo;
        if (events)
            sink.showFrame(*events, lo);
        break;
    }
    case Request::None:
        break;
    }
}

// Steps of a player whose windows end at the frame's time: each shows [t - accTimeUs, t) at its
// target t (previous: one step back, not below lowerTs; next: one step on while the window stays
// before upperTs; seek: ts; reset: lowerTs). readerMutex is held.
void NrRecordingPlayer::performEndAnchored(DvsFileReader& file, Request r, uint64_t ts) {
    const uint64_t acc = accTimeUs;
    const uint64_t step = frameStepUs;
    const uint64_t lo = lowerTs;
    const uint64_t hi = upperTs;
    uint64_t t = position_;
    switch (r) {
    case Request::Previous:
        t = (t < step || t - step < lo) ? lo : t - step;
        break;
    case Request::Next:
        if (t >= hi || acc >= hi - t)
            return;
        t += step;
        break;
    case Request::Seek:
        t = ts;
        break;
    case Request::Reset:
        t = lo;
        break;
    case Request::None:
        return;
    }
    position_ = t;
    windowGeneration = 0;
    const uint64_t start = t > acc ? t - acc : 0;
    if (!file.readRange(start, t, window)) {
        qDebug() << "File read end.";
        return;
    }
    sink.showFrame(window, t);
}
