#pragma once

// What an event frame is, for every program that draws one: the viewer's display and the driver's
// video export paint from these definitions (each in its own memory layout), so that a video shows
// what the viewer showed. Header only, no Qt; any thread.
//
// A frame covers a window of event time. Each pixel keeps two counts of the window's events, OFF
// (polarity 0) and ON (polarity 1), both capped at kEventCountCap. The pixel shows the background
// colour without events, the ON colour where ON outnumbers OFF, the OFF colour otherwise (a tie is
// OFF).
//
// The viewer's fusion views (a fusion camera live, or a fusion recording replayed) keep a second,
// older rule, their established look, so that they show what they always showed:
// - the live DVS view caps each count at kFusionEventCountCap and paints a tie ON;
// - the fusion view, and every view of a replay, draws the window's events one by one in time
//   order over the picture (the APS frame mapped onto the DVS grid, or the background), each pixel
//   taking the colour of its last event; nothing is counted.
// Exported videos and the DVS event processor use the rule above only.
//
// Three rates, never to be mixed up:
// - display rate: frames shown per second of wall-clock time while a recording plays, and frames
//   per second of an exported video (kDisplayRateHz);
// - frame step: event time (us) one frame advances;
// - slow motion: wall-clock seconds per second of event time, 1e6 / (kDisplayRateHz * step)
//   (1 is real time, 10 is ten times slower).
#include <cstdint>

#include "norvale/EventWindow.h" // where a frame's window lies (EventWindow, EventWindowAnchor)

namespace norvale {

// One 8-bit RGB colour.
struct FrameRgb {
    uint8_t r = 0;
    uint8_t g = 0;
    uint8_t b = 0;
    constexpr bool operator==(const FrameRgb& o) const { return r == o.r && g == o.g && b == o.b; }
    constexpr bool operator!=(const FrameRgb& o) const { return !(*this == o); }
};

constexpr uint16_t kEventCountCap = 3;

constexpr int kDisplayRateHz = 30;
constexpr uint64_t kDisplayPeriodUs = 1000000 / kDisplayRateHz;

// The tie rule: true where the ON colour is shown (counts already capped, not both zero).
constexpr bool onWins(unsigned offCount, unsigned onCount) { return onCount > offCount; }

// The fusion camera's DVS view: counts capped here, a tie painted ON (nrcounts::Tie::On).
constexpr uint16_t kFusionEventCountCap = 10;

// The shade of a pixel with these (capped) counts; T is a colour or one channel of it.
template <typename T>
constexpr T eventShade(unsigned offCount, unsigned onCount, T background, T on, T off) {
    return (offCount | onCount) == 0 ? background : (onWins(offCount, onCount) ? on : off);
}

// The colour schemes of the viewer's settings; names as the settings store them.
struct EventColorScheme {
    const char* name;
    FrameRgb on;
    FrameRgb off;
    FrameRgb background;
};

inline constexpr EventColorScheme kEventColorSchemes[] = {
    {"Gray", {255, 255, 255}, {0, 0, 0}, {112, 112, 112}},
    {"RedBlue", {255, 0, 0}, {0, 0, 255}, {112, 112, 112}},
    {"RedGreen", {255, 0, 0}, {0, 255, 0}, {112, 112, 112}},
    {"Dark", {255, 255, 255}, {64, 126, 200}, {30, 37, 52}},
    {"Light", {0, 0, 0}, {64, 126, 201}, {255, 255, 255}},
};

} // namespace norvale
