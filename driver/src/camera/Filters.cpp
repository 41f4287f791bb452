#include "camera/Filters.h"

#include <algorithm>
#include <cmath>

namespace norvale {

namespace {
// Pixel state is read in event order, which is random across the sensor for noise: asking for
// the state a few events ahead keeps several memory reads in flight.
constexpr size_t kPrefetch = 12;
template <typename Pixel>
inline void prefetchPixel(const std::vector<Pixel>& pixels, const std::vector<Event2D>& events, size_t i,
                          uint32_t width, uint32_t height) {
    if (i >= events.size()) return;
    const Event2D& e = events[i];
    if (e.x < width && e.y < height) __builtin_prefetch(&pixels[size_t(e.y) * width + e.x], 1);
}

// Keeps the events for which keep(event, its pixel's state) is true, in place.
template <typename Pixel, typename Keep>
void keepByPixel(std::vector<Event2D>& events, std::vector<Pixel>& pixels, uint32_t width, uint32_t height, Keep keep) {
    size_t out = 0;
    const size_t n = events.size();
    for (size_t i = 0; i < n; ++i) {
        prefetchPixel(pixels, events, i + kPrefetch, width, height);
        const Event2D e = events[i];
        if (e.x >= width || e.y >= height) continue;
        if (keep(e, pixels[size_t(e.y) * width + e.x])) events[out++] = e;
    }
    events.resize(out);
}
} // namespace

void RoiFilter::apply(std::vector<Event2D>& events) const {
    if (!cfg.enable) return;
    const uint32_t x0 = uint32_t(cfg.x), y0 = uint32_t(cfg.y), w = uint32_t(cfg.width), h = uint32_t(cfg.height);
    size_t out = 0;
    for (const Event2D& e : events)
        if (uint32_t(e.x) - x0 < w && uint32_t(e.y) - y0 < h) events[out++] = e;
    events.resize(out);
}

AntiFlickerFilter::AntiFlickerFilter(uint32_t w, uint32_t h) : width(w), height(h), pixels(size_t(w) * h) { update(cfg); }

void AntiFlickerFilter::update(const AntiFlickerSettings& s) {
    cfg = s;
    minPeriod = uint32_t(std::ceil(1e6 / std::max(1, s.highHz)));
    maxPeriod = uint32_t(1e6 / std::max(1, s.lowHz));
    minShare = uint32_t(std::max(1.0, std::ceil(s.dutyCycle - 20.0)));
    maxShare = uint32_t(std::floor(s.dutyCycle + 20.0));
}

// The period lies in the band, the pixel blinked within the last two periods and its ON share is
// within 20 points of the duty cycle.
bool AntiFlickerFilter::blinking(const Pixel& p, uint32_t now) const {
    return p.period >= minPeriod && p.period <= maxPeriod && now - p.lastOn <= 2 * p.period && p.share >= minShare &&
           p.share <= maxShare;
}

void AntiFlickerFilter::apply(std::vector<Event2D>& events) {
    if (!cfg.enable) return;
    const bool pass = cfg.mode == AntiFlickerSettings::BandPass;
    keepByPixel(events, pixels, width, height, [&](const Event2D& e, Pixel& p) {
        const uint32_t now = uint32_t(e.timestamp);
        if (e.polarity != p.pol) { // an onset
            if (e.polarity) {
                p.period = p.pol == 2 ? 0 : now - p.lastOn;
                // ON share of the cycle that ends now: from the last ON onset to the OFF onset
                const uint32_t off = p.lastOff - p.lastOn;
                p.share = p.period && off > 0 && off < p.period ? uint8_t(std::max(1.0, 100.0 * off / p.period)) : 0;
                p.lastOn = now;
            } else {
                p.lastOff = now;
            }
            p.pol = e.polarity;
        }
        return blinking(p, now) == pass;
    });
}

TrailFilter::TrailFilter(uint32_t w, uint32_t h) : width(w), height(h), pixels(size_t(w) * h) {}

void TrailFilter::apply(std::vector<Event2D>& events) {
    if (!cfg.enable) return;
    const uint32_t threshold = uint32_t(cfg.thresholdUs);
    keepByPixel(events, pixels, width, height, [&](const Event2D& e, Pixel& p) {
        const uint32_t now = uint32_t(e.timestamp);
        if (p.pol == e.polarity && now - p.last < threshold) {
            if (p.run < 0xFFFF) ++p.run;
        } else {
            p.run = 1;
        }
        p.last = now;
        p.pol = e.polarity;
        switch (cfg.type) {
        case TrailSettings::StcCutTrail: return p.run == 2;
        case TrailSettings::StcKeepTrail: return p.run >= 2;
        default: return p.run == 1;
        }
    });
}

RateControlFilter::RateControlFilter() : kept(1000, 0) {}

void RateControlFilter::apply(std::vector<Event2D>& events) {
    if (!cfg.enable) { // the window starts empty when it is enabled again
        if (windowSum) {
            std::fill(kept.begin(), kept.end(), 0);
            windowSum = 0;
        }
        return;
    }
    if (events.empty()) return;
    const uint64_t limit = uint64_t(cfg.maxKevPerSecond); // per 1 ms window
    // The even share follows the incoming rate of this chunk.
    const uint64_t spanUs = events.back().timestamp - events.front().timestamp + 1;
    const double perMs = double(events.size()) * 1000.0 / double(std::max<uint64_t>(spanUs, 1000));
    share = std::min(1.0, double(limit) / std::max(perMs, 1.0));
    size_t out = 0;
    for (const Event2D& e : events) {
        const uint64_t t = e.timestamp;
        if (t != ringTime) { // move the window to end at t
            const uint64_t steps = t > ringTime ? t - ringTime : 1000;
            if (steps >= 1000) {
                std::fill(kept.begin(), kept.end(), 0);
                windowSum = 0;
            } else {
                for (uint64_t s = 1; s <= steps; ++s) {
                    uint32_t& slot = kept[(ringTime + s) % 1000];
                    windowSum -= slot;
                    slot = 0;
                }
            }
            ringTime = t;
        }
        accum += share;
        const bool keep = accum >= 1.0 && windowSum < limit;
        if (keep) accum -= 1.0;
        else accum = std::min(accum, 2.0); // a full window must not build up credit
        if (keep) {
            ++kept[t % 1000];
            ++windowSum;
            events[out++] = e;
        }
    }
    events.resize(out);
}

} // namespace norvale
