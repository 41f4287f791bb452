#include "norvale/VideoExporter.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>

#include "norvale/Logger.h"
#include "video/EventFrameRenderer.h"
#include "video/Mp4Encoder.h"

namespace norvale {

namespace {

using Clock = std::chrono::steady_clock;

// Longest stretch of event time asked of the source at once: keeps memory bounded at any event rate
// and any frame step (fast-forward exports have long steps).
constexpr uint64_t kMaxReadSpanUs = 40000;
constexpr uint64_t kMaxAccTimeUs = 3600ull * 1000000; // keeps window arithmetic far from overflow

double secondsSince(Clock::time_point t0) {
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

bool validOptions(const VideoExportOptions& o) {
    auto evenInRange = [](int v) { return v >= 16 && v <= 8192 && v % 2 == 0; };
    if (o.fps < 1 || o.fps > 240) {
        NR_LOG(LOG_ERROR, "video export: frame rate %d is outside 1..240", o.fps);
        return false;
    }
    if (o.accTimeUs == 0 || o.accTimeUs > kMaxAccTimeUs) {
        NR_LOG(LOG_ERROR, "video export: the accumulation time must be within 1..%llu us",
               (unsigned long long)kMaxAccTimeUs);
        return false;
    }
    if (!(o.slowMotion >= 0.001 && o.slowMotion <= 1000.0)) {
        NR_LOG(LOG_ERROR, "video export: slow-motion factor %g is outside 0.001..1000", o.slowMotion);
        return false;
    }
    if (!evenInRange(o.width) || !evenInRange(o.height)) {
        NR_LOG(LOG_ERROR, "video export: frame size %dx%d must be even and within 16..8192", o.width,
               o.height);
        return false;
    }
    return true;
}

// Feeds the events of [begin, end) to fn in pieces; false on a read error.
template <typename Fn>
bool forEachPiece(const EventRangeSource& source, uint64_t begin, uint64_t end, double& readSeconds, Fn fn) {
    while (begin < end) {
        const uint64_t span = std::min(end - begin, kMaxReadSpanUs);
        const auto t0 = Clock::now();
        auto events = source.readEvents(begin, span);
        readSeconds += secondsSince(t0);
        if (!events) {
            NR_LOG(LOG_ERROR, "video export: reading the events at %llu failed", (unsigned long long)begin);
            return false;
        }
        fn(events->data(), events->data() + events->size());
        begin += span;
    }
    return true;
}

} // namespace

bool applyColorScheme(const std::string& name, VideoExportOptions& options) {
    struct Scheme {
        const char* name;
        VideoRgb on, off, background;
    };
    static const Scheme schemes[] = {
        {"gray", {255, 255, 255}, {0, 0, 0}, {112, 112, 112}},
        {"redblue", {255, 0, 0}, {0, 0, 255}, {112, 112, 112}},
        {"redgreen", {255, 0, 0}, {0, 255, 0}, {112, 112, 112}},
        {"dark", {255, 255, 255}, {64, 126, 200}, {30, 37, 52}},
        {"light", {0, 0, 0}, {64, 126, 201}, {255, 255, 255}},
    };
    std::string lower(name);
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
    for (const Scheme& s : schemes) {
        if (lower == s.name) {
            options.onColor = s.on;
            options.offColor = s.off;
            options.backgroundColor = s.background;
            return true;
        }
    }
    return false;
}

bool exportEventsToVideo(const EventRangeSource& source, uint64_t start, uint64_t end, const std::string& path,
                         const VideoExportOptions& options, VideoExportStats* stats) {
    if (!validOptions(options)) return false;
    if (!source.readEvents) {
        NR_LOG(LOG_ERROR, "video export: no event source");
        return false;
    }
    if (start > end) {
        NR_LOG(LOG_ERROR, "video export: start %llu is after end %llu", (unsigned long long)start,
               (unsigned long long)end);
        return false;
    }
    if (end < source.firstTimestamp || start > source.lastTimestamp) {
        NR_LOG(LOG_ERROR, "video export: range %llu..%llu lies outside the recording (%llu..%llu)",
               (unsigned long long)start, (unsigned long long)end, (unsigned long long)source.firstTimestamp,
               (unsigned long long)source.lastTimestamp);
        return false;
    }
    start = std::max(start, source.firstTimestamp);
    end = std::min({end, source.lastTimestamp, UINT64_MAX - kMaxAccTimeUs}); // the last window ends at end + 1
    if (start > end) {
        NR_LOG(LOG_ERROR, "video export: timestamps too large");
        return false;
    }

    const double step = 1e6 / (options.fps * options.slowMotion); // event time per frame (us)
    const uint64_t frameCount =
        std::max<uint64_t>(1, static_cast<uint64_t>(std::ceil(double(end - start) / step - 1e-6)));
    // Windows that do not overlap are counted afresh; overlapping ones slide (events in, events out).
    const bool sliding = double(options.accTimeUs) > std::floor(step);

    video::Mp4EncoderSettings settings;
    settings.width = options.width;
    settings.height = options.height;
    settings.timeBase = AVRational{1, options.fps};
    settings.frameRate = AVRational{options.fps, 1};
    settings.gopSize = 2 * options.fps;
    settings.allowH264 = options.codec == VideoCodecChoice::Auto;
    // Event frames are noise-like: the cheap preset and a moderate quality keep exports fast.
    settings.x264Preset = "ultrafast";
    settings.x264Crf = 28;
    video::Mp4Encoder encoder;
    if (!encoder.open(path, settings)) return false;
    video::EventFrameRenderer renderer(options.width, options.height, options.onColor, options.offColor,
                                       options.backgroundColor);
    VideoExportStats local;
    local.codec = encoder.codecName();
    auto count = [&renderer](const Event2D* b, const Event2D* e) { renderer.add(b, e); };
    auto uncount = [&renderer](const Event2D* b, const Event2D* e) { renderer.remove(b, e); };

    uint64_t head = start; // events before head are counted
    uint64_t tail = start; // events before tail have been taken out again
    for (uint64_t k = 0; k < frameCount; ++k) {
        const uint64_t frameEnd =
            k + 1 == frameCount ? end + 1 : start + static_cast<uint64_t>(std::llround(double(k + 1) * step));
        const uint64_t windowBegin = frameEnd > start + options.accTimeUs ? frameEnd - options.accTimeUs : start;
        auto t0 = Clock::now();
        if (sliding) {
            if (!forEachPiece(source, head, frameEnd, local.readSeconds, count) ||
                !forEachPiece(source, tail, std::max(tail, windowBegin), local.readSeconds, uncount)) {
                return false;
            }
            tail = std::max(tail, windowBegin);
        } else if (!forEachPiece(source, windowBegin, frameEnd, local.readSeconds, count)) {
            return false;
        }
        head = frameEnd;
        AVFrame* picture = encoder.frame();
        if (!picture) {
            NR_LOG(LOG_ERROR, "video export: no frame buffer");
            return false;
        }
        renderer.render(picture->data[0], picture->linesize[0], picture->data[1], picture->linesize[1],
                        picture->data[2], picture->linesize[2], !sliding);
        local.renderSeconds += secondsSince(t0);
        t0 = Clock::now();
        if (!encoder.encodeFrame(static_cast<int64_t>(k), 1, false)) return false;
        local.encodeSeconds += secondsSince(t0);
        ++local.frames;
        if (options.progress && !options.progress(double(k + 1) / double(frameCount))) {
            NR_LOG(LOG_INFO, "video export to %s cancelled", path.c_str());
            return false;
        }
    }
    const auto t0 = Clock::now();
    const bool ok = encoder.finish();
    local.encodeSeconds += secondsSince(t0);
    local.renderSeconds -= local.readSeconds;
    if (stats) *stats = local;
    if (ok) {
        NR_LOG(LOG_INFO, "exported %llu frames (%s) to %s", (unsigned long long)local.frames, local.codec.c_str(),
               path.c_str());
    }
    return ok;
}

} // namespace norvale
