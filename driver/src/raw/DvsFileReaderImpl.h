#pragma once

// The inside of DvsFileReader, shared by the reader and the cut (RawCut.cpp), which copies and
// decodes the indexed words itself. Used by the one thread that holds the reader at a time.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "norvale/DvsFileReader.h"
#include "norvale/FuncUtils.h"
#include "norvale/Logger.h"
#include "norvale/RawHeader.h"
#include "raw/RawIndex.h"

namespace norvale {

namespace detail {

constexpr size_t kScanPiece = 16 * 1024;

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
// A decoder's output for one chunk, not initialised (null when memory ran out).
using ChunkScratch = std::unique_ptr<Event2D, FreeDeleter>;
inline ChunkScratch chunkScratch(const RawDecoder& d) {
    return ChunkScratch(static_cast<Event2D*>(std::malloc(d.maxEvents(kChunkBytes) * sizeof(Event2D))));
}

// The events of [from, to) among ev[0, n) written at out[used] (room for n there), used advanced.
inline void keepInRange(const Event2D* ev, size_t n, uint64_t from, uint64_t to, Event2D* out, size_t& used) {
    for (size_t i = 0; i < n; ++i) { // branch-free: the window's edges are the only surprises
        out[used] = ev[i];
        used += size_t(ev[i].timestamp >= from) & size_t(ev[i].timestamp < to);
    }
}

// The driver's own way into a reader.
struct ReaderInternals {
    static DvsFileReader::Impl& of(DvsFileReader& reader) { return *reader.impl; }
};

} // namespace detail

class DvsFileReader::Impl {
public:
    std::string path;
    int fd = -1;
    uint64_t fileSize = 0;
    SysTimePoint modified{};
    RawHeader header;
    std::unique_ptr<RawDecoder> decoder;

    bool prepared = false;
    detail::RawIndex index;
    unsigned indexThreads = 1; // threads whose count the index kept
    RateCounter rate;
    RawFileStats stats;
    uint64_t firstInFileOrder = 0;
    std::vector<EventTriggerIn> triggerList;
    uint64_t cursor = 0;

    std::vector<uint8_t> io;
    detail::ChunkScratch scratch; // decoder output of one chunk
    std::shared_ptr<std::vector<Event2D>> lastResult;
    std::vector<EventTriggerIn> chunkTriggers;

    Impl(); // both in RawSplitRead.cpp, where the split helper is whole
    ~Impl();

    void allocateBuffers() {
        if (!scratch) {
            io.resize(detail::kReadBytes);
            scratch = detail::chunkScratch(*decoder);
        }
    }

    // Reads up to size bytes of the word stream at offset into `into`; fewer when the file has
    // shrunk, -1 (errno) on an error. Any thread.
    ssize_t readWords(uint64_t offset, uint8_t* into, size_t size) const {
        size_t done = 0;
        while (done < size) {
            const ssize_t n = ::pread(fd, into + done, size - done, off_t(index.dataOffset + offset + done));
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) return -1;
            if (n == 0) break;
            done += size_t(n);
        }
        return ssize_t(done);
    }
    // The same into io, an error logged.
    ssize_t readData(uint64_t offset, size_t size) {
        const ssize_t n = readWords(offset, io.data(), size);
        if (n < 0) readFailed();
        return n;
    }
    // error: the errno of the failed read (another thread's, when it read).
    void readFailed(int error = errno) const {
        NR_LOG(LOG_ERROR, "cannot read raw file %s: %s", path.c_str(), std::strerror(error));
    }

    bool prepare();
    // The file is shorter than when it was indexed: what it held is gone, so no result is whole.
    bool shrank() {
        NR_LOG(LOG_ERROR, "raw file %s became shorter after it was opened (%llu bytes indexed); it cannot be read whole",
               path.c_str(), (unsigned long long)fileSize);
        return false;
    }
    // Decodes the chunks that can hold [from, to) and hands each chunk's decoded events (and its
    // triggers, when wanted) to sink. False on a read error.
    template <class Sink>
    bool scan(uint64_t from, uint64_t to, bool wantTriggers, Sink&& sink);
    // The same over index chunks [first, last).
    template <class Sink>
    bool scanChunks(size_t first, size_t last, bool wantTriggers, Sink&& sink);
    // Chunks [first, last) decoded by dec from the index's states, through io (kReadBytes) and
    // scratch, piece by piece into sink (with the piece's trigger edges in trig when wanted). No log:
    // any thread with a decoder and buffers of its own.
    enum class ChunkRead { Done, Stopped, ReadError, Shrank };
    template <class Sink>
    ChunkRead decodeChunks(RawDecoder& dec, uint8_t* io, Event2D* scratch, std::vector<EventTriggerIn>& trig,
                           bool wantTriggers, size_t first, size_t last, Sink&& sink) const;
    // Capacity for n events in out, grown by doubling without copying its old contents over.
    static void keepRoom(std::vector<Event2D>& out, uint64_t n) {
        if (out.capacity() >= n) return;
        out.clear();
        out.reserve(std::max(size_t(n), 2 * out.capacity()));
    }
    // Events in chunks before chunk c (c may be the number of chunks).
    uint64_t eventsBefore(size_t c) const {
        return c < index.chunks.size() ? index.chunks[c].eventsBefore : stats.eventCount;
    }
    // A long range without its trigger edges read on two threads (RawSplitRead.cpp): Declined when
    // not worth it or not possible (for the caller to read it alone), Failed on an error (logged).
    enum class SplitRead { Declined, Read, Failed };
    SplitRead readSplit(size_t first, size_t last, uint64_t from, uint64_t to, std::vector<Event2D>& out);
    struct SplitHelper;
    std::unique_ptr<SplitHelper> splitHelper; // made on the first long range
    uint64_t splitReads = 0;                  // ranges read on two threads
    bool readRange(uint64_t from, uint64_t to, std::vector<Event2D>& out, std::vector<EventTriggerIn>* trig);
    // Decodes chunk c alone and hands its events to sink. False on a read error.
    template <class Sink>
    bool decodeChunk(size_t c, Sink&& sink);
    // Smallest timestamp >= t (UINT64_MAX when none; false on a read error) and largest timestamp
    // < t (false when none or on a read error). Only chunks whose own span holds t are decoded.
    bool nextTime(uint64_t t, uint64_t& found);
    bool previousTime(uint64_t t, uint64_t& found);
};

template <class Sink>
bool DvsFileReader::Impl::scan(uint64_t from, uint64_t to, bool wantTriggers, Sink&& sink) {
    size_t first = 0, last = 0;
    index.chunkRange(from, to, first, last);
    return scanChunks(first, last, wantTriggers, sink);
}

template <class Sink>
bool DvsFileReader::Impl::scanChunks(size_t first, size_t last, bool wantTriggers, Sink&& sink) {
    switch (decodeChunks(*decoder, io.data(), scratch.get(), chunkTriggers, wantTriggers, first, last, sink)) {
    case ChunkRead::Done: return true;
    case ChunkRead::Stopped: return false;
    case ChunkRead::ReadError: readFailed(); return false;
    case ChunkRead::Shrank: return shrank(); // never a silently short result
    }
    return false;
}

template <class Sink>
DvsFileReader::Impl::ChunkRead DvsFileReader::Impl::decodeChunks(RawDecoder& dec, uint8_t* buf, Event2D* out,
                                                                 std::vector<EventTriggerIn>& trig, bool wantTriggers,
                                                                 size_t first, size_t last, Sink&& sink) const {
    if (first >= last) return ChunkRead::Done;
    dec.setState(index.chunks[first].state);
    const uint64_t begin = uint64_t(first) * detail::kChunkBytes;
    const uint64_t end = std::min<uint64_t>(uint64_t(last) * detail::kChunkBytes, index.dataBytes);
    for (uint64_t off = begin; off < end; off += detail::kReadBytes) {
        const size_t want = size_t(std::min<uint64_t>(detail::kReadBytes, end - off));
        const ssize_t got = readWords(off, buf, want);
        if (got < 0) return ChunkRead::ReadError;
        for (size_t c = 0; c < size_t(got); c += detail::kChunkBytes) {
            const size_t len = std::min(detail::kChunkBytes, size_t(got) - c);
            for (size_t p = 0; p < len; p += detail::kScanPiece) {
                trig.clear();
                const size_t n = dec.decode(buf + c + p, std::min(detail::kScanPiece, len - p), out,
                                            wantTriggers ? &trig : nullptr);
                if (!sink(out, n, trig)) return ChunkRead::Stopped;
            }
        }
        if (size_t(got) < want) return ChunkRead::Shrank;
    }
    return ChunkRead::Done;
}

} // namespace norvale
