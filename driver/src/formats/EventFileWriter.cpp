#include "norvale/EventFileWriter.h"

#include <algorithm>
#include <vector>

#include "formats/FormatWriter.h"
#include "norvale/DvsFileReader.h"
#include "norvale/Logger.h"
#include "raw/RecordingOutput.h"

namespace norvale {

namespace {

std::string extensionOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    const size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash) || dot == slash + 1) return "";
    return path.substr(dot);
}

// A converted or written file is whole or absent: an unfinished one is removed (a replaced file
// stays as it was), since the data it came from still exists and half a file would pass for all.
class OutputWriter final : public EventFileWriter {
public:
    OutputWriter(std::unique_ptr<detail::FormatWriter> w) : format(std::move(w)) {}
    ~OutputWriter() override { output.abandon(true); }

    bool open(const std::string& path, const EventFileDescription& description, bool overwrite,
              const FileIdentity& input) {
        if (!output.open(path, overwrite, input, extensionOf(path))) return fail(output.reason());
        if (!format->begin(output.descriptor(), output.writingPath(), description, why)) return fail(why);
        return true;
    }

    bool write(const Event2D* begin, const Event2D* end, const EventTriggerIn* triggersBegin,
               const EventTriggerIn* triggersEnd) override {
        if (broken) return false;
        if (!format->holdsTriggers()) {
            notHeld += uint64_t(triggersEnd - triggersBegin);
            triggersBegin = triggersEnd = nullptr;
        }
        if (!format->write(begin, end, triggersBegin, triggersEnd, why)) return fail(why);
        events += uint64_t(end - begin);
        triggers += uint64_t(triggersEnd - triggersBegin);
        return true;
    }

    bool finish() override {
        if (broken) return false;
        if (!format->end(why)) return fail(why);
        if (!output.commit()) return fail(output.reason());
        broken = true; // done: nothing more goes in
        return true;
    }

private:
    bool fail(const std::string& text) {
        why = text;
        broken = true;
        output.abandon(true);
        return false;
    }

    std::unique_ptr<detail::FormatWriter> format;
    detail::RecordingOutput output;
    bool broken = false;
};

} // namespace

std::unique_ptr<EventFileWriter> EventFileWriter::create(const std::string& path, EventFileFormat format,
                                                         const EventFileDescription& description, bool overwrite,
                                                         const FileIdentity& input, std::string& problem) {
    const EventFileFormatInfo& info = formatInfo(format);
    std::unique_ptr<detail::FormatWriter> w = info.writable ? detail::makeFormatWriter(format) : nullptr;
    if (!w) {
        problem = std::string(info.name) + " files cannot be written";
        return nullptr;
    }
    // Said plainly here; the output rules refuse it as well, whatever happens in between.
    if (input.valid && FileIdentity::ofPath(path).sameAs(input)) {
        problem = "output " + path + " is the file being read (under another name); it is never written";
        return nullptr;
    }
    auto writer = std::make_unique<OutputWriter>(std::move(w));
    if (!writer->open(path, description, overwrite, input)) {
        problem = writer->problem();
        return nullptr;
    }
    return writer;
}

bool convertEventFile(DvsFileReader& in, uint64_t start, uint64_t end, const std::string& path,
                      EventFileFormat format, bool overwrite, const std::function<bool(double)>& progress,
                      ConvertReport& report, bool compress) {
    report = ConvertReport{};
    if (end < start) {
        report.problem = "the range ends before it starts";
        return false;
    }
    DvsFileInfo info;
    in.getFileInfo(info);
    EventFileDescription d;
    d.width = in.width();
    d.height = in.height();
    d.serialNumber = info.serialNumber;
    d.startTime = info.recordStartTime;
    d.hasStartTime = true;
    d.compress = compress;
    auto writer = EventFileWriter::create(path, format, d, overwrite, in.identity(), report.problem);
    if (!writer) return false;
    const uint64_t endExclusive = end == UINT64_MAX ? end : end + 1;
    // Progress by time over the part of the range that holds events.
    uint64_t first = start, last = end;
    if (in.getStartTimestamp(first) && in.getEndTimestamp(last)) {
        first = std::max(first, start);
        last = std::min(last, end);
    }
    const double span = last > first ? double(last - first) : 1.0;
    bool cancelled = false;
    Logger::clearThreadError();
    // The reader's pieces are small; a writer is handed batches (fewer calls into a library, fewer
    // system calls).
    constexpr size_t kBatch = size_t(1) << 16;
    std::vector<Event2D> events;
    std::vector<EventTriggerIn> triggers;
    events.reserve(kBatch);
    auto flush = [&] {
        const bool ok = writer->write(events.data(), events.data() + events.size(), triggers.data(),
                                      triggers.data() + triggers.size());
        events.clear();
        triggers.clear();
        return ok;
    };
    const bool read = in.scanRange(start, endExclusive, [&](const Event2D* ev, size_t n, const EventTriggerIn* trig,
                                                            size_t nTrig) {
        if (events.empty() && triggers.empty() && n >= kBatch) {
            // A piece as large as a batch goes to the writer as it is: no copy of every event.
            if (!writer->write(ev, ev + n, trig, trig + nTrig)) return false;
        } else {
            events.insert(events.end(), ev, ev + n);
            triggers.insert(triggers.end(), trig, trig + nTrig);
            if ((events.size() >= kBatch || triggers.size() >= kBatch) && !flush()) return false;
        }
        if (progress && n) {
            const uint64_t t = ev[n - 1].timestamp;
            const double done = std::clamp(double(t - std::min(first, t)) / span, 0.0, 1.0);
            if (!progress(done)) {
                cancelled = true;
                return false;
            }
        }
        return true;
    });
    const bool flushed = read && !cancelled && flush();
    report.events = writer->eventsWritten();
    report.triggers = writer->triggersWritten();
    report.triggersNotHeld = writer->triggersNotHeld();
    if (cancelled) {
        report.problem = "cancelled; nothing was written to " + path;
        return false;
    }
    if (!writer->problem().empty()) {
        report.problem = path + ": " + writer->problem() + "; nothing was written";
        return false;
    }
    if (!read) {
        const std::string why = Logger::threadError();
        report.problem = "cannot read " + in.path() + (why.empty() ? "" : ": " + why) + "; nothing was written to " + path;
        return false;
    }
    if (!flushed || !writer->finish()) {
        report.problem = path + ": " + writer->problem();
        return false;
    }
    if (progress) progress(1.0);
    return true;
}

} // namespace norvale
