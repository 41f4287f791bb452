#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "norvale/DriverExport.h"
#include "norvale/DvsFileInfo.h"
#include "norvale/Event2D.h"
#include "norvale/EventFileFormat.h"
#include "norvale/RawDecoder.h"
#include "norvale/SafeOutputFile.h"

namespace norvale {

namespace detail {
struct ReaderInternals;
class BlockFileReader;
}

// Events per time slot of a whole file, for a timeline's event-rate strip.
struct RateProfile {
    uint64_t startTimestamp = 0;   // start of slot 0 (the file's first event)
    uint64_t slotDurationUs = 0;   // a power of two, at least 1024 us
    std::vector<uint32_t> counts;  // events per slot
};

// Figures gathered by prepareFile.
struct RawFileStats {
    uint64_t eventCount = 0;
    uint64_t onCount = 0;
    uint64_t offCount = 0;
    uint64_t firstTimestamp = 0; // smallest timestamp
    uint64_t lastTimestamp = 0;  // largest timestamp
    uint64_t dataBytes = 0;
    size_t indexBytes = 0;       // memory held by the time index
};

// A stretch of a file's words that decodes on its own, for decoding one file on several threads.
struct DecodeSpan {
    uint64_t offset = 0;       // from the start of the words (past the header)
    uint64_t bytes = 0;
    RawDecoderState state;     // the decoder's state at offset
    uint64_t eventsBefore = 0; // events of the file before the span, in file order
    uint64_t events = 0;       // events the span decodes to
};

// Reads an event file of any readable format (EventFileFormat.h). prepareFile indexes the file in
// one pass (memory only: about 80 bytes per 64 KiB of data for raw files, at most a thousandth of
// the file for the others); then seeking never scans the file, and empty stretches of time are
// skipped.
//
// A reader is used by one thread at a time (playback, export and cut threads take turns; the
// caller serialises them). Failures return false or an empty pointer and log the reason.
class NR_DRIVER_EXPORT DvsFileReader {
public:
    // Empty for a missing or unreadable file, or one of no readable format (the reason goes to the log).
    static std::unique_ptr<DvsFileReader> createFileReader(const std::string& path);
    ~DvsFileReader();
    DvsFileReader(const DvsFileReader&) = delete;
    DvsFileReader& operator=(const DvsFileReader&) = delete;

    // Builds the index and the trigger list. A damaged stream yields what can be decoded.
    bool prepareFile();

    // Smallest and largest event timestamp (us); false before prepareFile or without events.
    bool getStartTimestamp(uint64_t& timestamp) const;
    bool getEndTimestamp(uint64_t& timestamp) const;
    // Header fields; where the header lacks them, the first event's timestamp and the file's
    // modification time.
    bool getFileInfo(DvsFileInfo& info) const;
    // Every trigger edge of the file, in file order.
    bool getTriggerList(std::vector<EventTriggerIn>& triggers) const;
    const std::vector<EventTriggerIn>& triggers() const;

    // Positions the read cursor at timestamp; false before prepareFile or past the end.
    bool seekTime(uint64_t timestamp);
    // Events with start <= t < endExclusive in file order, into a caller's vector (cleared first);
    // triggers of the range too when given. False before prepareFile or on a read error. Leaves the
    // cursor alone.
    bool readRange(uint64_t start, uint64_t endExclusive, std::vector<Event2D>& events,
                   std::vector<EventTriggerIn>* triggers = nullptr);
    // Every event and trigger edge with start <= t < endExclusive, in file order, handed to sink in
    // pieces (events, then the edges of the same stretch of the file); sink returns false to stop.
    // False before prepareFile, on a read error (logged) or when sink stopped.
    bool scanRange(uint64_t start, uint64_t endExclusive,
                   const std::function<bool(const Event2D*, size_t, const EventTriggerIn*, size_t)>& sink);
    // readRange for the viewer's playback, which steps a cursor: events of [start, start + duration),
    // then the cursor moves to the window's end. Null on failure. The vector is reused by a later
    // call once the caller has released it.
    std::shared_ptr<std::vector<Event2D>> readEvents(uint64_t start, uint64_t duration);
    // readEvents from the cursor.
    std::shared_ptr<std::vector<Event2D>> readNextEvents(uint64_t duration);

    // The viewer's cut and export calls; the work lives in src/raw (cutRawFile, RawCut.h) and
    // src/video (exportFileToVideo, VideoExporter.h), which also take progress and video options.
    bool exportRawFile(uint64_t start, uint64_t end, const std::string& path);
    bool exportVideo(uint64_t start, uint64_t end, const std::string& path);

    // Smallest event timestamp at or after from (UINT64_MAX when there is none); false before
    // prepareFile or on a read error.
    // Uses the index: an empty stretch of any length costs no more than a short one. Uses the read
    // buffers: not while another read of this reader runs.
    bool nextEventTime(uint64_t from, uint64_t& timestamp);
    // The two events farthest apart in time with none between them (a long gap is the mark of a
    // damaged file). False for fewer than two events or when no gap reaches the rate profile's slot
    // length (then every gap is shorter than two slots).
    bool largestGap(uint64_t& before, uint64_t& after);

    // The indexed words cut at index chunks into at most n spans of about equal event counts,
    // consecutive and covering every word; empty before prepareFile, for a file without words and
    // for a file that is not raw (read those with readRange).
    std::vector<DecodeSpan> decodeSpans(size_t n) const;

    // Every event of a file that is not raw, in file order, into out (room events) on up to
    // `threads` threads (0: as many as pay off); count is set to the events read and timeOrdered
    // tells whether file order is time order. False (logged) for a raw file (decode its spans),
    // too little room, or a file that cannot be read or changed since it was indexed.
    bool readAllEvents(Event2D* out, size_t room, size_t& count, size_t threads, bool& timeOrdered);

    RateProfile getRateProfile() const;
    RawFileStats getStats() const;
    // The raw word format; meaningful only when fileFormat() is a raw one.
    RawFormat format() const;
    EventFileFormat fileFormat() const;
    // Whether the file is a raw word stream (EVT 3.0, 2.0, ...), which the raw-only calls need.
    bool isRaw() const { return !blocks; }
    uint32_t width() const;
    uint32_t height() const;
    const std::string& path() const;
    // The open file by device and inode (what no output may be).
    FileIdentity identity() const;

    class Impl;

private:
    friend struct detail::ReaderInternals; // the cut reads the index and the words itself
    explicit DvsFileReader(std::unique_ptr<Impl> impl);
    explicit DvsFileReader(std::unique_ptr<detail::BlockFileReader> blocks);
    std::unique_ptr<Impl> impl;                       // raw files
    std::unique_ptr<detail::BlockFileReader> blocks; // every other format
};

} // namespace norvale
