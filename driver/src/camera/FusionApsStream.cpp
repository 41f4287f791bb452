#include "camera/FusionApsStream.h"

#include "camera/ApsRenderer.h"
#include "camera/CameraCore.h"
#include "norvale/Logger.h"

#include <chrono>

namespace norvale {

FusionApsStream::FusionApsStream(std::shared_ptr<CameraCore> c) : core(std::move(c)) {}

FusionApsStream::~FusionApsStream() {
    stop();
    stopRecording();
}

int FusionApsStream::start() {
    std::lock_guard<std::mutex> lock(controlMutex);
    if (active) return 0;
    if (!core->connected()) return -1;
    if (thread.joinable()) thread.join();
    core->device().resumeAps();
    {
        std::lock_guard<std::mutex> lock(mutex);
        readUntilUs = 0; // a restarted stream's clock may start again at 0
    }
    stopRequested = false;
    active = true;
    thread = std::thread(&FusionApsStream::loop, this);
    return 0;
}

void FusionApsStream::stop() {
    std::lock_guard<std::mutex> lock(controlMutex);
    stopRequested = true;
    core->device().interruptAps();
    if (thread.joinable()) thread.join();
    active = false;
}

int FusionApsStream::addCallback(std::function<void(const ApsFrame&)> cb, int id) {
    std::lock_guard<std::mutex> lock(mutex);
    callbacks.emplace_back(id, std::move(cb));
    return id;
}

bool FusionApsStream::removeCallback(int id) {
    std::lock_guard<std::mutex> lock(mutex);
    return eraseCallback(callbacks, id);
}

void FusionApsStream::loop() {
    uint64_t from = core->deliveredUntil();
    ApsFrame frame;
    while (core->device().readApsFrame(from, frame)) {
        from = frame.timestamp + 1;
        // a frame follows the trigger edges and events of its exposure, whichever thread is faster
        while (!stopRequested && core->streaming() && core->deliveredUntil() < frame.auxTimestamp)
            std::this_thread::sleep_for(std::chrono::microseconds(500));
        if (stopRequested) break;
        std::lock_guard<std::mutex> lock(mutex);
        for (auto& cb : callbacks) cb.second(frame);
        if (writer && frame.timestamp >= recordStartUs && frame.timestamp < recordEndUs) {
            if (videoCount == kVideoQueue) {
                ++droppedFrames;
            } else {
                ApsFrame f = frame; // shares the pixels; the device renders each frame anew
                f.timestamp -= recordStartUs;
                videoQueue[(videoHead + videoCount++) % kVideoQueue] = f;
                videoWake.notify_one();
            }
        }
        readUntilUs = frame.timestamp + 1;
        frameRead.notify_all();
    }
    std::lock_guard<std::mutex> lock(mutex);
    active = false;
    frameRead.notify_all();
}

void FusionApsStream::videoLoop() {
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
        videoWake.wait(lock, [&] { return videoStop || videoCount; });
        if (!videoCount) break; // stop with nothing left
        ApsFrame f = videoQueue[videoHead];
        videoQueue[videoHead] = ApsFrame();
        videoHead = (videoHead + 1) % kVideoQueue;
        --videoCount;
        ApsVideoWriter* w = writer.get();
        lock.unlock();
        const bool ok = w->writeFrame(f);
        lock.lock();
        if (ok) ++recordedFrames;
        else writeFailed = true;
    }
}

bool FusionApsStream::startRecording(const std::string& path, uint64_t apsStartUs, bool overwrite) {
    std::lock_guard<std::mutex> lock(mutex);
    if (writer) return false;
    ApsVideoWriterOptions o;
    o.nominalFps = int(1000000 / kFramePeriodUs);
    o.overwrite = overwrite;
    writer = ApsVideoWriter::create(path, kApsWidth, kApsHeight, o);
    if (!writer) return false;
    recordStartUs = apsStartUs;
    recordEndUs = UINT64_MAX;
    recordedFrames = droppedFrames = 0;
    writeFailed = false;
    videoStop = false;
    videoHead = videoCount = 0;
    videoThread = std::thread(&FusionApsStream::videoLoop, this);
    return true;
}

bool FusionApsStream::stopRecording(uint64_t endUs) {
    {
        std::unique_lock<std::mutex> lock(mutex);
        if (!writer) return false;
        recordEndUs = endUs;
        // The exposures begun before the end come after it (a frame follows its exposure).
        if (endUs != UINT64_MAX)
            frameRead.wait_for(lock, std::chrono::milliseconds(kEndWaitMs), [&] {
                return !active || stopRequested || readUntilUs >= endUs || !core->streaming();
            });
        videoStop = true;
    }
    videoWake.notify_all();
    if (videoThread.joinable()) videoThread.join();
    std::unique_ptr<ApsVideoWriter> w;
    {
        std::lock_guard<std::mutex> lock(mutex);
        w = std::move(writer);
    }
    const bool ok = w->close(endUs == UINT64_MAX || endUs < recordStartUs ? 0 : endUs - recordStartUs) && !writeFailed;
    if (droppedFrames) NR_LOG(LOG_WARN, "APS video: %llu frames left out, the encoder could not keep up",
                              (unsigned long long)droppedFrames.load());
    return ok;
}

} // namespace norvale
