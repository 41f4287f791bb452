// HDF5 event files, against h5py in the same run: a generated EVT 3.0 recording (20 Mev/s, 1.5 s)
// converted to HDF5 (Mev/s), its decoded events written to HDF5 from memory, the HDF5 file read
// whole through the reader, and readRange(t, t + 33 ms) at random t (median, 99th percentile).
// At the end bench_hdf5_h5py.py times h5py writing the same arrays (plain, and chunked with
// shuffle + gzip 1 as ours) and reading the same datasets whole. Files in /tmp, deleted at the end.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

#include "norvale/DvsFileReader.h"
#include "norvale/EventFileWriter.h"
#include "norvale/EventGenerator.h"

using namespace norvale;

namespace {

const std::string kBase = "/tmp/norvale_bench_hdf5_" + std::to_string(::getpid());
const std::string kRaw = kBase + ".raw";
const std::string kH5 = kBase + ".h5";

void makeRaw() {
    static const bool made = [] {
        GeneratorConfig cfg;
        cfg.eventRate = 20e6;
        cfg.startTimestamp = 1'000'000;
        return generateRecordingFile(kRaw, cfg, 1'500'000);
    }();
    if (!made) std::abort();
}

const std::vector<Event2D>& decoded() {
    static const std::vector<Event2D> events = [] {
        makeRaw();
        auto r = DvsFileReader::createFileReader(kRaw);
        std::vector<Event2D> out;
        if (!r || !r->prepareFile() || !r->readRange(0, UINT64_MAX, out)) std::abort();
        return out;
    }();
    return events;
}

void BM_ConvertEvt3ToHdf5(benchmark::State& state) {
    makeRaw();
    uint64_t events = 0;
    for (auto _ : state) {
        auto in = DvsFileReader::createFileReader(kRaw);
        if (!in || !in->prepareFile()) std::abort();
        ConvertReport report;
        if (!convertEventFile(*in, 0, UINT64_MAX, kH5, EventFileFormat::Hdf5, true, {}, report)) std::abort();
        events += report.events;
    }
    state.counters["Mev/s"] = benchmark::Counter(double(events) / 1e6, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ConvertEvt3ToHdf5)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

void BM_WriteArraysToHdf5(benchmark::State& state) {
    const auto& events = decoded();
    for (auto _ : state) {
        EventFileDescription description;
        std::string problem;
        auto w = EventFileWriter::create(kH5, EventFileFormat::Hdf5, description, true, FileIdentity{}, problem);
        if (!w || !w->write(events.data(), events.data() + events.size()) || !w->finish()) std::abort();
    }
    state.counters["Mev/s"] =
        benchmark::Counter(double(events.size()) * double(state.iterations()) / 1e6, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_WriteArraysToHdf5)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

void BM_ReadHdf5Whole(benchmark::State& state) {
    std::vector<Event2D> out;
    for (auto _ : state) {
        auto r = DvsFileReader::createFileReader(kH5);
        if (!r || !r->prepareFile() || !r->readRange(0, UINT64_MAX, out)) std::abort();
    }
    state.counters["Mev/s"] =
        benchmark::Counter(double(out.size()) * double(state.iterations()) / 1e6, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ReadHdf5Whole)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

void BM_ReadHdf5Window33ms(benchmark::State& state) {
    auto r = DvsFileReader::createFileReader(kH5);
    uint64_t first = 0, last = 0;
    if (!r || !r->prepareFile() || !r->getStartTimestamp(first) || !r->getEndTimestamp(last)) std::abort();
    std::mt19937_64 rng(3);
    std::vector<Event2D> out;
    std::vector<double> ms;
    for (auto _ : state) {
        const uint64_t t = first + rng() % (last - first - 33'000);
        const auto t0 = std::chrono::steady_clock::now();
        if (!r->readRange(t, t + 33'000, out)) std::abort();
        ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
    }
    std::sort(ms.begin(), ms.end());
    state.counters["median_ms"] = ms[ms.size() / 2];
    state.counters["p99_ms"] = ms[ms.size() * 99 / 100];
}
BENCHMARK(BM_ReadHdf5Window33ms)->Iterations(200)->UseRealTime();

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    // The baseline: h5py on the same arrays and file, in the same run.
    const std::string script = std::string(NORVALE_SOURCE_DIR) + "/bench/bench_hdf5_h5py.py";
    const int rc = std::system(("/usr/bin/python3 " + script + " " + kH5).c_str());
    std::remove(kRaw.c_str());
    std::remove(kH5.c_str());
    return rc == 0 ? 0 : 1;
}
