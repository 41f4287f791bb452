#include "video/Mp4Encoder.h"

#include <cstdio>

extern "C" {
#include <libavutil/opt.h>
}

#include "norvale/Logger.h"

namespace norvale::video {

namespace {

// The MPEG-4 part 2 bitstream cannot carry a time base finer than 1/65535 s; the container keeps
// the exact pts anyway (see pending).
AVRational codecTimeBase(const AVCodec* encoder, AVRational wanted) {
    if (encoder->id == AV_CODEC_ID_MPEG4 && wanted.den > 65535) return AVRational{1, 50000};
    return wanted;
}

} // namespace

Mp4Encoder::~Mp4Encoder() { abort(); }

bool Mp4Encoder::openCodec(const AVCodec* encoder, const Mp4EncoderSettings& s) {
    ctx.reset(avcodec_alloc_context3(encoder));
    if (!ctx) return false;
    AVCodecContext* c = ctx.get();
    c->width = s.width;
    c->height = s.height;
    c->pix_fmt = AV_PIX_FMT_YUV420P;
    c->time_base = codecTimeBase(encoder, s.timeBase);
    c->framerate = s.frameRate;
    c->gop_size = s.gopSize;
    c->max_b_frames = 0;
    c->thread_count = 0; // one per core
    if (s.sliceThreads) c->thread_type = FF_THREAD_SLICE;
    tagBt601(c);
    if (out->oformat->flags & AVFMT_GLOBALHEADER) c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (encoder->id == AV_CODEC_ID_H264) {
        av_opt_set(c->priv_data, "preset", s.x264Preset, 0);
        av_opt_set_int(c->priv_data, "crf", s.x264Crf, 0);
        av_opt_set(c->priv_data, "x264-params", "bframes=0", 0);
    } else {
        c->flags |= AV_CODEC_FLAG_QSCALE;
        c->global_quality = FF_QP2LAMBDA * s.mpeg4Quantiser;
    }
    const int rc = avcodec_open2(c, encoder, nullptr);
    if (rc < 0) {
        NR_LOG(LOG_WARN, "video encoder %s does not open: %s", encoder->name, avErrorText(rc).c_str());
        ctx.reset();
        return false;
    }
    codec = encoder->name;
    return true;
}

bool Mp4Encoder::open(const std::string& path, const Mp4EncoderSettings& s) {
    initAvLogging();
    abort();
    finalPath = path;
    if (!file.open(path, s.input)) {
        NR_LOG(LOG_ERROR, "%s %s: %s", s.task, file.refused() ? "refused" : "failed", file.reason().c_str());
        return false;
    }
    partPath = file.temporaryPath();
    timeBase = s.timeBase;
    frames = 0;
    pending.clear();

    int rc = avformat_alloc_output_context2(&out, nullptr, "mp4", partPath.c_str());
    if (rc < 0 || !out) {
        NR_LOG(LOG_ERROR, "cannot set up an MP4 file: %s", avErrorText(rc).c_str());
        out = nullptr;
        return false;
    }
    const AVCodec* h264 = s.allowH264 ? avcodec_find_encoder_by_name("libx264") : nullptr;
    const AVCodec* mpeg4 = avcodec_find_encoder(AV_CODEC_ID_MPEG4);
    if (!(h264 && openCodec(h264, s)) && !(mpeg4 && openCodec(mpeg4, s))) {
        NR_LOG(LOG_ERROR, "no video encoder available for %dx%d", s.width, s.height);
        closeAndRemove();
        return false;
    }
    stream = avformat_new_stream(out, nullptr);
    if (!stream || avcodec_parameters_from_context(stream->codecpar, ctx.get()) < 0) {
        NR_LOG(LOG_ERROR, "cannot add a video stream to %s", path.c_str());
        closeAndRemove();
        return false;
    }
    stream->time_base = timeBase;
    stream->avg_frame_rate = s.frameRate;
    rc = avio_open(&out->pb, partPath.c_str(), AVIO_FLAG_WRITE);
    if (rc < 0) {
        NR_LOG(LOG_ERROR, "cannot create video file %s: %s", partPath.c_str(), avErrorText(rc).c_str());
        closeAndRemove();
        return false;
    }
    // A first pts above 0 is kept by an initial empty edit, which is only exact in a movie time
    // scale of microseconds.
    AVDictionary* muxerOptions = nullptr;
    av_dict_set(&muxerOptions, "use_editlist", "1", 0);
    av_dict_set(&muxerOptions, "movie_timescale", "1000000", 0);
    rc = avformat_write_header(out, &muxerOptions);
    av_dict_free(&muxerOptions);
    if (rc < 0) {
        NR_LOG(LOG_ERROR, "cannot write video file %s: %s", partPath.c_str(), avErrorText(rc).c_str());
        closeAndRemove();
        return false;
    }
    picture.reset(av_frame_alloc());
    packet.reset(av_packet_alloc());
    if (!picture || !packet) {
        closeAndRemove();
        return false;
    }
    picture->format = AV_PIX_FMT_YUV420P;
    picture->width = s.width;
    picture->height = s.height;
    rc = av_frame_get_buffer(picture.get(), 0);
    if (rc < 0) {
        NR_LOG(LOG_ERROR, "cannot allocate a video frame: %s", avErrorText(rc).c_str());
        closeAndRemove();
        return false;
    }
    return true;
}

AVFrame* Mp4Encoder::frame() {
    // The encoder may still hold the previous picture; writing then needs a fresh buffer.
    if (picture && av_frame_make_writable(picture.get()) < 0) return nullptr;
    return picture.get();
}

bool Mp4Encoder::encodeFrame(int64_t pts, int64_t duration, bool forceKey) {
    if (!ctx || !picture) return false;
    picture->pts = av_rescale_q(pts, timeBase, ctx->time_base);
    picture->pict_type = forceKey ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
    pending.push_back({pts, duration});
    const int rc = avcodec_send_frame(ctx.get(), picture.get());
    if (rc < 0) {
        NR_LOG(LOG_ERROR, "video encoding failed: %s", avErrorText(rc).c_str());
        return false;
    }
    return drain(false);
}

bool Mp4Encoder::drain(bool flushing) {
    for (;;) {
        int rc = avcodec_receive_packet(ctx.get(), packet.get());
        if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return !flushing || rc == AVERROR_EOF;
        if (rc < 0) {
            NR_LOG(LOG_ERROR, "video encoding failed: %s", avErrorText(rc).c_str());
            return false;
        }
        if (!pending.empty()) {
            packet->pts = packet->dts = pending.front().pts;
            packet->duration = pending.front().duration;
            pending.pop_front();
        } else {
            packet->pts = av_rescale_q(packet->pts, ctx->time_base, timeBase);
            packet->dts = av_rescale_q(packet->dts, ctx->time_base, timeBase);
            packet->duration = 0;
        }
        av_packet_rescale_ts(packet.get(), timeBase, stream->time_base);
        packet->stream_index = stream->index;
        rc = av_write_frame(out, packet.get());
        av_packet_unref(packet.get());
        if (rc < 0) {
            NR_LOG(LOG_ERROR, "cannot write video file %s: %s", partPath.c_str(), avErrorText(rc).c_str());
            return false;
        }
        ++frames;
    }
}

bool Mp4Encoder::finish() {
    if (!ctx || !out) return false;
    int rc = avcodec_send_frame(ctx.get(), nullptr);
    if (rc < 0 || !drain(true)) {
        closeAndRemove();
        return false;
    }
    if (frames == 0) {
        NR_LOG(LOG_ERROR, "video %s has no frames; not written", finalPath.c_str());
        closeAndRemove();
        return false;
    }
    rc = av_write_trailer(out);
    const int closeRc = avio_closep(&out->pb);
    if (rc < 0 || closeRc < 0) {
        NR_LOG(LOG_ERROR, "cannot finish video file %s: %s", partPath.c_str(),
               avErrorText(rc < 0 ? rc : closeRc).c_str());
        closeAndRemove();
        return false;
    }
    avformat_free_context(out);
    out = nullptr;
    ctx.reset();
    if (!file.commit()) {
        NR_LOG(LOG_ERROR, "cannot finish video file %s: %s", finalPath.c_str(), file.reason().c_str());
        return false;
    }
    return true;
}

void Mp4Encoder::abort() {
    if (out || ctx || file.isOpen()) closeAndRemove();
}

void Mp4Encoder::closeAndRemove() {
    if (out) {
        if (out->pb) avio_closep(&out->pb);
        avformat_free_context(out);
        out = nullptr;
    }
    stream = nullptr;
    ctx.reset();
    picture.reset();
    packet.reset();
    pending.clear();
    file.discard();
}

} // namespace norvale::video
