// NrEventProcessor figures: counting (random pixels; events clustered along rows as the sensor reads
// them out), painting one 1280 x 720 frame (fill + paint, as the render thread does), and the
// playback step of NrRecordingPlayer feeding the processor (read, accumulate, swap) on a 1 GiB
// recording at 20 Mev/s written to /tmp and deleted at the end, at the default accumulation and at
// 100 ms. Allocations are counted after a warm-up.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QImage>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <future>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "AllocCounter.h"
#include "norvale/DvsFileReader.h"
#include "norvale/EventGenerator.h"
#include "processing/nreventcounts.h"
#include "processing/nreventsproccess.h"
#include "processing/nrrecordingplayer.h"

using norvale::Event2D;
using norvale::bench::allocationCount;

namespace {

const std::string kPath = "/tmp/norvale_bench_proc_" + std::to_string(::getpid()) + ".raw";

std::vector<Event2D> randomEvents(size_t n) {
    std::mt19937_64 rng(7);
    std::vector<Event2D> ev(n);
    for (size_t i = 0; i < n; ++i) {
        const uint64_t r = rng();
        ev[i] = Event2D{uint16_t((r & 0xffff) % 1280), uint16_t(((r >> 16) & 0xffff) % 720), uint8_t((r >> 40) & 1), i};
    }
    return ev;
}

// 20 Mev/s of generated sensor output: edges and bursts read out row by row.
std::vector<Event2D> sensorEvents(uint64_t durationUs) {
    norvale::GeneratorConfig cfg;
    cfg.eventRate = 20e6;
    norvale::EventGenerator gen(cfg);
    std::vector<Event2D> ev;
    std::vector<norvale::EventTriggerIn> tr;
    gen.generate(durationUs, ev, tr);
    return ev;
}

// Batches of 64 Ki events (1 MiB, in cache as a batch just handed over by the driver), counted one
// after the other into one accumulation (the per-frame swap and render are timed by BM_RenderFrame). The
// baseline reads the same bytes (sum of timestamps): the ratio shows what the counting adds.
constexpr size_t kBatch = 1 << 16;

void runCount(benchmark::State& state, const std::vector<Event2D>& ev) {
    NrEventProcessor p;
    const size_t batches = ev.size() / kBatch;
    p.processEvents(ev.data(), ev.data() + ev.size()); // warm-up
    p.swapEventBuffer();
    const uint64_t a0 = allocationCount();
    size_t i = 0;
    for (auto _ : state) {
        const Event2D* b = ev.data() + (i % batches) * kBatch;
        p.processEvents(b, b + kBatch);
        ++i;
    }
    state.counters["allocs_per_batch"] = double(allocationCount() - a0) / double(state.iterations());
    state.SetItemsProcessed(int64_t(state.iterations() * kBatch));
}

void BM_CountRandomPixels(benchmark::State& state) {
    static const std::vector<Event2D> ev = randomEvents(kBatch * 8);
    runCount(state, ev);
}

void BM_CountSensorRows(benchmark::State& state) {
    static const std::vector<Event2D> ev = [] {
        std::vector<Event2D> all = sensorEvents(50000);
        all.resize(std::min(all.size(), kBatch * 8));
        return all;
    }();
    size_t sameRow = 0;
    for (size_t i = 1; i < ev.size(); ++i)
        sameRow += ev[i].y == ev[i - 1].y && ev[i].x - ev[i - 1].x < 64;
    state.counters["near_previous"] = double(sameRow) / double(ev.size());
    runCount(state, ev);
}

void BM_ReadBaseline(benchmark::State& state) {
    static const std::vector<Event2D> ev = randomEvents(kBatch * 8);
    size_t i = 0;
    for (auto _ : state) {
        const Event2D* b = ev.data() + (i++ % 8) * kBatch;
        uint64_t sum = 0;
        for (size_t k = 0; k < kBatch; ++k)
            sum += b[k].timestamp + b[k].x;
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(int64_t(state.iterations() * kBatch));
}

// The render thread's work for one frame: fill with the background, paint the counts.
void paint(const std::vector<uint16_t>& counts, QImage& image) {
    nrcounts::fillRows(image.bits(), size_t(image.bytesPerLine()), image.width(), image.height(), {112, 112, 112});
    nrcounts::paintCounts(counts.data(), image.width(), image.height(), image.bits(), size_t(image.bytesPerLine()),
                          {255, 255, 255}, {0, 0, 0});
}

void BM_RenderFrame(benchmark::State& state) {
    // A busy frame: 33 ms of 20 Mev/s sensor output.
    const std::vector<Event2D> ev = sensorEvents(33333);
    std::vector<uint16_t> counts(nrcounts::countBufferSize(1280, 720), 0);
    nrcounts::countEvents(counts.data(), 1280, 720, ev.data(), ev.data() + ev.size(), norvale::kEventCountCap);
    size_t lit = 0;
    for (size_t i = 0; i + 1 < counts.size(); i += 2)
        lit += (counts[i] | counts[i + 1]) != 0;
    QImage image(1280, 720, QImage::Format_RGB888);
    paint(counts, image);
    const uint64_t a0 = allocationCount();
    for (auto _ : state)
        paint(counts, image);
    state.counters["allocs_per_frame"] = double(allocationCount() - a0) / double(state.iterations());
    state.counters["lit_pixels"] = double(lit);
}

bool gFileMade = false;

void makeFile() {
    const auto t0 = std::chrono::steady_clock::now();
    norvale::GeneratorConfig cfg;
    cfg.eventRate = 20e6;
    cfg.startTimestamp = 3'000'000'000ull;
    if (!norvale::generateRecordingFile(kPath, cfg, 35'500'000)) // a little over 1 GiB
        std::abort();
    gFileMade = true;
    std::fprintf(stderr, "generated %s in %.1f s\n", kPath.c_str(),
                 std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
}

// A player whose frames go into a processor, as in the viewer; the player thread stays idle and the
// benchmark runs the steps itself.
struct Playback {
    NrEventProcessor processor;
    NrRecordingPlayer player{NrRecordingPlayer::Sink{
        [this](const std::vector<Event2D>& events, uint64_t) {
            processor.processEvents(events.data(), events.data() + events.size());
            processor.swapEventBuffer();
        },
        {},
        [this](std::shared_ptr<NrRecordingPlayer::LoadJob> job, const NrLoadResult& r) {
            loaded.set_value({std::move(job), r});
        }}};
    std::promise<std::pair<std::shared_ptr<NrRecordingPlayer::LoadJob>, NrLoadResult>> loaded;
};

Playback* playback() {
    static Playback* p = [] {
        makeFile();
        auto* pb = new Playback;
        if (!pb->player.open(QString::fromStdString(kPath)))
            std::abort();
        auto [job, result] = pb->loaded.get_future().get();
        if (pb->player.adopt(job, result) != NrRecordingPlayer::Adoption::Ready)
            std::abort();
        return pb;
    }();
    return p;
}

void runPlayback(benchmark::State& state, uint64_t accUs) {
    NrRecordingPlayer& player = playback()->player;
    player.setFrameStepUs(1000000 / 33);
    player.setAccTimeUs(accUs);
    const uint64_t lo = player.lower(), hi = player.upper();
    player.setPosition(lo + (hi - lo) / 4);
    for (int i = 0; i < 5; ++i)
        player.playStep(); // warm-up: reader and count buffers reach their size
    std::vector<double> us;
    us.reserve(2000);
    uint64_t allocs = 0;
    for (auto _ : state) {
        const uint64_t a0 = allocationCount();
        const auto t0 = std::chrono::steady_clock::now();
        player.playStep();
        const auto t1 = std::chrono::steady_clock::now();
        allocs += allocationCount() - a0;
        us.push_back(std::chrono::duration<double, std::micro>(t1 - t0).count());
        // the render thread paints meanwhile, as during playback
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    std::sort(us.begin(), us.end());
    state.counters["median_us"] = us[us.size() / 2];
    state.counters["max_us"] = us.back();
    state.counters["budget_us"] = double(norvale::kDisplayPeriodUs);
    state.counters["allocs_per_step"] = double(allocs) / double(us.size());
}

void BM_PlaybackStepDefault(benchmark::State& state) { runPlayback(state, 33333); }
void BM_PlaybackStepAcc100ms(benchmark::State& state) { runPlayback(state, 100000); }

} // namespace

// Our machines are shared: five repetitions, and the best and worst of them beside the mean.
#define NR_REPEATED(b)                                                                                     \
    BENCHMARK(b)                                                                                           \
        ->Unit(benchmark::kMicrosecond)                                                                    \
        ->Repetitions(5)                                                                                   \
        ->ReportAggregatesOnly(true)                                                                       \
        ->ComputeStatistics("min", [](const std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); }) \
        ->ComputeStatistics("max", [](const std::vector<double>& v) { return *std::max_element(v.begin(), v.end()); })
NR_REPEATED(BM_ReadBaseline);
NR_REPEATED(BM_CountRandomPixels);
NR_REPEATED(BM_CountSensorRows);
NR_REPEATED(BM_RenderFrame);
BENCHMARK(BM_PlaybackStepDefault)->Unit(benchmark::kMillisecond)->Iterations(300);
BENCHMARK(BM_PlaybackStepAcc100ms)->Unit(benchmark::kMillisecond)->Iterations(300);

int main(int argc, char** argv) {
    // The processor reads the viewer's configuration: keep it out of the user's folders.
    QTemporaryDir home;
    qputenv("XDG_DATA_HOME", home.path().toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", home.path().toLocal8Bit());
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    if (gFileMade) {
        delete playback();
        std::remove(kPath.c_str());
    }
    benchmark::Shutdown();
    return 0;
}
