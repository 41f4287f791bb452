#include "norvale/Evt3Encoder.h"

#include <algorithm>

namespace norvale {

namespace {
constexpr uint16_t kAddrY = 0x0000, kAddrX = 0x2000, kVectBase = 0x3000, kVect12 = 0x4000, kVect8 = 0x5000,
                   kTimeLow = 0x6000, kTimeHigh = 0x8000, kTrigger = 0xA000;
constexpr uint64_t kMaxWrapJump = 1u << 16;
} // namespace

Evt3Encoder::Evt3Encoder(uint32_t w, uint32_t h) : width(std::min(w, 2048u)), height(std::min(h, 2048u)) {
    words.resize(1 << 16);
}

void Evt3Encoder::reset() {
    haveTime = false;
    epoch = 0;
    high = low = 0;
    y = 0xFFFFFFFFu;
}

bool Evt3Encoder::enterState(const RawDecoderState& s) {
    if (!s.haveTime) return !haveTime; // a decoder never forgets the time
    // No word makes a decoder forget its row or vector base: a row past the height, a base past
    // the width drop events alike, which 0x7FF does only while the geometry leaves it outside.
    if ((s.y == RawDecoderState::kNoY && height > 0x7FFu) || (s.base > 0x7FFu && width > 0x7FFu)) return false;
    if (!setTime(s.wrapBase | uint64_t(s.timeHigh) << 12 | s.timeLow)) return false; // writes nothing when false
    ensure(2);
    if (s.y != RawDecoderState::kNoY || y != 0xFFFFFFFFu) {
        y = s.y == RawDecoderState::kNoY ? 0x7FFu : s.y;
        put(uint16_t(kAddrY | y));
    }
    put(uint16_t(kVectBase | uint32_t(s.polarity & 1u) << 11 | std::min<uint32_t>(s.base, 0x7FFu)));
    return true;
}

void Evt3Encoder::assumeState(const RawDecoderState& s) {
    haveTime = s.haveTime;
    epoch = s.wrapBase >> 24;
    high = s.timeHigh;
    low = s.timeLow;
    y = s.y == RawDecoderState::kNoY ? 0xFFFFFFFFu : s.y;
}

void Evt3Encoder::grow(size_t n) { words.resize(std::max(words.size() * 2, used + n + 1024)); }

// Brings the decoder's time to t, or returns false when t cannot be reached from here.
bool Evt3Encoder::setTime(uint64_t t) {
    const uint64_t e = t >> 24;
    const uint32_t h = uint32_t(t >> 12) & 0xFFFu, l = uint32_t(t) & 0xFFFu;
    if (haveTime && e == epoch && h == high) {
        if (l != low) {
            ensure(1);
            put(uint16_t(kTimeLow | l));
            low = l;
        }
        return true;
    }
    // A stream starts at epoch 0: reaching a later epoch takes one counted wrap per epoch.
    const uint64_t from = haveTime ? epoch : 0;
    if (e < from) return false;
    if (e == from && haveTime && h < high && high - h >= 2048) return false; // would count a wrap
    if (e - from > kMaxWrapJump) return false;
    ensure(size_t(e - from) * 2 + 8);
    if (!haveTime) {
        put(uint16_t(kTimeHigh | (e == 0 ? h : 0xFFFu)));
        high = e == 0 ? h : 0xFFFu;
        haveTime = true;
        epoch = 0;
    }
    if (e == epoch + 1 && high >= h + 2048) { // a plain wrap
        put(uint16_t(kTimeHigh | h));
        epoch = e;
        high = h;
    } else {
        while (epoch < e) { // each wrap: a step down of at least 2048
            if (high < 2048) put(uint16_t(kTimeHigh | 0xFFFu));
            put(uint16_t(kTimeHigh | 0));
            high = 0;
            ++epoch;
        }
        if (h != high) {
            put(uint16_t(kTimeHigh | h));
            high = h;
        }
    }
    low = 0; // the decoder restarts the low part with a new TIME_HIGH
    if (l != 0) {
        put(uint16_t(kTimeLow | l));
        low = l;
    }
    return true;
}

void Evt3Encoder::addEvents(const Event2D* begin, const Event2D* end) {
    const Event2D* e = begin;
    while (e < end) {
        if (e->x >= width || e->y >= height || e->polarity > 1 || !setTime(e->timestamp)) {
            ++dropped;
            ++e;
            continue;
        }
        // the run: same time, row and polarity, x strictly increasing
        const Event2D* r = e + 1;
        while (r < end && r->timestamp == e->timestamp && r->y == e->y && r->polarity == e->polarity &&
               r->x > r[-1].x && r->x < width)
            ++r;
        const size_t n = size_t(r - e);
        ensure(2 * n + 4);
        if (e->y != y) {
            put(uint16_t(kAddrY | e->y));
            y = e->y;
        }
        const uint16_t pol = uint16_t(e->polarity << 11);
        if (n < 3) {
            for (const Event2D* q = e; q < r; ++q) put(uint16_t(kAddrX | pol | q->x));
        } else {
            uint32_t base = e->x;
            put(uint16_t(kVectBase | pol | base));
            const Event2D* q = e;
            while (q < r) {
                if (q->x >= base + 12) {
                    base = q->x;
                    put(uint16_t(kVectBase | pol | base));
                }
                uint32_t bits = 0;
                while (q < r && q->x < base + 12) {
                    bits |= 1u << (q->x - base);
                    ++q;
                }
                if (bits < 256) {
                    put(uint16_t(kVect8 | bits));
                    base += 8;
                } else {
                    put(uint16_t(kVect12 | bits));
                    base += 12;
                }
            }
        }
        encoded += n;
        e = r;
    }
}

void Evt3Encoder::addTrigger(const EventTriggerIn& trigger) {
    if (!setTime(trigger.timestamp)) {
        ++droppedTrig;
        return;
    }
    ensure(1);
    put(uint16_t(kTrigger | ((trigger.id & 0xFu) << 8) | (trigger.value & 1u)));
}

void Evt3Encoder::add(const Event2D* eBegin, const Event2D* eEnd, const EventTriggerIn* tBegin,
                      const EventTriggerIn* tEnd) {
    for (const EventTriggerIn* t = tBegin; t < tEnd; ++t) {
        const Event2D* upTo = eBegin;
        while (upTo < eEnd && upTo->timestamp <= t->timestamp) ++upTo;
        addEvents(eBegin, upTo);
        eBegin = upTo;
        addTrigger(*t);
    }
    addEvents(eBegin, eEnd);
}

} // namespace norvale
