#pragma once

// Turns datagrams of one wire format into events, each checked: a datagram whose size is not a
// whole number of events is refused whole, so is one whose events step back in time within it;
// events outside the geometry (or with a polarity byte other than 0 or 1) are left out. t32
// times are unwrapped into the 64-bit clock, each taken as the nearest to the newest time seen
// (so a step back of less than half the wrap, 35 minutes, is a step back, not a wrap).
// Nothing here allocates: the caller gives room. One thread (the streaming thread).
#include <cstdint>
#include <vector>

#include "norvale/Event2D.h"
#include "norvale/NetworkStream.h"

namespace norvale {

class WireDecoder {
public:
    enum class Result { Events, Malformed, Unordered };

    WireDecoder(WireFormat format, uint32_t width, uint32_t height);
    // A new stream: t32's clock starts from the next event's own 32-bit time.
    void restart();

    // Appends the datagram's valid events to out, whose capacity must hold
    // maxEventsPerDatagram more. Malformed and Unordered append nothing. `invalid`: events left
    // out of an accepted datagram.
    Result decode(const uint8_t* data, size_t size, std::vector<Event2D>& out, uint64_t& invalid);
    // Events a datagram of that size holds.
    size_t eventsIn(size_t size) const { return size / eventSize; }

private:
    WireFormat format;
    size_t eventSize;
    uint32_t width, height;
    bool started = false; // t32: a time has been seen
    uint64_t newest = 0;  // t32: the newest unwrapped time
};

} // namespace norvale
