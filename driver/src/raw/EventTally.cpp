#include "norvale/EventTally.h"

#include <algorithm>

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

bool RateCounter::mergeLater(const RateCounter& later, uint64_t timeShift, uint64_t lastTime) {
    if (!isStarted || !later.isStarted) return false;
    // Slot boundaries of both run on the same grid (ours coarsens in steps of whole slots).
    const uint64_t laterOrigin = later.start + timeShift;
    if (((laterOrigin - start) & (later.slotDuration() - 1)) != 0) return false;
    RateCounter merged = *this;
    merged.slotOf(lastTime);
    for (size_t k = 0; k < later.slotCounts.size(); ++k)
        if (later.slotCounts[k]) merged.add(laterOrigin + (uint64_t(k) << later.shift), later.slotCounts[k]);
    if (merged.shift < later.shift) return false; // a later slot would be spread over several of ours
    *this = std::move(merged);
    return true;
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

// Each run of empty slots holds one gap; the exact gap around a run is at most two slots longer
// than the run, so only runs close to the longest can hold the largest.
bool RateCounter::largestGap(const TimeLookup& previousTime, const TimeLookup& nextTime, uint64_t& before,
                             uint64_t& after) const {
    std::vector<std::pair<size_t, size_t>> runs; // [first, end) of empty slots
    size_t longest = 0;
    for (size_t i = 0; i < slotCounts.size();) {
        if (slotCounts[i]) {
            ++i;
            continue;
        }
        size_t j = i;
        while (j < slotCounts.size() && !slotCounts[j]) ++j;
        if (j < slotCounts.size()) { // a run after the last event is no gap
            runs.emplace_back(i, j);
            longest = std::max(longest, j - i);
        }
        i = j;
    }
    if (runs.empty()) return false;
    std::stable_sort(runs.begin(), runs.end(),
                     [](const auto& a, const auto& b) { return a.second - a.first > b.second - b.first; });
    bool found = false;
    size_t tried = 0;
    for (const auto& run : runs) {
        if (run.second - run.first + 2 < longest || ++tried > 64) break;
        uint64_t lo = 0, hi = 0, prev = 0, next = 0;
        slotRange(run.first, lo, hi);
        if (!previousTime(lo, prev) || !nextTime(lo, next) || next == UINT64_MAX) continue;
        if (!found || next - prev > after - before) {
            before = prev;
            after = next;
            found = true;
        }
    }
    return found;
}

} // namespace norvale
