#include "norvale/EventTally.h"

namespace norvale {

uint64_t RateCounter::slotOf(uint64_t t) {
    if (!isStarted) {
        isStarted = true;
        start = t;
    }
    const uint64_t rel = t > start ? t - start : 0; // a step back lands in slot 0
    uint64_t slot = rel >> shift;
    while (slot >= kMaxSlots) {
        coarsen();
        slot = rel >> shift;
    }
    if (slot >= slotCounts.size()) slotCounts.resize(slot + 1, 0);
    return slot;
}

void RateCounter::slotRange(uint64_t slot, uint64_t& lo, uint64_t& hi) const {
    lo = slot ? start + (slot << shift) : 0;
    hi = start + ((slot + 1) << shift);
}

void RateCounter::addSlow(uint64_t t, uint32_t n) {
    cacheSlot = slotOf(t);
    uint64_t hi = 0;
    slotRange(cacheSlot, cacheLo, hi);
    cacheLen = hi - cacheLo;
    slotCounts[cacheSlot] += n;
}

void RateCounter::add(const Event2D* begin, const Event2D* end) {
    for (const Event2D* e = begin; e < end; ++e) ++slotCounts[slotOf(e->timestamp)];
}

void RateCounter::coarsen() {
    const size_t n = (slotCounts.size() + 1) / 2;
    for (size_t i = 0; i < n; ++i) {
        const uint32_t b = 2 * i + 1 < slotCounts.size() ? slotCounts[2 * i + 1] : 0;
        slotCounts[i] = slotCounts[2 * i] + b;
    }
    slotCounts.resize(n);
    ++shift;
    cacheLen = 0;
}

} // namespace norvale
