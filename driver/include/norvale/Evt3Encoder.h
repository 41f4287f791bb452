#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "norvale/DriverExport.h"
#include "norvale/Event2D.h"
#include "norvale/RawDecoder.h"

namespace norvale {

// The geometry every raw file we write states: the base library's header writer is fixed to it.
constexpr uint32_t kWrittenWidth = 1280;
constexpr uint32_t kWrittenHeight = 720;

// Turns events and trigger edges into EVT 3.0 words (no header). It mirrors the decoder's state,
// so it emits TIME_HIGH, TIME_LOW and ADDR_Y only when they change, and a row run of same-time,
// same-polarity events with increasing x as one VECT_BASE_X plus VECT_12 / VECT_8 words.
// Whatever it accepts, a decoder reads back exactly. One thread at a time.
class NR_DRIVER_EXPORT Evt3Encoder {
public:
    // Events outside width x height are dropped (the file header states the geometry).
    explicit Evt3Encoder(uint32_t width = kWrittenWidth, uint32_t height = kWrittenHeight);

    // Events should come in time order. An event that goes back so far that the decoder would
    // count a wrap of the 24-bit time (about 8 s, or across a wrap) cannot be written and is
    // dropped, as is one more than 2^16 wraps (about 12 days) after the previous one.
    void addEvents(const Event2D* begin, const Event2D* end);
    void addTrigger(const EventTriggerIn& trigger);
    // Events and triggers merged by time (a trigger goes after the events of its timestamp).
    void add(const Event2D* eBegin, const Event2D* eEnd, const EventTriggerIn* tBegin, const EventTriggerIn* tEnd);

    // The words produced so far, as bytes; clearOutput keeps the buffer for reuse.
    const uint8_t* data() const { return reinterpret_cast<const uint8_t*>(words.data()); }
    size_t size() const { return used * 2; }
    void clearOutput() { used = 0; }

    // Forget the stream state: the next words start a new stream (a new file).
    void reset();

    // For words copied from another stream: writes the words that bring a decoder of this stream
    // to state s (time, row, vector base and polarity), so that words which a decoder reads in
    // state s decode here to the same events. False, writing nothing, when s's time cannot be
    // reached from here. A vector base past the width is written as one (the width is at most 2047).
    bool enterState(const RawDecoderState& s);
    // The words copied after enterState left a decoder of this stream in state s.
    void assumeState(const RawDecoderState& s);

    uint64_t eventsEncoded() const { return encoded; }
    uint64_t droppedEvents() const { return dropped; }
    uint64_t droppedTriggers() const { return droppedTrig; }

private:
    bool setTime(uint64_t t);
    void ensure(size_t n) {
        if (used + n > words.size()) grow(n);
    }
    void grow(size_t n);
    void put(uint16_t w) { words[used++] = w; }

    uint32_t width, height;
    std::vector<uint16_t> words;
    size_t used = 0;
    bool haveTime = false;
    uint64_t epoch = 0; // wraps the decoder has counted
    uint32_t high = 0, low = 0;
    uint32_t y = 0xFFFFFFFFu;
    uint64_t encoded = 0, dropped = 0, droppedTrig = 0;
};

} // namespace norvale
