#pragma once

// Figures of a stream gathered without keeping its events: what DvsFileReader::prepareFile needs
// (counts, ON/OFF, time bounds, events per time slot). Filled by RawDecoder::count, which gives
// the same figures as decoding every event and tallying it. One thread at a time.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "norvale/DriverExport.h"
#include "norvale/Event2D.h"

namespace norvale {

// Counts of events per time slot; slots double in length to stay within kMaxSlots. The result
// depends only on the first event's time (the origin) and the set of timestamps, not their order.
class NR_DRIVER_EXPORT RateCounter {
public:
    static constexpr size_t kMaxSlots = 1 << 16;
    static constexpr unsigned kFirstShift = 10; // 1024 us

    // n events at t; the first call sets the origin.
    void add(uint64_t t, uint32_t n) {
        if (t - cacheLo < cacheLen) slotCounts[cacheSlot] += n; // most events land in the slot of the last ones
        else addSlow(t, n);
    }
    void add(const Event2D* begin, const Event2D* end); // one call per event: the reference

    // Sets the origin before any event (a counter for a later part of a stream, to be merged).
    void setOrigin(uint64_t t) {
        isStarted = true;
        start = t;
    }
    // Adds the counts of a counter of later events whose times are timeShift short of the true
    // ones, and makes room for lastTime (the largest time of both). False, with this counter as it
    // was, unless the result is what counting every event here would give: later's slots must each
    // fall in one of ours.
    bool mergeLater(const RateCounter& later, uint64_t timeShift, uint64_t lastTime);

    // Slot of an event at t (the first call sets the origin); coarsens and grows as needed.
    uint64_t slotOf(uint64_t t);
    // Times [lo, hi) that land in slot; slot 0 also takes every time before the origin.
    void slotRange(uint64_t slot, uint64_t& lo, uint64_t& hi) const;
    void addToSlot(uint64_t slot, uint32_t n) { slotCounts[slot] += n; }

    // The largest gap between consecutive event times, [before, after), from the exact times around
    // the runs of empty slots (the last event before a time, the first at or after it). False when
    // no gap reaches a slot's length.
    using TimeLookup = std::function<bool(uint64_t t, uint64_t& found)>;
    bool largestGap(const TimeLookup& previousTime, const TimeLookup& nextTime, uint64_t& before,
                    uint64_t& after) const;

    bool started() const { return isStarted; }
    uint64_t origin() const { return start; }
    uint64_t slotDuration() const { return uint64_t(1) << shift; }
    const std::vector<uint32_t>& counts() const { return slotCounts; }

private:
    void addSlow(uint64_t t, uint32_t n);
    void coarsen();
    bool isStarted = false;
    uint64_t start = 0;
    unsigned shift = kFirstShift;
    std::vector<uint32_t> slotCounts; // not "slots": a Qt macro in programs that include this
    uint64_t cacheLo = 0, cacheLen = 0, cacheSlot = 0; // times [cacheLo, cacheLo + cacheLen) go to cacheSlot
};

struct NR_DRIVER_EXPORT EventTally {
    uint64_t events = 0;
    uint64_t on = 0;
    // Over the events since the caller last reset them (prepareFile resets the minimum per chunk).
    uint64_t minTimestamp = UINT64_MAX;
    uint64_t maxTimestamp = 0;
    bool haveFirst = false;
    uint64_t firstTimestamp = 0;  // of the first event in stream order
    uint64_t recentTimestamp = 0; // an event time in the slot where events were last counted
    uint32_t maxX = 0, maxY = 0;  // largest coordinates of the events counted (0 before any)
    RateCounter rate;

    // n events at t, onCount of them ON.
    void add(uint64_t t, uint32_t n, uint32_t onCount) {
        if (!haveFirst) {
            haveFirst = true;
            firstTimestamp = t;
        }
        events += n;
        on += onCount;
        minTimestamp = t < minTimestamp ? t : minTimestamp;
        maxTimestamp = t > maxTimestamp ? t : maxTimestamp;
        recentTimestamp = t;
        rate.add(t, n);
    }
    void add(const Event2D* begin, const Event2D* end) {
        for (const Event2D* e = begin; e < end; ++e) {
            add(e->timestamp, 1, e->polarity);
            maxX = e->x > maxX ? e->x : maxX;
            maxY = e->y > maxY ? e->y : maxY;
        }
    }
};

} // namespace norvale
