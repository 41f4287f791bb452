#pragma once

// Small helpers around FFmpeg's C interface shared by the video reader, writer and exporter.
#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

namespace norvale::video {

// Text of an FFmpeg error code.
std::string avErrorText(int code);

// Keeps FFmpeg's own console output to errors; called before any libav use (thread-safe, once).
void initAvLogging();

struct FormatInputCloser {
    void operator()(AVFormatContext* c) const { avformat_close_input(&c); }
};
struct CodecContextFreer {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct FrameFreer {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct PacketFreer {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct SwsFreer {
    void operator()(SwsContext* s) const { sws_freeContext(s); }
};

// Tags the limited-range BT.601 colours our encoders write, so players decode them alike.
void tagBt601(AVCodecContext* c);

} // namespace norvale::video
