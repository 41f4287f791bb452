// A long range of a raw file read on two threads. The chunks wholly inside the range (by their
// own time bounds) keep every event, so the index tells how many each gives and where they go:
// the reader's thread reads the chunks at the range's start, which may hold events before it, then
// its share of the whole chunks; the kept second thread reads the chunks at the end into a side
// buffer meanwhile, waits for the count of the start, then writes its share of the whole chunks
// and the end's events in place.
#include <algorithm>

#include "formats/HelperThread.h"
#include "norvale/FuncUtils.h"
#include "raw/DvsFileReaderImpl.h"

namespace norvale {

namespace {

constexpr uint64_t kSplitRangeEvents = uint64_t(1) << 17; // fewer: one thread is as quick

} // namespace

struct DvsFileReader::Impl::SplitHelper {
    std::unique_ptr<RawDecoder> decoder;
    std::vector<uint8_t> io;
    detail::ChunkScratch scratch;
    std::vector<EventTriggerIn> unused;
    std::vector<Event2D> tail; // the end chunks' events in the range; its elements are room
    detail::HelperThread thread; // last: gone first, its task done
};

DvsFileReader::Impl::Impl() = default;

DvsFileReader::Impl::~Impl() {
    splitHelper.reset(); // its thread stops before what it reads from goes
    if (fd >= 0) ::close(fd);
}

namespace {

// Every event of a piece at out[n], when it fits in room (else more than indexed).
bool copyAll(const Event2D* ev, size_t count, Event2D* out, size_t& n, size_t room) {
    if (count > room - n) return false;
    std::copy(ev, ev + count, out + n);
    n += count;
    return true;
}

} // namespace

DvsFileReader::Impl::SplitRead DvsFileReader::Impl::readSplit(size_t first, size_t last, uint64_t from, uint64_t to,
                                                              std::vector<Event2D>& out) {
    const uint64_t most = eventsBefore(last) - eventsBefore(first);
    if (most < kSplitRangeEvents || usableCores() < 2) return SplitRead::Declined;
    // Whole chunks: no event outside the range (or none at all).
    const auto whole = [&](size_t c) {
        const detail::IndexChunk& k = index.chunks[c];
        return k.ownMin > k.ownMax || (k.ownMin >= from && k.ownMax < to);
    };
    size_t lead = first;
    while (lead < last && !whole(lead)) ++lead;
    size_t trail = last;
    while (trail > lead && !whole(trail - 1)) --trail;
    if (trail - lead < 2) return SplitRead::Declined;
    for (size_t c = lead; c < trail; ++c)
        if (!whole(c)) return SplitRead::Declined; // time steps back across the range: read it in order
    // Chunks are equal in bytes, which is what decoding costs.
    const size_t mid = std::clamp(first + (last - first) / 2, lead + 1, trail - 1);
    const size_t ownWhole = size_t(eventsBefore(mid) - eventsBefore(lead));
    const size_t otherWhole = size_t(eventsBefore(trail) - eventsBefore(mid));

    if (!splitHelper) {
        auto h = std::make_unique<SplitHelper>();
        h->decoder = makeDecoder(header.format, decoder->width(), decoder->height());
        if (!h->decoder) return SplitRead::Declined;
        h->io.resize(detail::kReadBytes);
        h->scratch = detail::chunkScratch(*h->decoder);
        if (!h->scratch) return SplitRead::Declined;
        splitHelper = std::move(h);
    }
    SplitHelper& h = *splitHelper;
    keepRoom(out, most);
    if (out.size() < most) out.resize(size_t(most)); // the elements there are room, written over
    Event2D* const dst = out.data();

    // The second thread's share; where the start ended comes from this thread (SIZE_MAX: failed).
    const size_t leadMost = size_t(eventsBefore(lead) - eventsBefore(first));
    const size_t tailMost = size_t(eventsBefore(last) - eventsBefore(trail));
    ChunkRead helperRead = ChunkRead::Done;
    int helperError = 0;     // errno of its failed read
    bool helperDone = false; // its share written in place
    size_t tailKept = 0;
    const auto share = [&] {
        size_t kept = 0;
        helperRead = decodeChunks(*h.decoder, h.io.data(), h.scratch.get(), h.unused, false, trail, last,
                                  [&](const Event2D* ev, size_t n, const std::vector<EventTriggerIn>&) {
                                      if (n > tailMost - kept) return false; // more than indexed
                                      if (h.tail.size() < kept + n) h.tail.resize(kept + n);
                                      detail::keepInRange(ev, n, from, to, h.tail.data(), kept);
                                      return true;
                                  });
        helperError = errno;
        const size_t start = h.thread.given();
        if (helperRead != ChunkRead::Done || start == SIZE_MAX) return;
        Event2D* const at = dst + start + ownWhole;
        size_t n = 0;
        helperRead = decodeChunks(*h.decoder, h.io.data(), h.scratch.get(), h.unused, false, mid, trail,
                                  [&](const Event2D* ev, size_t count, const std::vector<EventTriggerIn>&) {
                                      return copyAll(ev, count, at, n, otherWhole);
                                  });
        helperError = errno;
        if (helperRead != ChunkRead::Done || n != otherWhole) {
            if (helperRead == ChunkRead::Done) helperRead = ChunkRead::Stopped; // fewer than indexed
            return;
        }
        std::copy(h.tail.data(), h.tail.data() + kept, at + otherWhole);
        tailKept = kept;
        helperDone = true;
    };
    if (!h.thread.post([&share] { share(); })) return SplitRead::Declined;

    size_t start = 0;
    ChunkRead read = decodeChunks(*decoder, io.data(), scratch.get(), chunkTriggers, false, first, lead,
                                  [&](const Event2D* ev, size_t n, const std::vector<EventTriggerIn>&) {
                                      if (n > leadMost - start) return false; // more than indexed
                                      detail::keepInRange(ev, n, from, to, dst, start);
                                      return true;
                                  });
    int error = errno; // of a failed read, before anything else can change it
    h.thread.give(read == ChunkRead::Done ? start : SIZE_MAX);
    size_t n = 0;
    if (read == ChunkRead::Done) {
        read = decodeChunks(*decoder, io.data(), scratch.get(), chunkTriggers, false, lead, mid,
                            [&](const Event2D* ev, size_t count, const std::vector<EventTriggerIn>&) {
                                return copyAll(ev, count, dst + start, n, ownWhole);
                            });
        error = errno;
    }
    if (read == ChunkRead::Done && n != ownWhole) read = ChunkRead::Stopped;
    h.thread.wait();
    for (const auto& [r, rError] : {std::pair(read, error), std::pair(helperRead, helperError)}) {
        if (r == ChunkRead::ReadError) {
            readFailed(rError);
            return SplitRead::Failed;
        }
        if (r == ChunkRead::Shrank) {
            shrank();
            return SplitRead::Failed;
        }
        if (r == ChunkRead::Stopped) { // a chunk gave other events than the index counted
            NR_LOG(LOG_ERROR, "raw file %s changed after it was indexed; it cannot be read", path.c_str());
            return SplitRead::Failed;
        }
    }
    if (!helperDone) return SplitRead::Declined; // no memory on the second thread: read it again on one
    out.resize(start + ownWhole + otherWhole + tailKept);
    ++splitReads;
    return SplitRead::Read;
}

} // namespace norvale
