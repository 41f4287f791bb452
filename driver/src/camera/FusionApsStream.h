#pragma once

// The APS side of a fusion camera: the APS thread that reads frames from the device and calls
// the frame callbacks, and the video thread that writes recorded frames into the .mp4 through
// ApsVideoWriter, so that encoding never delays the live frames. A frame the encoder cannot
// take in time (more than kVideoQueue waiting) is left out of the video and counted.
//
// Threads: APS thread (loop) and video thread (videoLoop); public calls from any thread.
// `mutex` guards callbacks (held while they run), the video queue and the recording state;
// `controlMutex` serialises start and stop.
#include <array>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "camera/CallbackList.h"
#include "norvale/ApsFrame.h"
#include "norvale/ApsVideoWriter.h"

namespace norvale {

class CameraCore;

class FusionApsStream {
public:
    // 10 frames per second: rendering a 3840 x 2160 frame and encoding it to H.264 both fit
    // in one core's share on our 2-core machines with the event stream running (see README).
    static constexpr uint64_t kFramePeriodUs = 100000;
    static constexpr size_t kVideoQueue = 4;
    static constexpr int kEndWaitMs = 2000;

    explicit FusionApsStream(std::shared_ptr<CameraCore> core);
    ~FusionApsStream();

    int start();
    void stop();
    bool running() const { return active.load(); }

    int addCallback(std::function<void(const ApsFrame&)> cb, int id);
    bool removeCallback(int id);

    // Frames whose exposure starts at or after apsStartUs go to the video, with timestamps
    // relative to apsStartUs. False when the file cannot be created, or exists and overwrite is
    // not set (with overwrite it is replaced once the video is closed).
    bool startRecording(const std::string& path, uint64_t apsStartUs, bool overwrite = false);
    // endUs (camera time): the video ends there, as the events do. Frames of exposures that
    // start before it are still waited for (at most kEndWaitMs, while the stream runs); later
    // ones are left out; the last frame is shown up to endUs, so the video lasts as long as
    // the events even when the frames before the end were skipped.
    bool stopRecording(uint64_t endUs = UINT64_MAX);
    uint64_t framesRecorded() const { return recordedFrames.load(); }

private:
    void loop();
    void videoLoop();

    std::shared_ptr<CameraCore> core;
    std::mutex controlMutex;
    std::thread thread;
    std::atomic<bool> active{false};
    std::atomic<bool> stopRequested{false};

    std::mutex mutex;
    std::condition_variable videoWake;
    std::condition_variable frameRead; // readUntilUs moved or the APS thread ended
    CallbackList<std::function<void(const ApsFrame&)>> callbacks;
    std::unique_ptr<ApsVideoWriter> writer;
    std::thread videoThread;
    std::array<ApsFrame, kVideoQueue> videoQueue;
    size_t videoHead = 0, videoCount = 0;
    bool videoStop = false;
    uint64_t recordStartUs = 0;
    uint64_t recordEndUs = UINT64_MAX; // frames from here on stay out of the video
    uint64_t readUntilUs = 0;          // the APS thread has handled every exposure before this
    bool writeFailed = false;
    std::atomic<uint64_t> recordedFrames{0};
    std::atomic<uint64_t> droppedFrames{0};
};

} // namespace norvale
