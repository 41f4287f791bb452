#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "norvale/DriverExport.h"
#include "norvale/DvsFileInfo.h"
#include "norvale/Event2D.h"
#include "norvale/Evt3Encoder.h"

namespace norvale {

// The largest width and height an EVT 3.0 file addresses.
constexpr uint32_t kMaxRawSide = 2048;

// The header every writer of ours writes: generateDvsFileHeader's, stating info's geometry, with
// the serial's control characters escaped as \xNN and the serial cut to 256 bytes, so that the
// header always reads back.
NR_DRIVER_EXPORT std::string rawFileHeader(const DvsFileInfo& info);

// Writes an EVT 3.0 raw file: the header of generateDvsFileHeader at once (with the geometry of
// the DvsFileInfo, up to 2048 x 2048, and the serial's control characters escaped as \xNN so that
// the header always reads back), then the encoded events and trigger edges. A background thread writes what has been added at least every
// flushIntervalMs (500 ms), so a crash of the process loses at most that much; the file always
// starts with its header. When the first event's timestamp differs from the header's
// dvs_start_timestamp, the header is rewritten with it before the first data reaches the file.
//
// Threads: open/add*/enterState/copyFrom/assumeState/flush/close/abandon from one thread at a time
// (the recording or cutting thread); the flusher thread only writes. `mutex` guards the encoder,
// the file descriptor and the counters.
class NR_DRIVER_EXPORT RawFileWriter {
public:
    RawFileWriter();
    ~RawFileWriter(); // closes the file
    RawFileWriter(const RawFileWriter&) = delete;
    RawFileWriter& operator=(const RawFileWriter&) = delete;

    // Creates (or replaces) path and writes the header. False, with a log line, on failure.
    bool open(const std::string& path, const DvsFileInfo& info, unsigned flushIntervalMs = 500);
    // The same on a file the caller opened (for example a SafeOutputFile's temporary): writes to a
    // duplicate of descriptor, which close() closes; path only names the file in log lines.
    // abandon() never deletes such a file: its owner does.
    bool openDescriptor(int descriptor, const std::string& path, const DvsFileInfo& info,
                        unsigned flushIntervalMs = 500);
    // The "% date" line to use instead of the time of the call (a cut keeps its recording's time).
    void setRecordStartTime(const SysTimePoint& time);

    bool addEvents(const Event2D* begin, const Event2D* end);
    bool addTrigger(const EventTriggerIn& trigger);
    bool add(const Event2D* eBegin, const Event2D* eEnd, const EventTriggerIn* tBegin, const EventTriggerIn* tEnd);

    // Words copied unchanged from an EVT 3.0 file (a cut): enterState writes the words that bring
    // a reader to the state the copied words start in (false when that time cannot be reached),
    // copyFrom appends size bytes of fd at offset, assumeState tells the encoder the state they
    // end in. firstEvent gives the header's dvs_start_timestamp when no event was added before.
    bool enterState(const RawDecoderState& s);
    bool copyFrom(int fd, uint64_t offset, uint64_t size, uint64_t firstEvent);
    void assumeState(const RawDecoderState& s);

    bool flush();
    // Flushes, closes; false when any write failed. A failed write is cut off again, so the file
    // then ends with the last data written whole (eventsInFile() events).
    bool close();
    // Closes and deletes the file (a failed cut).
    void abandon();

    bool isOpen() const;
    bool failed() const;
    uint64_t eventsWritten() const; // encoded so far, in the file or still buffered
    uint64_t eventsInFile() const;  // encoded events that have reached the file
    uint64_t droppedEvents() const;
    const std::string& path() const { return filePath; }

private:
    bool start(int descriptor, const std::string& path, const DvsFileInfo& info, unsigned flushIntervalMs,
               bool removable);
    // force: also when nothing is encoded, so that the final header is in place before a copy
    bool flushLocked(bool force = false);
    bool writeAll(const uint8_t* data, size_t size);
    // After a failed write: the file back to its last whole state.
    void cutBackLocked();
    void flusherLoop(unsigned intervalMs);
    void stopFlusher();

    mutable std::mutex mutex;
    std::condition_variable wake;
    std::thread flusher;
    bool stopping = false;

    Evt3Encoder encoder;
    int fd = -1;
    bool error = false;
    bool createdRegular = false; // only a regular file this writer created is ever deleted
    bool dataWritten = false; // past the header
    bool haveFirst = false;
    uint64_t firstTimestamp = 0;
    std::string header;
    std::string headerOnDisk; // until the first data replaces it
    uint64_t goodSize = 0;    // bytes of the file that were written whole
    uint64_t inFile = 0;      // encoded events among them
    std::string filePath;
    DvsFileInfo fileInfo;
    bool dateOverride = false;
    SysTimePoint recordStart{};
};

} // namespace norvale
