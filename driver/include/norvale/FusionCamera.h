#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "norvale/ApsFrame.h"
#include "norvale/CameraTool.h"
#include "norvale/CameraTypes.h"
#include "norvale/DriverExport.h"
#include "norvale/Event2D.h"
#include "norvale/JsonUtils.h"

namespace norvale {

class CameraCore;
class FusionApsStream;

// An open fusion camera (DVS events plus an APS image of 3840 x 2160, blue-green-red), obtained
// from DvsCameraManager::openFusionCamera. Each APS exposure is framed by trigger edges on
// channel 0 (while that channel is enabled): rising at its start, falling at its end. A frame's
// timestamp is its exposure's start, its auxTimestamp the exposure's end, both on the events' clock.
// The events that belong with a frame are those from its timestamp up to the next exposure's start
// (the next rising edge): the exposure and the time until the next one, so every event belongs to
// exactly one frame. A frame the APS thread skips (it fell behind) still has its edges in the
// event stream.
//
// Threads. Events and trigger edges come from the streaming thread, APS frames from the APS
// thread; each callback runs on the thread of its stream, in time order. For one stretch of the
// stream the trigger callbacks run before the event callbacks, so an edge may come before events
// older than it. A frame is handed over only after the events and edges up to its exposure's end.
// Both threads run only between start and stop of their stream. Recording writes the .raw on the
// storage thread and the .mp4 on a video thread. Public calls may come from any thread; callbacks
// must not add or remove callbacks of the same camera.
class NR_DRIVER_EXPORT FusionCamera {
public:
    using EventsCallback = std::function<void(const Event2D* begin, const Event2D* end)>;
    using ApsFrameCallback = std::function<void(const ApsFrame& frame)>;
    using TriggerInCallback = std::function<void(const EventTriggerIn&)>;
    using StatisticCallback = std::function<void(const NrStatisticInfo&)>;

    FusionCamera(std::shared_ptr<CameraCore> core, std::unique_ptr<FusionApsStream> aps); // made by the manager
    ~FusionCamera(); // closeCamera
    FusionCamera(const FusionCamera&) = delete;
    FusionCamera& operator=(const FusionCamera&) = delete;

    bool isConnected() const;
    const CameraDescription& getCameraDescription() const;

    int addEventsCallback(EventsCallback callback);
    int addApsFrameCallback(ApsFrameCallback callback);
    int addTriggerInCallback(TriggerInCallback callback);
    bool removeCallback(int id);
    void setStatisticInfoCallback(StatisticCallback callback);

    // 0 on success, -1 when not connected. STREAM_FUSION starts or stops both streams.
    int start(STREAM_TYPE type = STREAM_FUSION);
    int stop(STREAM_TYPE type = STREAM_FUSION);
    // Stops everything and releases the device; the camera reports not connected afterwards.
    void closeCamera();

    // Writes folder/baseName + ".raw" (events, aps_start_timestamp in its header), + ".mp4"
    // (APS frames, timestamps since the header's aps_start_timestamp) and + ".json" (the calibration), as
    // the stream type asks (DVS: the .raw; APS: .mp4 and .json; fusion: all three). Each of them
    // is checked before anything is written: one that exists is refused unless overwrite, and is
    // then replaced only once the new recording has succeeded (the .raw as
    // DvsCamera::startRecording says). False, with an error log line saying why, when refused, a
    // recording runs or a file cannot be created (nothing is left running then).
    // stopRecording ends the .raw and the .mp4 at the same camera time, the stream's when it is
    // called: the video lasts as long as the events (its last frame is shown up to the end).
    // The .raw stores x mirrored (getWidth() - 1 - x), as the sensor reads its columns out; the
    // event callbacks get x unmirrored, aligned with the APS image.
    bool startRecording(const std::string& folder, const std::string& baseName, STREAM_TYPE type = STREAM_FUSION,
                        bool overwrite = false);
    bool stopRecording(STREAM_TYPE type = STREAM_FUSION);
    uint64_t getRecordedEventCount() const;
    uint64_t getRecordedFrameCount() const;

    // The camera's DVS-to-APS calibration.
    bool getCalibrationParams(CalibratorParameters& params) const;
    // Reads and validates a calibration file and keeps it as the camera's calibration; false
    // (calibration unchanged) when the file is unreadable or invalid.
    bool writeCalibrationParams(const std::string& path);
    std::string getFirmwareVersion() const;

    uint16_t getWidth() const;  // DVS sensor
    uint16_t getHeight() const;
    int getApsWidth() const;
    int getApsHeight() const;
    double getApsFrameRate() const;

    std::shared_ptr<CameraTool> getTool(ToolType type) const;
    std::vector<ToolInfo> getAllToolsInfo() const;
    bool loadCameraConfigParams(const std::string& path);
    bool exportCameraConfigParams(const std::string& path) const;

    void simulateUnplug(); // test hook, as DvsCamera::simulateUnplug

private:
    std::shared_ptr<CameraCore> core;
    std::unique_ptr<FusionApsStream> aps;
    mutable std::mutex calibrationMutex; // guards calibration and jsonOnSuccess
    CalibratorParameters calibration;
    std::string jsonOnSuccess; // the calibration file a running recording replaces when it succeeds
};

} // namespace norvale
