#pragma once

// The one interface between a camera object and the device behind it. Our devices are
// simulated (SimulatedDevice); a real sensor back end implements the same calls: it owns its
// tools (and applies them in hardware), and read() hands over what arrived from the wire.
//
// Threads: read() is called only by the camera's streaming thread; startStream/stopStream by
// the camera with the streaming thread not running; interrupt, unplug, connected, now and
// tools from any thread.
#include <cstdint>
#include <memory>
#include <vector>

#include "camera/EventChunk.h"
#include "norvale/ApsFrame.h"
#include "norvale/CameraTool.h"
#include "norvale/CameraTypes.h"
#include "norvale/SafeOutputFile.h"

namespace norvale {

class CameraDevice {
public:
    virtual ~CameraDevice() = default;

    virtual uint32_t width() const = 0;
    virtual uint32_t height() const = 0;
    // In getAllToolsInfo order.
    virtual const std::vector<std::shared_ptr<CameraTool>>& tools() const = 0;

    virtual bool connected() const = 0;
    // Simulates pulling the cable: connected() turns false, a waiting read returns false.
    virtual void unplug() = 0;

    // restartClock: the camera clock restarts near 0; otherwise it goes on from where it was.
    virtual void startStream(bool restartClock) = 0;
    virtual void stopStream() = 0;
    // The file a replaying device plays (invalid for a sensor): no recording may overwrite it.
    virtual FileIdentity inputFile() const { return {}; }
    // Camera clock now (us since startStream).
    virtual uint64_t now() const = 0;
    // Waits for the next stretch of the stream and fills chunk (cleared first) with its
    // events and trigger edges, in time order. False when interrupted or the device is gone.
    virtual bool read(EventChunk& chunk) = 0;
    // Makes a waiting (or the next) read return false at once.
    virtual void interrupt() = 0;

    // What a device receiving a stream from elsewhere left out (any thread).
    virtual NrStreamLoss streamLoss() const { return {}; }

    // APS images (fusion devices; the others have none). Called by the camera's APS thread
    // only: waits for the next frame after fromUs (camera time of its exposure start) and
    // fills frame; false when interrupted (interruptAps), gone, or the device has no APS.
    virtual bool readApsFrame(uint64_t fromUs, ApsFrame& frame) {
        (void)fromUs;
        (void)frame;
        return false;
    }
    virtual void interruptAps() {}
    virtual void resumeAps() {}
};

} // namespace norvale
