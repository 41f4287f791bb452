#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "norvale/DriverExport.h"
#include "norvale/Event2D.h"
#include "norvale/EventFrame.h"
#include "norvale/SafeOutputFile.h"

namespace norvale {

class DvsFileReader;

using VideoRgb = FrameRgb;

enum class VideoCodecChoice {
    Auto,  // H.264 (libx264) when the FFmpeg build has it, MPEG-4 part 2 otherwise
    Mpeg4, // always the built-in MPEG-4 part 2 encoder
};

// How an event recording becomes a video. Frame k is shown at start + (k + 1) * 1e6 / (fps * slowMotion)
// and shows accTimeUs of event time placed by `anchor` (EventWindow.h); the last frame is shown at
// the range's end and reaches it (included). Pixels follow the event frame rule of EventFrame.h. Triggers are not
// drawn.
struct VideoExportOptions {
    int fps = 30;                 // frames per second of video, 1..240
    uint64_t accTimeUs = 33333;   // event time shown in one frame, 1 us .. 1 h
    double slowMotion = 1.0;      // video seconds per second of event time, 0.001..1000
    VideoRgb onColor{255, 255, 255};
    VideoRgb offColor{0, 0, 0};
    VideoRgb backgroundColor{112, 112, 112};
    int width = 1280;             // even, 16..8192
    int height = 720;             // even, 16..8192
    VideoCodecChoice codec = VideoCodecChoice::Auto;
    EventWindowAnchor anchor = EventWindowAnchor::FrameEnd;
    // Called on the exporting (calling) thread after each frame is counted, with the fraction done
    // (0..1]; returning false cancels the export and removes the partial file.
    std::function<bool(double fraction)> progress;
};

// Sets the three colours of a named scheme of kEventColorSchemes (case does not matter). False and the options unchanged for another name.
NR_DRIVER_EXPORT bool applyColorScheme(const std::string& name, VideoExportOptions& options);

// Where the events come from. readEvents(start, duration) returns the events with
// start <= timestamp < start + duration in time order (an empty vector when there are none, null
// on a read error). firstTimestamp and lastTimestamp bound the recording. input is the file the
// events come from (when there is one): an output that is that file is refused.
struct EventRangeSource {
    uint64_t firstTimestamp = 0;
    uint64_t lastTimestamp = 0;
    FileIdentity input;
    std::function<std::shared_ptr<const std::vector<Event2D>>(uint64_t start, uint64_t duration)> readEvents;
    // Optional: the smallest event timestamp at or after from in next (UINT64_MAX when none);
    // false on a read error. With it an export skips empty stretches instead of reading them.
    std::function<bool(uint64_t from, uint64_t& next)> nextEventTime;
};

// Time spent by one export, for benchmarks and logs. Reading and counting run on the calling
// thread, painting and encoding on the export's encoder thread, so the parts overlap in time.
struct VideoExportStats {
    uint64_t frames = 0;      // pictures in the file (a long empty stretch is one picture)
    double readSeconds = 0;   // inside readEvents
    double countSeconds = 0;  // counting the events of each frame
    double paintSeconds = 0;  // painting the counts into the picture
    double renderSeconds = 0; // counting and painting
    double encodeSeconds = 0; // encoder and file writing
    double waitSeconds = 0;   // calling thread waiting for the encoder thread to take a frame
    std::string codec;        // encoder used
};

// Renders the events between start and end (both included, microseconds of the recording) into an
// MP4 at path. The file appears only when the export succeeds (it is written beside path under a
// fresh temporary name and renamed at the end), so a failed or cancelled export leaves nothing behind
// and an existing file at path untouched. An output that is the source's input file, or that exists
// and is not a regular file, is refused. A range partly outside the recording is cut to it; a range
// wholly outside it, start after end, bad options, a read error or an unwritable path give false and
// a log line. Memory stays bounded whatever the length of the range. More than a second of video
// without events becomes one picture with that duration, so time jumps in damaged files cost little.
// Reads and counts on the calling thread while a thread of its own paints and encodes the frames
// counted so far (at most a few frames behind); the H.264 encoder adds its own worker threads. The
// source is only used by the calling thread. Returns once everything has stopped.
NR_DRIVER_EXPORT bool exportEventsToVideo(const EventRangeSource& source, uint64_t start, uint64_t end,
                                          const std::string& path, const VideoExportOptions& options = {},
                                          VideoExportStats* stats = nullptr);

// exportEventsToVideo over a prepared reader's file: its events, its first and last timestamps, and
// its file as the input no output may be. Skips empty stretches through the reader's index. Reads
// on the calling thread with the reader's read cursor: no other read of the reader may run meanwhile.
NR_DRIVER_EXPORT bool exportFileToVideo(DvsFileReader& reader, uint64_t start, uint64_t end, const std::string& path,
                                        const VideoExportOptions& options = {}, VideoExportStats* stats = nullptr);

} // namespace norvale
