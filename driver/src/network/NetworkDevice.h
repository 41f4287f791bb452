#pragma once

// A network camera: events received over UDP in one wire format, on a sensor of a declared
// geometry, checked (WireDecoder), put in time order and handed on as the stream of a camera,
// with the processing tools (ROI, anti-flicker, event trail filter, event rate control) acting
// on it as on a simulated sensor. Biases and trigger input belong to the sensor at the far end:
// they are not offered.
//
// Time: the camera clock is the stream's own (t64 as sent, t32 unwrapped). A datagram may come
// up to kReorderWindowUs late and still take its place; events are handed on once the stream
// is that far past them, once it pauses for kIdleFlushMs, or at once when more than 64 Ki events
// wait (a rate above 32 Mev/s: the window then shrinks to what that many events span). A datagram older than what was
// handed on already is dropped whole and counted. A stream that starts over at earlier times
// therefore needs the camera restarted (stop, start; not while it records, since a recording's
// time must go on): a run of late datagrams says so in the log.
//
// Threads: read from the streaming thread; the rest as CameraDevice says. Counters are atomics.
#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "camera/CameraDevice.h"
#include "camera/FilterChain.h"
#include "camera/SensorTools.h"
#include "network/UdpReceiver.h"
#include "network/WireDecoder.h"

namespace norvale {

struct NetworkStreamSettings {
    std::string address = "127.0.0.1"; // the interface listened on
    uint16_t port = 0;
    uint32_t width = 1280, height = 720;
    WireFormat format = WireFormat::T64_X16_Y16_ON8;
};

class NetworkDevice : public CameraDevice {
public:
    static constexpr uint64_t kReorderWindowUs = 2000;
    static constexpr int kIdleFlushMs = 20;
    static constexpr size_t kMaxChunkEvents = 100000; // what one read hands on at most

    // Empty (and why) when the address cannot be listened on.
    static std::unique_ptr<NetworkDevice> open(const NetworkStreamSettings& settings, std::string& why);

    uint32_t width() const override { return cfg.width; }
    uint32_t height() const override { return cfg.height; }
    const std::vector<std::shared_ptr<CameraTool>>& tools() const override { return toolList; }
    bool connected() const override { return plugged.load(); }
    void unplug() override;
    void startStream(bool restartClock) override;
    void stopStream() override {}
    uint64_t now() const override { return releasedUs.load(); }
    bool read(EventChunk& chunk) override;
    void interrupt() override { rx->interrupt(); }
    NrStreamLoss streamLoss() const override;

    uint16_t port() const { return rx->port(); }

private:
    NetworkDevice(const NetworkStreamSettings& settings, std::unique_ptr<UdpReceiver> receiver);
    void take(const uint8_t* data, size_t size);
    void release(EventChunk& chunk, bool all);

    NetworkStreamSettings cfg;
    std::unique_ptr<UdpReceiver> rx;
    std::shared_ptr<SensorControls> ctl;
    std::vector<std::shared_ptr<CameraTool>> toolList;
    std::atomic<bool> plugged{true};
    std::atomic<uint64_t> releasedUs{0}; // events before this time have been handed on

    // streaming thread only
    WireDecoder decoder;
    FilterChain filters;
    std::vector<Event2D> pending; // received, in time order, not yet handed on
    std::vector<Event2D> merged;  // scratch for a late datagram's merge
    uint64_t newestUs = 0;
    int64_t lastArrivalNs = 0;
    uint64_t dropBase = 0;   // the receiver's drop count when streaming (re)started
    uint64_t lostBefore = 0; // lost in earlier stretches of streaming
    static constexpr int kLateToWarn = 100; // late datagrams in a row that mean the sender started over
    int lateInARow = 0;
    bool warnedLate = false;

    std::atomic<uint64_t> datagrams{0}, lost{0}, malformed{0}, reordered{0}, reorderedEvents{0}, invalid{0};
};

} // namespace norvale
