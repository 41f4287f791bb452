#pragma once

// The settings that the sensor tools publish and the streaming thread applies. Plain values.
#include <cstdint>

namespace norvale {

struct BiasSettings {
    int diffOn = 0;  // ON contrast threshold: higher, fewer ON events
    int diffOff = 0; // OFF contrast threshold
    int refr = 0;    // refractory period: higher, fewer follow-up events per pixel
    int fo = 0;      // photoreceptor low-pass: higher, faster and noisier
    int hpf = 0;     // high-pass: higher, less noise and shorter trails
};

struct TriggerSettings {
    bool channel[2] = {false, false};
};

struct AntiFlickerSettings {
    enum Mode { BandStop = 0, BandPass = 1 };
    bool enable = false;
    int lowHz = 50;
    int highHz = 520;
    int mode = BandStop;
    float dutyCycle = 50; // % of the period the light is on
};

struct TrailSettings {
    enum Type { Trail = 0, StcCutTrail = 1, StcKeepTrail = 2 };
    bool enable = false;
    int type = Trail;
    int thresholdUs = 10000;
};

struct RateControlSettings {
    bool enable = false;
    int maxKevPerSecond = 10000; // events per millisecond
};

struct RoiSettings {
    bool enable = false;
    int x = 0, y = 0, width = 1280, height = 720;
};

struct ApsSettings {
    int exposureUs = 10000;
    float gain = 1.0f;
    bool autoExposure = false;
};

} // namespace norvale

namespace norvale {

// The exposure an APS frame gets: the set one, or with auto exposure the one that gives a
// mid-grey image of our scene at gain 1.
inline int effectiveExposureUs(const ApsSettings& s) { return s.autoExposure ? 8000 : s.exposureUs; }
inline float effectiveGain(const ApsSettings& s) { return s.autoExposure ? 1.0f : s.gain; }

} // namespace norvale
