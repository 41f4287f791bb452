#include "video/Mp4Encoder.h"

#include <cerrno>
#include <cstdio>

#include <unistd.h>

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
        // A growing file holds what the encoder gave back: no frame may wait inside it.
        if (growingFd >= 0) av_opt_set(c->priv_data, "tune", "zerolatency", 0);
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
    return openContainer(s);
}

bool Mp4Encoder::open(const Mp4GrowingOutput& output, const Mp4EncoderSettings& s) {
    initAvLogging();
    abort();
    if (output.fd < 0) return false;
    finalPath = partPath = output.name;
    growingFd = output.fd;
    return openContainer(s);
}

namespace {

// The growing file's bytes go straight to the caller's descriptor; a short write is retried, an
// error ends the file (FFmpeg keeps it in the context's error field).
#if LIBAVFORMAT_VERSION_MAJOR < 61
int writeToDescriptor(void* opaque, uint8_t* buf, int size) {
#else
int writeToDescriptor(void* opaque, const uint8_t* buf, int size) {
#endif
    const int fd = *static_cast<const int*>(opaque);
    int done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd, buf + done, size_t(size - done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return AVERROR(n < 0 ? errno : EIO);
        done += int(n);
    }
    return size;
}

} // namespace

bool Mp4Encoder::openContainer(const Mp4EncoderSettings& s) {
    timeBase = s.timeBase;
    frames = 0;
    pending.clear();

    int rc = avformat_alloc_output_context2(&out, nullptr, "mp4", partPath.c_str());
    if (rc < 0 || !out) {
        NR_LOG(LOG_ERROR, "cannot set up an MP4 file: %s", avErrorText(rc).c_str());
        out = nullptr;
        closeAndRemove();
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
        NR_LOG(LOG_ERROR, "cannot add a video stream to %s", finalPath.c_str());
        closeAndRemove();
        return false;
    }
    stream->time_base = timeBase;
    stream->avg_frame_rate = s.frameRate;
    AVDictionary* muxerOptions = nullptr;
    av_dict_set(&muxerOptions, "movie_timescale", "1000000", 0);
    if (growingFd >= 0) {
        constexpr int kBufferSize = 64 * 1024;
        auto* buffer = static_cast<unsigned char*>(av_malloc(kBufferSize));
        out->pb = buffer ? avio_alloc_context(buffer, kBufferSize, 1, &growingFd, nullptr, writeToDescriptor, nullptr)
                         : nullptr;
        if (!out->pb) {
            av_free(buffer);
            av_dict_free(&muxerOptions);
            NR_LOG(LOG_ERROR, "cannot write video file %s: out of memory", finalPath.c_str());
            closeAndRemove();
            return false;
        }
        // The header (with an empty sample table) first, then one fragment per frame, cut by
        // drain(); nothing written is ever rewritten, so every prefix of the file reads.
        // frag_discont: the first fragment starts at the first frame's own time (there is no edit
        // list to carry it: the header is written before any frame).
        av_dict_set(&muxerOptions, "movflags", "frag_custom+empty_moov+default_base_moof+frag_discont", 0);
        av_dict_set(&muxerOptions, "use_editlist", "0", 0);
        out->avoid_negative_ts = AVFMT_AVOID_NEG_TS_MAKE_NON_NEGATIVE; // not "start at zero"

    } else {
        rc = avio_open(&out->pb, partPath.c_str(), AVIO_FLAG_WRITE);
        if (rc < 0) {
            av_dict_free(&muxerOptions);
            NR_LOG(LOG_ERROR, "cannot create video file %s: %s", partPath.c_str(), avErrorText(rc).c_str());
            closeAndRemove();
            return false;
        }
        // A first pts above 0 is kept by an initial empty edit, which is only exact in a movie
        // time scale of microseconds.
        av_dict_set(&muxerOptions, "use_editlist", "1", 0);
    }
    rc = avformat_write_header(out, &muxerOptions);
    av_dict_free(&muxerOptions);
    if (rc >= 0 && growingFd >= 0) {
        avio_flush(out->pb);
        if (out->pb->error < 0) rc = out->pb->error;
    }
    if (rc < 0) {
        NR_LOG(LOG_ERROR, "cannot write video file %s: %s", partPath.c_str(), avErrorText(rc).c_str());
        closeAndRemove();
        return false;
    }
    picture.reset(av_frame_alloc());
    packet.reset(av_packet_alloc());
    held.reset(av_packet_alloc());
    if (!picture || !packet || !held) {
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
        if (growingFd >= 0) {
            // A fragment states how long its frame lasts, which the next frame tells: each frame
            // is written when the next one comes, with the time up to it.
            if (held->size > 0 && packet->dts > held->dts) held->duration = packet->dts - held->dts;
            rc = held->size > 0 ? writeHeld() : 0;
            av_packet_move_ref(held.get(), packet.get());
        } else {
            rc = av_write_frame(out, packet.get());
            av_packet_unref(packet.get());
        }
        if (rc < 0) {
            NR_LOG(LOG_ERROR, "cannot write video file %s: %s", partPath.c_str(), avErrorText(rc).c_str());
            return false;
        }
        ++frames;
    }
}

int Mp4Encoder::writeHeld() {
    int rc = av_write_frame(out, held.get());
    av_packet_unref(held.get());
    if (rc >= 0) rc = av_write_frame(out, nullptr); // its fragment goes to the file now
    avio_flush(out->pb);
    if (rc >= 0 && out->pb->error < 0) rc = out->pb->error;
    return rc;
}

bool Mp4Encoder::finish(int64_t endPts) {
    if (!ctx || !out) return false;
    int rc = avcodec_send_frame(ctx.get(), nullptr);
    const bool drained = rc >= 0 && drain(true);
    if (drained && endPts >= 0 && held && held->size > 0) {
        const int64_t end = av_rescale_q(endPts, timeBase, stream->time_base);
        if (end > held->dts) held->duration = end - held->dts;
    }
    if (!drained || (held && held->size > 0 && writeHeld() < 0)) {
        closeAndRemove();
        return false;
    }
    if (frames == 0) {
        NR_LOG(LOG_ERROR, "video %s has no frames; not written", finalPath.c_str());
        closeAndRemove();
        return false;
    }
    rc = av_write_trailer(out);
    const int closeRc = closeOutput();
    if (rc < 0 || closeRc < 0) {
        NR_LOG(LOG_ERROR, "cannot finish video file %s: %s", partPath.c_str(),
               avErrorText(rc < 0 ? rc : closeRc).c_str());
        closeAndRemove();
        return false;
    }
    avformat_free_context(out);
    out = nullptr;
    ctx.reset();
    if (growingFd >= 0) {
        growingFd = -1;
        return true;
    }
    if (!file.commit()) {
        NR_LOG(LOG_ERROR, "cannot finish video file %s: %s", finalPath.c_str(), file.reason().c_str());
        return false;
    }
    return true;
}

void Mp4Encoder::abort() {
    // A growing file keeps every frame the encoder was given.
    if (out && ctx && growingFd >= 0 && avcodec_send_frame(ctx.get(), nullptr) >= 0 && drain(true) && held->size > 0)
        writeHeld();
    if (out || ctx || file.isOpen() || growingFd >= 0) closeAndRemove();
}

int Mp4Encoder::closeOutput() {
    if (!out || !out->pb) return 0;
    if (growingFd < 0) return avio_closep(&out->pb);
    avio_flush(out->pb);
    const int rc = out->pb->error;
    av_freep(&out->pb->buffer);
    avio_context_free(&out->pb);
    return rc < 0 ? rc : 0;
}

void Mp4Encoder::closeAndRemove() {
    if (out) {
        closeOutput();
        avformat_free_context(out);
        out = nullptr;
    }
    stream = nullptr;
    ctx.reset();
    picture.reset();
    packet.reset();
    held.reset();
    pending.clear();
    growingFd = -1; // the caller's: what reached it stays
    file.discard();
}

} // namespace norvale::video
