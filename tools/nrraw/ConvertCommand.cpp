// nrraw convert: one event file into another format, through the driver's writer.
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <functional>

#include "Commands.h"
#include "norvale/DvsFileReader.h"
#include "norvale/EventFileWriter.h"

using namespace norvale;

namespace {

volatile sig_atomic_t gInterrupt = 0;
void noteInterrupt(int sig) { gInterrupt = sig; }

// While converting, Ctrl-C, SIGTERM or SIGHUP cancel the conversion (which removes what it wrote)
// instead of ending the process with half a file under the output's name.
class InterruptCancels {
public:
    InterruptCancels() {
        struct sigaction action {};
        action.sa_handler = noteInterrupt;
        action.sa_flags = SA_RESTART;
        sigemptyset(&action.sa_mask);
        for (size_t i = 0; i < 3; ++i) ::sigaction(kSignals[i], &action, &previous[i]);
    }
    ~InterruptCancels() {
        for (size_t i = 0; i < 3; ++i) ::sigaction(kSignals[i], &previous[i], nullptr);
    }

private:
    static constexpr int kSignals[3] = {SIGINT, SIGTERM, SIGHUP};
    struct sigaction previous[3];
};

} // namespace

int cmdConvert(const Args& args) {
    if (args.positional().size() != 2)
        throw UsageError("usage: nrraw convert IN OUT [--start US] [--end US] [--format F] [--overwrite] [--compress]");
    const std::string& in = args.positional()[0];
    const std::string& out = args.positional()[1];
    EventFileFormat format = EventFileFormat::Evt3;
    if (args.has("--format")) {
        if (!formatFromKey(args.text("--format"), format)) {
            std::string keys;
            for (const auto& f : eventFileFormats())
                if (f.writable) keys += std::string(keys.empty() ? "" : ", ") + f.key;
            throw UsageError("--format: unknown format '" + args.text("--format") + "' (writable: " + keys + ")");
        }
    } else if (!formatFromExtension(out, format)) {
        throw UsageError("cannot tell the format of " + out + " from its extension; give --format");
    }
    if (!formatInfo(format).writable) {
        std::fprintf(stderr, "nrraw: %s files cannot be written\n", formatInfo(format).name);
        return 1;
    }
    if (args.has("--compress") && format != EventFileFormat::Hdf5 && format != EventFileFormat::Aedat4)
        std::fprintf(stderr, "nrraw: warning: --compress applies to HDF5 and AEDAT 4 only; %s is written as usual\n",
                     formatInfo(format).name);
    auto reader = DvsFileReader::createFileReader(in);
    if (!reader || !reader->prepareFile()) {
        std::fprintf(stderr, "nrraw: %s: cannot be read (see the message above)\n", in.c_str());
        return 1;
    }
    // By default everything, trigger edges before the first or after the last event included.
    const uint64_t start = args.u64("--start", 0), end = args.u64("--end", UINT64_MAX);
    if (end < start) throw UsageError("--end must not be before --start");

    const bool drawn = isatty(STDERR_FILENO);
    auto progress = [drawn, last = -1](double fraction) mutable {
        if (drawn && int(fraction * 100.0) != last) {
            last = int(fraction * 100.0);
            std::fprintf(stderr, "\rconvert: %3d%%", last);
            std::fflush(stderr);
        }
        return gInterrupt == 0;
    };
    const auto t0 = std::chrono::steady_clock::now();
    ConvertReport report;
    bool ok;
    {
        InterruptCancels interrupts;
        ok = convertEventFile(*reader, start, end, out, format, args.has("--overwrite"), progress, report,
                              args.has("--compress"));
    }
    if (drawn) std::fputs("\n", stderr);
    if (!ok && gInterrupt) {
        std::fputs("nrraw: interrupted; no partial output left\n", stderr);
        return 128 + int(gInterrupt);
    }
    if (!ok) {
        std::fprintf(stderr, "nrraw: convert %s to %s failed: %s\n", in.c_str(), out.c_str(), report.problem.c_str());
        return 1;
    }
    if (report.triggersNotHeld)
        std::fprintf(stderr, "nrraw: warning: %llu trigger edges of %s were not written: %s files cannot hold them\n",
                     (unsigned long long)report.triggersNotHeld, in.c_str(), formatInfo(format).name);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    std::printf("converted %s (%s) to %s (%s) in %.3f s\n", in.c_str(), formatInfo(reader->fileFormat()).name,
                out.c_str(), formatInfo(format).name, seconds);
    std::printf("events: %llu\n", (unsigned long long)report.events);
    std::printf("triggers: %llu\n", (unsigned long long)report.triggers);
    return 0;
}
