#pragma once

// EVT 2.0 (32-bit words) and EVT 2.1 (64-bit words, 32-pixel vectors) encoders. Both formats
// carry the low 6 bits of the time in every event word and bits 33..6 in a TIME_HIGH word,
// written whenever they change; a reader counts a wrap of the 34-bit time when TIME_HIGH falls
// by half its range or more, so a later epoch is reached by the words that make it count one.
// Words are little-endian (an EVT 2.1 word as one 64-bit value). One thread at a time.
#include <cstdint>
#include <string>
#include <vector>

#include "norvale/Event2D.h"

namespace norvale::detail {

class EvtWordEncoder {
public:
    // wide: EVT 2.1 (64-bit words, vectors) rather than EVT 2.0.
    EvtWordEncoder(bool wide, uint32_t width, uint32_t height) : wide(wide), width(width), height(height) {}

    // Events in order, with the trigger edges of the same stretch of time (an edge goes before
    // the first event later than it). False with problem for a record the format cannot hold:
    // outside the geometry, a trigger channel above 31, a step back in time of more than a
    // half range of TIME_HIGH (about 2.4 hours) or a jump of more than 65536 wraps ahead. The
    // stream is unusable after a refusal.
    bool add(const Event2D* eBegin, const Event2D* eEnd, const EventTriggerIn* tBegin, const EventTriggerIn* tEnd,
             std::string& problem);

    // An EVT 2.1 vector may wait for more pixels of the next call: an add of nothing writes it.
    const uint8_t* data() const { return out.data(); }
    size_t size() const { return out.size(); }
    void clearOutput() { out.clear(); }

private:
    struct Time {
        bool have = false;
        uint64_t epoch = 0; // wraps a reader has counted
        uint32_t high = 0;  // the last TIME_HIGH, bits 33..6
    };
    bool setTime(uint64_t t, std::string& problem);
    void putHigh(uint32_t high);
    void put(uint64_t word);
    void flushVector();

    bool wide;
    uint32_t width, height;
    Time time;
    std::vector<uint8_t> out;
    // EVT 2.1: the vector being gathered (same time, row, polarity and 32-pixel base; x rising)
    bool open = false;
    uint64_t vecTime = 0;
    uint32_t vecY = 0, vecBase = 0, vecLastX = 0;
    uint8_t vecPolarity = 0;
    uint32_t vecMask = 0;
};

} // namespace norvale::detail
