// An outside program over the installed driver library: what a raw event file holds.
#include <cstdio>
#include <vector>

#include "norvale/DvsFileReader.h"

int main(int argc, char** argv) {
    if (argc != 2) return std::fprintf(stderr, "usage: %s FILE.raw\n", argv[0]), 2;
    auto reader = norvale::DvsFileReader::createFileReader(argv[1]); // null when it is no raw file
    if (!reader || !reader->prepareFile()) return 1;
    const norvale::RawFileStats s = reader->getStats();
    std::vector<norvale::Event2D> events;
    reader->readRange(s.firstTimestamp, s.firstTimestamp + 10000, events); // the first 10 ms
    std::printf("%llu events, %llu ON, from %llu to %llu us; %zu in the first 10 ms, the first at x=%u y=%u\n",
                (unsigned long long)s.eventCount, (unsigned long long)s.onCount, (unsigned long long)s.firstTimestamp,
                (unsigned long long)s.lastTimestamp, events.size(), events.empty() ? 0u : events[0].x,
                events.empty() ? 0u : events[0].y);
}
