#include "raw/Evt3CopyCut.h"

#include <algorithm>

#include "norvale/Logger.h"

namespace norvale::detail {

bool planCopyCut(const RawIndex& index, uint64_t from, uint64_t to, CopyCutPlan& plan) {
    index.chunkRange(from, to, plan.first, plan.last);
    const auto begin = index.chunks.begin();
    // Both bounds grow with the chunk number: the first chunk whose smallest time from on is
    // inside, then the first whose largest time so far is not.
    const auto a = std::lower_bound(begin + ptrdiff_t(plan.first), begin + ptrdiff_t(plan.last), from,
                                    [](const IndexChunk& c, uint64_t t) { return c.minFrom < t; });
    const auto b = std::lower_bound(a, begin + ptrdiff_t(plan.last), to,
                                    [](const IndexChunk& c, uint64_t t) { return c.maxUpTo < t; });
    plan.copyFirst = size_t(a - begin);
    plan.copyLast = size_t(b - begin);
    return plan.copyFirst < plan.copyLast && a->state.pendingCount == 0;
}

void keepRange(const Event2D* events, size_t n, const std::vector<EventTriggerIn>& triggers, uint64_t from,
               uint64_t to, std::vector<Event2D>& kept, std::vector<EventTriggerIn>& keptTrig) {
    kept.clear();
    keptTrig.clear();
    for (size_t i = 0; i < n; ++i)
        if (events[i].timestamp >= from && events[i].timestamp < to) kept.push_back(events[i]);
    for (const auto& x : triggers)
        if (x.timestamp >= from && x.timestamp < to) keptTrig.push_back(x);
}

bool copyCutEvt3(const CopyCutSource& src, const CopyCutPlan& plan, uint64_t from, uint64_t to, RawFileWriter& out,
                 bool& cancelled) {
    const RawIndex& index = *src.index;
    std::vector<Event2D> kept;
    std::vector<EventTriggerIn> keptTrig;
    bool failed = false;
    auto encodeEdge = [&](size_t first, size_t last) {
        if (first >= last) return true;
        return src.decodeChunks(first, last, [&](const Event2D* ev, size_t n, const std::vector<EventTriggerIn>& t) {
            if (n && !src.progress(ev[n - 1].timestamp)) {
                cancelled = true;
                return false;
            }
            keepRange(ev, n, t, from, to, kept, keptTrig);
            failed = !out.add(kept.data(), kept.data() + kept.size(), keptTrig.data(), keptTrig.data() + keptTrig.size());
            return !failed;
        });
    };
    if (!encodeEdge(plan.first, plan.copyFirst)) return false;

    // The header names the first event: when the edge had none, the first of the copied words.
    uint64_t firstEvent = UINT64_MAX;
    if (out.eventsWritten() == 0)
        src.decodeChunks(plan.copyFirst, plan.copyLast, [&](const Event2D* ev, size_t n, const std::vector<EventTriggerIn>&) {
            if (n) firstEvent = ev[0].timestamp;
            return n == 0;
        });

    const IndexChunk& entry = index.chunks[plan.copyFirst];
    if (!out.enterState(entry.state)) {
        NR_LOG(LOG_ERROR, "cut to %s failed: time goes back too far before %llu us to be written in order",
               out.path().c_str(), (unsigned long long)(entry.state.wrapBase | uint64_t(entry.state.timeHigh) << 12));
        return false;
    }
    const uint64_t begin = uint64_t(plan.copyFirst) * kChunkBytes;
    const uint64_t end = std::min<uint64_t>(uint64_t(plan.copyLast) * kChunkBytes, index.dataBytes) & ~uint64_t(1);
    // A few hundred progress reports, whole chunks, at most 16 MiB at a time.
    const uint64_t piece = std::clamp<uint64_t>((end - begin) / 256 / kChunkBytes, 1, 256) * kChunkBytes;
    for (uint64_t off = begin; off < end; off += piece) {
        const uint64_t n = std::min(piece, end - off);
        if (!out.copyFrom(src.fd, index.dataOffset + off, n, firstEvent)) return false;
        if (!src.progress(index.chunks[size_t((off + n - 1) / kChunkBytes)].maxUpTo)) {
            cancelled = true;
            return false;
        }
    }
    if (plan.copyLast >= index.chunks.size()) return true; // copied to the end of the file
    out.assumeState(index.chunks[plan.copyLast].state);
    return encodeEdge(plan.copyLast, plan.last);
}

} // namespace norvale::detail
