#pragma once

// Writes the stream to disk off the streaming thread: the recording (an EVT 3.0 file through
// RawFileWriter) and the pre-trigger cache (the last seconds, as 1-s raw segment files in the
// cache folder, named .nrcache_<serial>_<pid>_<n>.raw, deleted when no longer needed).
// A recording started with a cache begins with the cached events of the last `seconds` (read
// back from the segments) and continues with the live chunks, which wait in the queue
// meanwhile.
//
// Threads: push from the streaming thread (never blocks: a full queue drops the chunk and
// counts it); the other calls from any thread. The storage thread runs while a recording or
// a cache is set. `mutex` guards the queue, the commands and the recording state; the
// writers themselves are used by the storage thread only (opening happens on the caller's
// thread before the storage thread sees the writer).
#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "camera/EventChunk.h"
#include "norvale/RawFileWriter.h"
#include "raw/RecordingOutput.h"

namespace norvale {

// What a recording may do to its path and what it states in its header.
struct RecordingTarget {
    bool overwrite = false; // replace an existing file (once the recording has succeeded)
    FileIdentity input;     // the file the stream comes from: never the output
    uint32_t width = 1280, height = 720;
};

class StreamStorage {
public:
    // mirrorWidth: when not 0, the recording stores x as mirrorWidth - 1 - x (a fusion sensor's
    // readout order); the cache segments keep the stream as it is.
    StreamStorage(std::string serial, uint32_t mirrorWidth = 0);
    ~StreamStorage(); // ends the recording, removes the cache files

    // newestUs: the camera time reached now (the recording starts there, minus the cache).
    // Every check of the output comes first; false after a "recording refused: ..." log line.
    bool startRecording(const std::string& path, uint64_t newestUs, uint64_t apsStartUs = 0,
                        const RecordingTarget& target = {});
    // Waits for the queued chunks to be written, closes the file and puts it in place. False when
    // none was running or a write failed. discard: a recording that must not stay (its companion
    // files could not be started): a new file is removed, a replaced one left as it was.
    // endUs: the recording ends there (camera time): later events are left out, and a storage
    // thread that fell behind never chases the stream that goes on meanwhile.
    bool stopRecording(bool discard = false, uint64_t endUs = UINT64_MAX);
    bool recording() const { return recordingOn.load(); }
    bool setCache(uint16_t seconds, const std::string& folder);
    // The camera clock restarted: cached segments no longer fit the new times.
    void streamRestarted();
    // Something to store: the streaming thread pushes only then.
    bool active() const { return recordingOn.load() || cacheSeconds.load() != 0; }
    void push(const ChunkPtr& chunk);
    uint64_t recordedEvents() const { return recorded.load(); }
    uint64_t droppedEvents() const { return dropped.load(); }

private:
    struct Segment {
        std::string path;
        uint64_t beginUs = 0, endUs = 0; // camera time it covers
    };
    void run();
    void ensureThread();
    void writeChunk(const EventChunk& c, uint64_t endUs);
    void cacheChunk(const EventChunk& c);
    void closeSegment();
    void backfill(uint64_t fromUs); // storage thread: cached events from fromUs into the recording
    void failRecording(const char* what);
    // Storage thread: closes the writer and commits (or discards) the output.
    bool finishRecording(bool discard);
    bool record(const Event2D* b, const Event2D* e, const EventTriggerIn* tb, const EventTriggerIn* te);
    void removeSegments(size_t keep);

    const std::string serial;
    const uint32_t mirrorWidth;
    std::mutex mutex;
    std::condition_variable wake, drained;
    std::thread thread;
    bool stopping = false;
    static constexpr size_t kQueue = 4096; // chunks; about 4 s of stream
    static constexpr uint64_t kQueueEvents = 48u << 20;
    std::array<ChunkPtr, kQueue> queue;
    size_t head = 0, count = 0;
    uint64_t queuedEvents = 0;
    std::unique_ptr<RawFileWriter> pendingWriter; // opened by startRecording, not yet taken over
    std::unique_ptr<detail::RecordingOutput> pendingOutput;
    bool stopRequested = false;
    bool discardRequested = false;
    uint64_t stopAtUs = UINT64_MAX; // with stopRequested: nothing at or after it is recorded
    bool stopResult = false;
    bool stopDone = false;
    bool clearCacheRequested = false;
    uint64_t recordFromUs = 0;  // events before this are not recorded
    std::string cacheFolder;
    std::atomic<uint16_t> cacheSeconds{0};

    std::atomic<bool> recordingOn{false};
    std::atomic<uint64_t> recorded{0};
    std::atomic<uint64_t> dropped{0};
    bool writeFailed = false;

    // storage thread only (and the caller of startRecording before the thread sees it)
    std::unique_ptr<RawFileWriter> writer;
    std::unique_ptr<detail::RecordingOutput> output; // where writer's file goes
    std::unique_ptr<RawFileWriter> segmentWriter;
    std::deque<Segment> segments; // closed ones, oldest first
    Segment current;
    uint64_t segmentSeq = 0;
    std::vector<Event2D> scratch;       // backfill slices
    std::vector<Event2D> mirrored;      // the events being recorded, mirrored (grows once, reused)
    std::vector<EventTriggerIn> scratchTriggers;
};

} // namespace norvale
