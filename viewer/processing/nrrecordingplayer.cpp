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

norvale::FramePlacement NrRecordingPlayer::placement() const {
    norvale::FramePlacement p;
    p.step = frameStepUs;
    p.acc = accTimeUs;
    p.anchor = options.anchor;
    p.lower = lowerTs;
    p.upper = upperTs;
    return p;
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
        const norvale::FramePlacement p = placement();
        const uint64_t cur = std::max<uint64_t>(position_, p.lower); // the start point may have moved past us
        if (cur <= p.upper) {
            const norvale::EventWindow w = norvale::EventWindow::next(cur, p);
            const std::vector<Event2D>* events = readWindow(*file, generation, w);
            position_ = w.shownAt;
            if (events && (!events->empty() || options.showEmpty)) {
                shownEvents += events->size();
                sink.showFrame(*events, w.shownAt);
            }
            end = !events || w.shownAt >= p.upper;
        }
        if (end)
            position_ = p.lower;
    }
    if (!end || loop)
        return true;
    playingFlag = false;
    if (sink.ended)
        sink.ended();
    return false;
}

// Events with w.from <= t < w.to. The events of the last window read are kept: a window that starts
// within it and does not start before it (the paced loop and Next with an accumulation longer than
// the step) keeps what they share and reads only the rest; any other window is read afresh.
const std::vector<Event2D>* NrRecordingPlayer::readWindow(DvsFileReader& file, uint64_t generation,
                                                           const norvale::EventWindow& w) {
    // Only an overlap is worth keeping: a window that starts where the last one ended reads afresh
    // (filtering and appending would copy every event once more).
    const bool reuse = windowGeneration == generation && w.from >= windowStart && w.from < windowEnd;
    windowGeneration = 0; // until this read has succeeded
    bool ok = false;
    if (reuse) {
        // by timestamp, not position: file order need not be time order
        window.erase(std::remove_if(window.begin(), window.end(),
                                    [&w](const Event2D& e) { return !w.contains(e.timestamp); }),
                     window.end());
        ok = w.to <= windowEnd || file.readRange(windowEnd, w.to, windowFresh);
        if (ok && w.to > windowEnd)
            window.insert(window.end(), windowFresh.begin(), windowFresh.end());
    } else {
        ok = file.readRange(w.from, w.to, window);
    }
    if (!ok)
        return nullptr;
    windowStart = w.from;
    windowEnd = w.to;
    windowGeneration = generation;
    return &window;
}

void NrRecordingPlayer::perform(Request r, uint64_t ts) {
    uint64_t generation = 0;
    std::shared_ptr<DvsFileReader> file;
    {
        std::lock_guard<std::mutex> lock(mutex);
        file = current;
        generation = readerGeneration;
    }
    if (!file)
        return;
    std::lock_guard<std::mutex> lock(readerMutex);
    const norvale::FramePlacement p = placement();
    const uint64_t pos = position_;
    norvale::EventWindow w;
    switch (r) {
    case Request::Next:
        if (pos >= p.upper) // the range's last frame is on screen
            return;
        w = norvale::EventWindow::next(pos, p);
        break;
    case Request::Previous:
        // Back from the range's last, partial frame: the frame shown before it, not one step
        // before the end (a frame the user never saw).
        if (pos == p.upper && partialFrom < pos && pos - partialFrom < p.step && partialFrom >= p.lower)
            w = norvale::EventWindow::at(partialFrom, p);
        else
            w = norvale::EventWindow::previous(pos, p);
        break;
    case Request::Seek:
        w = norvale::EventWindow::at(ts, p);
        break;
    case Request::Reset:
        w = norvale::EventWindow::at(p.lower, p);
        break;
    case Request::None:
        return;
    }
    partialFrom = r == Request::Next ? pos : UINT64_MAX;
    position_ = w.shownAt;
    const std::vector<Event2D>* events = readWindow(*file, generation, w);
    if (!events) {
        qDebug() << "File read end.";
        return;
    }
    shownEvents += events->size();
    sink.showFrame(*events, w.shownAt); // a step shows its frame even when no event falls in it
}
