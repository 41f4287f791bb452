#include "camera/StreamStorage.h"
#include "norvale/FuncUtils.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "norvale/DvsFileReader.h"
#include "norvale/Logger.h"

namespace norvale {

namespace {
constexpr uint64_t kSegmentUs = 1000000;
constexpr uint64_t kBackfillSliceUs = 50000;

bool isUsableFolder(const std::string& folder) {
    struct stat st {};
    return !folder.empty() && ::stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode) &&
           ::access(folder.c_str(), W_OK | X_OK) == 0;
}

// Leftovers of a process that died while caching (same serial, pid no longer running).
void removeStaleSegments(const std::string& folder, const std::string& serial) {
    std::error_code ec;
    const std::string prefix = ".nrcache_" + serial + "_";
    for (const auto& e : std::filesystem::directory_iterator(folder, ec)) {
        const std::string name = e.path().filename().string();
        if (name.compare(0, prefix.size(), prefix) != 0) continue;
        const long pid = std::atol(name.c_str() + prefix.size());
        if (pid > 0 && pid != long(::getpid()) && ::kill(pid_t(pid), 0) != 0 && errno == ESRCH)
            std::filesystem::remove(e.path(), ec);
    }
}
} // namespace

StreamStorage::StreamStorage(std::string s, uint32_t mirror) : serial(std::move(s)), mirrorWidth(mirror) {}

StreamStorage::~StreamStorage() {
    stopRecording();
    {
        std::lock_guard<std::mutex> lock(mutex);
        stopping = true;
    }
    wake.notify_all();
    if (thread.joinable()) thread.join();
    // the storage thread is gone: its state is ours now
    if (segmentWriter) segmentWriter->close();
    segmentWriter.reset();
    if (!current.path.empty()) ::unlink(current.path.c_str());
    removeSegments(0);
}

void StreamStorage::ensureThread() {
    if (!thread.joinable()) thread = std::thread(&StreamStorage::run, this);
}

bool StreamStorage::startRecording(const std::string& path, uint64_t newestUs, uint64_t apsStartUs,
                                   const RecordingTarget& target) {
    std::unique_lock<std::mutex> lock(mutex);
    if (recordingOn || pendingWriter) {
        NR_LOG(LOG_ERROR, "recording refused: camera %s is recording already", serial.c_str());
        return false;
    }
    auto out = std::make_unique<detail::RecordingOutput>();
    if (!out->open(path, target.overwrite, target.input)) {
        NR_LOG(LOG_ERROR, "recording refused: %s", out->reason().c_str());
        return false;
    }
    auto w = std::make_unique<RawFileWriter>();
    DvsFileInfo info;
    info.serialNumber = serial;
    info.dvsStartTimestamp = newestUs;
    info.apsStartTimestamp = apsStartUs;
    info.width = target.width;
    info.height = target.height;
    // A short flush interval: a crash loses less.
    if (!w->openDescriptor(out->descriptor(), out->writingPath(), info, 50)) {
        out->abandon(true);
        return false;
    }
    const uint64_t back = uint64_t(cacheSeconds.load()) * 1000000;
    recordFromUs = newestUs > back ? newestUs - back : 0;
    pendingWriter = std::move(w);
    pendingOutput = std::move(out);
    recorded = 0;
    writeFailed = false;
    recordingOn = true;
    ensureThread();
    wake.notify_all();
    return true;
}

bool StreamStorage::stopRecording(bool discard, uint64_t endUs) {
    std::unique_lock<std::mutex> lock(mutex);
    if (!recordingOn && !pendingWriter) return false;
    if (!thread.joinable()) return false;
    stopRequested = true;
    discardRequested = discard;
    stopAtUs = endUs;
    stopDone = false;
    wake.notify_all();
    drained.wait(lock, [&] { return stopDone; });
    return stopResult;
}

bool StreamStorage::setCache(uint16_t seconds, const std::string& folder) {
    std::lock_guard<std::mutex> lock(mutex);
    if (seconds != 0 && !isUsableFolder(folder)) {
        NR_LOG(LOG_WARN, "cache folder %s is not a writable folder: the pre-trigger cache is off", folder.c_str());
        cacheSeconds = 0;
        clearCacheRequested = true;
        wake.notify_all();
        return false;
    }
    if (seconds != 0) {
        if (folder != cacheFolder) clearCacheRequested = true;
        removeStaleSegments(folder, serial);
        cacheFolder = folder;
        ensureThread();
    } else {
        clearCacheRequested = true;
    }
    cacheSeconds = seconds;
    wake.notify_all();
    return true;
}

void StreamStorage::streamRestarted() {
    std::lock_guard<std::mutex> lock(mutex);
    clearCacheRequested = true;
    wake.notify_all();
}

void StreamStorage::push(const ChunkPtr& chunk) {
    std::lock_guard<std::mutex> lock(mutex);
    if (count == kQueue || queuedEvents + chunk->events.size() > kQueueEvents) {
        dropped += chunk->events.size();
        if (recordingOn) NR_LOG(LOG_WARN, "recording of %s: the disk falls behind, %zu events lost", serial.c_str(), chunk->events.size());
        return;
    }
    queue[(head + count) % kQueue] = chunk;
    ++count;
    queuedEvents += chunk->events.size();
    wake.notify_one();
}

void StreamStorage::failRecording(const char* what) {
    NR_LOG(LOG_ERROR, "recording of %s stopped: %s", serial.c_str(), what);
    finishRecording(false);
    std::lock_guard<std::mutex> lock(mutex);
    writeFailed = true;
}

bool StreamStorage::finishRecording(bool discard) {
    if (!writer) return false;
    bool ok = writer->close();
    recorded = writer->eventsInFile();
    const std::string path = writer->path();
    writer.reset();
    if (ok && !discard) {
        ok = output->commit();
        if (!ok) NR_LOG(LOG_ERROR, "recording of %s failed: %s", serial.c_str(), output->reason().c_str());
    } else {
        if (!discard && output->replacing())
            NR_LOG(LOG_ERROR, "recording of %s failed: the file it was to replace is left as it was", serial.c_str());
        else if (!discard)
            NR_LOG(LOG_ERROR, "recording of %s failed: %llu events written whole stay in %s", serial.c_str(),
                   (unsigned long long)recorded.load(), path.c_str());
        output->abandon(discard);
        ok = false;
    }
    output.reset();
    return ok;
}

// Storage thread: writes to the recording, mirrored when asked; false (recording failed) when
// the writer refuses.
bool StreamStorage::record(const Event2D* b, const Event2D* e, const EventTriggerIn* tb, const EventTriggerIn* te) {
    if (mirrorWidth != 0 && b != e) {
        mirrored.resize(size_t(e - b)); // no allocation once the buffer has reached a chunk's size
        Event2D* out = mirrored.data();
        for (const Event2D* in = b; in != e; ++in, ++out) {
            *out = *in;
            out->x = uint16_t(mirrorWidth - 1 - in->x);
        }
        b = mirrored.data();
        e = out;
    }
    if (!writer->add(b, e, tb, te)) {
        failRecording("cannot write (disk full or removed?)");
        return false;
    }
    recorded = writer->eventsInFile(); // what reached the file, never what is still buffered
    return true;
}

void StreamStorage::writeChunk(const EventChunk& c, uint64_t endUs) {
    if (!writer) return;
    const Event2D* b = firstAtOrAfter(c, recordFromUs);
    const Event2D* e = endUs < c.endUs ? firstAtOrAfter(c, endUs) : c.events.data() + c.events.size();
    const EventTriggerIn* tb = c.triggers.data();
    const EventTriggerIn* te = tb + c.triggers.size();
    while (tb < te && tb->timestamp < recordFromUs) ++tb;
    while (te > tb && te[-1].timestamp >= endUs) --te;
    if (b > e) b = e;
    if (b == e && tb == te) return;
    record(b, e, tb, te);
}

void StreamStorage::closeSegment() {
    if (!segmentWriter) return;
    segmentWriter->close();
    segmentWriter.reset();
    segments.push_back(current);
    current = Segment{};
}

void StreamStorage::removeSegments(size_t keep) {
    while (segments.size() > keep) {
        ::unlink(segments.front().path.c_str());
        segments.pop_front();
    }
}

void StreamStorage::cacheChunk(const EventChunk& c) {
    const uint16_t secs = cacheSeconds.load();
    if (secs == 0) return;
    if (segmentWriter && c.beginUs >= current.beginUs + kSegmentUs) closeSegment();
    if (!segmentWriter) {
        std::string folder;
        {
            std::lock_guard<std::mutex> lock(mutex);
            folder = cacheFolder;
        }
        current.path = folder + "/.nrcache_" + serial + "_" + std::to_string(::getpid()) + "_" +
                       std::to_string(segmentSeq++) + ".raw";
        current.beginUs = c.beginUs;
        segmentWriter = std::make_unique<RawFileWriter>();
        DvsFileInfo info;
        info.serialNumber = serial;
        info.dvsStartTimestamp = c.beginUs;
        if (!segmentWriter->open(current.path, info, 1000)) {
            segmentWriter.reset();
            current = Segment{};
            return; // logged; the cache has a gap
        }
    }
    segmentWriter->add(c.events.data(), c.events.data() + c.events.size(), c.triggers.data(),
                       c.triggers.data() + c.triggers.size());
    current.endUs = c.endUs;
    // segments wholly older than the cache time are not needed any more
    while (!segments.empty() && segments.front().endUs + uint64_t(secs) * 1000000 < c.endUs) {
        ::unlink(segments.front().path.c_str());
        segments.pop_front();
    }
}

void StreamStorage::backfill(uint64_t fromUs) {
    closeSegment();
    for (const Segment& s : segments) {
        if (!writer) return;
        if (s.endUs <= fromUs) continue;
        auto reader = DvsFileReader::createFileReader(s.path);
        if (!reader || !reader->prepareFile()) continue; // an empty segment
        for (uint64_t t = std::max(fromUs, s.beginUs); t < s.endUs && writer; t += kBackfillSliceUs) {
            if (!reader->readRange(t, std::min(s.endUs, t + kBackfillSliceUs), scratch, &scratchTriggers)) break;
            if (!record(scratch.data(), scratch.data() + scratch.size(), scratchTriggers.data(),
                        scratchTriggers.data() + scratchTriggers.size()))
                return;
        }
    }
}

void StreamStorage::run() {
    norvale::nameThisThread("camera storage");
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
        wake.wait(lock, [&] { return stopping || count || pendingWriter || stopRequested || clearCacheRequested; });
        if (clearCacheRequested) {
            clearCacheRequested = false;
            lock.unlock();
            closeSegment();
            removeSegments(0);
            lock.lock();
            continue;
        }
        if (pendingWriter) {
            writer = std::move(pendingWriter);
            output = std::move(pendingOutput);
            const uint64_t from = recordFromUs;
            const bool cached = cacheSeconds.load() != 0;
            lock.unlock();
            if (cached) backfill(from);
            lock.lock();
            continue;
        }
        // A chunk wholly after a requested end waits (for the cache) until the recording is closed.
        if (count && !(stopRequested && queue[head]->beginUs >= stopAtUs)) {
            ChunkPtr c = std::move(queue[head]);
            head = (head + 1) % kQueue;
            --count;
            queuedEvents -= c->events.size();
            const uint64_t endUs = stopRequested ? stopAtUs : UINT64_MAX;
            lock.unlock();
            writeChunk(*c, endUs);
            cacheChunk(*c);
            c.reset();
            lock.lock();
            continue;
        }
        if (stopRequested) { // everything up to the stop is written
            stopRequested = false;
            stopAtUs = UINT64_MAX;
            lock.unlock();
            const bool discard = discardRequested;
            const bool ok = finishRecording(discard);
            lock.lock();
            stopResult = ok && !writeFailed;
            recordingOn = false;
            stopDone = true;
            drained.notify_all();
            continue;
        }
        if (stopping) break;
    }
}

} // namespace norvale
