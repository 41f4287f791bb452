#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "norvale/CameraTool.h"
#include "norvale/CameraTypes.h"
#include "norvale/DriverExport.h"
#include "norvale/Event2D.h"
#include "norvale/EventRun.h"

namespace norvale {

class CameraCore;

// An open event camera, obtained from DvsCameraManager::openCamera.
//
// Threads. The camera runs a streaming thread of its own while started: it reads the device
// (for our simulated devices: produces the scene in real time and applies the tools), hands
// the events to getNextBatch, calls the trigger-in callbacks and passes everything to the
// storage thread. The storage thread (only while recording or caching) writes the recording
// and the pre-trigger cache, so a slow disk never stalls streaming. The statistics callback
// runs on the streaming thread once a second.
// Every public call may come from any thread. Callbacks must return quickly and must not call
// add/remove callback functions of the same camera (the callback lock is held while they run,
// which is what makes a removed callback certain not to run any more).
class NR_DRIVER_EXPORT DvsCamera {
public:
    using TriggerInCallback = std::function<void(const EventTriggerIn&)>;
    using StatisticCallback = std::function<void(const NrStatisticInfo&)>;

    explicit DvsCamera(std::shared_ptr<CameraCore> core); // made by the manager
    ~DvsCamera(); // stops streaming and recording, closes the device
    DvsCamera(const DvsCamera&) = delete;
    DvsCamera& operator=(const DvsCamera&) = delete;

    // False once the device is gone (unplugged); streaming and recording have ended then.
    bool isConnected() const;
    const CameraDescription& getCameraDescription() const;

    // Starts / stops the stream; 0 on success (stop of a stopped camera too), -1 when the
    // device is not connected. The camera clock starts near 0 at start.
    int start();
    int stop();

    // The events since the last call, in time order, replacing the content of events (whose
    // capacity is reused). False when nothing new is there. When the caller falls behind the
    // camera, the batch holds only the newest max(batchEventsTime, 100 ms) and at most 4 Mi
    // events; the older excess is dropped and counted (getDroppedEventCount), never queued.
    // The hand-off begins with the first call: a camera nobody asks keeps nothing here (call
    // once before start to receive the stream from its first event).
    bool getNextBatch(std::vector<Event2D>& events);
    // The same batch without copying it: visit is called once with its runs of events, in time
    // order, in the camera's own buffers (valid during the call only). False, visit not called,
    // when nothing new is there. At 50 Mev/s this spares a display 26 MB and their copy each frame.
    bool visitNextBatch(const RunVisitor& visit);
    void setBatchEventsTime(uint64_t timeUs);
    uint64_t getDroppedEventCount() const;
    // A network camera's datagrams and events left out since it was opened (zero for others);
    // its reordered and invalid events are part of getDroppedEventCount too.
    NrStreamLoss getStreamLoss() const;

    uint16_t getWidth() const;
    uint16_t getHeight() const;

    // Once a second while streaming. An empty function removes it.
    void setStatisticInfoCallback(StatisticCallback callback);
    // Edges of the trigger input (enabled channels only). Returns an id for removal.
    int addTriggerInCallback(TriggerInCallback callback);
    bool removeTriggerInCallback(int id);

    // Records the stream into an EVT 3.0 raw file at path, trigger edges included, written by the
    // storage thread; the file is readable under its name while it grows. An existing file is
    // refused unless overwrite, and then replaced only when stopRecording succeeds (meanwhile the
    // recording is "NAME.recording-XXXXXX.raw" beside it). Refused too: what is not a regular
    // file, the file a replay camera plays, a path another recording is writing. With a file
    // cache set, the file begins that many seconds before this call. False (with an error log
    // line saying why) when refused, a recording runs or the file cannot be created.
    // Recording works while stopped too: the file then grows once streaming starts.
    bool startRecording(const std::string& path, bool overwrite = false);
    // Finishes the file; false when nothing was recording or a write failed (a new file then keeps
    // the events written whole, a file being replaced stays as it was).
    bool stopRecording();
    // Keep the last seconds of the stream (0 turns the cache off) in files under folder, so that
    // a recording started later begins that many seconds earlier. False when the folder is not
    // usable (the cache is then off).
    bool setFileCacheTime(uint16_t seconds, const std::string& folder);
    // Events that reached the file of the current (or last) recording.
    uint64_t getRecordedEventCount() const;
    // Events the camera delivered since it was opened (after its tools).
    uint64_t getDeliveredEventCount() const;
    // Camera time (us) the delivered stream has reached; a busy machine may hold it behind the
    // wall clock.
    uint64_t getCameraTime() const;

    std::shared_ptr<CameraTool> getTool(ToolType type) const; // empty for a tool it lacks
    std::vector<ToolInfo> getAllToolsInfo() const;
    // A configuration file applies whole or not at all (false: camera unchanged).
    bool loadCameraConfigParams(const std::string& path);
    bool exportCameraConfigParams(const std::string& path) const;

    // Test hook: behaves as if the cable were pulled. isConnected turns false, streaming stops,
    // a running recording is closed (readable).
    void simulateUnplug();

private:
    std::shared_ptr<CameraCore> core;
};

} // namespace norvale
