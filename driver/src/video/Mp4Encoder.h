#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <string>

#include "norvale/SafeOutputFile.h"
#include "video/AvSupport.h"

namespace norvale::video {

struct Mp4EncoderSettings {
    int width = 0;  // even
    int height = 0; // even
    AVRational timeBase{1, 1000000}; // unit of the pts given to encodeFrame
    AVRational frameRate{30, 1};     // nominal rate, for rate control and players
    int gopSize = 30;                // longest distance between key frames, in frames
    bool allowH264 = true;           // false: the built-in MPEG-4 part 2 encoder
    bool sliceThreads = false;       // split each frame into slices so decoders can use threads on one frame
    const char* x264Preset = "veryfast";
    int x264Crf = 23;
    int mpeg4Quantiser = 4; // 2 (best) .. 31
    FileIdentity input;              // the file the video is made from: never written
    const char* task = "video";      // names the work in log lines ("export refused: ...")
};

// A video that is playable at every moment while it is written: the caller's descriptor (a file
// created for it, open for writing) receives an MP4 whose header comes first and whose frames
// follow as fragments, each frame its own fragment and handed to the descriptor at once, so that
// whatever a crash leaves ends in a whole fragment or in the tail of one that readers skip.
struct Mp4GrowingOutput {
    int fd = -1;       // not owned; stays open after finish() and abort()
    std::string name;  // for log lines
};

// One video stream in an MP4 file, YUV 4:2:0 in, H.264 (or MPEG-4 part 2) out. open(path) writes
// through a SafeOutputFile (a fresh temporary beside path, renamed to path by finish(); an output
// that is the input or not a regular file is refused); abort() or destruction without finish()
// removes the temporary. open(Mp4GrowingOutput) writes a fragmented file into the caller's
// descriptor instead; abort() then stops writing and leaves what was written to the caller. Pts reach the file exactly as given (no B-frames, so packets leave in input order).
// Not thread-safe: one thread at a time drives an encoder (an export opens it on the calling
// thread and hands it to its encoder thread).
class Mp4Encoder {
public:
    Mp4Encoder() = default;
    ~Mp4Encoder();
    Mp4Encoder(const Mp4Encoder&) = delete;
    Mp4Encoder& operator=(const Mp4Encoder&) = delete;

    // False (and a log line) when no encoder opens or the file cannot be created.
    bool open(const std::string& path, const Mp4EncoderSettings& settings);
    bool open(const Mp4GrowingOutput& output, const Mp4EncoderSettings& settings);

    // The picture to fill for the next encodeFrame; writable, YUV420P, width x height.
    AVFrame* frame();

    // Encodes frame() at pts (strictly increasing), shown for duration (both in timeBase);
    // forceKey makes it a key frame.
    bool encodeFrame(int64_t pts, int64_t duration, bool forceKey);

    // Drains the encoder, writes the index and renames the file into place. endPts (timeBase,
    // growing file only; -1: none): the last frame is shown up to it, so the video ends there.
    bool finish(int64_t endPts = -1);
    void abort();

    const std::string& codecName() const { return codec; }
    uint64_t framesWritten() const { return frames; }

private:
    bool openCodec(const AVCodec* encoder, const Mp4EncoderSettings& settings);
    bool openContainer(const Mp4EncoderSettings& settings);
    bool drain(bool flushing);
    int closeOutput(); // the container's byte stream; an FFmpeg error code or 0
    int writeHeld();   // growing file: the held frame as a fragment of its own
    void closeAndRemove();

    std::unique_ptr<AVCodecContext, CodecContextFreer> ctx;
    AVFormatContext* out = nullptr; // owns its AVIOContext while open
    AVStream* stream = nullptr;
    std::unique_ptr<AVFrame, FrameFreer> picture;
    std::unique_ptr<AVPacket, PacketFreer> packet;
    std::unique_ptr<AVPacket, PacketFreer> held; // growing file: the last frame, until the next one comes
    struct Timing {
        int64_t pts;
        int64_t duration;
    };
    std::deque<Timing> pending; // frames sent to the encoder and not yet written, in timeBase
    AVRational timeBase{1, 1000000};
    std::string finalPath;
    SafeOutputFile file;
    std::string partPath; // file's temporary, named for FFmpeg; the growing file's name
    int growingFd = -1;   // the caller's descriptor of a growing file (else -1)
    std::string codec;
    uint64_t frames = 0;
};

} // namespace norvale::video
