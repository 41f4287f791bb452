#include "norvale/ApsVideoWriter.h"

#include <cstdint>

#include "norvale/Logger.h"
#include "norvale/SafeOutputFile.h"
#include "raw/RecordingOutput.h"
#include "video/Mp4Encoder.h"

namespace norvale {

class ApsVideoWriter::Impl {
public:
    video::Mp4Encoder encoder;
    // Where the video goes: the same rules as a recording's events file.
    detail::RecordingOutput output;
    std::unique_ptr<SwsContext, video::SwsFreer> toYuv;
    ApsVideoWriterOptions options;
    std::string path;
    int width = 0;
    int height = 0;
    uint64_t frames = 0;
    uint64_t lastTs = 0;
    uint64_t lastKeyTs = 0;
    bool open = false;
};

ApsVideoWriter::ApsVideoWriter(std::unique_ptr<Impl> i) : impl(std::move(i)) {}

ApsVideoWriter::~ApsVideoWriter() {
    Impl& d = *impl;
    if (!d.open) return;
    d.encoder.abort();
    const bool keep = d.frames > 0 && !d.output.replacing();
    NR_LOG(LOG_WARN, "APS video %s was not closed; %s", d.path.c_str(),
           keep ? "the frames written so far stay readable" : "removed");
    d.output.abandon(d.frames == 0); // a new file keeps its frames; a sibling always goes
}

std::unique_ptr<ApsVideoWriter> ApsVideoWriter::create(const std::string& path, int width, int height,
                                                       const ApsVideoWriterOptions& options) {
    if (width < 16 || height < 16 || width > 8192 || height > 8192 || width % 2 || height % 2) {
        NR_LOG(LOG_ERROR, "APS video %s: frame size %dx%d must be even and within 16..8192", path.c_str(), width,
               height);
        return nullptr;
    }
    if (options.nominalFps < 1 || options.keyFrameIntervalUs == 0) {
        NR_LOG(LOG_ERROR, "APS video %s: frame rate and key frame interval must be above 0", path.c_str());
        return nullptr;
    }
    auto impl = std::make_unique<Impl>();
    impl->options = options;
    impl->path = path;
    impl->width = width;
    impl->height = height;
    impl->toYuv.reset(sws_getContext(width, height, AV_PIX_FMT_BGR24, width, height, AV_PIX_FMT_YUV420P,
                                     SWS_BILINEAR, nullptr, nullptr, nullptr));
    if (!impl->toYuv) {
        NR_LOG(LOG_ERROR, "APS video %s: no colour converter", path.c_str());
        return nullptr;
    }
    video::Mp4EncoderSettings settings;
    settings.width = width;
    settings.height = height;
    settings.timeBase = AVRational{1, 1000000};
    settings.frameRate = AVRational{options.nominalFps, 1};
    // Key frames are placed by timestamp in writeFrame; the encoder's own limit stays further out.
    settings.gopSize = 4 * options.nominalFps;
    settings.x264Preset = "ultrafast"; // keeps up with a live 4K stream on two cores
    // Random access decodes a key frame and those after it: slices let the reader decode each frame
    // on all cores without the frame pipeline's delay.
    settings.sliceThreads = true;
    settings.x264Crf = options.quality;
    settings.mpeg4Quantiser = 3;
    settings.task = "APS video";
    if (!impl->output.open(path, options.overwrite, FileIdentity{}, ".mp4")) {
        NR_LOG(LOG_ERROR, "APS video %s: %s", impl->output.refused() ? "refused" : "failed", impl->output.reason().c_str());
        return nullptr;
    }
    if (!impl->encoder.open(video::Mp4GrowingOutput{impl->output.descriptor(), impl->output.writingPath()}, settings)) {
        impl->output.abandon(true);
        return nullptr;
    }
    impl->open = true;
    return std::unique_ptr<ApsVideoWriter>(new ApsVideoWriter(std::move(impl)));
}

bool ApsVideoWriter::writeFrame(const ApsFrame& frame) {
    Impl& d = *impl;
    if (!d.open) return false;
    if (frame.width() != d.width || frame.height() != d.height || !frame.data()) {
        NR_LOG(LOG_ERROR, "APS video %s: frame of %dx%d in a %dx%d video skipped", d.path.c_str(), frame.width(),
               frame.height(), d.width, d.height);
        return false;
    }
    if (d.frames > 0 && frame.timestamp <= d.lastTs) {
        NR_LOG(LOG_ERROR, "APS video %s: frame at %llu does not follow %llu; skipped", d.path.c_str(),
               (unsigned long long)frame.timestamp, (unsigned long long)d.lastTs);
        return false;
    }
    AVFrame* picture = d.encoder.frame();
    if (!picture) return false;
    const uint8_t* src[1] = {frame.data()};
    const int srcStride[1] = {d.width * 3};
    sws_scale(d.toYuv.get(), src, srcStride, 0, d.height, picture->data, picture->linesize);

    // A key frame whenever the next frame could lie too far from the last one (allowing the next
    // interval to be up to twice the current one: cameras jitter).
    const uint64_t pace = d.frames > 0 ? frame.timestamp - d.lastTs : 1000000 / uint64_t(d.options.nominalFps);
    const bool key = d.frames == 0 || frame.timestamp - d.lastKeyTs + 2 * pace > d.options.keyFrameIntervalUs;
    if (!d.encoder.encodeFrame(static_cast<int64_t>(frame.timestamp), static_cast<int64_t>(pace), key))
        return false;
    if (key) d.lastKeyTs = frame.timestamp;
    d.lastTs = frame.timestamp;
    ++d.frames;
    return true;
}

bool ApsVideoWriter::close(uint64_t endUs) {
    Impl& d = *impl;
    if (!d.open) return false;
    d.open = false;
    const bool ends = endUs > d.lastTs && d.frames > 0 && endUs <= uint64_t(INT64_MAX);
    if (!d.encoder.finish(ends ? int64_t(endUs) : -1)) {
        // Frames that reached a new file stay readable; a replacement never takes the old one's place.
        d.output.abandon(d.frames == 0);
        return false;
    }
    if (!d.output.commit()) {
        NR_LOG(LOG_ERROR, "APS video %s: %s", d.path.c_str(), d.output.reason().c_str());
        return false;
    }
    return true;
}

uint64_t ApsVideoWriter::framesWritten() const { return impl->frames; }

} // namespace norvale
