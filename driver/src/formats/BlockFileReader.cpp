#include "formats/BlockFileReader.h"

#include <sys/stat.h>
#include <unistd.h>


#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

#include "norvale/FuncUtils.h"
#include "norvale/Logger.h"

namespace norvale::detail {

std::unique_ptr<BlockFileReader> BlockFileReader::open(const std::string& path, EventFileFormat format,
                                                       std::string& problem) {
    std::unique_ptr<BlockFileReader> r(new BlockFileReader());
    r->filePath = path;
    r->fileFormat = format;
    r->fd = openRegularFile(path, problem);
    struct stat st {};
    if (r->fd < 0 || ::fstat(r->fd, &st) != 0) return nullptr;
    r->fileSize = uint64_t(st.st_size);
    r->modified = SysTimePoint(std::chrono::seconds(st.st_mtim.tv_sec) + std::chrono::nanoseconds(st.st_mtim.tv_nsec));
    r->source = makeBlockSource(format);
    if (!r->source) {
        problem = std::string("reading ") + formatInfo(format).name + " files is not available in this build";
        return nullptr;
    }
    if (!r->source->open(path, problem)) return nullptr;
    return r;
}

BlockFileReader::~BlockFileReader() {
    if (fd >= 0) ::close(fd);
}

namespace {

// One per core, at most 8: each holds a source and blocks read ahead, and reading the file's pages
// stops paying off before that.
size_t usableThreads() { return std::min<size_t>(usableCores(), 8); }

// Few blocks are not worth a thread.
constexpr size_t kBlocksPerThread = 4;

// Blocks a thread sums up per hand-over while indexing.
constexpr size_t kSummaryBatch = 16;

// Events of a range worth decoding on a second thread.
constexpr uint64_t kSplitRangeEvents = uint64_t(1) << 16;

} // namespace

// The figures gathered while indexing, block after block in file order.
struct BlockFileReader::Indexing {
    uint64_t events = 0, on = 0;
    uint64_t minTime = UINT64_MAX, maxTime = 0; // of the events
    uint64_t maxX = 0, maxY = 0;
    uint64_t timeMax = 0; // of events and triggers
    bool haveFirst = false;
    uint64_t firstTimestamp = 0;
    bool ordered = true;
    RateCounter rate;
};

// What the index needs of one block's events, gathered on the thread that read it.
struct BlockFileReader::BlockFigures {
    uint64_t minTime = UINT64_MAX, maxTime = 0, on = 0;
    uint32_t maxX = 0, maxY = 0;
    bool ordered = true; // time never steps back within the block
};

struct BlockFileReader::IndexedBlock {
    std::vector<Event2D> events; // when read
    BlockSummary summary;        // when summed up
    bool summarized = false;
    std::vector<EventTriggerIn> triggers;
    BlockFigures figures;
    size_t count() const { return summarized ? summary.times.size() : events.size(); }
};

namespace {

// The time bounds and order of n events whose times timeAt(i) gives.
template <typename TimeAt>
void timeFigures(size_t n, TimeAt timeAt, uint64_t& minTime, uint64_t& maxTime, bool& ordered) {
    uint64_t mn = UINT64_MAX, mx = 0, previous = 0;
    bool up = true;
    for (size_t i = 0; i < n; ++i) {
        const uint64_t t = timeAt(i);
        mn = t < mn ? t : mn;
        mx = t > mx ? t : mx;
        up &= t >= previous;
        previous = t;
    }
    minTime = mn;
    maxTime = mx;
    ordered = up;
}

// n events into the rate profile; in time order a slot's events at once, its end found by halving.
template <typename TimeAt>
void countRate(RateCounter& rate, size_t n, bool ordered, TimeAt timeAt) {
    if (!ordered) {
        for (size_t i = 0; i < n; ++i) rate.add(timeAt(i), 1);
        return;
    }
    for (size_t i = 0; i < n;) {
        const uint64_t slot = rate.slotOf(timeAt(i));
        uint64_t lo = 0, hi = 0;
        rate.slotRange(slot, lo, hi);
        size_t a = i + 1, b = n;
        while (a < b) {
            const size_t m = a + (b - a) / 2;
            if (timeAt(m) < hi) a = m + 1;
            else b = m;
        }
        rate.addToSlot(slot, uint32_t(a - i));
        i = a;
    }
}

// The same for an array of times, most often in order: below 2^63 every difference of neighbours
// shows a step back in its sign, so one pass of subtractions and ORs (vectorised) proves the order,
// and the bounds are then the ends.
void timeFiguresOf(const std::vector<uint64_t>& times, uint64_t& minTime, uint64_t& maxTime, bool& ordered) {
    const size_t n = times.size();
    const uint64_t* t = times.data();
    uint64_t signs = n ? t[0] : 0;
    for (size_t i = 1; i < n; ++i) signs |= t[i] | (t[i] - t[i - 1]);
    if (n && (signs >> 63) == 0) {
        minTime = t[0];
        maxTime = t[n - 1];
        ordered = true;
        return;
    }
    timeFigures(n, [t](size_t i) { return t[i]; }, minTime, maxTime, ordered);
}

} // namespace

bool BlockFileReader::readForIndex(EventBlockSource& src, bool summarize, const BlockPosition& pos, IndexedBlock& b,
                                   BlockPosition& next, bool& end, std::string& problem) {
    BlockFigures& f = b.figures;
    f = BlockFigures{};
    b.summarized = summarize;
    if (summarize) {
        const BlockSummary& s = b.summary;
        if (!src.summarize(pos, b.summary, b.triggers, next, end, problem)) return false;
        timeFiguresOf(s.times, f.minTime, f.maxTime, f.ordered);
        f.on = s.on;
        f.maxX = s.maxX;
        f.maxY = s.maxY;
        return true;
    }
    const std::vector<Event2D>& events = b.events;
    if (!src.read(pos, b.events, b.triggers, next, end, problem)) return false;
    timeFigures(events.size(), [&events](size_t i) { return events[i].timestamp; }, f.minTime, f.maxTime, f.ordered);
    uint64_t on = 0;
    uint32_t maxX = 0, maxY = 0;
    for (const Event2D& e : events) {
        on += e.polarity ? 1 : 0;
        maxX = e.x > maxX ? e.x : maxX;
        maxY = e.y > maxY ? e.y : maxY;
    }
    f.on = on;
    f.maxX = maxX;
    f.maxY = maxY;
    return true;
}

void BlockFileReader::addBlock(const BlockPosition& pos, const IndexedBlock& r, Indexing& ix) {
    const BlockFigures& f = r.figures;
    const size_t n = r.count();
    Block b;
    b.pos = pos;
    b.eventsBefore = ix.events;
    b.events = uint32_t(n);
    b.triggers = uint32_t(r.triggers.size());
    uint64_t front = 0;
    if (r.summarized) {
        const std::vector<uint64_t>& times = r.summary.times;
        countRate(ix.rate, n, f.ordered, [&times](size_t i) { return times[i]; });
        front = n ? times.front() : 0;
    } else {
        const std::vector<Event2D>& events = r.events;
        countRate(ix.rate, n, f.ordered, [&events](size_t i) { return events[i].timestamp; });
        front = n ? events.front().timestamp : 0;
    }
    if (n) {
        if (!ix.haveFirst) {
            ix.haveFirst = true;
            ix.firstTimestamp = front;
        }
        ix.ordered = ix.ordered && f.ordered && (ix.events == 0 || front >= ix.maxTime);
        ix.minTime = std::min(ix.minTime, f.minTime);
        ix.maxTime = std::max(ix.maxTime, f.maxTime);
        ix.maxX = std::max<uint64_t>(ix.maxX, f.maxX);
        ix.maxY = std::max<uint64_t>(ix.maxY, f.maxY);
    }
    ix.events += n;
    ix.on += f.on;
    b.ownMin = f.minTime;
    b.ownMax = f.maxTime;
    for (const EventTriggerIn& t : r.triggers) { // a range's triggers are found through the bounds too
        b.ownMin = std::min(b.ownMin, t.timestamp);
        b.ownMax = std::max(b.ownMax, t.timestamp);
    }
    triggerList.insert(triggerList.end(), r.triggers.begin(), r.triggers.end());
    ix.timeMax = std::max(ix.timeMax, b.ownMin <= b.ownMax ? b.ownMax : 0);
    b.maxUpTo = ix.timeMax;
    b.minFrom = b.ownMin;
    index.push_back(b);
}

bool BlockFileReader::ensureHelpers(size_t n) {
    if (helpers.size() >= n) return true;
    if (!FileIdentity::ofPath(filePath).sameAs(identity())) return false;
    while (helpers.size() < n) {
        std::unique_ptr<EventBlockSource> s = makeBlockSource(fileFormat);
        std::string problem;
        if (!s) return false;
        s->setQuiet(true);
        if (!s->open(filePath, problem)) return false;
        helpers.push_back(std::move(s));
    }
    return true;
}

bool BlockFileReader::indexInParallel(const std::vector<BlockPosition>& starts, size_t threads, Indexing& ix,
                                      BlockPosition& pos) {
    // A task is a run of starts: many small blocks summed up would cost more in hand-overs than in
    // reading them. Still enough tasks for the threads to share the work evenly.
    const size_t batch = summarizing ? std::clamp<size_t>(starts.size() / (threads * 64), 1, kSummaryBatch) : 1;
    const size_t tasks = (starts.size() + batch - 1) / batch;
    struct Piece {
        std::vector<IndexedBlock> blocks;
        std::vector<BlockPosition> next;
        std::vector<char> ok, end;
        bool ready = false;
    };
    const size_t ring = 2 * threads; // tasks read ahead of the one being indexed
    std::vector<Piece> pieces(ring);
    for (Piece& pc : pieces) {
        pc.blocks.resize(batch);
        pc.next.resize(batch);
        pc.ok.resize(batch);
        pc.end.resize(batch);
    }
    std::mutex mutex;
    std::condition_variable changed;
    size_t taken = 0, indexed = 0; // tasks
    bool stop = false;
    const auto work = [&](EventBlockSource& src) {
        for (;;) {
            size_t task = 0;
            {
                std::unique_lock<std::mutex> lock(mutex);
                changed.wait(lock, [&] { return stop || taken >= tasks || taken < indexed + ring; });
                if (stop || taken >= tasks) return;
                task = taken++;
            }
            Piece& pc = pieces[task % ring];
            const size_t first = task * batch, count = std::min(batch, starts.size() - first);
            bool going = true; // past a failure or the end the rest of the task is left unread
            for (size_t k = 0; k < count; ++k) {
                pc.ok[k] = false;
                if (!going) continue;
                std::string problem; // a failure is read again in order, where its message is logged
                bool end = false;
                try {
                    pc.ok[k] = readForIndex(src, summarizing, starts[first + k], pc.blocks[k], pc.next[k], end, problem);
                } catch (const std::exception&) {
                    pc.ok[k] = false;
                }
                pc.end[k] = end;
                going = pc.ok[k] && !end;
            }
            std::lock_guard<std::mutex> lock(mutex);
            pc.ready = true;
            changed.notify_all();
        }
    };
    std::vector<std::thread> workers;
    // However this ends (an exception too), the workers are stopped and joined.
    struct Stop {
        std::mutex& mutex;
        std::condition_variable& changed;
        bool& stop;
        std::vector<std::thread>& workers;
        ~Stop() {
            {
                std::lock_guard<std::mutex> lock(mutex);
                stop = true;
                changed.notify_all();
            }
            for (std::thread& w : workers) w.join();
        }
    } stopping{mutex, changed, stop, workers};
    try {
        for (size_t k = 0; k < threads; ++k) workers.emplace_back(work, std::ref(*helpers[k]));
    } catch (const std::system_error&) { // no more threads to be had: those started do the work
        if (workers.empty()) return true;
    }
    bool advanced = true;
    IndexedBlock between; // a block read here, between the listed starts
    const auto before = [](const BlockPosition& a, const BlockPosition& b) {
        return a.offset < b.offset || (a.offset == b.offset && a.index < b.index);
    };
    size_t readyTask = SIZE_MAX; // the task whose piece was last seen ready
    for (size_t i = 0; i < starts.size();) {
        const size_t task = i / batch, k = i % batch;
        Piece& pc = pieces[task % ring];
        if (task != readyTask) {
            std::unique_lock<std::mutex> lock(mutex);
            changed.wait(lock, [&] { return pc.ready; });
            readyTask = task;
        }
        const bool here = starts[i].offset == pos.offset && starts[i].index == pos.index;
        if (here && (!pc.ok[k] || pc.end[k])) break; // read again one after another, where damage is named
        BlockPosition next = pc.next[k];
        if (!here && before(pos, starts[i])) {
            // The block before ended short of this start (it filled up with events): the blocks
            // up to it are read here.
            bool end = false;
            std::string problem;
            if (!readForIndex(*source, summarizing, pos, between, next, end, problem) || end) break;
            if (next.offset == pos.offset && next.index == pos.index && next.state == pos.state) {
                advanced = false;
                break;
            }
            addBlock(pos, between, ix);
            pos = next;
            continue;
        }
        if (here) {
            next.state = pos.state + (pc.next[k].state - starts[i].state);
            if (next.offset == pos.offset && next.index == pos.index && next.state == pos.state) {
                advanced = false;
                break;
            }
            addBlock(pos, pc.blocks[k], ix);
            pos = next;
        } // else the blocks read here went past this start: its block is not needed
        if (++i % batch == 0 || i == starts.size()) {
            std::lock_guard<std::mutex> lock(mutex);
            pc.ready = false;
            indexed = task + 1;
            changed.notify_all();
        }
    }
    return advanced;
}

bool BlockFileReader::prepare() {
    isPrepared = false;
    index.clear();
    rate = RateCounter{};
    figures = RawFileStats{};
    triggerList.clear();
    for (Decoded& d : cache) d = Decoded{};
    Indexing ix;
    IndexedBlock block;
    BlockPosition pos = source->first();
    std::vector<BlockPosition> starts;
    std::string startProblem;
    splittable = source->blockStarts(starts, startProblem);
    summarizing = source->canSummarize();
    const size_t threads = std::min(usableThreads(), starts.size() / kBlocksPerThread);
    if (splittable && threads > 1 && ensureHelpers(threads) && !indexInParallel(starts, threads, ix, pos)) {
        NR_LOG(LOG_ERROR, "cannot read %s: its reader does not advance", filePath.c_str());
        return false;
    }
    starts = {};
    helpers.clear(); // their buffers and descriptors, until a whole read wants threads again
    for (;;) {
        BlockPosition next;
        bool end = false;
        std::string problem;
        if (!readForIndex(*source, summarizing, pos, block, next, end, problem)) {
            // As with raw files, what precedes damage stays readable; a file damaged before its
            // first event or edge is refused (it may not be of this format at all).
            if (!source->damaged() || (ix.events == 0 && triggerList.empty())) {
                NR_LOG(LOG_ERROR, "cannot read %s: %s", filePath.c_str(), problem.c_str());
                return false;
            }
            NR_LOG(LOG_WARN, "%s is damaged: %s; read up to there (%llu events, %zu trigger edges), the rest is skipped",
                   filePath.c_str(), problem.c_str(), (unsigned long long)ix.events, triggerList.size());
            break;
        }
        if (end) break;
        if (next.offset == pos.offset && next.index == pos.index && next.state == pos.state) {
            NR_LOG(LOG_ERROR, "cannot read %s: its reader does not advance", filePath.c_str());
            return false;
        }
        addBlock(pos, block, ix);
        pos = next;
    }
    for (size_t i = index.size(); i-- > 1;) index[i - 1].minFrom = std::min(index[i - 1].minFrom, index[i].minFrom);
    index.shrink_to_fit();
    eventsOrdered = ix.ordered;
    rate = std::move(ix.rate);
    firstInFileOrder = ix.haveFirst ? ix.firstTimestamp : 0;
    figures.eventCount = ix.events;
    figures.onCount = ix.on;
    figures.offCount = ix.events - ix.on;
    figures.firstTimestamp = ix.events ? ix.minTime : 0;
    figures.lastTimestamp = ix.events ? ix.maxTime : 0;
    figures.dataBytes = fileSize;
    figures.indexBytes = index.capacity() * sizeof(Block) + rate.counts().capacity() * sizeof(uint32_t);
    const uint64_t maxX = ix.maxX, maxY = ix.maxY;

    // Every event is kept: a stated geometry the data exceed, or none stated, gives way to the
    // smallest known sensor that holds the data.
    const BlockSourceInfo& info = source->info();
    sensorWidth = info.width;
    sensorHeight = info.height;
    const bool exceeded = ix.events && (maxX >= sensorWidth || maxY >= sensorHeight);
    if (sensorWidth == 0 || sensorHeight == 0 || exceeded) {
        smallestSensorHolding(uint32_t(maxX), uint32_t(maxY), sensorWidth, sensorHeight);
        if (info.width && info.height)
            NR_LOG(LOG_WARN, "%s states a %ux%u sensor but holds events up to x=%llu y=%llu; shown as %ux%u",
                   filePath.c_str(), info.width, info.height, (unsigned long long)maxX, (unsigned long long)maxY,
                   sensorWidth, sensorHeight);
        else
            NR_LOG(LOG_WARN, "%s states no sensor size; shown as %ux%u, the smallest that holds its events",
                   filePath.c_str(), sensorWidth, sensorHeight);
    }
    cursor = figures.firstTimestamp;
    isPrepared = true;
    return true;
}

bool BlockFileReader::decodeBlock(EventBlockSource& src, size_t b, Decoded& d, std::string& problem) const {
    d.block = SIZE_MAX;
    BlockPosition next;
    bool end = false;
    if (!src.read(index[b].pos, d.events, d.triggers, next, end, problem) || end) {
        if (end) problem = "the file became shorter after it was opened";
        return false;
    }
    if (d.events.size() != index[b].events || d.triggers.size() != index[b].triggers) {
        problem = "the file changed after it was opened";
        return false;
    }
    d.block = b;
    return true;
}

const BlockFileReader::Decoded* BlockFileReader::decode(size_t b) {
    for (Decoded& d : cache)
        if (d.block == b) return &d;
    Decoded& d = cache[cacheNext];
    cacheNext = (cacheNext + 1) % 2;
    std::string problem;
    if (!decodeBlock(*source, b, d, problem)) {
        NR_LOG(LOG_ERROR, "cannot read %s: %s", filePath.c_str(), problem.c_str());
        return nullptr;
    }
    return &d;
}

namespace {

// The events of a decoded block inside [from, to) appended to into, and with trig its triggers
// there; whole: every event is known to be inside.
void keepInRange(const std::vector<Event2D>& events, const std::vector<EventTriggerIn>& triggers, bool whole,
                 uint64_t from, uint64_t to, std::vector<Event2D>& into, std::vector<EventTriggerIn>* trig) {
    if (whole)
        into.insert(into.end(), events.begin(), events.end());
    else
        for (const Event2D& e : events)
            if (e.timestamp >= from && e.timestamp < to) into.push_back(e);
    if (trig)
        for (const EventTriggerIn& t : triggers)
            if (t.timestamp >= from && t.timestamp < to) trig->push_back(t);
}

} // namespace

bool BlockFileReader::overlaps(size_t b, uint64_t from, uint64_t to) const {
    const Block& k = index[b];
    return k.ownMin <= k.ownMax && k.ownMax >= from && k.ownMin < to;
}

bool BlockFileReader::appendBlock(size_t b, uint64_t from, uint64_t to, std::vector<Event2D>& into,
                                  std::vector<EventTriggerIn>* trig) {
    const Block& k = index[b];
    if (!overlaps(b, from, to) || (!trig && k.events == 0)) return true;
    const Decoded* d = decode(b);
    if (!d) return false;
    keepInRange(d->events, d->triggers, k.ownMin >= from && k.ownMax < to, from, to, into, trig);
    return true;
}

void BlockFileReader::blockRange(uint64_t from, uint64_t to, size_t& first, size_t& last) const {
    auto a = std::lower_bound(index.begin(), index.end(), from, [](const Block& c, uint64_t t) { return c.maxUpTo < t; });
    auto b = std::lower_bound(a, index.end(), to, [](const Block& c, uint64_t t) { return c.minFrom < t; });
    first = size_t(a - index.begin());
    last = size_t(b - index.begin());
}

bool BlockFileReader::startTimestamp(uint64_t& t) const {
    if (!isPrepared || figures.eventCount == 0) return false;
    t = figures.firstTimestamp;
    return true;
}

bool BlockFileReader::endTimestamp(uint64_t& t) const {
    if (!isPrepared || figures.eventCount == 0) return false;
    t = figures.lastTimestamp;
    return true;
}

void BlockFileReader::fileInfo(DvsFileInfo& info) const {
    const BlockSourceInfo& s = source->info();
    info = DvsFileInfo{};
    info.serialNumber = s.serialNumber;
    info.dvsStartTimestamp = firstInFileOrder;
    info.dvsEndTimestamp = figures.lastTimestamp;
    info.eventCount = figures.eventCount;
    info.width = sensorWidth;
    info.height = sensorHeight;
    info.recordStartTime = modified;
    if (s.hasDate) {
        try {
            info.recordStartTime = parseLocalTimeString(s.date);
        } catch (const std::exception&) {
            NR_LOG(LOG_WARN, "%s: unreadable date '%s'", filePath.c_str(), s.date.c_str());
        }
    }
}

bool BlockFileReader::seekTime(uint64_t t) {
    if (!isPrepared || figures.eventCount == 0 || t > figures.lastTimestamp) return false;
    cursor = t;
    return true;
}

bool BlockFileReader::readRange(uint64_t from, uint64_t to, std::vector<Event2D>& out,
                                std::vector<EventTriggerIn>* trig) {
    if (trig) trig->clear();
    if (!isPrepared || to <= from) {
        out.clear();
        return isPrepared;
    }
    size_t first = 0, last = 0;
    blockRange(from, to, first, last);
    if (!trig && eventsOrdered && splittable) {
        const SplitRead split = readSplit(first, last, from, to, out);
        if (split != SplitRead::Declined) return split == SplitRead::Read;
    }
    out.clear(); // (again, after a split read that did not finish: one block after another)
    for (size_t b = first; b < last; ++b)
        if (!appendBlock(b, from, to, out, trig)) return false;
    return true;
}

BlockFileReader::SplitRead BlockFileReader::readSplit(size_t first, size_t last, uint64_t from, uint64_t to,
                                                      std::vector<Event2D>& out) {
    if (last < first + 2) return SplitRead::Declined; // one block, or none (an empty file)
    // In time order the blocks wholly inside the range are one run between the partial ones at
    // its ends: the head, read here first (what it keeps fixes where the rest goes), and the tail.
    const auto whole = [&](size_t b) { return index[b].ownMin >= from && index[b].ownMax < to && !index[b].triggers; };
    size_t runFirst = first, runLast = last;
    while (runFirst < runLast && !whole(runFirst)) ++runFirst;
    while (runLast > runFirst && !whole(runLast - 1)) --runLast;
    if (runFirst == last) runFirst = runLast = first + 1; // no whole block: head and tail alone
    const auto cached = [&](size_t b) { return cache[0].block == b || cache[1].block == b; };
    const auto needed = [&](size_t b) { return overlaps(b, from, to) && index[b].events > 0; };
    const auto work = [&](size_t a, size_t b) { // events to decode: a block decoded before costs nothing
        uint64_t n = 0;
        for (; a < b; ++a)
            if (needed(a) && !cached(a)) n += index[a].events;
        return n;
    };
    const auto most = [&](size_t a, size_t b) { // every event of blocks [a, b)
        return a < b ? index[b - 1].eventsBefore + index[b - 1].events - index[a].eventsBefore : 0;
    };
    // The helper takes the tail, unless it is one block decoded before (playback's next range
    // starts in the block where the last one ended).
    const bool helperTail = !(last - runLast == 1 && cached(runLast));
    const uint64_t firstEvent = index[runFirst].eventsBefore;
    const uint64_t runEvents = most(runFirst, runLast);
    const uint64_t total = work(first, runFirst) + runEvents + (helperTail ? work(runLast, last) : 0);
    // The run is cut where the two threads' shares come closest.
    uint64_t mainWork = work(first, runFirst), best = UINT64_MAX;
    size_t cut = runFirst;
    for (size_t b = runFirst;; ++b) {
        const uint64_t worst = std::max(mainWork, total - mainWork);
        if (worst < best) {
            best = worst;
            cut = b;
        }
        if (b == runLast) break;
        mainWork += index[b].events;
    }
    if (total < kSplitRangeEvents || best == total || !ensureHelpers(1)) return SplitRead::Declined;

    // Room for every event of the blocks; each thread writes its own parts, the vector is cut to
    // what was kept at the end.
    out.resize(size_t(most(first, runFirst) + runEvents + (helperTail ? most(runLast, last) : 0)));
    Event2D* const base = out.data();
    const auto keep = [&](const Decoded& d, Event2D* into) { // a partial block's events in the range
        size_t k = 0;
        for (const Event2D& e : d.events) {
            into[k] = e;
            k += e.timestamp >= from && e.timestamp < to;
        }
        return k;
    };
    // Blocks [a, b) of the run straight into place, after the head's kept events.
    const auto decodeRun = [&](EventBlockSource& src, size_t a, size_t b, size_t head) {
        std::vector<EventTriggerIn> none;
        for (; a < b; ++a) {
            const Block& k = index[a];
            BlockPosition next;
            bool end = false;
            size_t n = 0;
            std::string problem;
            if (!src.readInto(k.pos, base + head + (k.eventsBefore - firstEvent), k.events, n, none, next, end,
                              problem) ||
                end || n != k.events || !none.empty())
                return false;
        }
        return true;
    };
    // What the head keeps comes from this thread (SIZE_MAX when it failed).
    size_t tailKept = 0;
    bool helperOk = false;
    const auto tailTask = [&] {
        try {
            std::string problem;
            size_t b = runLast;
            while (helperTail && b < last && !needed(b)) ++b;
            // The first block of the tail is decoded while the head is; kept once the head is known.
            const bool tail = helperTail && b < last;
            if (tail && !decodeBlock(*helpers[0], b, spare, problem)) return;
            const size_t head = rangeHelper.given();
            if (head == SIZE_MAX || !decodeRun(*helpers[0], cut, runLast, head)) return;
            Event2D* const tailAt = base + head + runEvents;
            if (tail) tailKept = keep(spare, tailAt);
            for (++b; tail && b < last; ++b) {
                if (!needed(b)) continue;
                if (!decodeBlock(*helpers[0], b, spare, problem)) return;
                tailKept += keep(spare, tailAt + tailKept);
            }
            helperOk = true;
        } catch (const std::exception&) {
        }
    };
    if (!rangeHelper.post([&tailTask] { tailTask(); })) return SplitRead::Declined; // no thread to be had
    size_t head = 0;
    bool headOk = true, runOk = false;
    try {
        for (size_t b = first; b < runFirst && headOk; ++b) {
            if (!needed(b)) continue;
            const Decoded* d = decode(b);
            if (d) head += keep(*d, base + head);
            else headOk = false;
        }
    } catch (const std::exception&) {
        headOk = false;
    }
    rangeHelper.give(headOk ? head : SIZE_MAX);
    if (headOk) {
        try {
            runOk = decodeRun(*source, runFirst, cut, head);
        } catch (const std::exception&) {
        }
    }
    rangeHelper.wait();
    if (!headOk) return SplitRead::Failed; // logged by the block's read
    if (!runOk || !helperOk) return SplitRead::Declined;
    out.resize(size_t(head + runEvents + tailKept));
    if (!helperTail) {
        for (size_t b = runLast; b < last; ++b)
            if (!appendBlock(b, from, to, out, nullptr)) return SplitRead::Failed;
        return SplitRead::Read;
    }
    if (spare.block != SIZE_MAX) { // the tail's last block, for the range after this one
        std::swap(cache[cacheNext], spare);
        cacheNext = (cacheNext + 1) % 2;
    }
    return SplitRead::Read;
}

bool BlockFileReader::readAll(Event2D* out, size_t room, size_t& count, size_t threads, bool& timeOrdered) {
    count = 0;
    timeOrdered = eventsOrdered;
    if (!isPrepared) {
        NR_LOG(LOG_ERROR, "%s: read before it was prepared", filePath.c_str());
        return false;
    }
    if (figures.eventCount > room) {
        NR_LOG(LOG_ERROR, "%s: room for %zu events, the file holds %llu", filePath.c_str(), room,
               (unsigned long long)figures.eventCount);
        return false;
    }
    if (threads == 0) threads = usableThreads();
    threads = std::min(threads, std::max<size_t>(1, index.size() / kBlocksPerThread));
    if (!splittable || threads < 2 || !ensureHelpers(threads - 1)) threads = 1;
    // Each block goes where the index says its events start: threads take blocks in any order.
    std::atomic<size_t> nextBlock{0};
    std::atomic<bool> failed{false};
    std::vector<std::string> problems(threads);
    const auto work = [&](EventBlockSource& src, std::string& problem) {
        std::vector<EventTriggerIn> trig;
        try {
            for (size_t b; (b = nextBlock++) < index.size() && !failed;) {
                const Block& k = index[b];
                if (k.events == 0) continue;
                BlockPosition next;
                bool end = false;
                size_t n = 0;
                if (!src.readInto(k.pos, out + k.eventsBefore, k.events, n, trig, next, end, problem) || end) {
                    if (end) problem = "the file became shorter after it was opened";
                    failed = true;
                } else if (n != k.events || trig.size() != k.triggers) {
                    problem = "the file changed after it was opened";
                    failed = true;
                }
            }
        } catch (const std::exception& e) {
            problem = dynamic_cast<const std::bad_alloc*>(&e) ? "out of memory" : e.what();
            failed = true;
        }
    };
    std::vector<std::thread> workers;
    try {
        for (size_t k = 1; k < threads; ++k)
            workers.emplace_back(work, std::ref(*helpers[k - 1]), std::ref(problems[k]));
    } catch (const std::system_error&) { // no more threads to be had: this one takes what is left
    }
    work(*source, problems[0]);
    for (std::thread& w : workers) w.join();
    if (failed) {
        for (const std::string& p : problems)
            if (!p.empty()) {
                NR_LOG(LOG_ERROR, "cannot read %s: %s", filePath.c_str(), p.c_str());
                break;
            }
        return false;
    }
    count = size_t(figures.eventCount);
    return true;
}

bool BlockFileReader::scanRange(
    uint64_t from, uint64_t to, const std::function<bool(const Event2D*, size_t, const EventTriggerIn*, size_t)>& sink) {
    if (!isPrepared) {
        NR_LOG(LOG_ERROR, "%s: scanned before it was prepared", filePath.c_str());
        return false;
    }
    if (to <= from) return true;
    size_t first = 0, last = 0;
    blockRange(from, to, first, last);
    std::vector<Event2D> events;
    std::vector<EventTriggerIn> trig;
    for (size_t b = first; b < last; ++b) {
        if (!overlaps(b, from, to)) continue;
        const Decoded* d = decode(b);
        if (!d) return false;
        events.clear();
        trig.clear();
        keepInRange(d->events, d->triggers, false, from, to, events, &trig);
        if ((!events.empty() || !trig.empty()) && !sink(events.data(), events.size(), trig.data(), trig.size()))
            return false;
    }
    return true;
}

std::shared_ptr<std::vector<Event2D>> BlockFileReader::readEvents(uint64_t start, uint64_t duration) {
    std::shared_ptr<std::vector<Event2D>> result;
    if (lastResult && lastResult.use_count() == 1) result = lastResult;
    else result = std::make_shared<std::vector<Event2D>>();
    const uint64_t end = duration > UINT64_MAX - start ? UINT64_MAX : start + duration;
    if (!readRange(start, end, *result, nullptr)) return nullptr;
    cursor = end;
    lastResult = result;
    return result;
}

bool BlockFileReader::nextTime(uint64_t t, uint64_t& found) {
    size_t first = 0, last = 0;
    blockRange(t, UINT64_MAX, first, last);
    uint64_t best = UINT64_MAX;
    bool any = false;
    for (size_t b = first; b < index.size() && (!any || index[b].minFrom < best); ++b) {
        const Block& k = index[b];
        if (k.events == 0 || k.ownMax < t) continue;
        const Decoded* d = decode(b);
        if (!d) return false;
        for (const Event2D& e : d->events)
            if (e.timestamp >= t && e.timestamp <= best) {
                best = e.timestamp;
                any = true;
            }
    }
    found = best;
    return true;
}

bool BlockFileReader::previousTime(uint64_t t, uint64_t& found) {
    size_t first = 0, last = 0;
    blockRange(0, t, first, last);
    uint64_t best = 0;
    bool any = false;
    for (size_t b = last; b-- > 0 && (!any || index[b].maxUpTo > best);) {
        const Block& k = index[b];
        if (k.events == 0 || k.ownMin >= t) continue;
        const Decoded* d = decode(b);
        if (!d) return false;
        for (const Event2D& e : d->events)
            if (e.timestamp < t && e.timestamp >= best) {
                best = e.timestamp;
                any = true;
            }
    }
    found = best;
    return any;
}

bool BlockFileReader::nextEventTime(uint64_t from, uint64_t& t) {
    if (!isPrepared) return false;
    return nextTime(from, t);
}

bool BlockFileReader::largestGap(uint64_t& before, uint64_t& after) {
    if (!isPrepared || figures.eventCount < 2) return false;
    return rate.largestGap([this](uint64_t t, uint64_t& f) { return previousTime(t, f); },
                           [this](uint64_t t, uint64_t& f) { return nextTime(t, f); }, before, after);
}

RateProfile BlockFileReader::rateProfile() const {
    RateProfile p;
    p.startTimestamp = rate.origin();
    p.slotDurationUs = rate.slotDuration();
    p.counts = rate.counts();
    return p;
}

} // namespace norvale::detail
