#pragma once

// A simulated sensor: an event source (a scene or a replayed file) produced in real time, in
// steps of 1 ms of camera time paced by the wall clock, shaped by the biases and filtered by
// the sensor tools, with a trigger input. A step that falls behind catches up in steps of up
// to 10 ms; more than 2 s behind (a stalled machine), the lost time is skipped (with a log
// line), as a sensor whose read-out overflows loses it.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

#include "camera/ApsRenderer.h"
#include "camera/CameraDevice.h"
#include "camera/EventSource.h"
#include "camera/FilterChain.h"
#include "camera/SensorTools.h"

namespace norvale {

struct SimulatedDeviceOptions {
    uint64_t triggerPeriodUs = 1000000; // channel 0: rising at k * period, falling half a period later
    uint64_t apsPeriodUs = 0;           // fusion: channel 0 frames each APS exposure instead
    bool aps = false;
    bool realTime = true;               // false: read() runs ahead of the wall clock (tests, benchmarks)
};

class SimulatedDevice : public CameraDevice {
public:
    SimulatedDevice(std::unique_ptr<EventSource> source, const SimulatedDeviceOptions& options);

    uint32_t width() const override { return w; }
    uint32_t height() const override { return h; }
    const std::vector<std::shared_ptr<CameraTool>>& tools() const override { return toolList; }
    bool connected() const override { return plugged.load(); }
    void unplug() override;
    void startStream(bool restartClock) override;
    void stopStream() override {}
    FileIdentity inputFile() const override { return source->inputFile(); }
    uint64_t now() const override;
    bool read(EventChunk& chunk) override;
    void interrupt() override;

    bool readApsFrame(uint64_t fromUs, ApsFrame& frame) override;
    void interruptAps() override;
    void resumeAps() override;

    const std::shared_ptr<SensorControls>& controls() const { return ctl; }
    // Start of exposure k of the APS stream and its exposure time (fusion).
    uint64_t apsPeriodUs() const { return opts.apsPeriodUs; }

private:
    void addTriggers(uint64_t from, uint64_t to, EventChunk& chunk);

    std::unique_ptr<EventSource> source;
    SimulatedDeviceOptions opts;
    uint32_t w, h;
    std::shared_ptr<SensorControls> ctl;
    std::vector<std::shared_ptr<CameraTool>> toolList;

    std::atomic<bool> plugged{true};
    std::atomic<int64_t> clockStartNs{0}; // steady clock at startStream
    std::mutex waitMutex;
    std::condition_variable waitCv;
    bool interrupted = false; // guarded by waitMutex
    bool apsInterrupted = false; // guarded by waitMutex
    std::unique_ptr<ApsRenderer> renderer; // APS thread only
    std::atomic<uint64_t> producedUs{0};   // camera time read() has reached
    std::atomic<uint64_t> continuousUs{0}; // start of the stretch without a skip

    // streaming thread only
    uint64_t nextUs = 0;
    uint64_t seen[3] = {0, 0, 0};
    BiasSettings biases;
    TriggerSettings trig;
    ApsSettings aps;
    FilterChain filters;
};

} // namespace norvale
