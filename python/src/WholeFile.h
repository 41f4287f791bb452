#pragma once

// Decodes every event of a raw file into one array, the index's spans on up to as many threads as
// the machine has idle cores, each straight into its own slice of the array (no copy, and each thread
// first touches the fresh memory it fills). Events come out in time order.
//
// Threads: one caller at a time (the file's mutex, without the GIL); decode() runs the first span
// on the caller's thread and the others on threads it starts and joins. The worker buffers are
// reused by the next call.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "EventBuffer.h"
#include "norvale/DvsFileReader.h"

namespace norvale::python {

class WholeFileDecoder {
public:
    WholeFileDecoder(RawFormat format, uint32_t width, uint32_t height);
    ~WholeFileDecoder();

    // The spans to ask the reader for: `threads` when given, else one for a small file and one per
    // idle core (by the load average) for a large one.
    static size_t spansFor(uint64_t dataBytes, size_t threads);
    // Decodes spans (from DvsFileReader::decodeSpans, of `events` in total) of the words that start
    // at dataOffset in fd into out (replaced). False with problem set when the file cannot be read
    // or no longer matches its index; std::bad_alloc when memory runs out.
    bool decode(int fd, uint64_t dataOffset, const std::vector<DecodeSpan>& spans, uint64_t events, EventBuffer& out,
                std::string& problem);

    struct Worker;

private:
    RawFormat format;
    uint32_t width, height;
    std::vector<std::unique_ptr<Worker>> workers;
};

} // namespace norvale::python
