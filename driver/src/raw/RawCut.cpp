// Cutting a file: EVT 3.0 words between the range's edges are copied where the index allows
// (Evt3CopyCut), the rest decoded and encoded again; every other format is converted.
#include "norvale/RawCut.h"

#include "norvale/EventFileWriter.h"
#include "norvale/RawFileWriter.h"
#include "raw/CutOutput.h"
#include "raw/DvsFileReaderImpl.h"
#include "raw/Evt3CopyCut.h"

namespace norvale {

namespace {

bool cutRange(DvsFileReader::Impl& d, uint64_t start, uint64_t end, const std::string& outPath,
              const std::function<bool(double)>& progress) {
    detail::CutOutput output;
    if (!output.open(outPath, FileIdentity::ofDescriptor(d.fd))) return false;
    auto openWriter = [&](uint64_t firstTs) {
        DvsFileInfo info;
        info.serialNumber = d.header.serialNumber;
        info.dvsStartTimestamp = firstTs;
        info.width = d.header.width; // a cut keeps its source's geometry whatever the source's format
        info.height = d.header.height;
        SysTimePoint startTime = d.modified;
        if (d.header.hasDate) {
            try {
                startTime = parseLocalTimeString(d.header.date);
            } catch (const std::exception&) {
            }
        }
        const uint64_t base = d.header.hasDvsStart ? d.header.dvsStartTimestamp : d.firstInFileOrder;
        if (firstTs >= base) startTime += std::chrono::microseconds(firstTs - base);
        return output.startWriter(info, startTime);
    };
    const uint64_t to = end == UINT64_MAX ? UINT64_MAX : end + 1;
    std::vector<Event2D> kept;
    std::vector<EventTriggerIn> keptTrig;
    const Event2D* outside = nullptr; // first event the written geometry cannot hold
    Event2D firstOutside{};
    // Progress by event time over the part of the range the file covers, a few hundred calls at most.
    const uint64_t spanFrom = std::max(start, d.stats.firstTimestamp);
    const uint64_t spanTo = std::min(end, d.stats.lastTimestamp);
    const double span = spanTo > spanFrom ? double(spanTo - spanFrom) : 1.0;
    double reported = 0;
    bool cancelled = false;
    auto reachedTime = [&](uint64_t now) { // false cancels
        if (!progress) return true;
        const double fraction = now <= spanFrom ? 0.0 : std::min(1.0, double(now - spanFrom) / span);
        if (fraction - reported >= 0.005) {
            reported = fraction;
            if (!progress(fraction)) cancelled = true;
        }
        return !cancelled;
    };
    bool ok;
    detail::CopyCutPlan plan;
    // A copy starts from its first chunk's decoder state; a forgotten row or base is restored as
    // 0x7FF, which drops events alike only in a geometry that leaves it outside.
    auto restorable = [&](const RawDecoderState& s) {
        return (s.y != RawDecoderState::kNoY || d.header.height <= 0x7FFu) && (s.base <= 0x7FFu || d.header.width <= 0x7FFu);
    };
    if (d.header.format == RawFormat::Evt3 && detail::planCopyCut(d.index, start, to, plan) &&
        restorable(d.index.chunks[plan.copyFirst].state)) {
        // The words between the edges decode in the cut exactly as here: they are copied.
        uint64_t firstTs = 0;
        bool found = false;
        ok = d.scanChunks(plan.first, plan.last, true,
                        [&](const Event2D* ev, size_t n, const std::vector<EventTriggerIn>& t) {
                            detail::keepRange(ev, n, t, start, to, kept, keptTrig);
                            found = !kept.empty() || !keptTrig.empty();
                            if (found) firstTs = kept.empty() ? keptTrig.front().timestamp : kept.front().timestamp;
                            return !found;
                        }) ||
             found;
        if (found) {
            detail::CopyCutSource src;
            src.fd = d.fd;
            src.index = &d.index;
            src.decodeChunks = [&](size_t a, size_t b, const detail::PieceSink& sink) {
                return d.scanChunks(a, b, true, sink);
            };
            src.progress = reachedTime;
            ok = openWriter(firstTs) && detail::copyCutEvt3(src, plan, start, to, output.rawWriter(), cancelled);
        }
    } else {
        ok = d.scan(start, to, true, [&](const Event2D* ev, size_t n, const std::vector<EventTriggerIn>& t) {
            if (n && !reachedTime(ev[n - 1].timestamp)) return false;
            detail::keepRange(ev, n, t, start, to, kept, keptTrig);
            for (const Event2D& e : kept)
                if (e.x >= d.header.width || e.y >= d.header.height) {
                    firstOutside = e;
                    outside = &firstOutside;
                    return false; // the cut cannot hold the range: no need to read on
                }
            if (kept.empty() && keptTrig.empty()) return true;
            if (!output.writerStarted() && !openWriter(kept.empty() ? keptTrig.front().timestamp : kept.front().timestamp))
                return false;
            return output.rawWriter().add(kept.data(), kept.data() + kept.size(), keptTrig.data(),
                                          keptTrig.data() + keptTrig.size());
        });
    }
    if (ok && !output.writerStarted()) {
        NR_LOG(LOG_INFO, "cut of %s: no events between %llu and %llu", d.path.c_str(), (unsigned long long)start,
               (unsigned long long)end);
        ok = openWriter(start);
    }
    if (cancelled) {
        NR_LOG(LOG_INFO, "cut of %s to %s cancelled", d.path.c_str(), outPath.c_str());
    } else if (outside) {
        NR_LOG(LOG_ERROR,
               "cut of %s to %s refused: the file's geometry is %ux%u and the range holds events outside it "
               "(the first at x=%u y=%u t=%llu); nothing was written",
               d.path.c_str(), outPath.c_str(), d.header.width, d.header.height,
               unsigned(outside->x), unsigned(outside->y), (unsigned long long)outside->timestamp);
    } else if (ok && output.rawWriter().droppedEvents()) {
        NR_LOG(LOG_ERROR, "cut of %s to %s failed: %llu events of the range go back in time too far to be written in "
               "order; nothing was written", d.path.c_str(), outPath.c_str(),
               (unsigned long long)output.rawWriter().droppedEvents());
        ok = false;
    }
    if (!ok) {
        output.abandon();
        return false;
    }
    return output.finish();
}


} // namespace

EventFileFormat cutFileFormat(EventFileFormat input, uint64_t lastTimestamp) {
    if (!formatInfo(input).writable || (input == EventFileFormat::Dat && lastTimestamp >> 32))
        return EventFileFormat::Evt3;
    return input;
}

bool cutRawFile(DvsFileReader& reader, uint64_t start, uint64_t end, const std::string& path,
                const std::function<bool(double)>& progress) {
    if (!reader.isRaw() || reader.fileFormat() != EventFileFormat::Evt3) {
        // Only EVT 3.0 words are copied; other formats are cut by converting the range: into the
        // input's format where it can be written (an EVT 2.0 or DAT cut stays EVT 2.0 or DAT, not
        // EVT 3.0 under the input's extension), otherwise into EVT 3.0.
        uint64_t last = 0;
        reader.getEndTimestamp(last);
        const EventFileFormat format = cutFileFormat(reader.fileFormat(), last);
        if (reader.fileFormat() == EventFileFormat::Dat && format != EventFileFormat::Dat)
            NR_LOG(LOG_WARN, "cut of %s: times past 2^32 us do not fit a DAT file; the cut is written as EVT 3.0",
                   reader.path().c_str());
        if (end < start) {
            NR_LOG(LOG_ERROR, "cut of %s: end %llu before start %llu", reader.path().c_str(), (unsigned long long)end,
                   (unsigned long long)start);
            return false;
        }
        ConvertReport report;
        if (!convertEventFile(reader, start, end, path, format, true, progress, report)) {
            NR_LOG(LOG_ERROR, "cut of %s to %s failed: %s", reader.path().c_str(), path.c_str(), report.problem.c_str());
            return false;
        }
        if (report.triggersNotHeld)
            NR_LOG(LOG_WARN, "cut of %s: %llu trigger edges cannot be held by %s and were not written",
                   reader.path().c_str(), (unsigned long long)report.triggersNotHeld, formatInfo(format).name);
        return true;
    }
    DvsFileReader::Impl& d = detail::ReaderInternals::of(reader);
    if (!d.prepared) {
        NR_LOG(LOG_ERROR, "cut of %s: file not prepared", d.path.c_str());
        return false;
    }
    if (end < start) {
        NR_LOG(LOG_ERROR, "cut of %s: end %llu before start %llu", d.path.c_str(), (unsigned long long)end,
               (unsigned long long)start);
        return false;
    }
    return cutRange(d, start, end, path, progress);
}

bool DvsFileReader::exportRawFile(uint64_t start, uint64_t end, const std::string& path) {
    return cutRawFile(*this, start, end, path);
}

} // namespace norvale
