#include "VideoTestUtil.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

namespace testutil {

DecodedVideo decodeVideo(const std::string& path, bool keepPixels) {
    DecodedVideo v;
    AVFormatContext* fmt = nullptr;
    if (avformat_open_input(&fmt, path.c_str(), nullptr, nullptr) < 0) return v;
    const AVCodec* codec = nullptr;
    AVCodecContext* dec = nullptr;
    AVPacket* pkt = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    SwsContext* sws = nullptr;
    int si = -1;
    if (avformat_find_stream_info(fmt, nullptr) >= 0 &&
        (si = av_find_best_stream(fmt, AVMEDIA_TYPE_VIDEO, -1, -1, &codec, 0)) >= 0) {
        AVStream* st = fmt->streams[si];
        v.codec = avcodec_get_name(st->codecpar->codec_id);
        v.width = st->codecpar->width;
        v.height = st->codecpar->height;
        if (st->duration != AV_NOPTS_VALUE) v.durationSeconds = st->duration * av_q2d(st->time_base);
        dec = avcodec_alloc_context3(codec);
        avcodec_parameters_to_context(dec, st->codecpar);
        if (avcodec_open2(dec, codec, nullptr) >= 0) {
            v.ok = true;
            auto take = [&]() {
                while (avcodec_receive_frame(dec, frame) == 0) {
                    v.ptsUs.push_back(av_rescale_q(frame->best_effort_timestamp, st->time_base, AVRational{1, 1000000}));
                    v.key.push_back(frame->key_frame != 0);
                    if (keepPixels) {
                        sws = sws_getCachedContext(sws, frame->width, frame->height, AVPixelFormat(frame->format),
                                                   frame->width, frame->height, AV_PIX_FMT_RGB24, SWS_BILINEAR,
                                                   nullptr, nullptr, nullptr);
                        std::vector<uint8_t> rgb(size_t(frame->width) * frame->height * 3);
                        uint8_t* dst[1] = {rgb.data()};
                        int stride[1] = {frame->width * 3};
                        sws_scale(sws, frame->data, frame->linesize, 0, frame->height, dst, stride);
                        v.rgb.push_back(std::move(rgb));
                    }
                }
            };
            while (av_read_frame(fmt, pkt) >= 0) {
                if (pkt->stream_index == si && avcodec_send_packet(dec, pkt) >= 0) take();
                av_packet_unref(pkt);
            }
            avcodec_send_packet(dec, nullptr);
            take();
        }
    }
    sws_freeContext(sws);
    av_frame_free(&frame);
    av_packet_free(&pkt);
    avcodec_free_context(&dec);
    avformat_close_input(&fmt);
    return v;
}

std::array<double, 3> regionMean(const DecodedVideo& video, size_t frame, int x0, int y0, int w, int h) {
    std::array<double, 3> sum{0, 0, 0};
    const std::vector<uint8_t>& rgb = video.rgb.at(frame);
    for (int y = y0; y < y0 + h; ++y)
        for (int x = x0; x < x0 + w; ++x)
            for (int c = 0; c < 3; ++c) sum[c] += rgb[(size_t(y) * video.width + x) * 3 + c];
    for (double& s : sum) s /= double(w) * h;
    return sum;
}

bool fileExists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

norvale::EventRangeSource MemorySource::source(uint64_t first, uint64_t last) {
    norvale::EventRangeSource s;
    s.firstTimestamp = first;
    s.lastTimestamp = last;
    s.readEvents = [this](uint64_t start, uint64_t duration) {
        ++calls;
        largestSpan = std::max(largestSpan, duration);
        auto byTime = [](const norvale::Event2D& e, uint64_t t) { return e.timestamp < t; };
        auto b = std::lower_bound(events.begin(), events.end(), start, byTime);
        auto e = std::lower_bound(b, events.end(), start + duration, byTime);
        return std::make_shared<const std::vector<norvale::Event2D>>(b, e);
    };
    return s;
}

} // namespace testutil
