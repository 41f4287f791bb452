#pragma once

// Decodes every event of a raw file into one array: the index's spans, each straight into its own
// slice of the array (no copy), on up to as many threads as the process may use. Clearing fresh
// memory costs the kernel about as much as decoding into it, so threads pay off even though the
// decoder alone is faster than memory. Events come out in time order.
//
// Threads: one caller at a time (the file's mutex, without the GIL); decode() works on the caller's
// thread and on threads it starts and joins, each taking the next span not yet taken. The worker
// buffers are reused by the next call.
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

    // Threads to use and spans to ask the reader for: `threads` when given, else one thread for a
    // small file and one per usable core for a large one.
    struct Plan {
        size_t threads = 1, spans = 1;
    };
    static Plan plan(uint64_t dataBytes, size_t threads);
    // Decodes spans (from DvsFileReader::decodeSpans, of `events` in total) of the words that start
    // at dataOffset in fd into out (replaced), on up to `threads` threads. False with problem set
    // when the file cannot be read or no longer matches its index; std::bad_alloc when memory runs
    // out.
    bool decode(int fd, uint64_t dataOffset, const std::vector<DecodeSpan>& spans, size_t threads, uint64_t events,
                EventBuffer& out, std::string& problem);
    // The same into room events at base (an array of the caller's, at least `events` long); count
    // is set to the events decoded.
    bool decodeInto(int fd, uint64_t dataOffset, const std::vector<DecodeSpan>& spans, size_t threads, Event2D* base,
                    size_t room, size_t& count, std::string& problem);

    struct Worker;
    struct SpanResult;

private:
    static size_t usableCores();
    void ensureWorkers(size_t n);

    RawFormat format;
    uint32_t width, height;
    std::vector<std::unique_ptr<Worker>> workers;
    std::vector<SpanResult> results; // one per span of the current call
    std::vector<uint8_t> kept;       // a small file's words, read by the first call
};

} // namespace norvale::python
