#pragma once

// The APS image of the simulated scene: 3840 x 2160, blue-green-red, the shapes that the
// events show, placed through the camera's factory calibration (so that fusion lines up), a
// background gradient and the blinking patch; brightness follows exposure and gain.
// One thread at a time (the APS thread).
#include <cstdint>
#include <vector>

#include "camera/SceneSource.h"
#include "norvale/ApsFrame.h"
#include "norvale/JsonUtils.h"

namespace norvale {

constexpr int kApsWidth = 3840;
constexpr int kApsHeight = 2160;

// The factory calibration of our fusion cameras.
CalibratorParameters defaultFusionCalibration(const std::string& serial);

class ApsRenderer {
public:
    ApsRenderer(uint32_t dvsWidth, uint32_t dvsHeight);
    // A new frame exposed from startUs for exposureUs (timestamp = startUs, auxTimestamp = end).
    ApsFrame render(uint64_t startUs, uint64_t exposureUs, float gain);

private:
    uint32_t dvsW, dvsH;
    double a0, a2, a4, a5; // DVS -> APS affine map
    SceneSource::Rect patch;
    std::vector<SceneSource::Shape> shapes;
    std::vector<uint8_t> row;
};

} // namespace norvale
