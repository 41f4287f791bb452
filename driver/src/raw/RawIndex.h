#pragma once

// The time index of a raw file, built in one pass by DvsFileReader::prepareFile.
// The word stream is cut into chunks of kChunkBytes; for each chunk the index keeps the decoder
// state at its start and two bounds that make seeking exact even when time steps back a little:
// the largest timestamp up to and including the chunk, and the smallest from the chunk on.
// Events of [from, to) can only lie in chunks first..last where first is the first chunk whose
// running maximum reaches from and last the last chunk whose suffix minimum is below to.
#include <cstdint>
#include <vector>

#include "norvale/RawDecoder.h"

namespace norvale::detail {

constexpr size_t kChunkBytes = 64 * 1024;

struct IndexChunk {
    RawDecoderState state; // decoder state at the start of the chunk
    uint64_t maxUpTo = 0;  // largest timestamp in chunks 0..this one (0 before any event)
    uint64_t minFrom = UINT64_MAX; // smallest timestamp in this chunk and the ones after it
};

// Counts of events per time slot; slots double in length to stay within kMaxSlots.
class RateCounter {
public:
    static constexpr size_t kMaxSlots = 1 << 16;
    static constexpr unsigned kFirstShift = 10; // 1024 us

    void add(const Event2D* begin, const Event2D* end);
    // Same result for events in time order: one binary search per slot instead of work per event.
    void addSorted(const Event2D* begin, const Event2D* end);
    uint64_t origin() const { return start; }
    uint64_t slotDuration() const { return uint64_t(1) << shift; }
    const std::vector<uint32_t>& counts() const { return slots; }

private:
    void coarsen();
    uint64_t slotOf(uint64_t t); // coarsens as needed, grows the counts
    bool started = false;
    uint64_t start = 0;
    unsigned shift = kFirstShift;
    std::vector<uint32_t> slots;
};

struct RawIndex {
    uint64_t dataOffset = 0;
    uint64_t dataBytes = 0;
    std::vector<IndexChunk> chunks;

    // Range of chunks [first, last) that can hold events of [from, to).
    void chunkRange(uint64_t from, uint64_t to, size_t& first, size_t& last) const;
    size_t memoryBytes() const { return chunks.capacity() * sizeof(IndexChunk); }
};

} // namespace norvale::detail
