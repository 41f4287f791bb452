// nrraw info: everything about one file, or one line of figures for each of many files.
#include "Commands.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "norvale/EventFileFormat.h"
#include "norvale/FuncUtils.h"

using namespace norvale;

namespace {

// What both reports say of a file's timing.
struct Timing {
    uint64_t duration = 0;
    double meanRate = 0; // events per second
    bool gapFound = false;
    uint64_t gapBefore = 0, gapAfter = 0;
};

Timing timingOf(DvsFileReader& reader, const RawFileStats& s) {
    Timing t;
    if (s.eventCount) t.duration = s.lastTimestamp - s.firstTimestamp;
    if (t.duration) t.meanRate = double(s.eventCount) / (double(t.duration) * 1e-6);
    if (s.eventCount > 1) t.gapFound = reader.largestGap(t.gapBefore, t.gapAfter);
    return t;
}

std::string printed(const char* format, double value) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

int printOne(const std::string& path) {
    auto reader = openPrepared(path);
    if (!reader) return 1;
    DvsFileInfo info;
    reader->getFileInfo(info);
    const RawFileStats s = reader->getStats();
    const RateProfile rate = reader->getRateProfile();
    const Timing t = timingOf(*reader, s);
    uint32_t peak = 0;
    for (uint32_t c : rate.counts) peak = std::max(peak, c);
    std::printf("file: %s\n", path.c_str());
    std::printf("format: %s\n", formatInfo(reader->fileFormat()).name);
    std::printf("geometry: %u x %u\n", reader->width(), reader->height());
    if (reader->fileFormat() == EventFileFormat::Evt3) std::printf("kernel: %s\n", kernelName(autoKernel()));
    else if (reader->isRaw()) std::printf("kernel: portable (%s)\n", formatInfo(reader->fileFormat()).name);
    std::printf("serial number: %s\n", info.serialNumber.c_str());
    std::printf("record start time: %s\n", timePointToString(info.recordStartTime).c_str());
    std::printf("dvs start timestamp: %llu\n", (unsigned long long)info.dvsStartTimestamp);
    std::printf("aps start timestamp: %llu\n", (unsigned long long)info.apsStartTimestamp);
    std::printf("data bytes: %llu\n", (unsigned long long)s.dataBytes);
    std::printf("events: %llu\n", (unsigned long long)s.eventCount);
    std::printf("ON events: %llu\n", (unsigned long long)s.onCount);
    std::printf("OFF events: %llu\n", (unsigned long long)s.offCount);
    if (s.eventCount) {
        std::printf("first timestamp: %llu us\n", (unsigned long long)s.firstTimestamp);
        std::printf("last timestamp: %llu us\n", (unsigned long long)s.lastTimestamp);
        std::printf("duration: %llu us (%.6f s)\n", (unsigned long long)t.duration, double(t.duration) * 1e-6);
        std::printf("mean event rate: %.0f ev/s\n", t.meanRate);
        std::printf("peak event rate: %.0f ev/s (busiest %llu us slot)\n",
                    double(peak) / (double(rate.slotDurationUs) * 1e-6), (unsigned long long)rate.slotDurationUs);
    }
    if (s.eventCount > 1) {
        if (t.gapFound)
            std::printf("largest gap: %llu us (%.6f s, no events between %llu and %llu)\n",
                        (unsigned long long)(t.gapAfter - t.gapBefore), double(t.gapAfter - t.gapBefore) * 1e-6,
                        (unsigned long long)t.gapBefore, (unsigned long long)t.gapAfter);
        else
            std::printf("largest gap: under %llu us\n", (unsigned long long)(2 * rate.slotDurationUs));
    }
    std::printf("triggers: %zu\n", reader->triggers().size());
    std::printf("bytes per event: %.2f\n", s.eventCount ? double(s.dataBytes) / double(s.eventCount) : 0.0);
    return 0;
}

// The same columns as the Python module's batch.info table. A file that cannot be read gets a row
// saying so (its reason is on standard error above) and the exit code 1, after every other file.
int printTable(const std::vector<std::string>& paths) {
    const std::vector<std::string> head = {"file",   "format", "size",     "duration s",
                                           "events", "Mev/s",  "triggers", "largest gap s"};
    std::vector<std::vector<std::string>> rows = {head};
    int status = 0;
    for (const std::string& path : paths) {
        auto reader = openPrepared(path);
        if (!reader) {
            rows.push_back({path, "error: cannot be read (the reason is above)"});
            status = 1;
            continue;
        }
        const RawFileStats s = reader->getStats();
        const Timing t = timingOf(*reader, s);
        rows.push_back({path, formatInfo(reader->fileFormat()).name,
                        std::to_string(reader->width()) + "x" + std::to_string(reader->height()),
                        printed("%.3f", double(t.duration) * 1e-6), std::to_string(s.eventCount),
                        printed("%.3f", t.meanRate * 1e-6), std::to_string(reader->triggers().size()),
                        t.gapFound ? printed("%.6f", double(t.gapAfter - t.gapBefore) * 1e-6) : "-"});
    }
    std::vector<size_t> width(head.size(), 0);
    for (const auto& row : rows)
        for (size_t k = 0; k < head.size(); ++k)
            if (k == 0 || row.size() > 2) width[k] = std::max(width[k], row[k].size());
    for (const auto& row : rows) {
        std::string line = row[0] + std::string(width[0] - row[0].size(), ' ');
        if (row.size() == 2) {
            line += "  " + row[1];
        } else {
            line += "  " + row[1] + std::string(width[1] - row[1].size(), ' ');
            for (size_t k = 2; k < row.size(); ++k) line += "  " + std::string(width[k] - row[k].size(), ' ') + row[k];
        }
        while (!line.empty() && line.back() == ' ') line.pop_back();
        std::printf("%s\n", line.c_str());
    }
    return status;
}

} // namespace

int cmdInfo(const Args& args) {
    const auto& paths = args.positional();
    if (paths.empty()) throw UsageError("usage: nrraw info FILE [FILE ...]");
    return paths.size() == 1 ? printOne(paths[0]) : printTable(paths);
}
