#include "raw/RawIndex.h"

#include <algorithm>

namespace norvale::detail {

void RateCounter::add(const Event2D* begin, const Event2D* end) {
    if (begin == end) return;
    if (!started) {
        started = true;
        start = begin->timestamp;
    }
    for (const Event2D* e = begin; e < end; ++e) {
        const uint64_t rel = e->timestamp > start ? e->timestamp - start : 0; // a step back lands in slot 0
        uint64_t slot = rel >> shift;
        while (slot >= kMaxSlots) {
            coarsen();
            slot = rel >> shift;
        }
        if (slot >= slots.size()) slots.resize(slot + 1, 0);
        ++slots[slot];
    }
}

uint64_t RateCounter::slotOf(uint64_t t) {
    const uint64_t rel = t > start ? t - start : 0; // a step back lands in slot 0
    uint64_t slot = rel >> shift;
    while (slot >= kMaxSlots) {
        coarsen();
        slot = rel >> shift;
    }
    if (slot >= slots.size()) slots.resize(slot + 1, 0);
    return slot;
}

void RateCounter::addSorted(const Event2D* begin, const Event2D* end) {
    if (begin == end) return;
    if (!started) {
        started = true;
        start = begin->timestamp;
    }
    while (begin < end) {
        const uint64_t slot = slotOf(begin->timestamp);
        const uint64_t slotEnd = start + ((slot + 1) << shift);
        const Event2D* next = std::lower_bound(begin, end, slotEnd,
                                               [](const Event2D& e, uint64_t t) { return e.timestamp < t; });
        slots[slot] += uint32_t(next - begin);
        begin = next;
    }
}

void RateCounter::coarsen() {
    const size_t n = (slots.size() + 1) / 2;
    for (size_t i = 0; i < n; ++i) {
        const uint32_t b = 2 * i + 1 < slots.size() ? slots[2 * i + 1] : 0;
        slots[i] = slots[2 * i] + b;
    }
    slots.resize(n);
    ++shift;
}

void RawIndex::chunkRange(uint64_t from, uint64_t to, size_t& first, size_t& last) const {
    auto a = std::lower_bound(chunks.begin(), chunks.end(), from,
                              [](const IndexChunk& c, uint64_t t) { return c.maxUpTo < t; });
    auto b = std::lower_bound(a, chunks.end(), to, [](const IndexChunk& c, uint64_t t) { return c.minFrom < t; });
    first = size_t(a - chunks.begin());
    last = size_t(b - chunks.begin());
}

} // namespace norvale::detail
