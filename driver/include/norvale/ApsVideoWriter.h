#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "norvale/ApsFrame.h"
#include "norvale/DriverExport.h"

namespace norvale {

struct ApsVideoWriterOptions {
    int nominalFps = 30;                   // expected frame rate, for the encoder's rate control
    uint64_t keyFrameIntervalUs = 500000; // key frames at most this far apart (seeking decodes from one)
    int quality = 20;                      // H.264 constant rate factor: lower is better and larger
    // An existing file at path is replaced, once close() succeeds; until then the video grows
    // beside it as NAME.recording-XXXXXX.mp4. Without it an existing path is refused.
    bool overwrite = false;
};

// Writes the APS frames of a fusion recording into an MP4 (H.264, or MPEG-4 part 2 where the FFmpeg
// build lacks libx264). Each frame's `timestamp` (microseconds since the start of the APS stream) is
// stored exactly: ApsFileReader returns the same values. Frames must share one size (even width
// and height) and come with strictly increasing timestamps.
// The file is created at path (never over an existing one unless options.overwrite) and is a
// playable video from the first frame on, whatever ends the recording: a fragmented MP4 whose
// every frame reaches the file as it is written, so a crash or kill keeps all frames but the one
// being written. A writer destroyed without close(), or whose close() fails, leaves the frames
// written so far; one that wrote no frame leaves no file. The file is locked (flock) while it is
// written: a second writer to the same path is refused. An existing path that is not a regular
// file is always refused.
// Not thread-safe: one thread writes and closes (for example the recorder's frame thread).
class NR_DRIVER_EXPORT ApsVideoWriter {
public:
    // Empty (and a log line) when the size is unusable or the file cannot be created.
    static std::unique_ptr<ApsVideoWriter> create(const std::string& path, int width, int height,
                                                  const ApsVideoWriterOptions& options = {});
    ~ApsVideoWriter();
    ApsVideoWriter(const ApsVideoWriter&) = delete;
    ApsVideoWriter& operator=(const ApsVideoWriter&) = delete;

    // False (and a log line) for a frame of another size, a timestamp not after the previous one, or
    // an encoder or disk error; a rejected frame leaves the file usable.
    bool writeFrame(const ApsFrame& frame);
    // Finishes the file; false when it could not be completed (nothing is left at path then).
    // endUs (after the last frame's timestamp; 0: none): the video ends there, the last frame
    // shown up to it, so that it lasts as long as the recording it belongs to.
    bool close(uint64_t endUs = 0);

    uint64_t framesWritten() const;

    class Impl;

private:
    explicit ApsVideoWriter(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl;
};

} // namespace norvale
