// Camera configuration files and the simulated-cameras file over arbitrary bytes: no crash; a
// configuration is applied whole (every value then within its parameter's range) or not at all
// (every value as before); the camera list always starts with the three default cameras and
// holds only "SIM-" serials.
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "camera/CameraConfigFile.h"
#include "camera/SensorTools.h"
#include "camera/SimulatedCameras.h"

using namespace norvale;

namespace {
std::string tempFile() {
    struct Temp { // removed when the fuzzer exits
        std::string path = "/tmp/norvale_fuzz_cameraconfig_" + std::to_string(::getpid()) + ".json";
        ~Temp() { ::unlink(path.c_str()); }
    };
    static const Temp t;
    return t.path;
}

bool inRange(CameraTool& t) {
    for (const auto& [name, info] : t.getAllParamInfo()) {
        if (info.type == PARAM_INT) {
            IntParameterInfo i;
            int v = 0;
            if (!t.getIntParamInfo(name, i) || !t.getParam(name, v) || v < i.min || v > i.max) return false;
        } else if (info.type == PARAM_FLOAT) {
            FloatParameterInfo f;
            float v = 0;
            if (!t.getFloatParamInfo(name, f) || !t.getParam(name, v) || !(v >= f.min && v <= f.max)) return false;
        }
    }
    return true;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    {
        std::ofstream out(tempFile(), std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), std::streamsize(size));
    }
    auto controls = std::make_shared<SensorControls>();
    ToolSetOptions o;
    o.aps = true;
    auto tools = makeSensorTools(controls, o);
    std::vector<ToolValues> before;
    for (auto& t : tools) before.push_back(t->impl().values());
    if (loadToolConfig(tempFile(), tools)) {
        for (auto& t : tools)
            if (!inRange(*t)) std::abort();
    } else {
        for (size_t i = 0; i < tools.size(); ++i) {
            const ToolValues now = tools[i]->impl().values();
            for (const auto& [n, v] : now) {
                const ParamValue& b = before[i].at(n);
                if (v.i != b.i || v.b != b.b || v.s != b.s || !(v.f == b.f)) std::abort();
            }
        }
    }
    setenv("NORVALE_SIMULATED_CAMERAS", tempFile().c_str(), 1);
    const auto cams = listSimulatedCameras();
    if (cams.size() < 3 || cams[0].desc.serial != "SIM-DVS-0001" || cams[1].desc.product != "Velfox") std::abort();
    for (const auto& c : cams)
        if (c.desc.serial.compare(0, 4, "SIM-") != 0) std::abort();
    return 0;
}
