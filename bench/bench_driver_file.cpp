// Whole-file figures on a 1 GiB generated recording (20 Mev/s), written to /tmp and deleted at
// the end: prepareFile with the file in the page cache with each kernel (against reading the
// file, x_read), index memory, readEvents(t, 33333) at random t (median and 99th percentile),
// cuts of 1 s and 10 s out of the middle (wall time).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>

#include "norvale/DvsFileReader.h"
#include "norvale/EventGenerator.h"
#include "norvale/RawCut.h"

using namespace norvale;

namespace {

const std::string kPath = "/tmp/norvale_bench_1gib_" + std::to_string(::getpid()) + ".raw";
const std::string kCut = kPath + ".cut.raw";

void makeFile() {
    GeneratorConfig cfg;
    cfg.eventRate = 20e6;
    cfg.startTimestamp = 3'000'000'000ull; // past 178 wraps of the 24-bit time
    cfg.triggerHz = 100;
    // about 1.53 bytes per event at this rate: 35 s make a little over 1 GiB
    const uint64_t us = 35'500'000;
    if (!generateRecordingFile(kPath, cfg, us)) std::abort();
    std::ifstream f(kPath, std::ios::binary); // into the page cache
    std::vector<char> buf(1 << 24);
    while (f.read(buf.data(), std::streamsize(buf.size())) || f.gcount() > 0) {
    }
}

std::unique_ptr<DvsFileReader>& prepared() {
    static std::unique_ptr<DvsFileReader> r = [] {
        auto p = DvsFileReader::createFileReader(kPath);
        p->prepareFile();
        return p;
    }();
    return r;
}

// Reading the file in the pieces prepareFile reads: the floor under prepareFile (counter x_read).
double readSeconds() {
    static const double best = [] {
        const int fd = ::open(kPath.c_str(), O_RDONLY);
        std::vector<char> buf(4 << 20);
        double b = 1e9;
        for (int r = 0; r < 3; ++r) {
            const auto t0 = std::chrono::steady_clock::now();
            off_t off = 0;
            for (ssize_t n; (n = ::pread(fd, buf.data(), buf.size(), off)) > 0;) off += n;
            b = std::min(b, std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
        }
        ::close(fd);
        return b;
    }();
    return best;
}

// prepareFile with the kernel of the argument (0 AVX-512, 1 AVX2, 2 portable).
void BM_PrepareFile(benchmark::State& state) {
    const DecoderKernel kernel = std::array{DecoderKernel::Avx512, DecoderKernel::Avx2, DecoderKernel::Portable}[size_t(state.range(0))];
    if (!kernelAvailable(kernel)) return state.SkipWithError("kernel not available on this CPU");
    ::setenv("NORVALE_SIMD", kernelName(kernel), 1);
    state.SetLabel(kernelName(kernel));
    RawFileStats s;
    double seconds = 0;
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        auto reader = DvsFileReader::createFileReader(kPath);
        if (!reader || !reader->prepareFile()) return state.SkipWithError("prepare failed");
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        s = reader->getStats();
    }
    ::unsetenv("NORVALE_SIMD");
    state.counters["GiB"] = double(s.dataBytes) / double(1ull << 30);
    state.counters["Mevents"] = double(s.eventCount) / 1e6;
    state.counters["index_bytes"] = double(s.indexBytes);
    state.counters["file_per_index"] = double(s.dataBytes) / double(s.indexBytes);
    state.counters["x_read"] = seconds / double(state.iterations()) / readSeconds();
}

void BM_ReadEvents33ms(benchmark::State& state) {
    auto& reader = prepared();
    uint64_t first = 0, last = 0;
    reader->getStartTimestamp(first);
    reader->getEndTimestamp(last);
    uint64_t rng = 99;
    std::vector<double> ms;
    size_t events = 0;
    for (auto _ : state) {
        rng = rng * 6364136223846793005ull + 1442695040888963407ull;
        const uint64_t t = first + (rng >> 11) % (last - first - 33333);
        const auto t0 = std::chrono::steady_clock::now();
        auto ev = reader->readEvents(t, 33333);
        ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
        events += ev ? ev->size() : 0;
    }
    std::sort(ms.begin(), ms.end());
    state.counters["median_ms"] = ms[ms.size() / 2];
    state.counters["p99_ms"] = ms[std::min(ms.size() - 1, size_t(double(ms.size()) * 0.99))];
    state.counters["events_per_read"] = double(events) / double(ms.size());
}

void runCut(benchmark::State& state, uint64_t seconds) {
    auto& reader = prepared();
    uint64_t first = 0, last = 0;
    reader->getStartTimestamp(first);
    reader->getEndTimestamp(last);
    const uint64_t mid = first + (last - first) / 2, half = seconds * 500'000;
    for (auto _ : state)
        if (!cutRawFile(*reader, mid - half, mid + half - 1, kCut)) return state.SkipWithError("cut failed");
    std::ifstream f(kCut, std::ios::binary | std::ios::ate);
    state.counters["out_MB"] = double(f.tellg()) / 1e6;
    std::remove(kCut.c_str());
}

void BM_Cut1s(benchmark::State& state) { runCut(state, 1); }
void BM_Cut10s(benchmark::State& state) { runCut(state, 10); }

} // namespace

BENCHMARK(BM_PrepareFile)->Unit(benchmark::kMillisecond)->Iterations(3)->Arg(0)->Arg(1)->Arg(2)->UseRealTime();
BENCHMARK(BM_ReadEvents33ms)->Unit(benchmark::kMillisecond)->Iterations(300);
BENCHMARK(BM_Cut1s)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_Cut10s)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    const auto t0 = std::chrono::steady_clock::now();
    makeFile();
    std::fprintf(stderr, "generated %s in %.1f s\n", kPath.c_str(),
                 std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
    benchmark::RunSpecifiedBenchmarks();
    prepared().reset();
    std::remove(kPath.c_str());
    std::remove(kCut.c_str());
    benchmark::Shutdown();
    return 0;
}
