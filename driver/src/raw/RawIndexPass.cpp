#include "raw/RawIndexPass.h"

#include <algorithm>
#include <future>
#include <system_error>
#include <thread>
#include <utility>

#include "norvale/FuncUtils.h"

namespace norvale::detail {

namespace {

constexpr uint64_t kTwoThreadBytes = uint64_t(8) << 20; // smaller files are counted on one thread
constexpr uint64_t kLeadBytes = uint64_t(1) << 20;      // read before the second half to learn its state
// The time counter of every raw format wraps in multiples of this (EVT 3.0: 2^24 us).
constexpr uint64_t kWrapGrid = uint64_t(1) << 24;
// The second thread's decoder starts as if after wraps worth this much (a whole number of wraps
// in every format), so that its rate origin can go back to the first half's grid.
constexpr uint64_t kSecondBase = uint64_t(1) << 34;

// Bytes [from, to) counted chunk by chunk from the decoder's state and appended to part; false on a
// read error. The chunks' bounds are their own until finishBounds: ownMin/ownMax of the events,
// minFrom/maxUpTo with the trigger edges too.
bool countChunks(RawDecoder& dec, const RawReadAt& readAt, uint64_t from, uint64_t to, uint8_t* buf,
                 RawIndexPass& part) {
    for (uint64_t off = from; off < to; off += kReadBytes) {
        const size_t want = size_t(std::min<uint64_t>(kReadBytes, to - off));
        const ssize_t got = readAt(off, buf, want);
        if (got < 0) return false;
        for (size_t c = 0; c < size_t(got); c += kChunkBytes) {
            IndexChunk chunk;
            chunk.state = dec.state();
            chunk.eventsBefore = part.tally.events;
            const uint64_t maxBefore = part.tally.maxTimestamp;
            part.tally.minTimestamp = UINT64_MAX;
            part.tally.maxTimestamp = 0;
            const size_t triggersBefore = part.triggers.size();
            dec.count(buf + c, std::min(kChunkBytes, size_t(got) - c), part.tally, &part.triggers);
            chunk.ownMin = part.tally.minTimestamp;
            chunk.ownMax = part.tally.maxTimestamp;
            part.minTimestamp = std::min(part.minTimestamp, chunk.ownMin);
            part.tally.maxTimestamp = std::max(maxBefore, chunk.ownMax);
            // The bounds cover trigger edges too: a range's triggers are found, and a cut copies
            // only chunks whose triggers are all inside.
            chunk.minFrom = chunk.ownMin;
            chunk.maxUpTo = chunk.ownMax;
            for (size_t k = triggersBefore; k < part.triggers.size(); ++k) {
                chunk.minFrom = std::min(chunk.minFrom, part.triggers[k].timestamp);
                chunk.maxUpTo = std::max(chunk.maxUpTo, part.triggers[k].timestamp);
            }
            part.chunks.push_back(chunk);
        }
        if (size_t(got) < want) {
            part.shortened = true;
            return true;
        }
    }
    return true;
}

struct SecondHalf {
    RawIndexPass part;
    RawDecoderState guess; // where the lead-in left the decoder: the half is counted from it
    RawDecoderState end;
    bool counted = false;
};

// Runs on the second thread. origin: whether the first half has events, and its rate origin.
void countSecondHalf(RawDecoder& dec, const RawReadAt& readAt, uint64_t mid, uint64_t end,
                     std::shared_future<std::pair<bool, uint64_t>> origin, SecondHalf& half) {
    try {
        std::vector<uint8_t> buf(kReadBytes);
        EventTally lead;
        RawDecoderState start;
        start.wrapBase = kSecondBase;
        dec.setState(start);
        if (readAt(mid - kLeadBytes, buf.data(), kLeadBytes) != ssize_t(kLeadBytes)) return;
        dec.count(buf.data(), kLeadBytes, lead, nullptr);
        const auto [firstHasEvents, firstOrigin] = origin.get();
        if (!lead.events || !firstHasEvents) return;
        half.guess = dec.state();
        // The half's rate slots on the first half's grid (the wraps it lacks are multiples of it),
        // starting at or before the times of the lead-in.
        const uint64_t back = (lead.minTimestamp - firstOrigin) % kWrapGrid;
        if (back > lead.minTimestamp) return;
        half.part.tally.rate.setOrigin(lead.minTimestamp - back);
        if (!countChunks(dec, readAt, mid, end, buf.data(), half.part)) return;
        half.end = dec.state();
        half.counted = true;
    } catch (...) {
        // Memory, or the first half gone without its origin: the first thread counts this half.
    }
}

// The second half's count is the true one but for the first half's wraps: the decoder states
// agree in everything else, and the rate slots merge exactly.
bool keepSecondHalf(const RawDecoderState& at, SecondHalf& half, RawIndexPass& first) {
    const RawDecoderState& g = half.guess;
    RawIndexPass& second = half.part;
    if (!half.counted || second.shortened || !first.tally.rate.started()) return false;
    if (at.timeHigh != g.timeHigh || at.timeLow != g.timeLow || at.y != g.y || at.base != g.base ||
        at.polarity != g.polarity || at.haveTime != g.haveTime || at.pendingCount != g.pendingCount ||
        !std::equal(at.pending, at.pending + at.pendingCount, g.pending) || (at.wrapBase - g.wrapBase) % kWrapGrid != 0)
        return false;
    if (second.minTimestamp < second.tally.rate.origin()) return false; // stepped back before its first slot
    const uint64_t shift = at.wrapBase - g.wrapBase; // modulo 2^64: the second half's times may lie above the true ones
    const bool secondHasEvents = second.tally.events > 0;
    const uint64_t last = std::max(first.tally.maxTimestamp, secondHasEvents ? second.tally.maxTimestamp + shift : 0);
    if (!first.tally.rate.mergeLater(second.tally.rate, shift, last)) return false;

    for (IndexChunk c : second.chunks) {
        c.state.wrapBase += shift;
        c.eventsBefore += first.tally.events;
        if (c.ownMin != UINT64_MAX) {
            c.ownMin += shift;
            c.ownMax += shift;
        }
        if (c.minFrom != UINT64_MAX) {
            c.minFrom += shift;
            c.maxUpTo += shift;
        }
        first.chunks.push_back(c);
    }
    for (EventTriggerIn t : second.triggers) {
        t.timestamp += shift;
        first.triggers.push_back(t);
    }
    EventTally& a = first.tally;
    const EventTally& b = second.tally;
    a.events += b.events;
    a.on += b.on;
    a.maxX = std::max(a.maxX, b.maxX);
    a.maxY = std::max(a.maxY, b.maxY);
    a.maxTimestamp = last;
    if (secondHasEvents) first.minTimestamp = std::min(first.minTimestamp, second.minTimestamp + shift);
    half.end.wrapBase += shift;
    return true;
}

// Bounds over the chunks before and after each one, from the chunks' own.
void finishBounds(std::vector<IndexChunk>& chunks) {
    uint64_t upTo = 0;
    for (IndexChunk& c : chunks) c.maxUpTo = upTo = std::max(upTo, c.maxUpTo);
    for (size_t i = chunks.size(); i-- > 1;) chunks[i - 1].minFrom = std::min(chunks[i - 1].minFrom, chunks[i].minFrom);
}

} // namespace

bool countRawFile(RawDecoder& decoder, const RawDecoderMaker& make, uint64_t dataBytes, const RawReadAt& readAt,
                  std::vector<uint8_t>& io, RawIndexPass& first) {
    first.chunks.reserve(size_t(dataBytes / kChunkBytes + 1));
    const uint64_t mid = dataBytes / 2 / kChunkBytes * kChunkBytes;
    SecondHalf second;
    std::unique_ptr<RawDecoder> secondDecoder;
    std::thread helper;
    struct Joiner {
        std::thread& t;
        ~Joiner() {
            if (t.joinable()) t.join();
        }
    } joiner{helper};
    // Declared after the joiner: on the way out by an exception it breaks before the join waits.
    std::promise<std::pair<bool, uint64_t>> origin;
    if (dataBytes >= kTwoThreadBytes && mid >= kLeadBytes && usableCores() >= 2 && (secondDecoder = make())) {
        try {
            helper = std::thread(countSecondHalf, std::ref(*secondDecoder), std::cref(readAt), mid, dataBytes,
                                 origin.get_future().share(), std::ref(second));
        } catch (const std::system_error&) {
            // no second thread: one counts it all
        }
    }
    const uint64_t firstEnd = helper.joinable() ? mid : dataBytes;
    // The first read's events give the origin of the rate slots, which the second half needs.
    const uint64_t firstRead = std::min<uint64_t>(kReadBytes, firstEnd);
    bool ok = countChunks(decoder, readAt, 0, firstRead, io.data(), first);
    origin.set_value({ok && first.tally.rate.started(), first.tally.rate.origin()});
    if (ok && !first.shortened) ok = countChunks(decoder, readAt, firstRead, firstEnd, io.data(), first);
    if (helper.joinable()) {
        helper.join();
        if (ok && !first.shortened) {
            if (keepSecondHalf(decoder.state(), second, first)) {
                decoder.setState(second.end);
                first.threads = 2;
            } else {
                ok = countChunks(decoder, readAt, mid, dataBytes, io.data(), first);
            }
        }
    }
    if (!ok) return false;
    finishBounds(first.chunks);
    return true;
}

} // namespace norvale::detail
