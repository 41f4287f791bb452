#pragma once

// The simulated sensor's scene: bright bars moving across, two rectangles drifting diagonally,
// a patch blinking at 100 Hz (50 % duty), background noise. Every change fires a short run of
// events along a row; many pixels fire again shortly after (a trail), as real pixels do. The
// biases scale the rates like a sensor's: the contrast thresholds the ON and OFF events, the
// photoreceptor and high-pass biases the noise, the refractory period and high-pass the trails.
// Deterministic for a seed. Fast: runs are written without sorting (about 10 ns per event).
#include <array>
#include <cstdint>
#include <vector>

#include "camera/EventSource.h"

namespace norvale {

class SceneSource : public EventSource {
public:
    // rate: events per second with all biases at 0.
    SceneSource(uint32_t width, uint32_t height, double rate, uint64_t seed);

    uint32_t width() const override { return w; }
    uint32_t height() const override { return h; }
    void restart() override;
    void generate(uint64_t fromUs, uint64_t toUs, const BiasSettings& biases, std::vector<Event2D>& out,
                  std::vector<EventTriggerIn>& triggers) override;

    // The blinking patch, for tests: [x0, x0 + w) x [y0, y0 + h).
    struct Rect {
        uint32_t x, y, w, h;
    };
    Rect flickerPatch() const { return flicker; }
    static bool flickerOn(uint64_t t) { return t % 10000 < 5000; }

    // The bright shapes of the scene at time t (sensor pixels; velocity in pixels per second),
    // for the APS image of the same scene.
    struct Shape {
        double x0, y0, x1, y1;
        double vx, vy;
    };
    static void shapesAt(uint64_t t, uint32_t width, uint32_t height, std::vector<Shape>& out);

private:
    struct Run { // a row run to fire again later
        uint16_t x, y, len;
        uint8_t pol;
    };
    struct Edge { // a straight edge of a moving object at the current millisecond
        bool vertical; // a column (runs across it) or a row (runs along it)
        uint32_t pos;  // column or row
        uint32_t from, to; // rows (vertical) or columns covered
        uint8_t pol;
    };
    uint64_t next();
    uint32_t below(uint32_t n) { return uint32_t((next() >> 32) * n >> 32); }
    double unit() { return double(next() >> 11) * (1.0 / 9007199254740992.0); }
    void placeObjects(uint64_t t);
    void fire(uint64_t t, uint32_t x, uint32_t y, uint32_t len, uint8_t pol, std::vector<Event2D>& out);
    void schedule(uint64_t t, const Run& r);

    uint32_t w, h;
    double baseRate;
    uint64_t seed, rng;
    Rect flicker;
    std::vector<uint32_t> flickerOrder; // patch pixels sorted by their phase delay
    std::vector<uint16_t> flickerDelay; // phase delay of each entry of flickerOrder
    std::vector<Shape> shapes;
    std::vector<Edge> edges;            // of the objects, refreshed every millisecond
    std::vector<uint8_t> edgeOn;        // indices of ON edges / OFF edges
    std::vector<uint8_t> edgeOff;
    static constexpr uint32_t kWheel = 1024; // us of delayed runs kept ahead
    static constexpr uint32_t kPerSlot = 48;
    std::vector<Run> wheel;             // kWheel slots of kPerSlot runs
    std::array<uint8_t, kWheel> wheelCount{};
    double accOn = 0, accOff = 0, accNoise = 0;
};

} // namespace norvale
