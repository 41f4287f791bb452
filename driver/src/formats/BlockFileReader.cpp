#include "formats/BlockFileReader.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

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

bool BlockFileReader::prepare() {
    isPrepared = false;
    index.clear();
    rate = RateCounter{};
    figures = RawFileStats{};
    triggerList.clear();
    for (Decoded& d : cache) d = Decoded{};
    EventTally tally;
    uint64_t mn = UINT64_MAX, maxX = 0, maxY = 0, timeMax = 0;
    std::vector<Event2D> events;
    std::vector<EventTriggerIn> trig;
    BlockPosition pos = source->first();
    for (;;) {
        BlockPosition next;
        bool end = false;
        std::string problem;
        if (!source->read(pos, events, trig, next, end, problem)) {
            // As with raw files, what precedes damage stays readable; a file damaged before its
            // first event or edge is refused (it may not be of this format at all).
            if (!source->damaged() || (tally.events == 0 && triggerList.empty())) {
                NR_LOG(LOG_ERROR, "cannot read %s: %s", filePath.c_str(), problem.c_str());
                return false;
            }
            NR_LOG(LOG_WARN, "%s is damaged: %s; read up to there (%llu events, %zu trigger edges), the rest is skipped",
                   filePath.c_str(), problem.c_str(), (unsigned long long)tally.events, triggerList.size());
            break;
        }
        if (end) break;
        Block b;
        b.pos = pos;
        b.eventsBefore = tally.events;
        b.events = uint32_t(events.size());
        b.triggers = uint32_t(trig.size());
        tally.minTimestamp = UINT64_MAX;
        const uint64_t maxBefore = tally.maxTimestamp;
        tally.maxTimestamp = 0;
        for (const Event2D& e : events) {
            tally.add(e.timestamp, 1, e.polarity ? 1 : 0);
            maxX = std::max<uint64_t>(maxX, e.x);
            maxY = std::max<uint64_t>(maxY, e.y);
        }
        mn = std::min(mn, tally.minTimestamp);
        b.ownMin = tally.minTimestamp;
        b.ownMax = tally.maxTimestamp;
        tally.maxTimestamp = std::max(maxBefore, tally.maxTimestamp);
        for (const EventTriggerIn& t : trig) { // a range's triggers are found through the bounds too
            b.ownMin = std::min(b.ownMin, t.timestamp);
            b.ownMax = std::max(b.ownMax, t.timestamp);
        }
        triggerList.insert(triggerList.end(), trig.begin(), trig.end());
        timeMax = std::max(timeMax, b.ownMin <= b.ownMax ? b.ownMax : 0);
        b.maxUpTo = timeMax;
        b.minFrom = b.ownMin;
        index.push_back(b);
        if (next.offset == pos.offset && next.index == pos.index && next.state == pos.state) {
            NR_LOG(LOG_ERROR, "cannot read %s: its reader does not advance", filePath.c_str());
            return false;
        }
        pos = next;
    }
    for (size_t i = index.size(); i-- > 1;) index[i - 1].minFrom = std::min(index[i - 1].minFrom, index[i].minFrom);
    index.shrink_to_fit();
    rate = std::move(tally.rate);
    firstInFileOrder = tally.haveFirst ? tally.firstTimestamp : 0;
    figures.eventCount = tally.events;
    figures.onCount = tally.on;
    figures.offCount = tally.events - tally.on;
    figures.firstTimestamp = tally.events ? mn : 0;
    figures.lastTimestamp = tally.events ? tally.maxTimestamp : 0;
    figures.dataBytes = fileSize;
    figures.indexBytes = index.capacity() * sizeof(Block) + rate.counts().capacity() * sizeof(uint32_t);

    // Every event is kept: a stated geometry the data exceed, or none stated, gives way to the
    // smallest known sensor that holds the data.
    const BlockSourceInfo& info = source->info();
    sensorWidth = info.width;
    sensorHeight = info.height;
    const bool exceeded = tally.events && (maxX >= sensorWidth || maxY >= sensorHeight);
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

const BlockFileReader::Decoded* BlockFileReader::decode(size_t b) {
    for (Decoded& d : cache)
        if (d.block == b) return &d;
    Decoded& d = cache[cacheNext];
    cacheNext = (cacheNext + 1) % 2;
    d.block = SIZE_MAX;
    BlockPosition next;
    bool end = false;
    std::string problem;
    if (!source->read(index[b].pos, d.events, d.triggers, next, end, problem) || end) {
        NR_LOG(LOG_ERROR, "cannot read %s: %s", filePath.c_str(),
               end ? "the file became shorter after it was opened" : problem.c_str());
        return nullptr;
    }
    if (d.events.size() != index[b].events || d.triggers.size() != index[b].triggers) {
        NR_LOG(LOG_ERROR, "cannot read %s: the file changed after it was opened", filePath.c_str());
        return nullptr;
    }
    d.block = b;
    return &d;
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
    out.clear();
    if (trig) trig->clear();
    if (!isPrepared) return false;
    if (to <= from) return true;
    size_t first = 0, last = 0;
    blockRange(from, to, first, last);
    for (size_t b = first; b < last; ++b) {
        const Block& k = index[b];
        if (k.ownMin > k.ownMax || k.ownMax < from || k.ownMin >= to) continue;
        if (!trig && k.events == 0) continue;
        const Decoded* d = decode(b);
        if (!d) return false;
        for (const Event2D& e : d->events)
            if (e.timestamp >= from && e.timestamp < to) out.push_back(e);
        if (trig)
            for (const EventTriggerIn& t : d->triggers)
                if (t.timestamp >= from && t.timestamp < to) trig->push_back(t);
    }
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
        const Block& k = index[b];
        if (k.ownMin > k.ownMax || k.ownMax < from || k.ownMin >= to) continue;
        const Decoded* d = decode(b);
        if (!d) return false;
        events.clear();
        trig.clear();
        for (const Event2D& e : d->events)
            if (e.timestamp >= from && e.timestamp < to) events.push_back(e);
        for (const EventTriggerIn& t : d->triggers)
            if (t.timestamp >= from && t.timestamp < to) trig.push_back(t);
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
