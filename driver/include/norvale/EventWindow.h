#pragma once

// Where a frame's events lie on the event timeline, for every program that works it out: the
// viewer's player (the paced loop and every step), the driver's video export and the live paths
// (the hand-off's span, the processor's flush by event time). Header only, no Qt; any thread.
//
// A frame shows the events with from <= t < to and is labelled (shown) at shownAt.
//
// Frames over a range [lower, upper] (both included), with frame step `step` (event time one frame
// advances) and accumulation `acc` (event time one frame shows), placed by the anchor:
// - FrameEnd: the frame shown at t covers [t - acc, t);
// - FrameStart: the frame shown at t covers [t - step, t - step + acc): the window starts one step
//   before its label, which is how the viewer plays (window [p, p + acc) shown at p + step).
// A window is cut, never moved, to the range: it never starts below lower and never reaches past
// upper. The frame shown at upper is the range's last: its window reaches upper, included
// (to = upper + 1; FrameEnd then covers [upper + 1 - acc, upper + 1)).
//
// Stepping agrees with playing. From position p the next frame is shown at p + step, or at upper
// when less than a step is left: the last, partial frame, whose step is what was left (FrameStart
// then covers [p, upper + 1)). The previous frame is shown at p - step, not below lower: the frame
// that was on screen one step earlier. A step of 0 counts as 1 us, so stepping always moves.
//
// Arithmetic saturates instead of wrapping, whatever the bounds, positions, steps and
// accumulations. At upper == UINT64_MAX the last window ends at UINT64_MAX (an event stamped
// UINT64_MAX is left out).
#include <cstdint>

namespace norvale {

enum class EventWindowAnchor { FrameEnd, FrameStart };

// How frames are laid over a range of event time (see above).
struct FramePlacement {
    uint64_t step = 33333; // us
    uint64_t acc = 33333;  // us
    EventWindowAnchor anchor = EventWindowAnchor::FrameEnd;
    uint64_t lower = 0;
    uint64_t upper = UINT64_MAX; // included; below lower it counts as lower
};

struct EventWindow {
    uint64_t from = 0;
    uint64_t to = 0; // excluded
    uint64_t shownAt = 0;

    constexpr bool contains(uint64_t t) const { return from <= t && t < to; }
    constexpr bool empty() const { return to <= from; }
    // t lies before the window: it is older than anything the window shows.
    constexpr bool isAfter(uint64_t t) const { return t < from; }

    // The frame shown at t (brought into the range first).
    static constexpr EventWindow at(uint64_t t, const FramePlacement& p) { return shown(t, stepOf(p), p); }

    // The frame after position pos: shown at pos + step, or at upper when less than a step is left.
    static constexpr EventWindow next(uint64_t pos, const FramePlacement& p) {
        const uint64_t hi = upperOf(p);
        pos = clamp(pos, p.lower, hi);
        const uint64_t t = stepOf(p) >= hi - pos ? hi : pos + stepOf(p);
        return shown(t, t - pos, p);
    }

    // The frame before position pos: shown at pos - step, not below lower.
    static constexpr EventWindow previous(uint64_t pos, const FramePlacement& p) {
        pos = clamp(pos, p.lower, upperOf(p));
        return shown(pos - p.lower > stepOf(p) ? pos - stepOf(p) : p.lower, stepOf(p), p);
    }

    // A live stream's newest stretch: `span` of event time up to newest, newest included.
    static constexpr EventWindow lastSpan(uint64_t newest, uint64_t span) {
        const uint64_t to = addSat(newest, 1);
        return EventWindow{subSat(to, span), to, newest};
    }

    // A live frame that begins at first and lasts `period` (0: it ends where it begins).
    static constexpr EventWindow startingAt(uint64_t first, uint64_t period) {
        return EventWindow{first, addSat(first, period), first};
    }

private:
    static constexpr uint64_t addSat(uint64_t a, uint64_t b) { return b > UINT64_MAX - a ? UINT64_MAX : a + b; }
    static constexpr uint64_t subSat(uint64_t a, uint64_t b) { return a > b ? a - b : 0; }
    static constexpr uint64_t clamp(uint64_t t, uint64_t lo, uint64_t hi) { return t < lo ? lo : (t > hi ? hi : t); }
    static constexpr uint64_t upperOf(const FramePlacement& p) { return p.upper < p.lower ? p.lower : p.upper; }
    static constexpr uint64_t stepOf(const FramePlacement& p) { return p.step == 0 ? 1 : p.step; }

    // The frame shown at t whose step (for FrameStart: how far its window starts before t) is step.
    static constexpr EventWindow shown(uint64_t t, uint64_t step, const FramePlacement& p) {
        const uint64_t hi = upperOf(p);
        t = clamp(t, p.lower, hi);
        const uint64_t rangeEnd = addSat(hi, 1);
        uint64_t from = 0;
        uint64_t to = 0;
        if (p.anchor == EventWindowAnchor::FrameEnd) {
            to = t >= hi ? rangeEnd : t;
            from = subSat(to, p.acc);
        } else {
            from = subSat(t, step);
            // t - step + acc, without going below 0 or above UINT64_MAX
            to = p.acc >= step ? addSat(t, p.acc - step) : subSat(t, step - p.acc);
            to = t >= hi || to > rangeEnd ? rangeEnd : to;
        }
        from = from < p.lower ? p.lower : from;
        to = to < from ? from : to;
        return EventWindow{from, to, t};
    }
};

} // namespace norvale
