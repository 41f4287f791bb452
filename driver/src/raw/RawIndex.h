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
constexpr size_t kReadBytes = 64 * kChunkBytes; // one pread: 4 MiB

struct IndexChunk {
    RawDecoderState state; // decoder state at the start of the chunk
    uint64_t maxUpTo = 0;  // largest timestamp in chunks 0..this one (0 before any event)
    uint64_t minFrom = UINT64_MAX; // smallest timestamp in this chunk and the ones after it
    uint64_t ownMin = UINT64_MAX;  // smallest and largest timestamp of this chunk alone (min > max:
    uint64_t ownMax = 0;           // no events); they let empty stretches of time be skipped
    uint64_t eventsBefore = 0;     // events of the chunks before this one
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
