#pragma once

// What DvsCamera and FusionCamera share: the device, its streaming thread, the batch
// hand-off, the storage thread, callbacks, statistics and configuration files.
//
// Threads: the streaming thread runs streamLoop between start and stop: it reads the device,
// publishes each chunk to the hand-off and (when it stores anything) the storage, calls the
// event and trigger callbacks and, once a second, the statistics callback, all under
// callbackMutex. Public calls from any thread; `controlMutex` serialises start, stop and
// unplug (lock order: controlMutex, then callbackMutex).
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "camera/BatchHandoff.h"
#include "camera/CallbackList.h"
#include "camera/CameraDevice.h"
#include "camera/StreamStorage.h"
#include "norvale/CameraTypes.h"
#include "norvale/DvsCamera.h"
#include "norvale/FusionCamera.h"

namespace norvale {

class CameraCore {
public:
    // release: called once when the core goes (the manager forgets the open serial).
    // mirrorRecording: recordings store x mirrored, as a fusion sensor reads its columns out.
    CameraCore(CameraDescription description, std::unique_ptr<CameraDevice> device, std::function<void()> release,
               bool mirrorRecording = false);
    ~CameraCore();

    const CameraDescription& description() const { return desc; }
    CameraDevice& device() { return *dev; }
    bool connected() const { return dev->connected(); }

    int start();
    int stop();
    bool streaming() const { return running.load(); }
    void unplug();

    bool nextBatch(std::vector<Event2D>& events) { return handoff.take(events); }
    bool visitBatch(const RunVisitor& visit) { return handoff.visit(visit); }
    void setBatchTime(uint64_t us) { handoff.setSpan(us); }
    // Events left out on the way: by the hand-off, the storage and the device itself.
    uint64_t dropped() const {
        const NrStreamLoss l = dev->streamLoss();
        return handoff.dropped() + storage.droppedEvents() + l.reorderedEvents + l.invalidEvents;
    }
    uint64_t delivered() const { return deliveredEvents.load(); }
    // Camera time up to which the stream has been handed to everyone (callbacks included).
    uint64_t deliveredUntil() const { return deliveredUntilUs.load(); }

    void setStatisticCallback(DvsCamera::StatisticCallback cb);
    int addTriggerCallback(DvsCamera::TriggerInCallback cb);
    int addEventsCallback(FusionCamera::EventsCallback cb);
    bool removeCallback(int id);
    // An id from the same sequence, for callbacks kept elsewhere (the APS stream's).
    int newCallbackId();

    // overwrite: an existing file is replaced once the recording has succeeded; never the file a
    // replaying device plays.
    bool startRecording(const std::string& path, uint64_t apsStartUs = 0, bool overwrite = false);
    // "" when a recording may go to path, else why not (nothing is touched).
    std::string recordingPathProblem(const std::string& path, bool overwrite) const;
    // endUs: the recording ends at that camera time (events from then on are left out).
    bool stopRecording(uint64_t endUs = UINT64_MAX) { return storage.stopRecording(false, endUs); }
    // Ends a recording that must not stay (a new file is removed).
    void discardRecording() { storage.stopRecording(true); }
    bool recording() const { return storage.recording(); }
    bool setCache(uint16_t seconds, const std::string& folder) { return storage.setCache(seconds, folder); }
    uint64_t recordedEvents() const { return storage.recordedEvents(); }

    std::shared_ptr<CameraTool> tool(ToolType type) const;
    std::vector<ToolInfo> toolsInfo() const;
    bool loadConfig(const std::string& path);
    bool exportConfig(const std::string& path) const;

private:
    void streamLoop();
    void statistics(const EventChunk& c);

    CameraDescription desc;
    std::unique_ptr<CameraDevice> dev;
    std::function<void()> release;
    std::unique_ptr<ChunkPool> pool;
    BatchHandoff handoff;
    StreamStorage storage;

    std::mutex controlMutex;
    std::thread thread;
    std::atomic<bool> running{false};

    std::mutex callbackMutex;
    int nextId = 1;
    DvsCamera::StatisticCallback statCallback;
    CallbackList<DvsCamera::TriggerInCallback> triggerCallbacks;
    CallbackList<FusionCamera::EventsCallback> eventCallbacks;

    std::atomic<uint64_t> deliveredEvents{0};
    std::atomic<uint64_t> deliveredUntilUs{0};
    // streaming thread only
    uint64_t statEvents = 0, statBytes = 0;
    int64_t statStartNs = 0;
};

} // namespace norvale
