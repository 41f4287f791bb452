#pragma once

#include <map>
#include <memory>
#include <string>

#include "norvale/CameraTypes.h"
#include "norvale/DriverExport.h"

namespace norvale {

// One processing feature of a camera (biases, trigger in, anti-flicker, ...). It describes its
// parameters and applies every accepted setParam to the stream at once (from the next
// millisecond of events). A camera owns its tools; a tool kept after its camera is closed
// refuses every setParam (false, with a logged warning) and still reads its last values.
//
// Threads: any thread; calls are serialised by the tool's own lock. The streaming thread reads
// the settings through a separate snapshot, so setParam never waits for it.
class NR_DRIVER_EXPORT CameraTool {
public:
    class Impl;
    explicit CameraTool(std::unique_ptr<Impl> impl); // made by the driver
    ~CameraTool();
    CameraTool(const CameraTool&) = delete;
    CameraTool& operator=(const CameraTool&) = delete;

    ToolType getType() const;
    std::string getName() const;

    // Every parameter, ordered by name.
    std::map<std::string, BasicParameterInfo> getAllParamInfo() const;
    // False when name is not a parameter of that type.
    bool getIntParamInfo(const std::string& name, IntParameterInfo& info) const;
    bool getFloatParamInfo(const std::string& name, FloatParameterInfo& info) const;
    bool getBoolParamInfo(const std::string& name, BoolParameterInfo& info) const;
    bool getEnumParamInfo(const std::string& name, EnumParameterInfo& info) const;

    // Current value; false for an unknown name or another type (value untouched).
    bool getParam(const std::string& name, int& value) const;
    bool getParam(const std::string& name, float& value) const;
    bool getParam(const std::string& name, bool& value) const;
    bool getParam(const std::string& name, std::string& value) const;

    // False, and nothing changes, for an unknown name, another type, a value out of range, an
    // option not offered, a combination the tool refuses (an ROI that does not fit) or a closed
    // camera; the reason is logged as a warning on the calling thread.
    bool setParam(const std::string& name, int value);
    bool setParam(const std::string& name, float value);
    bool setParam(const std::string& name, bool value);
    bool setParam(const std::string& name, const std::string& value);
    bool setParam(const std::string& name, const char* value) { return setParam(name, std::string(value)); }

    Impl& impl() { return *d; }

private:
    std::unique_ptr<Impl> d;
};

} // namespace norvale
