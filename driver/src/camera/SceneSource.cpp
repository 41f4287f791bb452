#include "camera/SceneSource.h"

#include <algorithm>
#include <cmath>

namespace norvale {

namespace {
constexpr uint64_t kFlickerPeriodUs = 10000; // 100 Hz, on for the first half
constexpr uint32_t kFlickerSpreadUs = 400;   // pixels of the patch fire within this after a change
constexpr uint32_t kFlickerTrailUs = 150;
constexpr double kMaxRate = 50e6;            // the sensor's read-out limit
constexpr double kMeanRunLength = 5.0;       // 2..8
} // namespace

SceneSource::SceneSource(uint32_t width, uint32_t height, double rate, uint64_t s)
    : w(std::max(64u, std::min(width, 2048u))), h(std::max(64u, std::min(height, 2048u))),
      baseRate(std::max(0.0, std::min(rate, kMaxRate))), seed(s), wheel(size_t(kWheel) * kPerSlot) {
    flicker = {w * 3 / 4, h * 3 / 4, std::max(8u, w / 20), std::max(8u, h / 18)};
    restart();
    // a fixed phase delay per patch pixel, so that each pixel blinks with an exact period
    std::vector<std::pair<uint16_t, uint32_t>> byDelay;
    for (uint32_t y = flicker.y; y < flicker.y + flicker.h; ++y)
        for (uint32_t x = flicker.x; x < flicker.x + flicker.w; ++x)
            byDelay.emplace_back(uint16_t(below(kFlickerSpreadUs)), y * w + x);
    std::stable_sort(byDelay.begin(), byDelay.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    for (const auto& [d, p] : byDelay) {
        flickerDelay.push_back(d);
        flickerOrder.push_back(p);
    }
    edges.reserve(16);
    shapes.reserve(8);
    edgeOn.reserve(16);
    edgeOff.reserve(16);
}

void SceneSource::restart() {
    rng = seed * 0x9E3779B97F4A7C15ull + 0x2545F4914F6CDD1Dull;
    std::fill(wheelCount.begin(), wheelCount.end(), 0);
    accOn = accOff = accNoise = 0;
}

uint64_t SceneSource::next() { // splitmix64
    uint64_t z = (rng += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

void SceneSource::shapesAt(uint64_t t, uint32_t w, uint32_t h, std::vector<Shape>& out) {
    out.clear();
    const double sec = double(t) * 1e-6;
    // bars: 60 columns wide, wrapping around
    const struct { double x0, speed, top, rows; } bars[3] = {
        {100, 420, 0.10, 0.45}, {900, -260, 0.40, 0.50}, {500, 700, 0.05, 0.30}};
    for (const auto& b : bars) {
        const double cycle = w + 60.0;
        double left = std::fmod(b.x0 + b.speed * sec, cycle);
        if (left < 0) left += cycle;
        left -= 60.0;
        out.push_back(Shape{left, b.top * h, left + 60, (b.top + b.rows) * h, b.speed, 0});
    }
    // rectangles bouncing inside the sensor
    const struct { double x0, y0, vx, vy, rw, rh; } rects[2] = {{200, 150, 230, 140, 160, 100},
                                                               {700, 400, -180, -210, 120, 120}};
    for (const auto& r : rects) {
        // position along a back-and-forth path of length 2 * room
        auto along = [&](double p0, double v, double room, double& pos, double& vel) {
            double p = std::fmod(p0 + std::fabs(v) * sec, 2 * room);
            vel = std::fabs(v);
            if (p > room) {
                p = 2 * room - p;
                vel = -vel;
            }
            if (v < 0) {
                p = room - p;
                vel = -vel;
            }
            pos = p;
        };
        double px, py, vx, vy;
        along(r.x0, r.vx, w - r.rw, px, vx);
        along(r.y0, r.vy, h - r.rh, py, vy);
        out.push_back(Shape{px, py, px + r.rw, py + r.rh, vx, vy});
    }
}

// Where the objects' edges are at time t: an edge in front of a moving bright shape brightens
// (ON), the one behind it darkens (OFF).
void SceneSource::placeObjects(uint64_t t) {
    edges.clear();
    shapesAt(t, w, h, shapes);
    auto add = [&](bool vertical, double pos, double from, double to, bool on) {
        const double limit = vertical ? w : h;
        const double span = vertical ? h : w;
        if (pos < 0 || pos >= limit) return;
        const double a = std::max(0.0, from), b = std::min(span, to);
        if (b - a < 1) return;
        edges.push_back(Edge{vertical, uint32_t(pos), uint32_t(a), uint32_t(b), uint8_t(on)});
    };
    for (const Shape& s : shapes) {
        if (s.vx != 0) {
            add(true, s.x0, s.y0, s.y1, s.vx < 0);
            add(true, s.x1 - 1, s.y0, s.y1, s.vx > 0);
        }
        if (s.vy != 0) {
            add(false, s.y0, s.x0, s.x1, s.vy < 0);
            add(false, s.y1 - 1, s.x0, s.x1, s.vy > 0);
        }
    }
    edgeOn.clear();
    edgeOff.clear();
    for (size_t i = 0; i < edges.size(); ++i) (edges[i].pol ? edgeOn : edgeOff).push_back(uint8_t(i));
}

void SceneSource::fire(uint64_t t, uint32_t x, uint32_t y, uint32_t len, uint8_t pol, std::vector<Event2D>& out) {
    if (y >= h) return;
    const uint32_t end = std::min(w, x + len);
    for (uint32_t xi = x; xi < end; ++xi) out.push_back(Event2D{uint16_t(xi), uint16_t(y), pol, t});
}

void SceneSource::schedule(uint64_t t, const Run& r) {
    const uint32_t slot = uint32_t(t % kWheel);
    if (wheelCount[slot] >= kPerSlot) return; // a crowded moment: this pixel stays quiet
    wheel[size_t(slot) * kPerSlot + wheelCount[slot]++] = r;
}

void SceneSource::generate(uint64_t fromUs, uint64_t toUs, const BiasSettings& b, std::vector<Event2D>& out,
                           std::vector<EventTriggerIn>&) {
    const double mOn = std::exp(-b.diffOn / 30.0), mOff = std::exp(-b.diffOff / 30.0);
    const double noiseMul = std::exp(b.fo / 20.0) * std::exp(-b.hpf / 40.0);
    const double pTrail = 0.5 * std::exp(-b.hpf / 60.0);
    const uint32_t refrUs = uint32_t(50.0 * std::exp(b.refr / 50.0));

    // shares of the base rate: the patch takes what it takes, noise a tenth, edges the rest
    const double patchBase = double(flickerOrder.size()) * 2.0 * (1e6 / kFlickerPeriodUs) * (1 + pTrail);
    const double noiseBase = 0.1 * baseRate;
    const double edgeBase = std::max(0.0, baseRate - patchBase - noiseBase);
    double runsOn = edgeBase * 0.5 * mOn / (kMeanRunLength * (1 + pTrail)) * 1e-6; // per us
    double runsOff = edgeBase * 0.5 * mOff / (kMeanRunLength * (1 + pTrail)) * 1e-6;
    double noise = noiseBase * noiseMul * std::sqrt(mOn * mOff) * 1e-6;
    const double total = (runsOn + runsOff) * kMeanRunLength * (1 + pTrail) * 1e6 + noise * 1e6 +
                         patchBase * std::max(std::min(mOn, 1.0), std::min(mOff, 1.0));
    if (total > kMaxRate) { // read-out limit
        const double k = kMaxRate / total;
        runsOn *= k;
        runsOff *= k;
        noise *= k;
    }
    const double keepOn = std::min(1.0, mOn), keepOff = std::min(1.0, mOff);
    const bool patchTrail = refrUs < kFlickerTrailUs;

    uint64_t placedMs = ~0ull;
    for (uint64_t t = fromUs; t < toUs; ++t) {
        if (t / 1000 != placedMs) {
            placedMs = t / 1000;
            placeObjects(t);
        }
        // the blinking patch: pixels whose delay is now
        const uint64_t phase = t % kFlickerPeriodUs;
        const uint64_t half = kFlickerPeriodUs / 2;
        if (phase < kFlickerSpreadUs || (phase >= half && phase < half + kFlickerSpreadUs)) {
            const uint8_t pol = phase < half;
            const uint16_t d = uint16_t(pol ? phase : phase - half);
            const double keep = pol ? keepOn : keepOff;
            auto it = std::lower_bound(flickerDelay.begin(), flickerDelay.end(), d);
            for (size_t i = size_t(it - flickerDelay.begin()); i < flickerDelay.size() && flickerDelay[i] == d; ++i) {
                if (keep < 1.0 && unit() >= keep) continue;
                const uint32_t x = flickerOrder[i] % w, y = flickerOrder[i] / w;
                out.push_back(Event2D{uint16_t(x), uint16_t(y), pol, t});
                if (patchTrail && unit() < pTrail) schedule(t + kFlickerTrailUs, Run{uint16_t(x), uint16_t(y), 1, pol});
            }
        }
        // moving edges
        for (int pol = 0; pol < 2; ++pol) {
            double& acc = pol ? accOn : accOff;
            const std::vector<uint8_t>& list = pol ? edgeOn : edgeOff;
            acc += pol ? runsOn : runsOff;
            if (list.empty()) {
                acc = std::min(acc, 1.0);
                continue;
            }
            while (acc >= 1.0) {
                acc -= 1.0;
                const Edge& e = edges[list[below(uint32_t(list.size()))]];
                const uint32_t len = 2 + below(7);
                uint32_t x, y;
                if (e.vertical) {
                    y = e.from + below(e.to - e.from);
                    x = e.pos >= len / 2 ? e.pos - len / 2 : 0;
                } else {
                    y = e.pos;
                    x = e.from + below(e.to - e.from);
                }
                fire(t, x, y, len, uint8_t(pol), out);
                if (unit() < pTrail) {
                    const uint32_t delay = 30 + below(370);
                    if (delay >= refrUs) schedule(t + delay, Run{uint16_t(x), uint16_t(y), uint16_t(len), uint8_t(pol)});
                }
            }
        }
        // background noise
        accNoise += noise;
        while (accNoise >= 1.0) {
            accNoise -= 1.0;
            const uint64_t r = next();
            out.push_back(Event2D{uint16_t(((r >> 32) * w) >> 32), uint16_t(((r & 0xFFFFFFFFu) * h) >> 32),
                                  uint8_t((r >> 31) & 1), t});
        }
        // trails due now
        const uint32_t slot = uint32_t(t % kWheel);
        for (uint32_t i = 0; i < wheelCount[slot]; ++i) {
            const Run& r = wheel[size_t(slot) * kPerSlot + i];
            fire(t, r.x, r.y, r.len, r.pol, out);
        }
        wheelCount[slot] = 0;
    }
}

} // namespace norvale
