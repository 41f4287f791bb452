#include "camera/SimulatedDevice.h"

#include <algorithm>

#include "norvale/Logger.h"

namespace norvale {

namespace {
constexpr uint64_t kStepUs = 1000;
// A chunk catching up covers at most 2 ms: at the sensor's 50 Mev/s that fits the chunk's reserve,
// so a stalled moment never leaves pooled chunks grown to many times their size.
constexpr uint64_t kMaxStepUs = 2000;
constexpr uint64_t kMaxLagUs = 2000000; // catching up runs several times real time

int64_t steadyNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}
} // namespace

SimulatedDevice::SimulatedDevice(std::unique_ptr<EventSource> src, const SimulatedDeviceOptions& o)
    : source(std::move(src)), opts(o), w(source->width()), h(source->height()),
      ctl(std::make_shared<SensorControls>()), filters(w, h) {
    ToolSetOptions t;
    t.width = w;
    t.height = h;
    t.trigger0Enabled = o.apsPeriodUs != 0;
    t.aps = o.aps;
    toolList = makeSensorTools(ctl, t);
    if (o.aps) renderer = std::make_unique<ApsRenderer>(w, h);
    clockStartNs = steadyNs();
}

void SimulatedDevice::unplug() {
    plugged = false;
    interrupt();
}

void SimulatedDevice::interruptAps() {
    std::lock_guard<std::mutex> lock(waitMutex);
    apsInterrupted = true;
    waitCv.notify_all();
}

void SimulatedDevice::resumeAps() {
    std::lock_guard<std::mutex> lock(waitMutex);
    apsInterrupted = false;
}

bool SimulatedDevice::readApsFrame(uint64_t fromUs, ApsFrame& frame) {
    if (!renderer || !opts.apsPeriodUs) return false;
    const uint64_t p = opts.apsPeriodUs;
    const ApsSettings s = ctl->aps.get();
    const uint64_t exposure = uint64_t(effectiveExposureUs(s));
    // The image sensor shares the event stream's clock: a frame is there once the stream has
    // passed the end of its exposure. Behind, the newest exposure; never one inside a skip.
    auto ceilP = [p](uint64_t t) { return (t + p - 1) / p * p; };
    uint64_t start = 0;
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(waitMutex);
            if (apsInterrupted || !plugged) return false;
        }
        start = std::max(ceilP(fromUs), ceilP(continuousUs.load()));
        const uint64_t produced = producedUs.load();
        if (produced >= start + exposure) {
            const uint64_t newest = (produced - exposure) / p * p;
            start = std::max(start, newest);
            break;
        }
        std::unique_lock<std::mutex> lock(waitMutex);
        waitCv.wait_for(lock, std::chrono::milliseconds(1));
    }
    frame = renderer->render(start, exposure, effectiveGain(s));
    return true;
}

void SimulatedDevice::interrupt() {
    std::lock_guard<std::mutex> lock(waitMutex);
    interrupted = true;
    waitCv.notify_all();
}

void SimulatedDevice::startStream(bool restartClock) {
    {
        std::lock_guard<std::mutex> lock(waitMutex);
        interrupted = false;
    }
    if (restartClock) {
        clockStartNs = steadyNs();
        nextUs = 0;
        producedUs = continuousUs = 0;
        source->restart();
    } else { // the time while stopped is not streamed
        clockStartNs = steadyNs() - int64_t(nextUs) * 1000;
    }
}

uint64_t SimulatedDevice::now() const {
    const int64_t d = steadyNs() - clockStartNs.load();
    return d > 0 ? uint64_t(d / 1000) : 0;
}

void SimulatedDevice::addTriggers(uint64_t from, uint64_t to, EventChunk& chunk) {
    if (!trig.channel[0]) return;
    // the source's own edges (a replayed file's) keep their channels; here channel 0
    auto edge = [&](uint64_t t, uint16_t value) {
        if (t >= from && t < to) chunk.triggers.push_back(EventTriggerIn{value, t, 0});
    };
    if (opts.apsPeriodUs) { // each exposure: rising at its start, falling at its end
        const uint64_t exposure = uint64_t(effectiveExposureUs(aps));
        const uint64_t p = opts.apsPeriodUs;
        for (uint64_t k = from > exposure ? (from - exposure) / p : 0; k * p < to; ++k) {
            edge(k * p, 1);
            edge(k * p + exposure, 0);
        }
    } else if (opts.triggerPeriodUs) {
        const uint64_t p = opts.triggerPeriodUs, half = std::max<uint64_t>(1, p / 2);
        for (uint64_t k = from / p; k * p < to; ++k) {
            edge(k * p, 1);
            edge(k * p + half, 0);
        }
    }
    std::sort(chunk.triggers.begin(), chunk.triggers.end(),
              [](const EventTriggerIn& a, const EventTriggerIn& b) { return a.timestamp < b.timestamp; });
}

bool SimulatedDevice::read(EventChunk& chunk) {
    if (!opts.realTime) {
        std::lock_guard<std::mutex> lock(waitMutex);
        if (interrupted || !plugged) return false;
    } else { // wait for the wall clock to reach the end of the next step
        std::unique_lock<std::mutex> lock(waitMutex);
        const int64_t dueNs = clockStartNs.load() + int64_t(nextUs + kStepUs) * 1000;
        while (!interrupted && plugged && steadyNs() < dueNs)
            waitCv.wait_until(lock, std::chrono::steady_clock::time_point(std::chrono::nanoseconds(dueNs)));
        if (interrupted || !plugged) return false;
    }
    const uint64_t nowUs = opts.realTime ? now() : nextUs + kStepUs;
    if (nowUs > nextUs + kMaxLagUs) { // the machine stalled: the sensor lost that time
        NR_LOG(LOG_WARN, "simulated camera %llu ms behind the clock: that stretch is skipped",
               (unsigned long long)((nowUs - nextUs) / 1000));
        nextUs = nowUs - kStepUs;
        continuousUs = nextUs;
    }
    const uint64_t end = std::min(nowUs, nextUs + kMaxStepUs);

    ctl->biases.fetch(biases, seen[0]);
    ctl->trigger.fetch(trig, seen[1]);
    ctl->aps.fetch(aps, seen[2]);
    filters.refresh(*ctl);

    chunk.clear(nextUs);
    source->generate(nextUs, end, biases, chunk.events, chunk.triggers);
    // a replayed file's edges pass for the enabled channels only
    chunk.triggers.erase(std::remove_if(chunk.triggers.begin(), chunk.triggers.end(),
                                        [&](const EventTriggerIn& e) { return e.id > 1 || !trig.channel[e.id]; }),
                         chunk.triggers.end());
    addTriggers(nextUs, end, chunk);
    filters.apply(chunk.events);
    chunk.endUs = end;
    nextUs = end;
    producedUs = end;
    return true;
}

} // namespace norvale
