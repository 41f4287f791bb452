#include "norvale/ApsFileReader.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "formats/aedat/Aedat4Frames.h"
#include "formats/aedat/AedatPackets.h"
#include "norvale/Logger.h"
#include "norvale/SafeOutputFile.h"
#include "video/AvSupport.h"

namespace norvale {

namespace {

constexpr AVRational kMicroseconds{1, 1000000};

struct RawEntry {
    int64_t pts;
    bool key;
};

} // namespace

class ApsFileReader::Impl {
public:
    bool open(const std::string& path);
    bool openAedat4(const std::string& path);
    bool buildIndexFromContainer();
    bool buildIndexByScanning();
    void finishIndex(std::vector<RawEntry>& raw);
    bool decodeNext();
    bool convert(ApsFrame& out);

    std::string path;
    std::unique_ptr<AVFormatContext, video::FormatInputCloser> fmt;
    std::unique_ptr<AVCodecContext, video::CodecContextFreer> dec;
    std::unique_ptr<AVPacket, video::PacketFreer> packet;
    std::unique_ptr<AVFrame, video::FrameFreer> decoded;
    std::unique_ptr<SwsContext, video::SwsFreer> toBgr; // rebuilt only when the source format changes
    AVStream* stream = nullptr;
    std::vector<ApsFrameIndexEntry> index;
    int width = 0;
    int height = 0;
    size_t next = 0;          // index of the frame readNextFrame returns
    bool mustSeek = true;     // the decoder is not positioned before `next`
    bool flushed = false;     // end of the packets reached; the decoder is draining
    // An AEDAT 4 file's frame stream instead of a video; start is its first frame's event time.
    std::unique_ptr<detail::Aedat4Frames> aedat;
    uint64_t start = 0;
};

// The frames' times become APS times from the first frame, as a fusion recording's video counts
// them, and start is where the events' timeline puts that first frame.
bool ApsFileReader::Impl::openAedat4(const std::string& p) {
    path = p;
    auto frames = std::make_unique<detail::Aedat4Frames>();
    std::string problem;
    if (!frames->open(p, problem)) {
        NR_LOG(LOG_ERROR, "APS frames of %s do not open: %s", p.c_str(), problem.c_str());
        return false;
    }
    width = frames->width();
    height = frames->height();
    const auto& list = frames->frames();
    start = uint64_t(list.front().time);
    index.resize(list.size());
    for (size_t i = 0; i < list.size(); ++i) {
        index[i].pts = list[i].time;
        index[i].timestamp = uint64_t(list[i].time) - start;
        index[i].keyFrame = uint32_t(i); // every frame stands alone
    }
    aedat = std::move(frames);
    return true;
}

namespace {

// An AEDAT 4 file starts with its version line; anything else is handed to FFmpeg.
bool startsAsAedat4(const std::string& path) {
    std::string problem;
    const int fd = openRegularFile(path, problem);
    if (fd < 0) return false;
    char head[detail::aedat::kVersionLineSize] = {};
    const bool match = ::pread(fd, head, sizeof(head), 0) == ssize_t(sizeof(head)) &&
                       std::memcmp(head, detail::aedat::kVersionLine, sizeof(head)) == 0;
    ::close(fd);
    return match;
}

} // namespace

bool ApsFileReader::Impl::open(const std::string& p) {
    video::initAvLogging();
    path = p;
    // A FIFO or device would make FFmpeg wait or read forever: only a regular file is opened, and
    // FFmpeg reopens that very file through the descriptor, so it cannot be swapped in between.
    std::string problem;
    const int fd = openRegularFile(path, problem);
    if (fd < 0) {
        NR_LOG(LOG_ERROR, "APS video %s does not open: %s", path.c_str(), problem.c_str());
        return false;
    }
    const std::string byDescriptor = "/proc/self/fd/" + std::to_string(fd);
    AVFormatContext* raw = nullptr;
    int rc = avformat_open_input(&raw, ::access(byDescriptor.c_str(), R_OK) == 0 ? byDescriptor.c_str() : path.c_str(),
                                 nullptr, nullptr);
    ::close(fd);
    if (rc < 0) {
        NR_LOG(LOG_ERROR, "APS video %s does not open: %s", path.c_str(), video::avErrorText(rc).c_str());
        return false;
    }
    fmt.reset(raw);
    rc = avformat_find_stream_info(raw, nullptr);
    if (rc < 0) {
        NR_LOG(LOG_ERROR, "APS video %s is not readable: %s", path.c_str(), video::avErrorText(rc).c_str());
        return false;
    }
    const AVCodec* codec = nullptr;
    const int si = av_find_best_stream(raw, AVMEDIA_TYPE_VIDEO, -1, -1, &codec, 0);
    if (si < 0 || !codec) {
        NR_LOG(LOG_ERROR, "APS video %s holds no decodable video stream", path.c_str());
        return false;
    }
    stream = raw->streams[si];
    for (unsigned i = 0; i < raw->nb_streams; ++i)
        if (int(i) != si) raw->streams[i]->discard = AVDISCARD_ALL;
    dec.reset(avcodec_alloc_context3(codec));
    if (!dec || avcodec_parameters_to_context(dec.get(), stream->codecpar) < 0) return false;
    // Slice threads only: frame threads would hold back each frame until several more are decoded,
    // which costs more than it gains when a seek decodes a few frames from a key frame.
    dec->thread_count = 0;
    dec->thread_type = FF_THREAD_SLICE;
    rc = avcodec_open2(dec.get(), codec, nullptr);
    if (rc < 0) {
        NR_LOG(LOG_ERROR, "APS video %s: decoder does not open: %s", path.c_str(), video::avErrorText(rc).c_str());
        return false;
    }
    width = stream->codecpar->width;
    height = stream->codecpar->height;
    packet.reset(av_packet_alloc());
    decoded.reset(av_frame_alloc());
    if (!packet || !decoded || width <= 0 || height <= 0) {
        NR_LOG(LOG_ERROR, "APS video %s has no frame size", path.c_str());
        return false;
    }
    if (!buildIndexFromContainer() && !buildIndexByScanning()) return false;
    if (index.empty()) {
        NR_LOG(LOG_ERROR, "APS video %s holds no frames", path.c_str());
        return false;
    }
    return true;
}

// MP4 files list every sample in their header; without reordering (no B-frames) that list is the
// presentation order, and reading it costs no I/O.
bool ApsFileReader::Impl::buildIndexFromContainer() {
    const int n = avformat_index_get_entries_count(stream);
    if (n <= 0 || stream->codecpar->video_delay > 0 || !std::strstr(fmt->iformat->name, "mp4")) return false;
    std::vector<RawEntry> raw;
    raw.reserve(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) {
        const AVIndexEntry* e = avformat_index_get_entry(stream, i);
        if (!e || (e->flags & AVINDEX_DISCARD_FRAME)) continue;
        raw.push_back({e->timestamp, (e->flags & AVINDEX_KEYFRAME) != 0});
    }
    finishIndex(raw);
    return true;
}

// Other containers, or streams with reordered frames: read every packet header once.
bool ApsFileReader::Impl::buildIndexByScanning() {
    std::vector<RawEntry> raw;
    while (av_read_frame(fmt.get(), packet.get()) >= 0) {
        if (packet->stream_index == stream->index) {
            const int64_t pts = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
            if (pts != AV_NOPTS_VALUE) raw.push_back({pts, (packet->flags & AV_PKT_FLAG_KEY) != 0});
        }
        av_packet_unref(packet.get());
    }
    std::sort(raw.begin(), raw.end(), [](const RawEntry& a, const RawEntry& b) { return a.pts < b.pts; });
    finishIndex(raw);
    return true;
}

void ApsFileReader::Impl::finishIndex(std::vector<RawEntry>& raw) {
    index.clear();
    index.reserve(raw.size());
    uint32_t lastKey = 0;
    for (const RawEntry& r : raw) {
        if (!index.empty() && r.pts <= index.back().pts) continue; // duplicate times: keep the first
        ApsFrameIndexEntry e;
        e.pts = r.pts;
        e.timestamp = r.pts > 0 ? static_cast<uint64_t>(av_rescale_q(r.pts, stream->time_base, kMicroseconds)) : 0;
        if (r.key) lastKey = static_cast<uint32_t>(index.size());
        e.keyFrame = lastKey;
        index.push_back(e);
    }
}

// The next decoded picture in presentation order; false at the end.
bool ApsFileReader::Impl::decodeNext() {
    for (;;) {
        int rc = avcodec_receive_frame(dec.get(), decoded.get());
        if (rc == 0) return true;
        if (rc == AVERROR_EOF) return false;
        if (rc != AVERROR(EAGAIN)) {
            NR_LOG(LOG_ERROR, "APS video %s: damaged frame: %s", path.c_str(), video::avErrorText(rc).c_str());
            return false;
        }
        if (flushed) return false;
        rc = av_read_frame(fmt.get(), packet.get());
        if (rc < 0) {
            flushed = true;
            avcodec_send_packet(dec.get(), nullptr);
            continue;
        }
        if (packet->stream_index == stream->index) {
            rc = avcodec_send_packet(dec.get(), packet.get());
            if (rc < 0 && rc != AVERROR(EAGAIN))
                NR_LOG(LOG_WARN, "APS video %s: skipped a damaged packet: %s", path.c_str(),
                       video::avErrorText(rc).c_str());
        }
        av_packet_unref(packet.get());
    }
}

bool ApsFileReader::Impl::convert(ApsFrame& out) {
    const AVFrame* f = decoded.get();
    toBgr.reset(sws_getCachedContext(toBgr.release(), f->width, f->height, AVPixelFormat(f->format), f->width,
                                     f->height, AV_PIX_FMT_BGR24, SWS_BILINEAR, nullptr, nullptr, nullptr));
    if (!toBgr) {
        NR_LOG(LOG_ERROR, "APS video %s: no converter from pixel format %d", path.c_str(), f->format);
        return false;
    }
    // Honour the file's colour matrix and range (ours are BT.601 limited range).
    int* inv = nullptr;
    int* table = nullptr;
    int srcRange = 0, dstRange = 0, brightness = 0, contrast = 0, saturation = 0;
    if (sws_getColorspaceDetails(toBgr.get(), &inv, &srcRange, &table, &dstRange, &brightness, &contrast,
                                 &saturation) >= 0) {
        if (f->color_range == AVCOL_RANGE_JPEG) srcRange = 1;
        sws_setColorspaceDetails(toBgr.get(), sws_getCoefficients(f->colorspace), srcRange, table, dstRange,
                                 brightness, contrast, saturation);
    }
    if (out.width() != f->width || out.height() != f->height || !out.data()) out = ApsFrame(f->width, f->height, 0, 0);
    uint8_t* dst[1] = {out.data()};
    const int dstStride[1] = {f->width * 3};
    sws_scale(toBgr.get(), f->data, f->linesize, 0, f->height, dst, dstStride);
    const int64_t pts = f->best_effort_timestamp != AV_NOPTS_VALUE ? f->best_effort_timestamp : f->pts;
    out.timestamp = pts > 0 ? static_cast<uint64_t>(av_rescale_q(pts, stream->time_base, kMicroseconds)) : 0;
    out.auxTimestamp = 0;
    return true;
}

ApsFileReader::ApsFileReader(std::unique_ptr<Impl> i) : impl(std::move(i)) {}
ApsFileReader::~ApsFileReader() = default;

std::unique_ptr<ApsFileReader> ApsFileReader::createFileReader(const std::string& path) {
    auto impl = std::make_unique<Impl>();
    if (!(startsAsAedat4(path) ? impl->openAedat4(path) : impl->open(path))) return nullptr;
    return std::unique_ptr<ApsFileReader>(new ApsFileReader(std::move(impl)));
}

bool ApsFileReader::holdsFrames(const std::string& path) {
    if (!startsAsAedat4(path)) return false;
    detail::Aedat4Frames frames;
    std::string problem;
    return frames.open(path, problem, true);
}

bool ApsFileReader::isOpened() const { return impl->fmt != nullptr || impl->aedat != nullptr; }
int ApsFileReader::getWidth() const { return impl->width; }
int ApsFileReader::getHeight() const { return impl->height; }
size_t ApsFileReader::getFrameCount() const { return impl->index.size(); }
uint64_t ApsFileReader::getStartTimestamp() const { return impl->start; }

void ApsFileReader::getFrameIndex(std::vector<ApsFrameIndexEntry>& index) const { index = impl->index; }

bool ApsFileReader::seekFrame(size_t i) {
    Impl& d = *impl;
    if (i >= d.index.size()) {
        NR_LOG(LOG_ERROR, "APS video %s: no frame %zu (it has %zu)", d.path.c_str(), i, d.index.size());
        return false;
    }
    // Decoding on from where we are beats a seek while the target lies ahead in the same run of
    // frames after one key frame.
    const bool aheadInSameRun = !d.mustSeek && i >= d.next && d.index[i].keyFrame <= d.next;
    if (!aheadInSameRun) d.mustSeek = true;
    d.next = i;
    return true;
}

bool ApsFileReader::readNextFrame(ApsFrame& frame) {
    Impl& d = *impl;
    if (d.next >= d.index.size()) return false;
    const ApsFrameIndexEntry& target = d.index[d.next];
    if (d.aedat) {
        std::string problem;
        if (!d.aedat->read(d.next, frame, problem)) {
            NR_LOG(LOG_ERROR, "APS frames: %s", problem.c_str());
            return false;
        }
        frame.timestamp = target.timestamp;
        frame.auxTimestamp = 0;
        ++d.next;
        return true;
    }
    if (d.mustSeek) {
        const int64_t keyPts = d.index[target.keyFrame].pts;
        const int rc = av_seek_frame(d.fmt.get(), d.stream->index, keyPts, AVSEEK_FLAG_BACKWARD);
        if (rc < 0) {
            NR_LOG(LOG_ERROR, "APS video %s: seek to frame %u failed: %s", d.path.c_str(), target.keyFrame,
                   video::avErrorText(rc).c_str());
            return false;
        }
        avcodec_flush_buffers(d.dec.get());
        d.flushed = false;
        d.mustSeek = false;
    }
    // Frames before the target are decoded (they are references) but not converted.
    for (;;) {
        if (!d.decodeNext()) {
            d.mustSeek = true;
            if (d.next < d.index.size())
                NR_LOG(LOG_ERROR, "APS video %s: frame %zu cannot be decoded", d.path.c_str(), d.next);
            return false;
        }
        const int64_t pts = d.decoded->best_effort_timestamp;
        if (pts != AV_NOPTS_VALUE && pts < target.pts) continue;
        // The frame that arrived may lie beyond the target when frames are missing.
        auto it = std::lower_bound(d.index.begin(), d.index.end(), pts,
                                   [](const ApsFrameIndexEntry& e, int64_t v) { return e.pts < v; });
        d.next = static_cast<size_t>(it - d.index.begin()) + 1;
        return d.convert(frame);
    }
}

bool ApsFileReader::readFrameByTimestamp(uint64_t ts, ApsFrame& frame) {
    Impl& d = *impl;
    auto it = std::upper_bound(d.index.begin(), d.index.end(), ts,
                               [](uint64_t v, const ApsFrameIndexEntry& e) { return v < e.timestamp; });
    if (it == d.index.begin()) {
        NR_LOG(LOG_DEBUG, "APS video %s: no frame at or before %llu", d.path.c_str(), (unsigned long long)ts);
        return false;
    }
    return seekFrame(static_cast<size_t>(it - d.index.begin()) - 1) && readNextFrame(frame);
}

} // namespace norvale
