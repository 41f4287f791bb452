#pragma once

// One stretch of the stream (normally 1 ms of camera time) as the streaming thread produced
// it. Chunks come from a pool and are shared read-only between the batch hand-off and the
// storage thread once published; the last holder returns it to the pool.
#include <cstdint>
#include <memory>
#include <vector>

#include "norvale/Event2D.h"
#include "norvale/ObjectPool.h"

namespace norvale {

struct EventChunk {
    std::vector<Event2D> events;          // time order
    std::vector<EventTriggerIn> triggers; // time order, enabled channels only
    uint64_t beginUs = 0, endUs = 0;      // camera time covered: [beginUs, endUs)

    void clear(uint64_t begin) {
        events.clear();
        triggers.clear();
        beginUs = endUs = begin;
    }
};

using ChunkPtr = std::shared_ptr<EventChunk>;
using ChunkPool = NrObjectPool<EventChunk>;

// Drops the events before t (a chunk is in time order).
inline const Event2D* firstAtOrAfter(const EventChunk& c, uint64_t t) {
    const Event2D* b = c.events.data();
    const Event2D* e = b + c.events.size();
    while (b < e) { // binary search
        const Event2D* m = b + (e - b) / 2;
        if (m->timestamp < t) b = m + 1;
        else e = m;
    }
    return b;
}

} // namespace norvale
