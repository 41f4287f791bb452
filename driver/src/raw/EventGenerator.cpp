#include "norvale/EventGenerator.h"

#include <algorithm>
#include <cmath>

#include "norvale/Logger.h"
#include "norvale/RawFileWriter.h"
#include "norvale/SafeOutputFile.h"

namespace norvale {

namespace {
constexpr int kEdges = 4;
// Moving edges: start column, speed in columns per second, rows covered.
struct Edge {
    uint32_t x0;
    int32_t speed;
    uint32_t top, rows;
};
constexpr Edge kEdgeTable[kEdges] = {{100, 400, 80, 300}, {900, -250, 300, 380}, {500, 700, 20, 200}, {1100, -900, 400, 300}};
} // namespace

EventGenerator::EventGenerator(const GeneratorConfig& config)
    : cfg(config), rng(config.seed * 0x9E3779B97F4A7C15ull + 0x632BE59BD9B4E019ull), time(config.startTimestamp),
      perUs(std::max(0.0, config.eventRate) / 1e6), nextTrigger(config.startTimestamp) {
    cfg.width = std::max(16u, std::min(cfg.width, 2048u));
    cfg.height = std::max(16u, std::min(cfg.height, 2048u));
}

uint64_t EventGenerator::next() { // splitmix64
    uint64_t z = (rng += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

// One short run of events on a row, from one of the three sources.
void EventGenerator::burst(uint64_t t, std::vector<Event2D>& out, size_t limit) {
    const uint32_t kind = below(100);
    uint32_t x, y, len;
    uint8_t p;
    if (kind < 60) { // a moving edge: a short run where the edge crosses the row
        const Edge& e = kEdgeTable[below(kEdges)];
        const double sec = double(t - cfg.startTimestamp) * 1e-6;
        const double pos = std::fmod(double(e.x0) + e.speed * sec, double(cfg.width));
        x = uint32_t(pos < 0 ? pos + cfg.width : pos);
        y = (e.top + below(e.rows)) % cfg.height;
        len = 2 + below(10);
        p = e.speed > 0;
    } else if (kind < 85) { // a region flickering at 100 Hz
        const uint32_t fx = cfg.width * 3 / 4, fy = cfg.height * 3 / 4;
        x = fx + below(cfg.width / 8);
        y = fy + below(cfg.height / 8);
        len = 4 + below(12);
        p = ((t / 5000) & 1) != 0;
    } else { // noise
        x = below(cfg.width);
        y = below(cfg.height);
        len = 1;
        p = uint8_t(next() & 1);
    }
    for (uint32_t i = 0; i < len && out.size() < limit; ++i) {
        const uint32_t xi = x + i * (1 + (next() & 1)); // runs with small gaps
        if (xi >= cfg.width) break;
        out.push_back(Event2D{uint16_t(xi), uint16_t(y), p, t});
    }
}

void EventGenerator::generate(uint64_t durationUs, std::vector<Event2D>& events, std::vector<EventTriggerIn>& triggers) {
    const uint64_t end = time + durationUs;
    const uint64_t halfPeriod = cfg.triggerHz > 0 ? std::max<uint64_t>(1, uint64_t(5e5 / cfg.triggerHz)) : 0;
    for (; time < end; ++time) {
        if (halfPeriod && time == nextTrigger) {
            triggerLevel ^= 1;
            triggers.push_back(EventTriggerIn{triggerLevel, time, 0});
            nextTrigger += halfPeriod;
        }
        acc += perUs;
        if (acc < 1.0) continue;
        const size_t want = size_t(acc);
        acc -= double(want);
        batch.clear();
        // one event per pixel and microsecond: top up what the duplicates took away
        for (int round = 0; round < 8 && batch.size() < want; ++round) {
            while (batch.size() < want) burst(time, batch, want);
            std::sort(batch.begin(), batch.end(), [](const Event2D& a, const Event2D& b) {
                return a.y != b.y ? a.y < b.y : a.x < b.x;
            });
            batch.erase(std::unique(batch.begin(), batch.end(),
                                    [](const Event2D& a, const Event2D& b) { return a.x == b.x && a.y == b.y; }),
                        batch.end());
        }
        events.insert(events.end(), batch.begin(), batch.end());
    }
}

bool generateRecordingFile(const std::string& path, const GeneratorConfig& config, uint64_t durationUs,
                           const std::string& serialNumber) {
    RawFileWriter writer;
    DvsFileInfo info;
    info.serialNumber = serialNumber;
    info.dvsStartTimestamp = config.startTimestamp;
    GeneratorConfig c = config;
    c.width = std::min(c.width, 1280u); // the header states 1280 x 720
    c.height = std::min(c.height, 720u);
    // Through a fresh temporary: a failed or interrupted run never destroys a file at path.
    SafeOutputFile out;
    if (!out.open(path)) {
        NR_LOG(LOG_ERROR, "writing %s %s: %s", path.c_str(), out.refused() ? "refused" : "failed", out.reason().c_str());
        return false;
    }
    if (!writer.openDescriptor(out.descriptor(), path, info)) return false;
    EventGenerator gen(c);
    std::vector<Event2D> events;
    std::vector<EventTriggerIn> triggers;
    const uint64_t step = 10000; // 10 ms per batch
    for (uint64_t done = 0; done < durationUs; done += step) {
        events.clear();
        triggers.clear();
        gen.generate(std::min(step, durationUs - done), events, triggers);
        if (!writer.add(events.data(), events.data() + events.size(), triggers.data(), triggers.data() + triggers.size())) {
            writer.abandon();
            return false;
        }
    }
    if (!writer.close()) return false;
    if (!out.commit()) {
        NR_LOG(LOG_ERROR, "writing %s failed: %s", path.c_str(), out.reason().c_str());
        return false;
    }
    return true;
}

} // namespace norvale
