#include "norvale/ApsVideoWriter.h"

#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "norvale/Logger.h"
#include "norvale/SafeOutputFile.h"
#include "video/Mp4Encoder.h"

namespace norvale {

namespace {

// The file a video is written to: path itself, created exclusively, or while an existing file is
// replaced a visible sibling renamed over it at the end. Locked while written.
struct VideoOutput {
    int fd = -1;
    int oldFd = -1;         // the replaced file, locked
    std::string finalPath;  // a symbolic link's target when path is one
    std::string writing;    // finalPath or the sibling
    FileIdentity created;   // what we made, so that only that is ever removed
    std::string why;
    bool refusal = false;

    bool fail(std::string text, bool refused) {
        release(true);
        why = std::move(text);
        refusal = refused;
        return false;
    }

    bool open(const std::string& path, bool overwrite) {
        finalPath = path;
        struct stat st {};
        if (path.empty() || path.back() == '/') return fail("output " + path + " is not a file name", true);
        if (::lstat(path.c_str(), &st) != 0) {
            if (errno != ENOENT) return fail("cannot create " + path + ": " + std::strerror(errno), false);
            fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
            if (fd < 0) {
                if (errno == EEXIST) return fail("output " + path + " appeared while the recording started", true);
                return fail("cannot create " + path + ": " + std::strerror(errno), false);
            }
            created = FileIdentity::ofDescriptor(fd);
            writing = path;
            if (::flock(fd, LOCK_EX | LOCK_NB) != 0)
                return fail("output " + path + " is being recorded by another recording", true);
            return true;
        }
        if (S_ISLNK(st.st_mode)) {
            char resolved[PATH_MAX];
            if (!::realpath(path.c_str(), resolved) || ::stat(resolved, &st) != 0)
                return fail("output " + path + " is a symbolic link to a missing file", true);
            finalPath = resolved;
        }
        if (!S_ISREG(st.st_mode))
            return fail("output " + path + " is " + fileKindText(st.st_mode) + ", not a regular file", true);
        if (!overwrite) return fail("output " + path + " exists; it is replaced only when asked to overwrite it", true);
        oldFd = ::open(finalPath.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (oldFd < 0) return fail("cannot open " + path + ": " + std::strerror(errno), false);
        if (::flock(oldFd, LOCK_EX | LOCK_NB) != 0)
            return fail("output " + path + " is being recorded by another recording", true);
        std::string stem = finalPath.substr(finalPath.rfind('/') + 1);
        if (stem.size() > 4 && stem.compare(stem.size() - 4, 4, ".mp4") == 0) stem.resize(stem.size() - 4);
        std::string pattern = folderOfPath(finalPath) + "/" + stem.substr(0, 200) + ".recording-XXXXXX.mp4";
        fd = ::mkostemps(pattern.data(), 4, O_CLOEXEC);
        if (fd < 0) return fail("cannot create a file beside " + path + ": " + std::strerror(errno), false);
        writing = pattern;
        created = FileIdentity::ofDescriptor(fd);
        return true;
    }

    bool replacing() const { return oldFd >= 0; }

    // Syncs and closes; a sibling takes the old file's place.
    bool commit() {
        if (fd < 0) return false;
        const bool synced = ::fsync(fd) == 0;
        const bool closed = ::close(fd) == 0;
        fd = -1;
        if (!synced || !closed) return fail("cannot write " + writing + ": " + std::strerror(errno), false);
        if (replacing()) {
            if (!FileIdentity::ofPath(writing).sameAs(created) || ::rename(writing.c_str(), finalPath.c_str()) != 0)
                return fail("cannot replace " + finalPath + " with " + writing + ": " + std::strerror(errno), false);
            created = {}; // in place now: never removed
        }
        release(false);
        return true;
    }

    // The video ends unfinished: a new file keeps its frames unless it has none; a sibling goes
    // (the old file stays as it was).
    void release(bool removeWriting) {
        if (fd >= 0) ::close(fd);
        fd = -1;
        if (removeWriting && created.valid && FileIdentity::ofPath(writing).sameAs(created)) ::unlink(writing.c_str());
        created = {};
        if (oldFd >= 0) ::close(oldFd);
        oldFd = -1;
    }
};

} // namespace

class ApsVideoWriter::Impl {
public:
    video::Mp4Encoder encoder;
    VideoOutput output;
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
    d.output.release(!keep);
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
    if (!impl->output.open(path, options.overwrite)) {
        NR_LOG(LOG_ERROR, "APS video %s: %s", impl->output.refusal ? "refused" : "failed", impl->output.why.c_str());
        return nullptr;
    }
    if (!impl->encoder.open(video::Mp4GrowingOutput{impl->output.fd, impl->output.writing}, settings)) {
        impl->output.release(true);
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
        d.output.release(d.frames == 0 || d.output.replacing());
        return false;
    }
    if (!d.output.commit()) {
        NR_LOG(LOG_ERROR, "APS video %s: %s", d.path.c_str(), d.output.why.c_str());
        return false;
    }
    return true;
}

uint64_t ApsVideoWriter::framesWritten() const { return impl->frames; }

} // namespace norvale
