// NrFusionCameraDataProcessor figures:
// - mapping one 3840 x 2160 APS frame onto the 1280 x 720 grid (default calibration, precomputed
//   offsets), against a copy of the same 1280 x 720 output as baseline, and a rotated transform
//   (per-pixel path);
// - resident memory added by constructing the processor (its pool of 10 x 3 Mi events included),
//   against an NrEventProcessor constructed the same way;
// - the live fusion view from the simulated fusion camera: APS frames delivered vs shown, and the
//   process CPU against the camera streaming with empty callbacks (same duration, same run);
// - replay of a recording of the simulated fusion camera: the time of each 33 333 us step (median
//   and slowest), one step per display period as playing does (nextFrame, which runs the same
//   step on the player thread and waits for it).
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QTemporaryDir>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <thread>
#include <vector>

#include "norvale/DvsCameraManager.h"
#include "processing/nrcalibrator.h"
#include "processing/nreventsproccess.h"
#include "processing/nrfusioncameradataprocessor.h"

using namespace norvale;
using Clock = std::chrono::steady_clock;

namespace {

ApsFrame grainyFrame() {
    ApsFrame f(3840, 2160, 0, 0);
    for (uint64_t i = 0; i < f.getDataSize(); ++i)
        f.data()[i] = uint8_t(i * 2654435761u >> 13);
    return f;
}

// Arg 0: the default calibration (precomputed offsets); 1: slightly rotated (per-pixel path).
void BM_MapApsFrame(benchmark::State& state) {
    const ApsFrame src = grainyFrame();
    Calibrator c = Calibrator::defaultCalibration();
    if (state.range(0)) {
        c.dvsToAps[1] = 0.01;
        c.dvsToAps[3] = -0.01;
    }
    const NrApsMapper::Transform t = NrApsMapper::transformOf(c, 3.5, -2.25);
    std::vector<uint8_t> out(1280 * 720 * 3);
    NrApsMapper mapper;
    for (auto _ : state) {
        mapper.mapToRgb(src, t, out.data(), 1280 * 3);
        benchmark::DoNotOptimize(out.data());
    }
}

void BM_CopyDvsFrameBaseline(benchmark::State& state) {
    std::vector<uint8_t> in(1280 * 720 * 3, 7), out(1280 * 720 * 3);
    for (auto _ : state) {
        std::copy(in.begin(), in.end(), out.begin());
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
}

long residentKiB() {
    std::ifstream statm("/proc/self/statm");
    long size = 0, resident = 0;
    statm >> size >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

void BM_ResidentMemory(benchmark::State& state) {
    for (auto _ : state) {
        const long before = residentKiB();
        auto dvs = std::make_unique<NrEventProcessor>();
        const long withDvs = residentKiB();
        auto fusion = std::make_unique<NrFusionCameraDataProcessor>();
        const long withFusion = residentKiB();
        auto pairing = std::make_unique<DvsApsFusionProccessor>(); // its pool alone
        state.counters["pairing_with_pool_KiB"] = double(residentKiB() - withFusion);
        state.counters["dvs_processor_KiB"] = double(withDvs - before);
        state.counters["fusion_processor_KiB"] = double(withFusion - withDvs);
        state.counters["pool_reserved_MiB"] = double(DvsApsFusionProccessor::kPoolBuffers *
                                                     DvsApsFusionProccessor::kBufferEvents * sizeof(Event2D)) /
                                              (1 << 20);
    }
}

double cpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + 1e-6 * double(u.ru_utime.tv_usec + u.ru_stime.tv_usec);
}

void pump(std::chrono::milliseconds d) {
    const auto end = Clock::now() + d;
    while (Clock::now() < end) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

constexpr auto kLiveRun = std::chrono::milliseconds(4000);

// The camera with callbacks that do nothing: the baseline CPU of streaming.
void BM_LiveCameraBaseline(benchmark::State& state) {
    for (auto _ : state) {
        DvsCameraManager manager;
        auto cam = manager.openFusionCamera("SIM-FUS-0001");
        std::atomic<uint64_t> frames{0};
        cam->addEventsCallback([](const Event2D*, const Event2D*) {});
        cam->addApsFrameCallback([&](const ApsFrame&) { ++frames; });
        cam->addTriggerInCallback([](const EventTriggerIn&) {});
        cam->start(STREAM_FUSION);
        const double c0 = cpuSeconds();
        pump(kLiveRun);
        const double c1 = cpuSeconds();
        cam->stop(STREAM_FUSION);
        state.counters["cpu_percent"] = 100.0 * (c1 - c0) / std::chrono::duration<double>(kLiveRun).count();
        state.counters["aps_frames"] = double(frames);
    }
}

// As the main window wires it: events to updateEvents and the pairing, frames and edges to the pairing.
void liveFusion(benchmark::State& state, STREAM_TYPE view) {
    for (auto _ : state) {
        DvsCameraManager manager;
        auto cam = manager.openFusionCamera("SIM-FUS-0001");
        NrFusionCameraDataProcessor p;
        p.slotSetViewerType(view);
        p.setDevicePtr(cam);
        std::atomic<uint64_t> delivered{0};
        uint64_t shown = 0;
        QObject::connect(&p, &NrFusionCameraDataProcessor::signalFusionImage, [&](const QImage&) { ++shown; });
        cam->addEventsCallback([&](const Event2D* b, const Event2D* e) {
            p.updateEvents(b, e);
            p.addEventsToFusionProccessor(b, e);
        });
        cam->addApsFrameCallback([&](const ApsFrame& f) {
            ++delivered;
            p.addApsFrameToFusionProccessor(f);
        });
        cam->addTriggerInCallback([&](const EventTriggerIn& t) { p.addTriggerInToFusionProccessor(t); });
        p.clearCache();
        cam->start(STREAM_FUSION);
        const double c0 = cpuSeconds();
        pump(kLiveRun);
        const double c1 = cpuSeconds();
        cam->stop(STREAM_FUSION);
        pump(std::chrono::milliseconds(200));
        state.counters["cpu_percent"] = 100.0 * (c1 - c0) / std::chrono::duration<double>(kLiveRun).count();
        state.counters["aps_frames"] = double(delivered);
        state.counters["shown"] = double(shown);
        state.counters["waiting_frames"] = double(p.pairing()->waitingFrames());
        cam->closeCamera();
    }
}
void BM_LiveFusionView(benchmark::State& state) { liveFusion(state, STREAM_FUSION); }
void BM_LiveDvsView(benchmark::State& state) { liveFusion(state, STREAM_DVS); }

// Replay steps over a recording of the simulated fusion camera.
void BM_ReplayStep(benchmark::State& state) {
    QTemporaryDir dir;
    {
        DvsCameraManager manager;
        auto cam = manager.openFusionCamera("SIM-FUS-0001");
        cam->start(STREAM_FUSION);
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        cam->startRecording(dir.path().toStdString(), "fus", STREAM_FUSION);
        std::this_thread::sleep_for(std::chrono::milliseconds(4200));
        cam->stopRecording(STREAM_FUSION);
        cam->closeCamera();
    }
    NrFusionCameraDataProcessor p;
    p.slotSetViewerType(STREAM_TYPE(state.range(0)));
    bool loaded = false;
    uint64_t end = 0;
    QObject::connect(&p, &NrFusionCameraDataProcessor::signalPlayStatus, [&](bool b) { loaded = b; });
    QObject::connect(&p, &NrFusionCameraDataProcessor::signalEndTimeStamp, [&](uint64_t t) { end = t; });
    p.slotReadFusionFile(dir.path() + "/fus.raw");
    while (!loaded)
        pump(std::chrono::milliseconds(20));
    std::vector<double> ms;
    for (auto _ : state) {
        if (p.playPosition() + 2 * 33333 >= end) {
            state.PauseTiming();
            p.slotPlaybackReset();
            state.ResumeTiming();
        }
        const auto t0 = Clock::now();
        p.nextFrame();
        ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
        // paced as playing is: one step per display period
        std::this_thread::sleep_until(t0 + std::chrono::microseconds(33333));
    }
    std::sort(ms.begin(), ms.end());
    state.counters["median_ms"] = ms[ms.size() / 2];
    state.counters["p90_ms"] = ms[ms.size() * 9 / 10];
    state.counters["slowest_ms"] = ms.back();
    state.counters["budget_ms"] = 33.333;
}

} // namespace

BENCHMARK(BM_CopyDvsFrameBaseline)->Unit(benchmark::kMillisecond)->Repetitions(3)->ReportAggregatesOnly(true);
BENCHMARK(BM_MapApsFrame)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Repetitions(3)->ReportAggregatesOnly(true);
BENCHMARK(BM_ResidentMemory)->Iterations(1);
BENCHMARK(BM_LiveCameraBaseline)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LiveFusionView)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LiveDvsView)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReplayStep)->Arg(STREAM_FUSION)->Arg(STREAM_DVS)->Iterations(100)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
    // The processors read the viewer's configuration, the manager the cameras file: keep both out
    // of the user's folders.
    QTemporaryDir home;
    qputenv("XDG_DATA_HOME", home.path().toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", home.path().toLocal8Bit());
    qputenv("NORVALE_SIMULATED_CAMERAS", (home.path() + "/none.json").toLocal8Bit());
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
