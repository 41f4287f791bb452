// HDF5 event files, against h5py in the same run: a generated EVT 3.0 recording (20 Mev/s, 1.5 s;
// NORVALE_BENCH_HDF5_SECONDS makes it longer: 35 s is about 1 GiB) converted to HDF5 (Mev/s, the
// file complete and synced as every conversion is), plain and with --compress; its decoded events
// written to HDF5 from memory; the HDF5 file opened to its first frame (createFileReader,
// prepareFile and the first 33 ms), read whole through the reader, and readRange(t, t + 33 ms) at
// random t (median, 99th percentile). At the end bench_hdf5_h5py.py times h5py writing the same
// arrays (plain, plain and synced, and shuffle + gzip 1 as ours) and reading the same datasets
// whole, and norvale's read_all of the same file. Every timed write, ours and h5py's, starts with
// the disk idle (synced, the output removed). Files in /tmp, deleted at the end;
// NORVALE_BENCH_HDF5_DIR puts the HDF5 files elsewhere (/dev/shm: the conversion without the disk).
//
// A long recording leaves out what needs all its events in memory (the write from memory and the
// whole read); h5py then writes one slice of the arrays over and over to their length.
//
// NORVALE_BENCH_HDF5_FILE=F times only the reading of an existing HDF5 file F (kept), so that two
// builds of the library (LD_LIBRARY_PATH) can be timed on the same file one after the other.
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

const std::string kRaw = "/tmp/norvale_bench_hdf5_" + std::to_string(::getpid()) + ".raw";
const std::string kBase = [] {
    const char* dir = std::getenv("NORVALE_BENCH_HDF5_DIR");
    return std::string(dir && *dir ? dir : "/tmp") + "/norvale_bench_hdf5_" + std::to_string(::getpid());
}();
// The file read: converted here, or given (and then kept).
const char* const kGivenH5 = std::getenv("NORVALE_BENCH_HDF5_FILE");
const std::string kH5 = kGivenH5 ? std::string(kGivenH5) : kBase + ".h5";
const std::string kH5Gzip = kBase + ".gz.h5";

double recordingSeconds() {
    const char* text = std::getenv("NORVALE_BENCH_HDF5_SECONDS");
    const double s = text ? std::atof(text) : 1.5;
    return s > 0 && s <= 3600 ? s : 1.5;
}

// Past this, nothing holds all the events in memory.
bool longRecording() {
    return recordingSeconds() > 5;
}

int iterations() {
    return longRecording() ? 1 : 3;
}

void makeRaw() {
    static const bool made = [] {
        GeneratorConfig cfg;
        cfg.eventRate = 20e6;
        cfg.startTimestamp = 1'000'000;
        const auto t0 = std::chrono::steady_clock::now();
        const bool ok = generateRecordingFile(kRaw, cfg, uint64_t(recordingSeconds() * 1e6));
        std::fprintf(stderr, "generated %s (%.2f s of events) in %.1f s\n", kRaw.c_str(), recordingSeconds(),
                     std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
        return ok;
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

void convert(benchmark::State& state, const std::string& out, bool compress) {
    if (kGivenH5) {
        state.SkipWithError("left out: reading a given file");
        return;
    }
    makeRaw();
    uint64_t events = 0, bytes = 0;
    for (auto _ : state) {
        // Each conversion starts with the disk idle (nothing left to write back from before).
        state.PauseTiming();
        std::remove(out.c_str());
        ::sync();
        state.ResumeTiming();
        auto in = DvsFileReader::createFileReader(kRaw);
        if (!in || !in->prepareFile()) std::abort();
        ConvertReport report;
        if (!convertEventFile(*in, 0, UINT64_MAX, out, EventFileFormat::Hdf5, true, {}, report, compress)) {
            std::fprintf(stderr, "%s\n", report.problem.c_str());
            std::abort();
        }
        events += report.events;
        bytes += in->getStats().dataBytes;
    }
    state.counters["Mev/s"] = benchmark::Counter(double(events) / 1e6, benchmark::Counter::kIsRate);
    state.counters["EVT3_MiB"] = double(bytes) / double(state.iterations()) / (1 << 20);
}

void BM_ConvertEvt3ToHdf5(benchmark::State& state) {
    convert(state, kH5, false);
}
BENCHMARK(BM_ConvertEvt3ToHdf5)->Unit(benchmark::kMillisecond)->Iterations(iterations())->UseRealTime();

void BM_ConvertEvt3ToHdf5Compressed(benchmark::State& state) {
    if (longRecording()) {
        state.SkipWithError("left out for a long recording (about a minute per GiB)");
        return;
    }
    convert(state, kH5Gzip, true);
    std::remove(kH5Gzip.c_str());
}
BENCHMARK(BM_ConvertEvt3ToHdf5Compressed)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

void BM_WriteArraysToHdf5(benchmark::State& state) {
    if (longRecording() || kGivenH5) {
        state.SkipWithError("left out for a long recording (all events in memory)");
        return;
    }
    const auto& events = decoded();
    const std::string out = kBase + ".mem.h5";
    for (auto _ : state) {
        state.PauseTiming();
        std::remove(out.c_str());
        ::sync();
        state.ResumeTiming();
        EventFileDescription description;
        std::string problem;
        auto w = EventFileWriter::create(out, EventFileFormat::Hdf5, description, true, FileIdentity{}, problem);
        if (!w || !w->write(events.data(), events.data() + events.size()) || !w->finish()) std::abort();
    }
    std::remove(out.c_str());
    state.counters["Mev/s"] =
        benchmark::Counter(double(events.size()) * double(state.iterations()) / 1e6, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_WriteArraysToHdf5)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

// What the viewer does to show a file: open, index, and read the first frame's events.
void BM_OpenHdf5ToFirstFrame(benchmark::State& state) {
    for (auto _ : state) {
        auto r = DvsFileReader::createFileReader(kH5);
        uint64_t first = 0;
        std::vector<Event2D> out;
        if (!r || !r->prepareFile() || !r->getStartTimestamp(first) || !r->readRange(first, first + 33'000, out))
            std::abort();
        state.counters["events"] = double(r->getStats().eventCount);
    }
}
BENCHMARK(BM_OpenHdf5ToFirstFrame)->Unit(benchmark::kMillisecond)->Iterations(iterations())->UseRealTime();

void BM_ReadHdf5Whole(benchmark::State& state) {
    if (longRecording()) {
        state.SkipWithError("left out for a long recording (all events in memory)");
        return;
    }
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
    double events = 0;
    for (auto _ : state) {
        const uint64_t t = first + rng() % (last - first - 33'000);
        const auto t0 = std::chrono::steady_clock::now();
        if (!r->readRange(t, t + 33'000, out)) std::abort();
        ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
        events += double(out.size());
    }
    std::sort(ms.begin(), ms.end());
    state.counters["median_ms"] = ms[ms.size() / 2];
    state.counters["p99_ms"] = ms[ms.size() * 99 / 100];
    state.counters["events"] = events / double(ms.size());
}
BENCHMARK(BM_ReadHdf5Window33ms)->Iterations(200)->UseRealTime();

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (kGivenH5) return 0;
    // The baseline: h5py on the same arrays and file, in the same run.
    const std::string script = std::string(NORVALE_SOURCE_DIR) + "/bench/bench_hdf5_h5py.py";
    const std::string command = "/usr/bin/python3 " + script + " " + kH5 + " " + NORVALE_PYTHON_DIR +
                                (longRecording() ? " --slices" : "");
    const int rc = std::system(command.c_str());
    std::remove(kRaw.c_str());
    std::remove(kH5.c_str());
    return rc == 0 ? 0 : 1;
}
