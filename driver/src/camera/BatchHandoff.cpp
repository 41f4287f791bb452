#include "camera/BatchHandoff.h"

#include <algorithm>

#include "norvale/EventWindow.h"

namespace norvale {

void BatchHandoff::push(const ChunkPtr& chunk) {
    // Released outside the lock. What the next take would drop anyway (older than the span, or
    // pushed out of a full ring) goes now, so a reader that stalls holds at most one span of
    // chunks, not a full ring: the chunk pool never grows past that.
    size_t nOld = 0;
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (!reading) return;
        const EventWindow kept = EventWindow::lastSpan(chunk->endUs, std::max<uint64_t>(spanUs.load(), kMinSpanUs));
        while (count > 0 && (count == kRing || kept.isAfter(ring[head]->endUs))) {
            pushedOut[nOld] = std::move(ring[head]);
            droppedEvents += pushedOut[nOld]->events.size();
            ++nOld;
            head = (head + 1) % kRing;
            --count;
        }
        ring[(head + count) % kRing] = chunk;
        ++count;
    }
    for (size_t i = 0; i < nOld; ++i) pushedOut[i].reset();
}

size_t BatchHandoff::collect(size_t& first, size_t& events) {
    size_t n = 0;
    {
        std::lock_guard<std::mutex> lock(mutex);
        reading = true;
        for (; n < count; ++n) taken[n] = std::move(ring[(head + n) % kRing]);
        head = count = 0;
    }
    first = n;
    events = 0;
    if (n == 0) return 0;
    // keep only the newest span and at most kMaxEvents
    const EventWindow kept = EventWindow::lastSpan(taken[n - 1]->endUs, std::max<uint64_t>(spanUs.load(), kMinSpanUs));
    while (first > 0) {
        const EventChunk& c = *taken[first - 1];
        if (kept.isAfter(c.endUs) || events + c.events.size() > kMaxEvents) break;
        events += c.events.size();
        --first;
    }
    uint64_t lost = 0;
    for (size_t i = 0; i < first; ++i) lost += taken[i]->events.size();
    droppedEvents += lost;
    return n;
}

void BatchHandoff::release(size_t n) {
    for (size_t i = 0; i < n; ++i) taken[i].reset();
}

bool BatchHandoff::take(std::vector<Event2D>& out) {
    size_t first = 0, events = 0;
    const size_t n = collect(first, events);
    out.clear();
    out.reserve(events);
    for (size_t i = first; i < n; ++i) out.insert(out.end(), taken[i]->events.begin(), taken[i]->events.end());
    release(n);
    return !out.empty();
}

bool BatchHandoff::visit(const RunVisitor& each) {
    size_t first = 0, events = 0;
    const size_t n = collect(first, events);
    if (events > 0) {
        runs.clear();
        for (size_t i = first; i < n; ++i)
            if (!taken[i]->events.empty())
                runs.push_back({taken[i]->events.data(), taken[i]->events.data() + taken[i]->events.size()});
        each(runs.data(), runs.size());
    }
    release(n);
    return events > 0;
}

void BatchHandoff::clear() {
    std::lock_guard<std::mutex> lock(mutex);
    for (size_t i = 0; i < count; ++i) ring[(head + i) % kRing].reset();
    head = count = 0;
}

} // namespace norvale
