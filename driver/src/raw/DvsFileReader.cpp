#include "norvale/DvsFileReader.h"

#include <sys/stat.h>

#include <thread>

#include "formats/BlockFileReader.h"
#include "raw/DvsFileReaderImpl.h"
#include "raw/RawIndexPass.h"

namespace norvale {

using detail::kChunkBytes;
using detail::kReadBytes;
using detail::kScanPiece;

bool DvsFileReader::Impl::prepare() {
    // Every pixel the format can address is decoded: the geometry comes from the data below.
    uint32_t fullWidth = 0, fullHeight = 0;
    addressableRange(header.format, fullWidth, fullHeight);
    if (decoder->width() != fullWidth || decoder->height() != fullHeight) {
        auto wide = makeDecoder(header.format, fullWidth, fullHeight);
        if (!wide) return false;
        decoder = std::move(wide);
    }
    allocateBuffers();
    index = detail::RawIndex{};
    index.dataOffset = header.dataOffset;
    index.dataBytes = fileSize > header.dataOffset ? fileSize - header.dataOffset : 0;
    stats = RawFileStats{};
    triggerList.clear();
    decoder->reset();
    // A count-only pass: no event is written anywhere (see Evt3CountAvx512.cpp).
    const std::thread::id caller = std::this_thread::get_id();
    const detail::RawReadAt readAt = [this, caller](uint64_t offset, uint8_t* into, size_t size) {
        const ssize_t n = readWords(offset, into, size);
        if (n < 0 && std::this_thread::get_id() == caller) readFailed(); // the other thread's half is read again
        return n;
    };
    const detail::RawDecoderMaker make = [this, fullWidth, fullHeight] {
        return makeDecoder(header.format, fullWidth, fullHeight);
    };
    detail::RawIndexPass pass;
    if (!detail::countRawFile(*decoder, make, index.dataBytes, readAt, io, pass)) return false;
    if (pass.shortened) NR_LOG(LOG_WARN, "raw file %s became shorter while it was read", path.c_str());
    index.chunks = std::move(pass.chunks);
    triggerList = std::move(pass.triggers);
    indexThreads = pass.threads;
    EventTally& tally = pass.tally;
    const uint64_t mn = pass.minTimestamp;
    if (decoder->state().pendingCount)
        NR_LOG(LOG_WARN, "raw file %s ends in the middle of a word; the last bytes are ignored", path.c_str());
    if (tally.events && (tally.maxX >= header.width || tally.maxY >= header.height || !header.hasGeometry)) {
        uint32_t w = 0, h = 0;
        smallestSensorHolding(tally.maxX, tally.maxY, w, h);
        if (tally.maxX >= header.width || tally.maxY >= header.height) {
            if (header.hasGeometry)
                NR_LOG(LOG_WARN, "raw file %s: its header says %u x %u but its events reach x = %u, y = %u; read as %u x %u",
                       path.c_str(), header.width, header.height, tally.maxX, tally.maxY, w, h);
            else
                NR_LOG(LOG_WARN, "raw file %s names no geometry and its events reach x = %u, y = %u; read as %u x %u",
                       path.c_str(), tally.maxX, tally.maxY, w, h);
            header.width = w;
            header.height = h;
        } else if (header.format == RawFormat::Dat) { // no header size to fall back on
            header.width = w;
            header.height = h;
        }
    }
    rate = std::move(tally.rate);
    firstInFileOrder = tally.haveFirst ? tally.firstTimestamp : 0;
    stats.eventCount = tally.events;
    stats.onCount = tally.on;
    stats.offCount = tally.events - tally.on;
    stats.firstTimestamp = tally.events ? mn : 0;
    stats.lastTimestamp = tally.events ? tally.maxTimestamp : 0;
    stats.dataBytes = index.dataBytes;
    stats.indexBytes = index.memoryBytes() + rate.counts().capacity() * sizeof(uint32_t);
    cursor = stats.firstTimestamp;
    prepared = true;
    return true;
}

template <class Sink>
bool DvsFileReader::Impl::decodeChunk(size_t c, Sink&& sink) {
    const uint64_t begin = uint64_t(c) * kChunkBytes;
    const size_t len = size_t(std::min<uint64_t>(kChunkBytes, index.dataBytes - begin));
    const ssize_t got = readData(begin, len);
    if (got < 0) return false;
    if (size_t(got) < len) return shrank();
    decoder->setState(index.chunks[c].state);
    for (size_t p = 0; p < size_t(got); p += kScanPiece) {
        const size_t n = decoder->decode(io.data() + p, std::min(kScanPiece, size_t(got) - p), scratch.get(), nullptr);
        sink(scratch.get(), n);
    }
    return true;
}

bool DvsFileReader::Impl::nextTime(uint64_t t, uint64_t& found) {
    size_t first = 0, last = 0;
    index.chunkRange(t, UINT64_MAX, first, last);
    uint64_t best = UINT64_MAX;
    bool any = false;
    // minFrom bounds every later chunk: once it reaches the best so far, nothing smaller follows.
    for (size_t c = first; c < index.chunks.size() && (!any || index.chunks[c].minFrom < best); ++c) {
        const detail::IndexChunk& k = index.chunks[c];
        if (k.ownMin > k.ownMax || k.ownMax < t) continue;
        if (k.ownMin >= t) {
            best = std::min(best, k.ownMin);
            any = true;
            continue;
        }
        if (!decodeChunk(c, [&](const Event2D* ev, size_t n) {
                for (size_t i = 0; i < n; ++i)
                    if (ev[i].timestamp >= t && ev[i].timestamp <= best) {
                        best = ev[i].timestamp;
                        any = true;
                    }
            }))
            return false;
    }
    found = best;
    return true;
}

bool DvsFileReader::Impl::previousTime(uint64_t t, uint64_t& found) {
    size_t first = 0, last = 0;
    index.chunkRange(0, t, first, last);
    uint64_t best = 0;
    bool any = false;
    // maxUpTo bounds every earlier chunk: once it is no more than the best so far, stop.
    for (size_t c = last; c-- > 0 && (!any || index.chunks[c].maxUpTo > best);) {
        const detail::IndexChunk& k = index.chunks[c];
        if (k.ownMin > k.ownMax || k.ownMin >= t) continue;
        if (k.ownMax < t) {
            best = std::max(best, k.ownMax);
            any = true;
            continue;
        }
        if (!decodeChunk(c, [&](const Event2D* ev, size_t n) {
                for (size_t i = 0; i < n; ++i)
                    if (ev[i].timestamp < t && ev[i].timestamp >= best) {
                        best = ev[i].timestamp;
                        any = true;
                    }
            }))
            return false;
    }
    found = best;
    return any;
}

bool DvsFileReader::Impl::readRange(uint64_t from, uint64_t to, std::vector<Event2D>& out,
                                    std::vector<EventTriggerIn>* trig) {
    if (trig) trig->clear();
    size_t first = 0, last = 0;
    if (to > from) index.chunkRange(from, to, first, last);
    if (first >= last) {
        out.clear();
        return true;
    }
    if (!trig) switch (readSplit(first, last, from, to, out)) {
        case SplitRead::Read: return true;
        case SplitRead::Failed: out.clear(); return false;
        case SplitRead::Declined: break;
        }
    // The caller's elements are room, written over rather than cleared and filled again (a reused
    // result vector then costs no zero-fill); out is cut to the events kept at the end.
    keepRoom(out, eventsBefore(last) - eventsBefore(first));
    size_t used = 0;
    const bool ok = scanChunks(first, last, trig != nullptr, [&](const Event2D* ev, size_t n, const std::vector<EventTriggerIn>& t) {
        if (out.size() < used + n) out.resize(used + n);
        detail::keepInRange(ev, n, from, to, out.data(), used);
        if (trig)
            for (const auto& x : t)
                if (x.timestamp >= from && x.timestamp < to) trig->push_back(x);
        return true;
    });
    out.resize(used);
    return ok;
}

// ---------------------------------------------------------------------------------------------

DvsFileReader::DvsFileReader(std::unique_ptr<Impl> p) : impl(std::move(p)) {}
DvsFileReader::DvsFileReader(std::unique_ptr<detail::BlockFileReader> b) : blocks(std::move(b)) {}
DvsFileReader::~DvsFileReader() = default;

std::unique_ptr<DvsFileReader> DvsFileReader::createFileReader(const std::string& path) {
    EventFileFormat fileFormat = EventFileFormat::Evt3;
    {
        std::string problem;
        // A FIFO or device is refused before anything reads from it.
        const int probe = openRegularFile(path, problem);
        if (probe < 0) {
            NR_LOG(LOG_ERROR, "cannot open raw file %s: %s", path.c_str(), problem.c_str());
            return nullptr;
        }
        ::close(probe);
        if (!detectFormat(path, fileFormat, problem)) {
            NR_LOG(LOG_ERROR, "cannot open %s: %s", path.c_str(), problem.c_str());
            return nullptr;
        }
        // Raw word streams stay with the raw reader below; every other format is read in blocks.
        const bool rawWords = fileFormat == EventFileFormat::Evt3 || fileFormat == EventFileFormat::Evt2 ||
                              fileFormat == EventFileFormat::Evt21 || fileFormat == EventFileFormat::Dat;
        if (!rawWords) {
            auto b = detail::BlockFileReader::open(path, fileFormat, problem);
            if (!b) {
                NR_LOG(LOG_ERROR, "cannot open %s file %s: %s", formatInfo(fileFormat).name, path.c_str(), problem.c_str());
                return nullptr;
            }
            return std::unique_ptr<DvsFileReader>(new DvsFileReader(std::move(b)));
        }
    }
    auto impl = std::make_unique<Impl>();
    impl->path = path;
    struct stat st {};
    std::string problem;
    impl->fd = openRegularFile(path, problem);
    if (impl->fd < 0 || ::fstat(impl->fd, &st) != 0) {
        NR_LOG(LOG_ERROR, "cannot open raw file %s: %s", path.c_str(), problem.c_str());
        return nullptr;
    }
    impl->fileSize = uint64_t(st.st_size);
    impl->modified = SysTimePoint(std::chrono::seconds(st.st_mtim.tv_sec) + std::chrono::nanoseconds(st.st_mtim.tv_nsec));
    const size_t want = size_t(std::min<uint64_t>(impl->fileSize, kMaxHeaderBytes + 1));
    std::vector<char> head(want);
    size_t got = 0;
    while (got < want) {
        const ssize_t n = ::pread(impl->fd, head.data() + got, want - got, off_t(got));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += size_t(n);
    }
    const HeaderStatus status = parseRawHeader(head.data(), got, got == impl->fileSize, impl->header, problem);
    if (status != HeaderStatus::Ok) {
        NR_LOG(LOG_ERROR, "cannot open raw file %s: %s", path.c_str(),
               status == HeaderStatus::NoHeader ? "not a raw event file (no '% ' header)" : problem.c_str());
        return nullptr;
    }
    if (!problem.empty()) NR_LOG(LOG_WARN, "raw file %s: %s", path.c_str(), problem.c_str());
    impl->decoder = makeDecoder(impl->header.format, impl->header.width, impl->header.height);
    return std::unique_ptr<DvsFileReader>(new DvsFileReader(std::move(impl)));
}

bool DvsFileReader::prepareFile() { return blocks ? blocks->prepare() : impl->prepare(); }

bool DvsFileReader::getStartTimestamp(uint64_t& timestamp) const {
    if (blocks) return blocks->startTimestamp(timestamp);
    if (!impl->prepared || impl->stats.eventCount == 0) return false;
    timestamp = impl->stats.firstTimestamp;
    return true;
}

bool DvsFileReader::getEndTimestamp(uint64_t& timestamp) const {
    if (blocks) return blocks->endTimestamp(timestamp);
    if (!impl->prepared || impl->stats.eventCount == 0) return false;
    timestamp = impl->stats.lastTimestamp;
    return true;
}

bool DvsFileReader::getFileInfo(DvsFileInfo& info) const {
    if (blocks) {
        blocks->fileInfo(info);
        return true;
    }
    const RawHeader& h = impl->header;
    info = DvsFileInfo{};
    info.serialNumber = h.serialNumber;
    info.dvsStartTimestamp = h.hasDvsStart ? h.dvsStartTimestamp : impl->firstInFileOrder;
    info.apsStartTimestamp = h.hasApsStart ? h.apsStartTimestamp : 0;
    info.dvsEndTimestamp = impl->stats.lastTimestamp;
    info.eventCount = impl->stats.eventCount;
    info.width = h.width;
    info.height = h.height;
    info.recordStartTime = impl->modified;
    if (h.hasDate) {
        try {
            info.recordStartTime = parseLocalTimeString(h.date);
        } catch (const std::exception&) {
            NR_LOG(LOG_WARN, "raw file %s: unreadable date '%s'", impl->path.c_str(), h.date.c_str());
        }
    }
    return true;
}

bool DvsFileReader::getTriggerList(std::vector<EventTriggerIn>& triggers) const {
    triggers = blocks ? blocks->triggers() : impl->triggerList;
    return blocks ? blocks->prepared() : impl->prepared;
}

const std::vector<EventTriggerIn>& DvsFileReader::triggers() const {
    return blocks ? blocks->triggers() : impl->triggerList;
}

bool DvsFileReader::seekTime(uint64_t timestamp) {
    if (blocks) return blocks->seekTime(timestamp);
    if (!impl->prepared || impl->stats.eventCount == 0 || timestamp > impl->stats.lastTimestamp) return false;
    impl->cursor = timestamp;
    return true;
}

bool DvsFileReader::readRange(uint64_t start, uint64_t endExclusive, std::vector<Event2D>& events,
                              std::vector<EventTriggerIn>* triggers) {
    if (blocks) return blocks->readRange(start, endExclusive, events, triggers);
    if (!impl->prepared) return false;
    return impl->readRange(start, endExclusive, events, triggers);
}

bool DvsFileReader::readAllEvents(Event2D* out, size_t room, size_t& count, size_t threads, bool& timeOrdered) {
    count = 0;
    timeOrdered = false;
    if (blocks) return blocks->readAll(out, room, count, threads, timeOrdered);
    NR_LOG(LOG_ERROR, "raw file %s: read whole through its decode spans", impl->path.c_str());
    return false;
}

bool DvsFileReader::scanRange(uint64_t start, uint64_t endExclusive,
                              const std::function<bool(const Event2D*, size_t, const EventTriggerIn*, size_t)>& sink) {
    if (blocks) return blocks->scanRange(start, endExclusive, sink);
    if (!impl->prepared) {
        NR_LOG(LOG_ERROR, "raw file %s: scanned before it was prepared", impl->path.c_str());
        return false;
    }
    if (endExclusive <= start) return true;
    std::vector<EventTriggerIn> inRange;
    return impl->scan(start, endExclusive, true, [&](const Event2D* ev, size_t n, const std::vector<EventTriggerIn>& t) {
        // The decoder's scratch is ours until the next piece: keep the range's events in place.
        // Most pieces lie wholly inside the range (all of them for a whole file): nothing moves
        // before the first event outside it.
        Event2D* kept = const_cast<Event2D*>(ev);
        size_t used = 0;
        if (start == 0 && endExclusive == UINT64_MAX) used = n;
        while (used < n && ev[used].timestamp >= start && ev[used].timestamp < endExclusive) ++used;
        for (size_t i = used; i < n; ++i) {
            kept[used] = ev[i];
            used += size_t(ev[i].timestamp >= start) & size_t(ev[i].timestamp < endExclusive);
        }
        inRange.clear();
        for (const auto& x : t)
            if (x.timestamp >= start && x.timestamp < endExclusive) inRange.push_back(x);
        if (!used && inRange.empty()) return true;
        return sink(kept, used, inRange.data(), inRange.size());
    });
}

std::shared_ptr<std::vector<Event2D>> DvsFileReader::readEvents(uint64_t start, uint64_t duration) {
    if (blocks) return blocks->readEvents(start, duration);
    // Reuse the previous result's storage when the caller has let go of it.
    std::shared_ptr<std::vector<Event2D>> result;
    if (impl->lastResult && impl->lastResult.use_count() == 1) result = impl->lastResult;
    else result = std::make_shared<std::vector<Event2D>>();
    const uint64_t end = duration > UINT64_MAX - start ? UINT64_MAX : start + duration;
    if (!readRange(start, end, *result)) return nullptr;
    impl->cursor = end;
    impl->lastResult = result;
    return result;
}

std::shared_ptr<std::vector<Event2D>> DvsFileReader::readNextEvents(uint64_t duration) {
    if (blocks) return blocks->readNextEvents(duration);
    return readEvents(impl->cursor, duration);
}

bool DvsFileReader::nextEventTime(uint64_t from, uint64_t& timestamp) {
    if (blocks) return blocks->nextEventTime(from, timestamp);
    if (!impl->prepared) return false;
    return impl->nextTime(from, timestamp);
}

bool DvsFileReader::largestGap(uint64_t& before, uint64_t& after) {
    if (blocks) return blocks->largestGap(before, after);
    Impl& d = *impl;
    if (!d.prepared || d.stats.eventCount < 2) return false;
    return d.rate.largestGap([&d](uint64_t t, uint64_t& f) { return d.previousTime(t, f); },
                             [&d](uint64_t t, uint64_t& f) { return d.nextTime(t, f); }, before, after);
}

RateProfile DvsFileReader::getRateProfile() const {
    if (blocks) return blocks->rateProfile();
    RateProfile p;
    p.startTimestamp = impl->rate.origin();
    p.slotDurationUs = impl->rate.slotDuration();
    p.counts = impl->rate.counts();
    return p;
}

std::vector<DecodeSpan> DvsFileReader::decodeSpans(size_t n) const {
    std::vector<DecodeSpan> spans;
    if (blocks) return spans;
    const Impl& d = *impl;
    if (!d.prepared || d.index.chunks.empty()) return spans;
    n = std::max<size_t>(1, std::min(n, d.index.chunks.size()));
    size_t first = 0;
    for (size_t k = 1; k <= n; ++k) {
        // The first chunk by which k/n of the events have come (the last span takes the rest).
        size_t next = d.index.chunks.size();
        if (k < n) {
            const uint64_t target = d.stats.eventCount * k / n;
            next = size_t(std::partition_point(d.index.chunks.begin() + long(first) + 1, d.index.chunks.end(),
                                               [&](const detail::IndexChunk& c) { return c.eventsBefore < target; }) -
                          d.index.chunks.begin());
        }
        if (next <= first) continue;
        DecodeSpan s;
        s.offset = uint64_t(first) * kChunkBytes;
        s.bytes = std::min<uint64_t>(uint64_t(next) * kChunkBytes, d.index.dataBytes) - s.offset;
        s.state = d.index.chunks[first].state;
        s.eventsBefore = d.index.chunks[first].eventsBefore;
        s.events = (next < d.index.chunks.size() ? d.index.chunks[next].eventsBefore : d.stats.eventCount) -
                   s.eventsBefore;
        spans.push_back(s);
        first = next;
        if (first >= d.index.chunks.size()) break;
    }
    return spans;
}

RawFileStats DvsFileReader::getStats() const { return blocks ? blocks->stats() : impl->stats; }
RawFormat DvsFileReader::format() const { return blocks ? RawFormat::Evt3 : impl->header.format; }
EventFileFormat DvsFileReader::fileFormat() const {
    return blocks ? blocks->format() : rawFileFormat(impl->header.format);
}
uint32_t DvsFileReader::width() const { return blocks ? blocks->width() : impl->header.width; }
FileIdentity DvsFileReader::identity() const {
    return blocks ? blocks->identity() : FileIdentity::ofDescriptor(impl->fd);
}
uint32_t DvsFileReader::height() const { return blocks ? blocks->height() : impl->header.height; }
const std::string& DvsFileReader::path() const { return blocks ? blocks->path() : impl->path; }

} // namespace norvale
