#include "norvale/VideoExporter.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <thread>

#include "norvale/DvsFileReader.h"
#include "norvale/EventWindow.h"
#include "norvale/Logger.h"
#include "video/EventCounter.h"
#include "video/EventFrameRenderer.h"
#include "video/Mp4Encoder.h"
#include "video/PlaneRing.h"

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

// What the source has said about empty stretches: no event lies in [from, until). Asked only after
// a read came back empty, so dense data costs nothing extra and a time jump of days costs one query.
struct QuietSpan {
    uint64_t from = 0;
    uint64_t until = 0;
    bool lastReadEmpty = false;

    // The first time at or after t that may hold an event; false on a read error.
    bool skip(const EventRangeSource& source, uint64_t t, uint64_t& next) {
        if (t >= from && t < until) {
            next = until;
            return true;
        }
        next = t;
        if (!source.nextEventTime) return true;
        if (!source.nextEventTime(t, next)) {
            NR_LOG(LOG_ERROR, "video export: reading the events after %llu failed", (unsigned long long)t);
            return false;
        }
        from = t;
        until = next;
        return true;
    }
};

// Feeds the events of [begin, end) to fn in pieces, jumping over empty stretches; false on a read
// error.
template <typename Fn>
bool forEachPiece(const EventRangeSource& source, uint64_t begin, uint64_t end, QuietSpan& quiet,
                  double& readSeconds, Fn fn) {
    while (begin < end) {
        if (quiet.lastReadEmpty && !quiet.skip(source, begin, begin)) return false;
        if (begin >= end) break;
        const uint64_t span = std::min(end - begin, kMaxReadSpanUs);
        const auto t0 = Clock::now();
        auto events = source.readEvents(begin, span);
        readSeconds += secondsSince(t0);
        if (!events) {
            NR_LOG(LOG_ERROR, "video export: reading the events at %llu failed", (unsigned long long)begin);
            return false;
        }
        quiet.lastReadEmpty = events->empty();
        fn(events->data(), events->data() + events->size());
        begin += span;
    }
    return true;
}

// Frames counted ahead of the encoder: enough to ride out uneven frames, few enough to keep the
// memory small (a plane is one byte per pixel).
constexpr size_t kRingPlanes = 3;

// The frame windows of one export: frame k follows frame k - 1 (the first follows start) and is
// shown at start + (k + 1) * step, rounded, the last one at end; each window is the EventWindow of
// that step.
struct FramePlan {
    uint64_t start = 0;
    uint64_t end = 0; // included
    double step = 0;  // event time per frame (us)
    uint64_t frameCount = 0;
    bool sliding = false; // windows overlap: events go in and out again
    FramePlacement placement; // accumulation, anchor and range; the step is each frame's own

    uint64_t shownAt(uint64_t k) const {
        return k + 1 >= frameCount ? end : start + static_cast<uint64_t>(std::llround(double(k + 1) * step));
    }
    EventWindow window(uint64_t k) const {
        const uint64_t pos = k == 0 ? start : shownAt(k - 1);
        FramePlacement p = placement;
        p.step = shownAt(k) - pos;
        return EventWindow::next(pos, p);
    }
    uint64_t windowBegin(uint64_t k) const { return window(k).from; }
    uint64_t windowEnd(uint64_t k) const { return window(k).to; }
    // Number of frames from k on whose windows all end by until (at least 0); window ends grow with k.
    uint64_t framesEndingBy(uint64_t k, uint64_t until) const {
        if (until <= start) return 0;
        uint64_t j = std::min<uint64_t>(frameCount, uint64_t(double(until - start) / step)); // about right
        while (j > k && windowEnd(j - 1) > until) --j;
        while (j < frameCount && windowEnd(j) <= until) ++j;
        return j > k ? j - k : 0;
    }
};

// A stretch of more than a second of video without events becomes one picture shown for the whole
// stretch (its duration says how long), at most an hour of video each: a damaged file whose time
// jumps by days exports in moments, and players show exactly the same thing.
constexpr uint64_t kLongestPictureSeconds = 3600;

// Counting thread (the caller's): reads and counts each frame's window into the ring, in order,
// and reports progress. False when reading fails, the progress callback cancels or the encoder
// thread has stopped the ring.
bool countFrames(const EventRangeSource& source, const FramePlan& plan, const VideoExportOptions& options,
                 const std::string& path, video::PlaneRing& ring, VideoExportStats& stats) {
    video::EventCounter counter(options.width, options.height, plan.sliding);
    video::EventStatePlane* plane = nullptr;
    auto count = [&](const Event2D* b, const Event2D* e) { counter.add(b, e, *plane); };
    auto countExact = [&](const Event2D* b, const Event2D* e) { counter.addExact(b, e); };
    auto uncountExact = [&](const Event2D* b, const Event2D* e) { counter.removeExact(b, e); };
    uint64_t head = plan.start; // events before head are counted
    uint64_t tail = plan.start; // events before tail have been taken out again
    double busySeconds = 0;     // reading and counting
    QuietSpan quiet;
    const uint64_t mergeAbove = uint64_t(options.fps);
    const uint64_t longest = uint64_t(options.fps) * kLongestPictureSeconds;
    for (uint64_t k = 0; k < plan.frameCount;) {
        // Frames k .. k + frames - 1 show one picture: the last of them stands for all.
        uint64_t frames = 1;
        if (quiet.lastReadEmpty && source.nextEventTime) {
            uint64_t next = 0;
            if (!quiet.skip(source, plan.windowBegin(k), next)) return false;
            const uint64_t run = plan.framesEndingBy(k, next);
            if (run > mergeAbove) frames = std::min(run, longest);
        }
        const uint64_t windowEnd = plan.windowEnd(k + frames - 1);
        const uint64_t windowBegin = plan.windowBegin(k + frames - 1);
        auto t0 = Clock::now();
        plane = ring.nextToFill();
        stats.waitSeconds += secondsSince(t0);
        if (!plane) return false;
        t0 = Clock::now();
        if (plan.sliding) {
            if (!forEachPiece(source, head, windowEnd, quiet, stats.readSeconds, countExact) ||
                !forEachPiece(source, tail, std::max(tail, windowBegin), quiet, stats.readSeconds, uncountExact)) {
                return false;
            }
            tail = std::max(tail, windowBegin);
            counter.snapshot(*plane);
        } else {
            plane->clearTouched();
            if (!forEachPiece(source, windowBegin, windowEnd, quiet, stats.readSeconds, count)) return false;
        }
        plane->frames = frames;
        head = windowEnd;
        k += frames;
        busySeconds += secondsSince(t0);
        ring.publish();
        if (options.progress && !options.progress(double(k) / double(plan.frameCount))) {
            NR_LOG(LOG_INFO, "video export to %s cancelled", path.c_str());
            return false;
        }
    }
    stats.countSeconds = busySeconds - stats.readSeconds;
    return true;
}

// Encoder thread: paints each counted frame into the encoder's picture, hands the plane back and
// encodes; finishes the file once the ring is closed. False (and the file left to be removed) when
// the ring was stopped or encoding failed.
bool encodeFrames(video::PlaneRing& ring, video::EventFrameRenderer& renderer, video::Mp4Encoder& encoder,
                  VideoExportStats& stats) {
    for (int64_t pts = 0;;) {
        video::EventStatePlane* plane = ring.nextToPaint();
        if (!plane) break;
        const int64_t frames = int64_t(plane->frames);
        auto t0 = Clock::now();
        AVFrame* picture = encoder.frame();
        if (!picture) {
            NR_LOG(LOG_ERROR, "video export: no frame buffer");
            ring.stop();
            return false;
        }
        renderer.render(*plane, picture->data[0], picture->linesize[0], picture->data[1], picture->linesize[1],
                        picture->data[2], picture->linesize[2]);
        ring.recycle();
        stats.paintSeconds += secondsSince(t0);
        t0 = Clock::now();
        const bool encoded = encoder.encodeFrame(pts, frames, false);
        pts += frames;
        stats.encodeSeconds += secondsSince(t0);
        if (!encoded) {
            ring.stop();
            return false;
        }
        ++stats.frames;
    }
    if (ring.stopped()) return false;
    const auto t0 = Clock::now();
    const bool ok = encoder.finish();
    stats.encodeSeconds += secondsSince(t0);
    return ok;
}

} // namespace

bool applyColorScheme(const std::string& name, VideoExportOptions& options) {
    auto sameName = [&name](const char* known) {
        size_t i = 0;
        for (; known[i] != 0; ++i)
            if (i >= name.size() || std::tolower(static_cast<unsigned char>(name[i])) !=
                                        std::tolower(static_cast<unsigned char>(known[i])))
                return false;
        return i == name.size();
    };
    for (const EventColorScheme& s : kEventColorSchemes) {
        if (sameName(s.name)) {
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

    FramePlan plan;
    plan.start = start;
    plan.end = end;
    plan.step = 1e6 / (options.fps * options.slowMotion);
    plan.placement.acc = options.accTimeUs;
    plan.placement.anchor = options.anchor;
    plan.placement.lower = start;
    plan.placement.upper = end;
    plan.frameCount = std::max<uint64_t>(1, static_cast<uint64_t>(std::ceil(double(end - start) / plan.step - 1e-6)));
    // Windows that do not overlap are counted afresh; overlapping ones slide (events in, events out).
    plan.sliding = double(options.accTimeUs) > std::floor(plan.step);

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
    settings.input = source.input;
    settings.task = "export";
    video::Mp4Encoder encoder; // removes its partial file unless finished
    if (!encoder.open(path, settings)) return false;
    video::EventFrameRenderer renderer(options.width, options.height, options.onColor, options.offColor,
                                       options.backgroundColor);
    video::PlaneRing ring(kRingPlanes, options.width, options.height);

    // Painting and encoding overlap the reading and counting of the next frames.
    VideoExportStats counted, encoded;
    bool encodedOk = false;
    std::thread encoderThread([&] { encodedOk = encodeFrames(ring, renderer, encoder, encoded); });
    struct JoinOnExit { // also when the progress callback throws
        video::PlaneRing& ring;
        std::thread& thread;
        ~JoinOnExit() {
            if (thread.joinable()) {
                ring.stop();
                thread.join();
            }
        }
    } joinOnExit{ring, encoderThread};
    const bool countedOk = countFrames(source, plan, options, path, ring, counted);
    if (countedOk) ring.close();
    else ring.stop();
    encoderThread.join();
    if (!countedOk || !encodedOk) {
        encoder.abort();
        return false;
    }

    VideoExportStats local = counted;
    local.frames = encoded.frames;
    local.paintSeconds = encoded.paintSeconds;
    local.renderSeconds = local.countSeconds + local.paintSeconds;
    local.encodeSeconds = encoded.encodeSeconds;
    local.codec = encoder.codecName();
    if (stats) *stats = local;
    NR_LOG(LOG_INFO, "exported %llu frames (%s) to %s", (unsigned long long)local.frames, local.codec.c_str(),
           path.c_str());
    return true;
}

bool exportFileToVideo(DvsFileReader& reader, uint64_t start, uint64_t end, const std::string& path,
                       const VideoExportOptions& options, VideoExportStats* stats) {
    EventRangeSource source;
    if (!reader.getStartTimestamp(source.firstTimestamp) || !reader.getEndTimestamp(source.lastTimestamp)) {
        NR_LOG(LOG_ERROR, "Cannot export %s: the recording is not prepared or has no events", reader.path().c_str());
        return false;
    }
    source.input = reader.identity();
    source.readEvents = [&reader](uint64_t s, uint64_t d) -> std::shared_ptr<const std::vector<Event2D>> {
        return reader.readEvents(s, d);
    };
    source.nextEventTime = [&reader](uint64_t from, uint64_t& next) { return reader.nextEventTime(from, next); };
    return exportEventsToVideo(source, start, end, path, options, stats);
}

bool DvsFileReader::exportVideo(uint64_t start, uint64_t end, const std::string& path) {
    return exportFileToVideo(*this, start, end, path);
}

} // namespace norvale
