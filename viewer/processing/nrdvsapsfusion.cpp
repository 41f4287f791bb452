#include "processing/nrdvsapsfusion.h"

#include <algorithm>
#include <array>

namespace norvale {

namespace {
constexpr size_t kMaxGaps = 16;

bool earlier(const Event2D& e, uint64_t t) { return e.timestamp < t; }
} // namespace

DvsApsFusionProccessor::DvsApsFusionProccessor(size_t capacity)
    : bufferEvents(std::max<size_t>(1, capacity)), bufferPool(NrObjectPoolFactory::createUniqueNrObjectPool<std::vector<Event2D>>(kPoolBuffers)) {
    // Reserve each buffer's capacity without writing it: untouched pages cost no memory.
    std::vector<Buffer> all;
    all.reserve(kPoolBuffers);
    for (size_t i = 0; i < kPoolBuffers; ++i) {
        all.push_back(bufferPool->acquire());
        all.back()->reserve(bufferEvents);
    }
    all.clear(); // back into the pool
}

DvsApsFusionProccessor::~DvsApsFusionProccessor() {
    std::lock_guard<std::mutex> lock(mutex);
    callback = nullptr;
}

DvsApsFusionProccessor::Buffer DvsApsFusionProccessor::freshBuffer() {
    Buffer b = bufferPool->acquire();
    b->clear(); // a reused buffer still holds its last events
    if (b->capacity() < bufferEvents)
        b->reserve(bufferEvents);
    return b;
}

void DvsApsFusionProccessor::setCallback(Callback cb) {
    std::lock_guard<std::mutex> lock(mutex);
    callback = std::move(cb);
}

void DvsApsFusionProccessor::addEvents(const Event2D* begin, const Event2D* end) {
    if (!begin || begin >= end)
        return;
    std::lock_guard<std::mutex> lock(mutex);
    if (anyEvent && begin->timestamp < lastEventUs)
        resetLocked(); // the camera clock restarted
    while (begin < end) {
        if (history.empty() || history.back()->size() >= bufferEvents || (splitAtNextEvents && !history.back()->empty())) {
            splitAtNextEvents = false;
            trimLocked();
            if (history.size() >= kPoolBuffers)
                releaseOldestLocked();
            history.push_back(freshBuffer());
        }
        std::vector<Event2D>& b = *history.back();
        const size_t n = std::min(size_t(end - begin), bufferEvents - b.size());
        b.insert(b.end(), begin, begin + n);
        begin += n;
    }
    lastEventUs = (end - 1)->timestamp;
    anyEvent = true;
    streamUs = std::max(streamUs, lastEventUs);
    pairLocked();
}

void DvsApsFusionProccessor::addTriggerIn(const EventTriggerIn& trigger) {
    if (trigger.value != 1 || trigger.id != kFrameChannel)
        return;
    std::lock_guard<std::mutex> lock(mutex);
    if (anyEdge && trigger.timestamp <= lastEdgeUs) {
        if (trigger.timestamp == lastEdgeUs)
            return; // the same edge again
        edges.clear(); // the clock restarted; the events' reset follows
    } else if (anyEdge) {
        noteGapLocked(trigger.timestamp - lastEdgeUs);
    }
    edges.push_back(trigger.timestamp);
    lastEdgeUs = trigger.timestamp;
    anyEdge = true;
    splitAtNextEvents = true; // a buffer per exposure: each goes back to the pool soon after its frame
    if (edges.size() > kMaxEdges)
        edges.pop_front();
    pairLocked();
}

void DvsApsFusionProccessor::addApsFrame(const ApsFrame& frame) {
    ApsFrame copy = frame.clone();
    std::lock_guard<std::mutex> lock(mutex);
    if (anyFrame && copy.timestamp <= lastFrameUs) {
        if (copy.timestamp == lastFrameUs) {
            ++droppedFrameCount; // the same exposure again
            return;
        }
        resetLocked(); // the camera clock restarted
    } else if (anyFrame) {
        noteGapLocked(copy.timestamp - lastFrameUs);
    }
    lastFrameUs = copy.timestamp;
    anyFrame = true;
    // The driver hands a frame over only after the events before its exposure's end.
    streamUs = std::max(streamUs, copy.timestamp);
    apsFrames.push_back(std::move(copy));
    pairLocked(); // may complete the previous frame's window before the queue is trimmed
    while (apsFrames.size() > kMaxWaitingFrames) {
        apsFrames.pop_front();
        ++droppedFrameCount;
    }
}

void DvsApsFusionProccessor::noteGapLocked(uint64_t gap) {
    if (gap == 0)
        return;
    gaps.push_back(gap);
    if (gaps.size() > kMaxGaps)
        gaps.pop_front();
}

bool DvsApsFusionProccessor::windowEndLocked(size_t i, uint64_t& end) const {
    const uint64_t start = apsFrames[i].timestamp;
    bool found = false;
    const auto edge = std::upper_bound(edges.begin(), edges.end(), start);
    if (edge != edges.end()) {
        end = *edge;
        found = true;
    }
    if (i + 1 < apsFrames.size() && (!found || apsFrames[i + 1].timestamp < end)) {
        end = apsFrames[i + 1].timestamp;
        found = true;
    }
    if (!gaps.empty()) {
        const uint64_t period = *std::min_element(gaps.begin(), gaps.end());
        if (!found || end - start > period + period / 2) { // the next exposure's edge and frame were lost
            end = start + period;
            found = true;
        }
    }
    return found;
}

void DvsApsFusionProccessor::pairLocked() {
    while (!apsFrames.empty()) {
        uint64_t end = 0;
        if (!windowEndLocked(0, end) || streamUs < end)
            break;
        ApsFrame frame = std::move(apsFrames.front());
        apsFrames.pop_front();
        if (frame.timestamp < completeFrom)
            ++droppedFrameCount; // some of its events were let go
        else
            showLocked(frame, frame.timestamp, end);
        doneUntil = std::max(doneUntil, end);
    }
    trimLocked();
}

void DvsApsFusionProccessor::showLocked(ApsFrame& frame, uint64_t from, uint64_t to) {
    if (!callback)
        return;
    std::array<EventSpan, kPoolBuffers + 1> spans{};
    size_t n = 0;
    for (const Buffer& b : history) {
        if (b->empty() || b->back().timestamp < from)
            continue;
        if (b->front().timestamp >= to || n == spans.size())
            break;
        const Event2D* first = b->data();
        const Event2D* last = first + b->size();
        const Event2D* lo = std::lower_bound(first, last, from, earlier);
        const Event2D* hi = std::lower_bound(lo, last, to, earlier);
        if (lo < hi)
            spans[n++] = EventSpan{lo, hi};
    }
    callback(frame, spans.data(), n);
}

void DvsApsFusionProccessor::trimLocked() {
    // No frame to come can start before keepFrom: frames arrive in time order.
    uint64_t keepFrom = 0;
    if (!apsFrames.empty())
        keepFrom = apsFrames.front().timestamp;
    else if (anyFrame)
        keepFrom = std::max(lastFrameUs, doneUntil);
    while (history.size() > 1 && (history.front()->empty() || history.front()->back().timestamp < keepFrom)) {
        if (!history.front()->empty())
            completeFrom = std::max(completeFrom, history.front()->back().timestamp + 1);
        history.pop_front();
    }
    while (!edges.empty() && edges.front() < keepFrom)
        edges.pop_front();
}

void DvsApsFusionProccessor::releaseOldestLocked() {
    const Buffer& b = history.front();
    if (!b->empty()) {
        dropped += b->size();
        completeFrom = std::max(completeFrom, b->back().timestamp + 1);
    }
    history.pop_front();
}

void DvsApsFusionProccessor::resetLocked() {
    history.clear();
    edges.clear();
    apsFrames.clear();
    gaps.clear();
    streamUs = completeFrom = doneUntil = 0;
    lastEventUs = lastFrameUs = lastEdgeUs = 0;
    anyEvent = anyFrame = anyEdge = splitAtNextEvents = false;
}

void DvsApsFusionProccessor::clearCache() {
    std::lock_guard<std::mutex> lock(mutex);
    resetLocked();
}

size_t DvsApsFusionProccessor::waitingFrames() const {
    std::lock_guard<std::mutex> lock(mutex);
    return apsFrames.size();
}

size_t DvsApsFusionProccessor::heldEvents() const {
    std::lock_guard<std::mutex> lock(mutex);
    size_t n = 0;
    for (const Buffer& b : history)
        n += b->size();
    return n;
}

} // namespace norvale
