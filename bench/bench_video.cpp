#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <sys/resource.h>
#include <unistd.h>

#include "norvale/ApsFileReader.h"
#include "norvale/ApsVideoWriter.h"
#include "norvale/DvsFileReader.h"
#include "norvale/EventGenerator.h"
#include "norvale/VideoExporter.h"
#include "video/EventCounter.h"
#include "video/EventFrameRenderer.h"

using namespace norvale;

namespace {

struct XorShift {
    uint64_t s = 0x9E3779B97F4A7C15ull;
    uint32_t next() {
        s ^= s << 13;
        s ^= s >> 7;
        s ^= s << 17;
        return uint32_t(s >> 16);
    }
};

// Synthetic camera output at a fixed event rate: the edges of bars moving across a 1280 x 720
// sensor (ON at the leading edge, OFF at the trailing one) and 10 % uniform noise. Deterministic
// for a given range; reuses its buffer when the caller has let go of the previous one.
class SyntheticEvents {
public:
    explicit SyntheticEvents(uint64_t eventsPerSecond) : rate(eventsPerSecond) {}

    std::shared_ptr<const std::vector<Event2D>> read(uint64_t start, uint64_t duration) {
        if (!buffer || buffer.use_count() > 1) buffer = std::make_shared<std::vector<Event2D>>();
        std::vector<Event2D>& ev = *buffer;
        const uint64_t first = (start * rate + 999999) / 1000000; // index of the first event at or after start
        const uint64_t last = ((start + duration) * rate + 999999) / 1000000;
        ev.resize(last - first);
        XorShift rng{0x9E3779B97F4A7C15ull ^ (start * 0x100000001B3ull)};
        // Bar positions change slowly: computed once per millisecond of event time.
        int lead[7];
        uint64_t leadMs = ~0ull;
        uint64_t ts = first * 1000000 / rate, rem = first * 1000000 % rate;
        for (uint64_t i = first; i < last; ++i) {
            Event2D& e = ev[i - first];
            e.timestamp = ts;
            for (rem += 1000000; rem >= rate; rem -= rate) ++ts;
            if (e.timestamp / 1000 != leadMs) {
                leadMs = e.timestamp / 1000;
                for (int b = 0; b < 7; ++b)
                    lead[b] = int((leadMs * uint64_t(200 + b * 90) / 1000 + uint64_t(b) * 181) % 1400) - 60;
            }
            rng.s ^= rng.s << 13;
            rng.s ^= rng.s >> 7;
            rng.s ^= rng.s << 17;
            const uint64_t r = rng.s;
            if ((r & 15) < 2) { // noise
                e.x = uint16_t((r >> 8 & 0xffff) * 1280 >> 16);
                e.y = uint16_t((r >> 24 & 0xffff) * 720 >> 16);
                e.polarity = uint8_t(r >> 40 & 1);
                continue;
            }
            const int bar = int((r >> 4 & 0xff) * 7 >> 8);
            const bool leading = (r >> 12) & 1;
            const int x = lead[bar] + (leading ? 40 + bar * 12 : 0) + int(r >> 16 & 3) - 2;
            e.x = uint16_t(std::clamp(x, 0, 1279));
            e.y = uint16_t(bar * 100 + int((r >> 24 & 0xff) * 90 >> 8));
            e.polarity = leading ? 1 : 0;
        }
        return buffer;
    }

private:
    uint64_t rate;
    std::shared_ptr<std::vector<Event2D>> buffer;
};

// CPU time of the whole process (all threads), seconds: the figure that does not depend on what
// else runs on a shared machine.
double processCpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + 1e-6 * double(u.ru_utime.tv_usec + u.ru_stime.tv_usec);
}

double fileMegabytes(const std::string& path) {
    std::error_code ec;
    const auto size = std::filesystem::file_size(path, ec);
    return ec ? 0.0 : double(size) / 1e6;
}

std::string tempPath(const char* name) {
    return std::string("/tmp/norvale-bench-") + std::to_string(getpid()) + "-" + name;
}

// Figures of one export: video frames per second, times faster than real time, the split of the
// time, and CPU time and load average, since the machine is shared.
void reportExport(benchmark::State& state, const VideoExportStats& stats, double seconds, double wall, double cpu,
                  double load0, const std::string& out) {
    double load1[1] = {0};
    getloadavg(load1, 1);
    state.counters["wall_s"] = wall;
    state.counters["cpu_s"] = cpu;
    state.counters["load1"] = std::max(load0, load1[0]);
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    state.counters["peak_rss_MB"] = double(u.ru_maxrss) / 1024.0; // whole process, for boundedness
    state.counters["frames"] = double(stats.frames);
    state.counters["fps"] = double(stats.frames) / wall;
    state.counters["x_realtime"] = double(seconds) / wall;
    // Reading and counting run on the calling thread, painting and encoding on the encoder thread:
    // the parts overlap, so they add up to more than the wall time.
    state.counters["read_s"] = stats.readSeconds;
    state.counters["count_s"] = stats.countSeconds;
    state.counters["paint_s"] = stats.paintSeconds;
    state.counters["encode_s"] = stats.encodeSeconds;
    state.counters["wait_s"] = stats.waitSeconds; // counting thread waiting for the encoder thread
    state.SetLabel(stats.codec);
    state.counters["file_MB"] = fileMegabytes(out);
}

uint64_t exportSeconds(benchmark::State& state) {
    uint64_t seconds = uint64_t(state.range(0));
    if (const char* env = std::getenv("NORVALE_BENCH_EXPORT_SECONDS")) seconds = uint64_t(std::max(1, std::atoi(env)));
    return seconds;
}

// Times one export (run fills the stats and says whether it succeeded) and reports it.
template <typename Run>
void timeExport(benchmark::State& state, double seconds, const std::string& out, Run run) {
    VideoExportStats stats;
    double wall = 0, cpu = 0, load0 = 0;
    for (auto _ : state) {
        getloadavg(&load0, 1);
        const double cpu0 = processCpuSeconds();
        const auto t0 = std::chrono::steady_clock::now();
        if (!run(stats)) {
            state.SkipWithError("export failed");
            return;
        }
        wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        cpu = processCpuSeconds() - cpu0;
    }
    reportExport(state, stats, seconds, wall, cpu, load0, out);
}

} // namespace

// Export of a synthetic 10 Mev/s source to 1280 x 720 at 30 fps with the default accumulation; the
// generation of the events stands in for file reading (read_s). The argument is the recording's
// length in seconds; NORVALE_BENCH_EXPORT_SECONDS overrides it.
static void BM_ExportVideo720p(benchmark::State& state) {
    const uint64_t seconds = exportSeconds(state);
    const std::string out = tempPath("export.mp4");
    SyntheticEvents synthetic(10000000);
    EventRangeSource source;
    source.firstTimestamp = 0;
    source.lastTimestamp = seconds * 1000000;
    source.readEvents = [&](uint64_t s, uint64_t d) { return synthetic.read(s, d); };
    timeExport(state, double(seconds), out, [&](VideoExportStats& stats) {
        return exportEventsToVideo(source, 0, seconds * 1000000, out, VideoExportOptions{}, &stats);
    });
    std::remove(out.c_str());
}
BENCHMARK(BM_ExportVideo720p)->Arg(60)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

// The real path: a recording generated at 10 Mev/s into /tmp (EVT 3.0, brought into the page
// cache, deleted afterwards), prepared, then exportFileToVideo with the default options.
// Generation and preparation are reported apart (gen_file_s, prepare_s) and not in the export.
static void BM_ExportRawFile720p(benchmark::State& state) {
    const uint64_t seconds = exportSeconds(state);
    const std::string raw = tempPath("rec.raw");
    const std::string out = tempPath("rawexport.mp4");
    struct Cleanup {
        std::string a, b;
        ~Cleanup() {
            std::remove(a.c_str());
            std::remove(b.c_str());
        }
    } cleanup{raw, out};

    GeneratorConfig cfg;
    cfg.eventRate = 10e6;
    cfg.startTimestamp = 1'000'000'000ull;
    auto g0 = std::chrono::steady_clock::now();
    if (!generateRecordingFile(raw, cfg, seconds * 1000000)) return state.SkipWithError("cannot write the recording");
    state.counters["gen_file_s"] = std::chrono::duration<double>(std::chrono::steady_clock::now() - g0).count();
    state.counters["raw_MB"] = fileMegabytes(raw);
    {
        std::ifstream f(raw, std::ios::binary); // into the page cache
        std::vector<char> buf(1 << 24);
        while (f.read(buf.data(), std::streamsize(buf.size())) || f.gcount() > 0) {
        }
    }
    auto reader = DvsFileReader::createFileReader(raw);
    g0 = std::chrono::steady_clock::now();
    if (!reader || !reader->prepareFile()) return state.SkipWithError("cannot prepare the recording");
    state.counters["prepare_s"] = std::chrono::duration<double>(std::chrono::steady_clock::now() - g0).count();
    uint64_t first = 0, last = 0;
    reader->getStartTimestamp(first);
    reader->getEndTimestamp(last);
    state.counters["Mevents"] = double(reader->getStats().eventCount) / 1e6;

    timeExport(state, double(last - first + 1) / 1e6, out, [&](VideoExportStats& stats) {
        return exportFileToVideo(*reader, first, last, out, VideoExportOptions{}, &stats);
    });
}
BENCHMARK(BM_ExportRawFile720p)->Arg(60)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

// Counting and painting alone, on one thread: the generator's events at 10 Mev/s, one frame's
// window (33 333 us, about 333 000 events) per iteration, counted into a plane and painted into a
// 1280 x 720 YUV 4:2:0 picture. Reports the counting rate and the painting time per frame.
static void BM_CountAndPaintFrame720p(benchmark::State& state) {
    constexpr int w = 1280, h = 720;
    constexpr uint64_t frameUs = 33333, frames = 30;
    GeneratorConfig cfg;
    cfg.eventRate = 10e6;
    EventGenerator generator(cfg);
    std::vector<Event2D> events;
    std::vector<EventTriggerIn> triggers;
    generator.generate(frameUs * frames, events, triggers);
    std::vector<size_t> bounds; // first event of each frame
    for (uint64_t k = 0; k <= frames; ++k) {
        auto it = std::lower_bound(events.begin(), events.end(), k * frameUs,
                                   [](const Event2D& e, uint64_t t) { return e.timestamp < t; });
        bounds.push_back(size_t(it - events.begin()));
    }
    video::EventCounter counter(w, h, false);
    video::EventStatePlane plane(w, h);
    video::EventFrameRenderer renderer(w, h, {255, 255, 255}, {0, 0, 0}, {112, 112, 112});
    std::vector<uint8_t> y(size_t(w) * h), u(size_t(w / 2) * (h / 2)), v(u.size());
    double countSeconds = 0, paintSeconds = 0;
    uint64_t counted = 0, k = 0;
    for (auto _ : state) {
        const Event2D* b = events.data() + bounds[k % frames];
        const Event2D* e = events.data() + bounds[k % frames + 1];
        const auto t0 = std::chrono::steady_clock::now();
        plane.clearTouched();
        counter.add(b, e, plane);
        const auto t1 = std::chrono::steady_clock::now();
        renderer.render(plane, y.data(), w, u.data(), w / 2, v.data(), w / 2);
        const auto t2 = std::chrono::steady_clock::now();
        countSeconds += std::chrono::duration<double>(t1 - t0).count();
        paintSeconds += std::chrono::duration<double>(t2 - t1).count();
        counted += uint64_t(e - b);
        ++k;
        benchmark::DoNotOptimize(y.data());
    }
    state.counters["count_Mev_s"] = double(counted) / countSeconds / 1e6;
    state.counters["paint_ms"] = paintSeconds / double(k) * 1000.0;
    state.counters["events_per_frame"] = double(counted) / double(k);
}
BENCHMARK(BM_CountAndPaintFrame720p)->Iterations(600)->Unit(benchmark::kMillisecond);

// Random access in a 3840 x 2160 APS video at 30 fps with a key frame every second. The video is
// written first (its own timing is reported too) and removed afterwards. Its length in seconds is
// the argument; NORVALE_BENCH_APS_SECONDS overrides it, NORVALE_BENCH_APS_KEY_US the key frame
// interval (default: the writer's).
static void BM_ApsReadFrameByTimestamp4K(benchmark::State& state) {
    int seconds = int(state.range(0));
    if (const char* env = std::getenv("NORVALE_BENCH_APS_SECONDS")) seconds = std::max(1, std::atoi(env));
    const int w = 3840, h = 2160, fps = 30;
    const std::string path = tempPath("aps4k.mp4");

    // A lit scene: gradients, a fixed texture of sensor noise that drifts, a moving bright block.
    std::vector<uint8_t> texture(size_t(w) * h * 3 + 3 * 4096);
    XorShift rng;
    for (auto& t : texture) t = uint8_t(rng.next() % 9);
    auto writeStart = std::chrono::steady_clock::now();
    {
        ApsVideoWriterOptions options;
        if (const char* env = std::getenv("NORVALE_BENCH_APS_KEY_US")) options.keyFrameIntervalUs = std::strtoull(env, nullptr, 10);
        state.counters["key_interval_ms"] = double(options.keyFrameIntervalUs) / 1000.0;
        auto writer = ApsVideoWriter::create(path, w, h, options);
        if (!writer) {
            state.SkipWithError("cannot create the APS video");
            return;
        }
        ApsFrame frame(w, h, 0, 0);
        for (int i = 0; i < seconds * fps; ++i) {
            uint8_t* p = frame.data();
            const uint8_t* noise = texture.data() + 3 * size_t((i * 37) % 4096);
            const int bx = (i * 24) % (w - 400);
            for (int y = 0; y < h; ++y) {
                const bool blockRow = y >= 800 && y < 1200;
                for (int x = 0; x < w; ++x, p += 3, noise += 3) {
                    const bool block = blockRow && x >= bx && x < bx + 400;
                    p[0] = uint8_t((block ? 220 : 40 + x / 32) + noise[0]);
                    p[1] = uint8_t((block ? 210 : 50 + y / 24) + noise[1]);
                    p[2] = uint8_t((block ? 200 : 60 + (x + y) / 64) + noise[2]);
                }
            }
            frame.timestamp = uint64_t(i) * 1000000 / fps;
            if (!writer->writeFrame(frame)) {
                state.SkipWithError("writing the APS video failed");
                return;
            }
        }
        if (!writer->close()) {
            state.SkipWithError("closing the APS video failed");
            return;
        }
    }
    const double writeSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - writeStart).count();

    auto reader = ApsFileReader::createFileReader(path);
    if (!reader) {
        state.SkipWithError("cannot open the APS video");
        std::remove(path.c_str());
        return;
    }
    ApsFrame frame(w, h, 0, 0);
    std::vector<double> ms;
    XorShift pick;
    const uint64_t span = uint64_t(seconds) * 1000000;
    for (auto _ : state) {
        const uint64_t ts = uint64_t(pick.next()) * uint64_t(pick.next()) % span;
        const auto t0 = std::chrono::steady_clock::now();
        const bool ok = reader->readFrameByTimestamp(ts, frame);
        const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        if (!ok) {
            state.SkipWithError("readFrameByTimestamp failed");
            break;
        }
        state.SetIterationTime(s);
        ms.push_back(s * 1000);
    }
    // Baseline: a frame that is itself a key frame (seek plus one decode and conversion).
    std::vector<double> keyMs;
    for (int i = 0; i < 5; ++i) {
        const auto t0 = std::chrono::steady_clock::now();
        reader->readFrameByTimestamp(uint64_t(i * 7 % seconds) * 1000000, frame);
        keyMs.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count() * 1000);
    }
    std::sort(ms.begin(), ms.end());
    std::sort(keyMs.begin(), keyMs.end());
    if (!ms.empty()) {
        state.counters["median_ms"] = ms[ms.size() / 2];
        state.counters["p90_ms"] = ms[ms.size() * 9 / 10];
        state.counters["max_ms"] = ms.back();
    }
    state.counters["keyframe_ms"] = keyMs[keyMs.size() / 2];
    state.counters["video_s"] = seconds;
    state.counters["write_fps"] = seconds * fps / writeSeconds;
    state.counters["file_MB"] = fileMegabytes(path);
    std::remove(path.c_str());
}
BENCHMARK(BM_ApsReadFrameByTimestamp4K)->Arg(60)->Iterations(40)->UseManualTime()->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
