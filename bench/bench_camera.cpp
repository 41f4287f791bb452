// Camera figures: the simulated sensor's event source on one core (against writing the same
// number of events from a trivial loop, the baseline of the same run), the whole device with every
// tool enabled at 20 Mev/s (as a multiple of real time), and allocations per batch of a streaming
// camera after warm-up (threads included).
#include <benchmark/benchmark.h>

#include <time.h>

#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include "AllocCounter.h"
#include "camera/SceneSource.h"
#include "camera/SimulatedDevice.h"
#include "norvale/DvsCameraManager.h"

using namespace norvale;

namespace {

double threadCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

BiasSettings fiftyMev() {
    BiasSettings b;
    b.diffOn = b.diffOff = -85;
    b.fo = 55;
    return b;
}

// Baseline: the same number of events written by the simplest loop.
void BM_WriteEventsBaseline(benchmark::State& state) {
    std::vector<Event2D> out;
    out.reserve(1 << 20);
    uint64_t n = 0, t = 0;
    for (auto _ : state) {
        out.clear();
        for (uint32_t i = 0; i < 50000; ++i) out.push_back(Event2D{uint16_t(i % 1280), uint16_t(i % 720), uint8_t(i & 1), t});
        ++t;
        benchmark::DoNotOptimize(out.data());
        n += out.size();
    }
    state.counters["Mev/s"] = benchmark::Counter(double(n) / 1e6, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_WriteEventsBaseline)->Unit(benchmark::kMillisecond);

// The scene at its read-out limit (50 Mev/s), 1 ms of camera time per iteration.
void BM_SceneSource(benchmark::State& state) {
    SceneSource src(1280, 720, 3e6, 1);
    const BiasSettings b = fiftyMev();
    std::vector<Event2D> out;
    std::vector<EventTriggerIn> trig;
    out.reserve(1 << 20);
    uint64_t t = 0, n = 0;
    for (auto _ : state) {
        out.clear();
        src.generate(t, t + 1000, b, out, trig);
        t += 1000;
        n += out.size();
    }
    state.counters["Mev/s"] = benchmark::Counter(double(n) / 1e6, benchmark::Counter::kIsRate);
    state.counters["stream Mev/s"] = double(n) / double(t); // events per camera-time us
}
BENCHMARK(BM_SceneSource)->Unit(benchmark::kMillisecond);

// The whole simulated device, every tool on, limited to 20 Mev/s by event rate control; run
// ahead of the clock, so "x real time" says how much faster than the camera's own clock it goes.
void BM_DeviceAllToolsAt20Mev(benchmark::State& state) {
    SimulatedDeviceOptions o;
    o.realTime = false;
    SimulatedDevice dev(std::make_unique<SceneSource>(1280, 720, 3e6, 1), o);
    auto tool = [&](ToolType t) -> CameraTool& {
        for (auto& x : dev.tools())
            if (x->getType() == t) return *x;
        throw std::runtime_error("tool");
    };
    if (state.range(0) == 0) { // about 24 Mev/s in, mostly moving edges
        tool(TOOL_BIASES).setParam("bias_diff_on", -75);
        tool(TOOL_BIASES).setParam("bias_diff_off", -75);
    } else { // 50 Mev/s in, most of it noise at random pixels: the worst case for per-pixel filters
        tool(TOOL_BIASES).setParam("bias_diff_on", -85);
        tool(TOOL_BIASES).setParam("bias_diff_off", -85);
        tool(TOOL_BIASES).setParam("bias_fo", 55);
    }
    tool(TOOL_EVENT_RATE_CONTROL).setParam("max_event_rate", 20000);
    tool(TOOL_EVENT_RATE_CONTROL).setParam("event_rate_control_enable", true);
    tool(TOOL_ANTI_FLICKER).setParam("anti_flicker_enable", true);
    tool(TOOL_EVENT_TRAIL_FILTER).setParam("trail_filter_enable", true);
    tool(TOOL_ROI).setParam("roi_enable", true);
    tool(TOOL_TRIGGER_IN).setParam("channel_0_enable", true);
    dev.startStream(true);
    EventChunk c;
    c.events.reserve(1 << 20);
    SimulatedDeviceOptions plain = o;
    SimulatedDevice in(std::make_unique<SceneSource>(1280, 720, 3e6, 1), plain); // the same biases, no filters
    for (const char* b : {"bias_diff_on", "bias_diff_off", "bias_fo"}) {
        int v = 0;
        tool(TOOL_BIASES).getParam(b, v);
        in.tools()[0]->setParam(b, v);
    }
    in.startStream(true);
    uint64_t inEvents = 0;
    for (int i = 0; i < 200; ++i) {
        in.read(c);
        inEvents += c.events.size();
    }
    state.counters["in Mev/s"] = double(inEvents) / 200000.0;
    uint64_t n = 0, us = 0;
    const double cpu0 = threadCpuSeconds();
    for (auto _ : state) {
        dev.read(c);
        n += c.events.size();
        us += c.endUs - c.beginUs;
    }
    const double cpu = threadCpuSeconds() - cpu0;
    state.counters["out Mev/s (camera time)"] = double(n) / double(us);
    state.counters["x real time (one core)"] = double(us) * 1e-6 / cpu;
}
BENCHMARK(BM_DeviceAllToolsAt20Mev)->Unit(benchmark::kMicrosecond)->Iterations(3000)->Arg(0)->Arg(1);

// A streaming camera read at 33 batches per second: allocations per batch after a 1 s warm-up.
void BM_AllocationsPerBatch(benchmark::State& state) {
    setenv("NORVALE_SIMULATED_CAMERAS", "/nonexistent", 1);
    DvsCameraManager m;
    auto cam = m.openCamera("SIM-DVS-0001");
    std::vector<Event2D> batch;
    cam->getNextBatch(batch);
    cam->start();
    for (int i = 0; i < 33; ++i) { // warm-up
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        cam->getNextBatch(batch);
    }
    uint64_t batches = 0, events = 0;
    const uint64_t a0 = bench::allocationCount();
    for (auto _ : state) {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        if (cam->getNextBatch(batch)) ++batches;
        events += batch.size();
    }
    const uint64_t allocs = bench::allocationCount() - a0;
    cam->stop();
    state.counters["allocations/batch"] = double(allocs) / double(std::max<uint64_t>(batches, 1));
    state.counters["events/batch"] = double(events) / double(std::max<uint64_t>(batches, 1));
}
BENCHMARK(BM_AllocationsPerBatch)->Unit(benchmark::kMillisecond)->Iterations(66);

} // namespace

BENCHMARK_MAIN();
