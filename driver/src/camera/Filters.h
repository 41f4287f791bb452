#pragma once

// The event filters of our simulated sensors, applied in this order on the streaming thread to
// each chunk, in place: ROI, anti-flicker, event trail filter, event rate control. Each keeps
// per-pixel state sized once for the sensor; nothing allocates per chunk.
// One thread (the streaming thread) uses a filter; settings arrive through update().
#include <cstdint>
#include <vector>

#include "camera/SensorSettings.h"
#include "norvale/Event2D.h"

namespace norvale {

class RoiFilter {
public:
    void update(const RoiSettings& s) { cfg = s; }
    void apply(std::vector<Event2D>& events) const;

private:
    RoiSettings cfg;
};

// A pixel blinks when the interval between its last two ON onsets (an ON event after an OFF
// one) lies in the band and its ON share of that period is near the duty cycle. Band stop
// removes the events of blinking pixels, band pass keeps only those.
class AntiFlickerFilter {
public:
    AntiFlickerFilter(uint32_t width, uint32_t height);
    void update(const AntiFlickerSettings& s);
    void apply(std::vector<Event2D>& events);

private:
    struct Pixel {
        uint32_t lastOn = 0;  // time of the last ON onset (low 32 bits of us)
        uint32_t period = 0;  // between the last two ON onsets; 0 unknown
        uint32_t lastOff = 0; // time of the last OFF onset
        uint8_t pol = 2;      // polarity of the last event, 2 none
        uint8_t share = 0;    // ON share of the last whole cycle, percent (0 unknown)
        uint8_t pad[2] = {};
    };
    bool blinking(const Pixel& p, uint32_t now) const;
    AntiFlickerSettings cfg;
    uint32_t minPeriod = 0, maxPeriod = 0; // us, from the band
    uint32_t minShare = 0, maxShare = 0;   // percent, from the duty cycle
    uint32_t width, height;
    std::vector<Pixel> pixels;
};

// Per pixel, events closer than the threshold to the previous event of the same polarity form
// a burst. trail keeps the first event of a burst, stc cut trail the second only, stc keep
// trail everything but lone events.
class TrailFilter {
public:
    TrailFilter(uint32_t width, uint32_t height);
    void update(const TrailSettings& s) { cfg = s; }
    void apply(std::vector<Event2D>& events);

private:
    struct Pixel {
        uint32_t last = 0;  // time of the last event (low 32 bits of us)
        uint16_t run = 0;   // events in the current burst so far
        uint8_t pol = 2;    // 2: no event yet
        uint8_t pad = 0;
    };
    TrailSettings cfg;
    uint32_t width, height;
    std::vector<Pixel> pixels;
};

// Keeps the output at or under the limit in every 1 ms window (sliding, not only aligned):
// each microsecond keeps an even share of its events, and a running sum of the last 999 us
// caps what it may add.
class RateControlFilter {
public:
    RateControlFilter();
    void update(const RateControlSettings& s) { cfg = s; }
    void apply(std::vector<Event2D>& events);

private:
    RateControlSettings cfg;
    std::vector<uint32_t> kept; // events kept per microsecond, a ring of 1000
    uint64_t ringTime = 0;      // the microsecond that ring slot ringTime % 1000 holds
    uint64_t windowSum = 0;     // kept events of (ringTime - 999, ringTime]
    double share = 1.0;         // fraction of the incoming events kept
    double accum = 0;           // Bresenham accumulator for the even choice
};

} // namespace norvale
