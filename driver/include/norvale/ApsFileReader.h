#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "norvale/ApsFrame.h"
#include "norvale/DriverExport.h"

namespace norvale {

// One frame of an APS video.
struct ApsFrameIndexEntry {
    uint64_t timestamp = 0; // presentation time, microseconds since the start of the APS stream
    int64_t pts = 0;        // presentation time in the stream's own time base
    uint32_t keyFrame = 0;  // index of the key frame decoding has to start from
};

// Reads the APS frames of a fusion recording's MP4 (any video FFmpeg decodes), or the frame stream
// of an AEDAT 4 file (gray, BGR or BGRA frames; every frame a key frame). Frames come out as
// ApsFrame, 3 bytes per pixel in blue-green-red order, converted from whatever the file holds, with
// `timestamp` = the frame's presentation time in microseconds (exact for files of ApsVideoWriter,
// rounded to the nearest microsecond otherwise; for AEDAT 4 the frame's central timestamp minus the
// first frame's, with `pts` the file's own timestamp) and `auxTimestamp` = 0.
// Output frames: when the given frame already has the video's size, the pixels are written into its
// buffer (so copies sharing that buffer see them); otherwise the frame gets a new buffer.
// Not thread-safe: one thread at a time uses a reader (the replay threads take turns).
class NR_DRIVER_EXPORT ApsFileReader {
public:
    // Empty (and a log line) when the file cannot be opened as a video or holds no frames.
    static std::unique_ptr<ApsFileReader> createFileReader(const std::string& path);
    // Whether path holds its own APS frames beside its events: an AEDAT 4 file with at least one
    // readable frame. Reads up to the first frame; false for anything else (videos included).
    static bool holdsFrames(const std::string& path);
    ~ApsFileReader();
    ApsFileReader(const ApsFileReader&) = delete;
    ApsFileReader& operator=(const ApsFileReader&) = delete;

    bool isOpened() const;
    int getWidth() const;
    int getHeight() const;
    size_t getFrameCount() const;
    // The event time of APS time 0 when the file holds the events too (AEDAT 4: its first frame's
    // timestamp); 0 for a video, whose recording's header states it.
    uint64_t getStartTimestamp() const;

    // One entry per frame, in presentation order; index i belongs to the i-th frame.
    void getFrameIndex(std::vector<ApsFrameIndexEntry>& index) const;
    // Makes frame `index` the next one readNextFrame returns; false when out of range.
    bool seekFrame(size_t index);
    // The next frame; false at the end or on a damaged frame (with a log line).
    bool readNextFrame(ApsFrame& frame);
    // The frame shown at ts: the last one whose timestamp is <= ts. False when ts is before the
    // first frame. Afterwards readNextFrame continues with the frame after it.
    bool readFrameByTimestamp(uint64_t ts, ApsFrame& frame);

    class Impl;

private:
    explicit ApsFileReader(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl;
};

} // namespace norvale
