#pragma once

// The tools of our simulated sensors: what each parameter is called, its range and default,
// and how an accepted value set becomes the settings the streaming thread applies.
#include <memory>
#include <vector>

#include "camera/SensorSettings.h"
#include "camera/ToolImpl.h"

namespace norvale {

// Settings of every tool of one camera, shared with its streaming (and APS) thread.
struct SensorControls {
    SharedSettings<BiasSettings> biases;
    SharedSettings<TriggerSettings> trigger;
    SharedSettings<AntiFlickerSettings> antiFlicker;
    SharedSettings<TrailSettings> trail;
    SharedSettings<RateControlSettings> rate;
    SharedSettings<RoiSettings> roi;
    SharedSettings<ApsSettings> aps;
};

struct ToolSetOptions {
    uint32_t width = 1280, height = 720;
    bool trigger0Enabled = false; // the fusion camera frames its exposures on channel 0
    bool aps = false;
    bool sensorControls = true; // biases and trigger in: a stream received from elsewhere has neither
};

// Builds the tools, in the order getAllToolsInfo lists them, wired to controls (which must
// outlive the tools' use by the camera; the tools keep it alive).
std::vector<std::shared_ptr<CameraTool>> makeSensorTools(const std::shared_ptr<SensorControls>& controls,
                                                         const ToolSetOptions& options);

} // namespace norvale
