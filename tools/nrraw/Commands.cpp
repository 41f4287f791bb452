#include "Commands.h"
#include "StandardOutput.h"

#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>

#include "BaselineEvt3.h"
#include "norvale/DvsFileReader.h"
#include "norvale/EventFileFormat.h"
#include "norvale/EventGenerator.h"
#include "norvale/FuncUtils.h"
#include "norvale/RawCut.h"
#include "norvale/RawHeader.h"

using namespace norvale;

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point t0) { return std::chrono::duration<double>(Clock::now() - t0).count(); }

double threadCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

const std::string& onePath(const Args& args, size_t count, const char* usage) {
    if (args.positional().size() != count) throw UsageError(std::string("usage: ") + usage);
    return args.positional()[0];
}

} // namespace

std::unique_ptr<DvsFileReader> openPrepared(const std::string& path) {
    auto reader = DvsFileReader::createFileReader(path);
    if (!reader) {
        std::fprintf(stderr, "nrraw: %s: cannot be opened as an event file (see the message above)\n", path.c_str());
        return nullptr;
    }
    if (!reader->prepareFile()) {
        std::fprintf(stderr, "nrraw: %s: cannot be read\n", path.c_str());
        return nullptr;
    }
    return reader;
}

int cmdCut(const Args& args) {
    if (args.positional().size() != 2) throw UsageError("usage: nrraw cut FILE OUT [--start US] [--end US]");
    const std::string& in = args.positional()[0];
    const std::string& out = args.positional()[1];
    auto reader = openPrepared(in);
    if (!reader) return 1;
    uint64_t first = 0, last = 0;
    reader->getStartTimestamp(first);
    reader->getEndTimestamp(last);
    const uint64_t start = args.u64("--start", first), end = args.u64("--end", last);
    if (end < start) throw UsageError("--end must not be before --start");
    const auto t0 = Clock::now();
    if (!cutRawFile(*reader, start, end, out)) {
        std::fprintf(stderr, "nrraw: %s: cut to %s failed (see the message above)\n", in.c_str(), out.c_str());
        return 1;
    }
    std::fprintf(stderr, "cut %llu..%llu of %s to %s in %.3f s\n", (unsigned long long)start, (unsigned long long)end,
                 in.c_str(), out.c_str(), secondsSince(t0));
    return 0;
}

int cmdDump(const Args& args) {
    const std::string& path = onePath(args, 1, "nrraw dump FILE [--start US] [--duration US] [--limit N]");
    auto reader = openPrepared(path);
    if (!reader) return 1;
    uint64_t first = 0, last = 0;
    if (!reader->getStartTimestamp(first)) return 0; // no events
    reader->getEndTimestamp(last);
    const uint64_t start = args.u64("--start", first);
    const uint64_t duration = args.u64("--duration", last >= start ? last - start + 1 : 0);
    uint64_t limit = args.u64("--limit", UINT64_MAX);
    const uint64_t end = duration > UINT64_MAX - start ? UINT64_MAX : start + duration;
    std::printf("t,x,y,p\n");
    std::vector<Event2D> events;
    const uint64_t step = 1000000; // 1 s at a time keeps memory small
    for (uint64_t t = start; t < end && limit > 0;) {
        const uint64_t to = t + std::min(step, end - t);
        if (!reader->readRange(t, to, events)) {
            std::fprintf(stderr, "nrraw: %s: cannot be read\n", path.c_str());
            return 1;
        }
        for (const Event2D& e : events) {
            if (limit == 0) break;
            --limit;
            std::printf("%llu,%u,%u,%u\n", (unsigned long long)e.timestamp, e.x, e.y, e.polarity);
        }
        if (standardOutputFailed()) return 1; // reported on the way out; no use going on
        // An empty stretch (a damaged file's time jump) is skipped at once, however long.
        if (!events.empty()) {
            t = to;
        } else if (!reader->nextEventTime(to, t)) {
            std::fprintf(stderr, "nrraw: %s: cannot be read\n", path.c_str());
            return 1;
        }
    }
    return 0;
}

namespace {

// Best pass of `repeat` by this thread's CPU time, so other programs' work does not count. events:
// what a pass gave.
double bestPass(uint64_t repeat, const std::function<uint64_t()>& pass, uint64_t& events) {
    double mevs = 0;
    for (uint64_t r = 0; r < repeat; ++r) {
        const double t0 = threadCpuSeconds();
        events = pass();
        mevs = std::max(mevs, double(events) / std::max(threadCpuSeconds() - t0, 1e-9) / 1e6);
    }
    return mevs;
}

// A file that is not a raw word stream has no decoder of its own to time: its reader's whole read
// through the index is what playback and conversion cost.
int benchBlockRead(const std::string& path, uint64_t repeat) {
    auto reader = openPrepared(path);
    if (!reader) return 1;
    const uint64_t expected = reader->getStats().eventCount;
    bool failed = false;
    uint64_t events = 0;
    const double mevs = bestPass(repeat,
                                 [&] {
                                     uint64_t n = 0;
                                     failed |= !reader->scanRange(0, UINT64_MAX,
                                                                  [&](const Event2D*, size_t count,
                                                                      const EventTriggerIn*, size_t) {
                                                                      n += count;
                                                                      return true;
                                                                  });
                                     return n;
                                 },
                                 events);
    if (failed || events != expected) {
        std::fprintf(stderr, "nrraw: %s: cannot be read whole (%llu of %llu events)\n", path.c_str(),
                     (unsigned long long)events, (unsigned long long)expected);
        return 1;
    }
    const char* name = formatInfo(reader->fileFormat()).name;
    std::printf("%s reader, the whole file through its index: %llu events, best of %llu: %.1f Mev/s\n", name,
                (unsigned long long)events, (unsigned long long)repeat, mevs);
    std::printf("decode: %.1f Mev/s (%s reader)\n", mevs, name);
    return 0;
}

} // namespace

int cmdBenchDecode(const Args& args) {
    const std::string& path = onePath(args, 1, "nrraw bench decode FILE [--repeat N]");
    const uint64_t repeat = std::max<uint64_t>(1, args.u64("--repeat", 5));
    EventFileFormat fileFormat;
    std::string problem;
    if (!detectFormat(path, fileFormat, problem)) {
        std::fprintf(stderr, "nrraw: %s: %s\n", path.c_str(), problem.c_str());
        return 1;
    }
    if (fileFormat != EventFileFormat::Evt3 && fileFormat != EventFileFormat::Evt2 &&
        fileFormat != EventFileFormat::Evt21 && fileFormat != EventFileFormat::Dat)
        return benchBlockRead(path, repeat);
    std::ifstream f(path, std::ios::binary);
    if (!f) {
        std::fprintf(stderr, "nrraw: %s: cannot be opened\n", path.c_str());
        return 1;
    }
    std::vector<char> bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    RawHeader header;
    if (parseRawHeader(bytes.data(), bytes.size(), true, header, problem) != HeaderStatus::Ok) {
        std::fprintf(stderr, "nrraw: %s: not a raw event file: %s\n", path.c_str(), problem.c_str());
        return 1;
    }
    // A small recording is tiled to a few megabytes (whole copies, so every word stays as recorded):
    // each pass reads it from memory rather than from the processor's cache, as a file's decoding does.
    const uint8_t* recorded = reinterpret_cast<const uint8_t*>(bytes.data()) + header.dataOffset;
    const size_t recordedSize = (bytes.size() - header.dataOffset) & ~size_t(1);
    const size_t copies = recordedSize ? std::max<size_t>(1, (size_t(4) << 20) / recordedSize) : 1;
    std::vector<uint8_t> tiled;
    for (size_t c = 0; copies > 1 && c < copies; ++c) tiled.insert(tiled.end(), recorded, recorded + recordedSize);
    const uint8_t* data = copies > 1 ? tiled.data() : recorded;
    const size_t size = copies > 1 ? tiled.size() : recordedSize;
    // Every pixel the format addresses, as the file reader decodes: the counts are the file's.
    uint32_t width = 0, height = 0;
    addressableRange(header.format, width, height);
    // Every decoder writes its events once into one array, as a whole-file read does; a file of more
    // events than the array holds starts over at its beginning when the next piece may not fit.
    const size_t chunk = 64 * 1024;
    const size_t room = size_t(16) << 20; // events: 256 MB
    std::vector<Event2D> out;
    auto run = [&](RawDecoder& dec) {
        out.resize(std::max(room, dec.maxEvents(chunk)));
        uint64_t events = 0;
        const double mevs = bestPass(
            repeat,
            [&] {
                uint64_t n = 0;
                size_t at = 0;
                dec.reset();
                for (size_t off = 0; off < size; off += chunk) {
                    if (out.size() - at < dec.maxEvents(chunk)) at = 0;
                    const size_t got = dec.decode(data + off, std::min(chunk, size - off), out.data() + at, nullptr);
                    at += got;
                    n += got;
                }
                return n;
            },
            events);
        return std::make_pair(mevs, events);
    };
    // The counts printed are a copy's: the file's own.
    std::printf("data: %zu copies of the recording's %zu bytes (%.1f MB)\n", copies, recordedSize, double(size) / 1e6);
    if (header.format != RawFormat::Evt3) {
        // EVT 2.0, EVT 2.1 and DAT each have one decoder.
        auto dec = makeDecoder(header.format, width, height);
        const char* name = formatInfo(rawFileFormat(header.format)).name;
        const auto [mevs, events] = run(*dec);
        std::printf("%s decoder: %llu events, best of %llu: %.1f Mev/s\n", name, (unsigned long long)(events / copies),
                    (unsigned long long)repeat, mevs);
        std::printf("decode: %.1f Mev/s (%s decoder)\n", mevs, name);
        return 0;
    }
    // The plain decoder pushes a piece of up to 4 MB of words at a time into its vector (the whole
    // tiled recording in one piece), cleared between pieces: a large file's events need not fit.
    const size_t piece = size_t(4) << 20;
    std::vector<Event2D> plain;
    auto plainPass = [&] {
        bench::BaselineEvt3 dec;
        uint64_t n = 0;
        for (size_t off = 0; off < size; off += piece) {
            plain.clear();
            dec.decode(data + off, std::min(piece, size - off), plain);
            n += plain.size();
        }
        return n;
    };
    plainPass(); // the vector reserved once: the passes time the decoding, not the page faults
    uint64_t plainEvents = 0;
    const double baseline = bestPass(repeat, plainPass, plainEvents);
    std::printf("straightforward decoder: %llu events, best of %llu: %.1f Mev/s\n", (unsigned long long)(plainEvents / copies),
                (unsigned long long)repeat, baseline);
    double chosen = 0;
    for (DecoderKernel k : {DecoderKernel::Avx512, DecoderKernel::Avx2, DecoderKernel::Portable}) {
        auto dec = makeEvt3Decoder(width, height, k);
        if (!dec) {
            std::printf("%s kernel: not on this CPU\n", kernelName(k));
            continue;
        }
        const auto [mevs, events] = run(*dec);
        std::printf("%s kernel: %llu events, best of %llu: %.1f Mev/s, %.2f times the straightforward decoder\n",
                    kernelName(k), (unsigned long long)(events / copies), (unsigned long long)repeat, mevs,
                    baseline > 0 ? mevs / baseline : 0.0);
        if (k == autoKernel()) chosen = mevs;
    }
    std::printf("decode: %.1f Mev/s (%s kernel)\n", chosen, kernelName(autoKernel()));
    return 0;
}

int cmdBenchSeek(const Args& args) {
    const std::string& path = onePath(args, 1, "nrraw bench seek FILE [--count N]");
    const uint64_t count = std::max<uint64_t>(1, args.u64("--count", 200));
    const auto t0 = Clock::now();
    auto reader = openPrepared(path);
    if (!reader) return 1;
    const double prepare = secondsSince(t0);
    uint64_t first = 0, last = 0;
    if (!reader->getStartTimestamp(first)) {
        std::fprintf(stderr, "nrraw: %s: has no events\n", path.c_str());
        return 1;
    }
    reader->getEndTimestamp(last);
    const RawFileStats s = reader->getStats();
    std::printf("prepare: %.3f s for %llu bytes, %llu events; index %zu bytes (1/%.0f of the data)\n", prepare,
                (unsigned long long)s.dataBytes, (unsigned long long)s.eventCount, s.indexBytes,
                s.indexBytes ? double(s.dataBytes) / double(s.indexBytes) : 0.0);
    const uint64_t window = 33333;
    const uint64_t span = last > first + window ? last - first - window : 1;
    uint64_t rng = 12345;
    std::vector<double> ms;
    uint64_t events = 0;
    for (uint64_t i = 0; i < count; ++i) {
        rng = rng * 6364136223846793005ull + 1442695040888963407ull;
        const uint64_t t = first + (rng >> 11) % span;
        const auto r0 = Clock::now();
        auto ev = reader->readEvents(t, window);
        ms.push_back(secondsSince(r0) * 1e3);
        if (!ev) {
            std::fprintf(stderr, "nrraw: %s: read failed at %llu\n", path.c_str(), (unsigned long long)t);
            return 1;
        }
        events += ev->size();
    }
    std::sort(ms.begin(), ms.end());
    const double median = ms[ms.size() / 2];
    const double p99 = ms[std::min(ms.size() - 1, size_t(double(ms.size()) * 0.99))];
    std::printf("readEvents(t, 33333) x %llu: median %.3f ms, 99th percentile %.3f ms, %.0f events per read\n",
                (unsigned long long)count, median, p99, double(events) / double(count));
    return 0;
}

int cmdGen(const Args& args) {
    const std::string& out =
        onePath(args, 1, "nrraw gen OUT --duration S --rate MEVS [--seed N] [--triggers HZ] [--start US]");
    if (!args.has("--duration") || !args.has("--rate")) throw UsageError("gen needs --duration and --rate");
    const double seconds = args.number("--duration", 0), rate = args.number("--rate", 0);
    if (seconds <= 0 || seconds > 86400) throw UsageError("--duration must be above 0 and at most 86400 seconds");
    if (rate <= 0 || rate > 1000) throw UsageError("--rate must be above 0 and at most 1000 Mev/s");
    const double hz = args.number("--triggers", 0);
    if (hz < 0 || hz > 100000) throw UsageError("--triggers must be between 0 and 100000 Hz");
    GeneratorConfig cfg;
    cfg.seed = args.u64("--seed", 1);
    cfg.eventRate = rate * 1e6;
    cfg.triggerHz = hz;
    cfg.startTimestamp = args.u64("--start", 0);
    const auto t0 = Clock::now();
    if (!generateRecordingFile(out, cfg, uint64_t(seconds * 1e6))) {
        std::fprintf(stderr, "nrraw: %s: cannot be written (see the message above)\n", out.c_str());
        return 1;
    }
    std::fprintf(stderr, "wrote %s in %.2f s\n", out.c_str(), secondsSince(t0));
    return 0;
}
