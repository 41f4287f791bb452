#pragma once

// The count pass that indexes a raw file (DvsFileReader::prepareFile). A large file is counted in
// two halves at once: the second half's thread starts from the state a decoder of its own reaches
// by reading the megabyte before the half. That state is only a guess until the first half is
// done; the second half is kept when the guess is the state the first half ends in (its times then
// lack only the first half's time-counter wraps, which are added), and counted again otherwise.
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "norvale/EventTally.h"
#include "norvale/RawDecoder.h"
#include "raw/RawIndex.h"

namespace norvale::detail {

// What the pass found (also each thread's part of it).
struct RawIndexPass {
    std::vector<IndexChunk> chunks; // with running maximum and suffix minimum
    EventTally tally;               // maxTimestamp: the largest time of the file
    uint64_t minTimestamp = UINT64_MAX;
    std::vector<EventTriggerIn> triggers;
    bool shortened = false; // the file ended before the bytes it was expected to hold
    unsigned threads = 1;   // 2 when the second half's count was kept
};

// Reads up to size bytes of the word stream at offset into `into`: the bytes read, fewer at the
// end of the file, -1 on an error. Called from two threads at once.
using RawReadAt = std::function<ssize_t(uint64_t offset, uint8_t* into, size_t size)>;
using RawDecoderMaker = std::function<std::unique_ptr<RawDecoder>()>;

// Counts the dataBytes bytes of the stream with decoder (from its reset state; left in the state
// at the end) into out (empty), on two threads when the file is large enough and two cores are free. io is the
// caller's read buffer (kReadBytes). False on a read error of the caller's thread.
bool countRawFile(RawDecoder& decoder, const RawDecoderMaker& make, uint64_t dataBytes, const RawReadAt& readAt,
                  std::vector<uint8_t>& io, RawIndexPass& out);

} // namespace norvale::detail
