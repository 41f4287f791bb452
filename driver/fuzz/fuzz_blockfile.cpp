// Event files read in blocks (built twice: as ".csv" text and as ".npy" arrays) over arbitrary
// bytes: the input is written to a temporary file with that extension and opened, indexed and read
// through DvsFileReader. No crash, no hang, no memory beyond the checked sizes; what the index
// counts is what a whole read returns (by range and read whole), a range read is the whole read
// filtered, and the input file is never changed.
#include "FuzzInput.h"
#include "norvale/DvsFileReader.h"
#include "norvale/EventFileFormat.h"
#include "norvale/Logger.h"

using namespace norvale;

#if !defined(FUZZ_SUFFIX) || !defined(FUZZ_FORMAT)
#error "FUZZ_SUFFIX names the extension of the files made, FUZZ_FORMAT their EventFileFormat"
#endif

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    Logger::Instance().setLogLevel(LOG_CRITICAL); // damaged input is the norm here
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string& path = fuzz::inputFile(data, size, FUZZ_SUFFIX);
    // Inputs that turn into another format (an HDF5 mark, a raw header) are other fuzzers' work.
    EventFileFormat format;
    std::string problem;
    if (!detectFormat(path, format, problem) || format != EventFileFormat::FUZZ_FORMAT) return 0;
    auto reader = DvsFileReader::createFileReader(path);
    if (!reader || !reader->prepareFile()) return 0;
    const RawFileStats stats = reader->getStats();
    std::vector<Event2D> all, part;
    if (!reader->readRange(0, UINT64_MAX, all) || all.size() != stats.eventCount) std::abort();
    if (reader->width() == 0 || reader->height() == 0) std::abort();
    // Read whole (on threads where blocks allow): the same events, and time order only if so.
    std::vector<Event2D> whole(all.size());
    size_t count = 0;
    bool ordered = false;
    if (!reader->readAllEvents(whole.data(), whole.size(), count, 2, ordered) || whole != all) std::abort();
    for (size_t i = 1; ordered && i < all.size(); ++i)
        if (all[i].timestamp < all[i - 1].timestamp) std::abort();
    for (const Event2D& e : all)
        if (e.x >= reader->width() || e.y >= reader->height()) std::abort(); // every event is shown
    if (stats.eventCount) {
        const uint64_t a = stats.firstTimestamp + (stats.lastTimestamp - stats.firstTimestamp) / 3;
        const uint64_t b = a + (stats.lastTimestamp - stats.firstTimestamp) / 3 + 1;
        if (!reader->readRange(a, b, part)) std::abort();
        size_t k = 0;
        for (const Event2D& e : all)
            if (e.timestamp >= a && e.timestamp < b && (k >= part.size() || part[k++] != e)) std::abort();
        if (k != part.size()) std::abort();
        uint64_t next = 0;
        if (!reader->nextEventTime(a, next) || (!part.empty() && next > part.front().timestamp)) std::abort();
    }
    return 0;
}
