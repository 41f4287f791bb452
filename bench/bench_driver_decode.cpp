// Decoding and encoding from memory, against the one-word-at-a-time baseline measured in the
// same run (counter "x_baseline"). Data: the generator at 20 Mev/s, and the real recording of
// ../shared/data when present.
#include <benchmark/benchmark.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <map>
#include <string>

#include "BaselineEvt3.h"
#include "norvale/EventGenerator.h"
#include "norvale/Evt3Encoder.h"
#include "norvale/RawDecoder.h"
#include "norvale/RawHeader.h"

using namespace norvale;

namespace {

struct Stream {
    std::vector<uint8_t> words;
    uint64_t events = 0;
    uint32_t width = 1280, height = 720;
};

const Stream& generated() {
    static Stream s = [] {
        Stream r;
        GeneratorConfig cfg;
        cfg.eventRate = 20e6;
        cfg.startTimestamp = 10'000'000;
        EventGenerator gen(cfg);
        std::vector<Event2D> ev;
        std::vector<EventTriggerIn> tr;
        gen.generate(500'000, ev, tr); // 0.5 s, about 10 million events
        Evt3Encoder enc;
        enc.add(ev.data(), ev.data() + ev.size(), tr.data(), tr.data() + tr.size());
        r.words.assign(enc.data(), enc.data() + enc.size());
        r.events = ev.size();
        return r;
    }();
    return s;
}

// The real recording, repeated to a few MB so that a pass is long enough to time.
const Stream* real() {
    static Stream s;
    static bool tried = false;
    if (!tried) {
        tried = true;
        std::ifstream f(std::string(NORVALE_SHARED_DATA_DIR) + "/pedestrians_5k.evt3.raw", std::ios::binary);
        if (!f) return nullptr;
        std::vector<char> bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
        RawHeader h;
        std::string problem;
        if (parseRawHeader(bytes.data(), bytes.size(), true, h, problem) != HeaderStatus::Ok) return nullptr;
        const uint8_t* d = reinterpret_cast<const uint8_t*>(bytes.data()) + h.dataOffset;
        const size_t n = (bytes.size() - h.dataOffset) & ~size_t(1);
        for (int i = 0; i < 200; ++i) s.words.insert(s.words.end(), d, d + n);
        s.width = h.width;
        s.height = h.height;
    }
    return s.words.empty() ? nullptr : &s;
}

double baselineMevs(const Stream& s) {
    static std::map<const Stream*, double> cache;
    auto it = cache.find(&s);
    if (it != cache.end()) return it->second;
    double best = 0;
    std::vector<Event2D> out; // kept across passes: time the decoding, not the page faults
    for (int r = 0; r < 4; ++r) {
        bench::BaselineEvt3 dec(s.width, s.height);
        out.clear();
        const auto t0 = std::chrono::steady_clock::now();
        dec.decode(s.words.data(), s.words.size(), out);
        const double sec = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        best = std::max(best, double(out.size()) / sec / 1e6);
    }
    return cache[&s] = best;
}

void runBaseline(benchmark::State& state, const Stream& s) {
    uint64_t events = 0;
    std::vector<Event2D> out; // kept across passes: time the decoding, not the page faults
    for (auto _ : state) {
        bench::BaselineEvt3 dec(s.width, s.height);
        out.clear();
        dec.decode(s.words.data(), s.words.size(), out);
        events += out.size();
        benchmark::DoNotOptimize(out.data());
    }
    state.counters["Mev/s"] = benchmark::Counter(double(events) / 1e6, benchmark::Counter::kIsRate);
}

// Decodes in 64 KiB chunks into a reused buffer, as the reader does.
void runKernel(benchmark::State& state, const Stream& s, DecoderKernel kernel) {
    auto dec = makeEvt3Decoder(s.width, s.height, kernel);
    if (!dec) {
        state.SkipWithError("kernel not available on this CPU");
        return;
    }
    const size_t chunk = 64 * 1024;
    std::vector<Event2D> out(dec->maxEvents(chunk));
    uint64_t events = 0;
    for (auto _ : state) {
        dec->reset();
        for (size_t off = 0; off < s.words.size(); off += chunk)
            events += dec->decode(s.words.data() + off, std::min(chunk, s.words.size() - off), out.data(), nullptr);
        benchmark::DoNotOptimize(out.data());
    }
    state.counters["Mev/s"] = benchmark::Counter(double(events) / 1e6, benchmark::Counter::kIsRate);
    state.counters["baseline_Mev/s"] = baselineMevs(s);
}

void BM_Baseline_Generated(benchmark::State& st) { runBaseline(st, generated()); }
void BM_Portable_Generated(benchmark::State& st) { runKernel(st, generated(), DecoderKernel::Portable); }
void BM_Avx512_Generated(benchmark::State& st) { runKernel(st, generated(), DecoderKernel::Avx512); }
void BM_Baseline_Real(benchmark::State& st) {
    if (!real()) return st.SkipWithError("../shared/data absent");
    runBaseline(st, *real());
}
void BM_Portable_Real(benchmark::State& st) {
    if (!real()) return st.SkipWithError("../shared/data absent");
    runKernel(st, *real(), DecoderKernel::Portable);
}
void BM_Avx512_Real(benchmark::State& st) {
    if (!real()) return st.SkipWithError("../shared/data absent");
    runKernel(st, *real(), DecoderKernel::Avx512);
}

void BM_Encode_Generated(benchmark::State& state) {
    GeneratorConfig cfg;
    cfg.eventRate = 20e6;
    EventGenerator gen(cfg);
    std::vector<Event2D> ev;
    std::vector<EventTriggerIn> tr;
    gen.generate(200'000, ev, tr);
    Evt3Encoder enc;
    uint64_t events = 0;
    for (auto _ : state) {
        enc.reset();
        enc.clearOutput();
        enc.addEvents(ev.data(), ev.data() + ev.size());
        events += ev.size();
        benchmark::DoNotOptimize(enc.data());
    }
    state.counters["Mev/s"] = benchmark::Counter(double(events) / 1e6, benchmark::Counter::kIsRate);
    state.counters["bytes/event"] = double(enc.size()) / double(ev.size());
}

} // namespace

BENCHMARK(BM_Baseline_Generated)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Portable_Generated)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Avx512_Generated)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Baseline_Real)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Portable_Real)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Avx512_Real)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Encode_Generated)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
