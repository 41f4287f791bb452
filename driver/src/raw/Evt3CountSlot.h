#pragma once

// The scalar side of the vectorised counting kernels: the rate slot whose 24-bit time window
// [lo24, hi24) the vector sums collect, and the hand-over of those sums to the tally.
#include <algorithm>

#include "raw/Evt3Word.h"

namespace norvale::detail {

struct Evt3CountSlot {
    uint64_t slot = 0;
    uint32_t lo24 = 0xFFFFFFFFu, hi24 = 0; // empty until the first event

    // After the reference path ran: the slot of the latest events under the current wrap.
    void rebound(EventTally& tally, const RawDecoderState& s) {
        if (!tally.haveFirst) return;
        slot = tally.rate.slotOf(tally.recentTimestamp); // counted already: neither grows nor coarsens
        uint64_t lo = 0, hi = 0;
        tally.rate.slotRange(slot, lo, hi);
        const uint64_t full = uint64_t(1) << 24;
        lo24 = uint32_t(lo <= s.wrapBase ? 0 : std::min(lo - s.wrapBase, full));
        hi24 = uint32_t(hi <= s.wrapBase ? 0 : std::min(hi - s.wrapBase, full));
    }

    // n events (on of them ON) with 24-bit times in [min24, max24], all in this slot.
    void flush(EventTally& tally, const RawDecoderState& s, uint64_t n, uint64_t on, uint32_t min24,
               uint32_t max24) const {
        if (!n) return;
        tally.events += n;
        tally.on += on;
        tally.rate.addToSlot(slot, uint32_t(n));
        tally.minTimestamp = std::min(tally.minTimestamp, s.wrapBase | min24);
        tally.maxTimestamp = std::max(tally.maxTimestamp, s.wrapBase | max24);
        tally.recentTimestamp = s.wrapBase | max24;
    }
};

} // namespace norvale::detail
