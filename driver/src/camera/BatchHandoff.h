#pragma once

// Hands the stream from the streaming thread to getNextBatch: a fixed ring of chunk pointers
// under one short lock (a push or a take is a few pointer moves). When the reader falls
// behind, the ring keeps only the newest chunks: a chunk ending before the span that reaches back
// from the newest chunk's end (EventWindow::lastSpan, at a push or a take), pushed out of a full
// ring, or beyond the event cap, is dropped and counted, never queued.
// Nothing is kept until the reader's first take (a camera whose user only uses callbacks
// holds no chunks here).
//
// Threads: push and clear from the streaming thread (or with it stopped); take from one
// reader thread at a time; setSpan and dropped from any thread. `mutex` guards ring, head,
// count and reading.
#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

#include "camera/EventChunk.h"
#include "norvale/EventRun.h"

namespace norvale {

class BatchHandoff {
public:
    BatchHandoff() { runs.reserve(kRing); }
    static constexpr size_t kRing = 256;          // chunks (1 ms each while keeping up)
    static constexpr size_t kMaxEvents = 4u << 20; // per batch
    static constexpr uint64_t kMinSpanUs = 100000;

    void push(const ChunkPtr& chunk);
    // The events of the chunks since the last take, appended after clearing out.
    bool take(std::vector<Event2D>& out);
    // The same events without a copy: each is called once with the chunks' runs of events, in
    // time order, while the chunks are held; false (each not called) when there are none.
    bool visit(const RunVisitor& each);
    void clear();
    void setSpan(uint64_t us) { spanUs = us; }
    uint64_t dropped() const { return droppedEvents.load(); }

private:
    // Moves the ring's chunks into `taken` (returns how many) and picks the kept ones, from
    // `first` on (`events` of them); the older ones are counted as dropped.
    size_t collect(size_t& first, size_t& events);
    void release(size_t n);

    std::mutex mutex;
    std::array<ChunkPtr, kRing> ring;
    size_t head = 0, count = 0; // oldest at head
    bool reading = false;       // a reader has taken at least once
    std::array<ChunkPtr, kRing> taken; // the reader's scratch (reader thread only)
    std::vector<EventRun> runs;        // the same, for visit (reserved: kRing runs)
    std::array<ChunkPtr, kRing> pushedOut; // the pusher's scratch (streaming thread only)
    std::atomic<uint64_t> spanUs{33333};
    std::atomic<uint64_t> droppedEvents{0};
};

} // namespace norvale
