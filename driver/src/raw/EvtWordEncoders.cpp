#include "raw/EvtWordEncoders.h"

#include <cstring>

namespace norvale::detail {

namespace {

constexpr uint32_t kHighMask = 0x0FFFFFFFu; // TIME_HIGH holds bits 33..6
constexpr uint32_t kHalfRange = 1u << 27;   // a fall this large is read as a wrap
constexpr uint64_t kMaxWrapJump = 1u << 16;

} // namespace

void EvtWordEncoder::put(uint64_t word) {
    uint8_t bytes[8];
    const size_t n = wide ? 8 : 4;
    for (size_t i = 0; i < n; ++i) bytes[i] = uint8_t(word >> (8 * i));
    out.insert(out.end(), bytes, bytes + n);
}

void EvtWordEncoder::putHigh(uint32_t high) {
    const uint64_t word = (uint64_t(0x8) << 28) | high;
    put(wide ? word << 32 : word);
    time.high = high;
    time.have = true;
}

bool EvtWordEncoder::setTime(uint64_t t, std::string& problem) {
    const uint64_t epoch = t >> 34;
    const uint32_t high = uint32_t(t >> 6) & kHighMask;
    if (!time.have) {
        if (epoch == 0) {
            putHigh(high);
            return true;
        }
        putHigh(0); // a reader counts wraps from its first TIME_HIGH on
    }
    if (epoch < time.epoch || (epoch == time.epoch && time.high >= high + kHalfRange)) {
        problem = "t = " + std::to_string(t) + " goes back in time further than the format can express (" +
                  "a step back must stay under 2^33 us within one 2^34 us period); sort the events by t";
        return false;
    }
    if (epoch - time.epoch > kMaxWrapJump) {
        problem = "t = " + std::to_string(t) + " lies more than 65536 periods of 2^34 us after the previous time";
        return false;
    }
    while (time.epoch < epoch) {
        // Up to the top, then down to 0: a reader counts exactly one wrap.
        if (time.high != kHighMask) putHigh(kHighMask);
        putHigh(0);
        ++time.epoch;
    }
    if (time.high != high) putHigh(high);
    return true;
}

void EvtWordEncoder::flushVector() {
    if (!open) return;
    const uint64_t word = (uint64_t(vecPolarity ? 0x1 : 0x0) << 60) | (uint64_t(vecTime & 63) << 54) |
                          (uint64_t(vecBase) << 43) | (uint64_t(vecY) << 32) | vecMask;
    put(word);
    open = false;
}

bool EvtWordEncoder::add(const Event2D* eBegin, const Event2D* eEnd, const EventTriggerIn* tBegin,
                         const EventTriggerIn* tEnd, std::string& problem) {
    auto addTrigger = [&](const EventTriggerIn& k) {
        if (k.id > 31 || k.value > 1) {
            problem = "trigger at t = " + std::to_string(k.timestamp) + " on channel " + std::to_string(k.id) +
                      " with value " + std::to_string(k.value) + " cannot be stored (channels 0..31, values 0 or 1)";
            return false;
        }
        flushVector();
        if (!setTime(k.timestamp, problem)) return false;
        const uint64_t word =
            (uint64_t(0xA) << 28) | (uint64_t(k.timestamp & 63) << 22) | (uint64_t(k.id) << 8) | (k.value & 1u);
        put(wide ? word << 32 : word);
        return true;
    };
    const EventTriggerIn* k = tBegin;
    for (const Event2D* e = eBegin; e != eEnd; ++e) {
        for (; k != tEnd && k->timestamp < e->timestamp; ++k)
            if (!addTrigger(*k)) return false;
        if (e->x >= width || e->y >= height || e->polarity > 1) {
            problem = "event at t = " + std::to_string(e->timestamp) + " (x " + std::to_string(e->x) + ", y " +
                      std::to_string(e->y) + ", p " + std::to_string(e->polarity) + ") lies outside the " +
                      std::to_string(width) + " x " + std::to_string(height) + " sensor or has no polarity";
            return false;
        }
        if (!wide) {
            if (!setTime(e->timestamp, problem)) return false;
            put((uint64_t(e->polarity ? 0x1 : 0x0) << 28) | (uint64_t(e->timestamp & 63) << 22) |
                (uint64_t(e->x) << 11) | e->y);
            continue;
        }
        const uint32_t base = e->x & ~31u;
        // x must rise within a vector: a reader returns its pixels in x order, so file order stays
        if (open && e->timestamp == vecTime && e->y == vecY && e->polarity == vecPolarity && base == vecBase &&
            e->x > vecLastX) {
            vecMask |= 1u << (e->x - base);
            vecLastX = e->x;
            continue;
        }
        flushVector();
        if (!setTime(e->timestamp, problem)) return false;
        open = true;
        vecTime = e->timestamp;
        vecY = e->y;
        vecPolarity = e->polarity;
        vecBase = base;
        vecLastX = e->x;
        vecMask = 1u << (e->x - base);
    }
    for (; k != tEnd; ++k)
        if (!addTrigger(*k)) return false;
    // A vector may go on in the next call; end() of the writer flushes it through an empty add.
    if (eBegin == eEnd && tBegin == tEnd) flushVector();
    return true;
}

} // namespace norvale::detail
