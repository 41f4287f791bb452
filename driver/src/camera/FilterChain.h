#pragma once

// The processing tools of a sensor applied to its stream: fetches the settings the tools
// published (SensorControls) and runs ROI, anti-flicker, event trail filter and event rate
// control, in that order, on each chunk's events in place. Shared by every device whose
// tools act on the stream in software. Streaming thread only.
#include <cstdint>
#include <vector>

#include "camera/Filters.h"
#include "camera/SensorTools.h"

namespace norvale {

class FilterChain {
public:
    FilterChain(uint32_t width, uint32_t height) : antiFlicker(width, height), trail(width, height) {}
    // Takes the settings changed since the last call.
    void refresh(SensorControls& c) {
        AntiFlickerSettings a;
        if (c.antiFlicker.fetch(a, seen[0])) antiFlicker.update(a);
        TrailSettings t;
        if (c.trail.fetch(t, seen[1])) trail.update(t);
        RateControlSettings r;
        if (c.rate.fetch(r, seen[2])) rate.update(r);
        RoiSettings ro;
        if (c.roi.fetch(ro, seen[3])) roi.update(ro);
    }
    void apply(std::vector<Event2D>& events) {
        roi.apply(events);
        antiFlicker.apply(events);
        trail.apply(events);
        rate.apply(events);
    }

private:
    RoiFilter roi;
    AntiFlickerFilter antiFlicker;
    TrailFilter trail;
    RateControlFilter rate;
    uint64_t seen[4] = {0, 0, 0, 0}; // the last settings version taken, per filter
};

} // namespace norvale
