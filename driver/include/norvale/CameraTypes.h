#pragma once

// Plain records shared by the cameras, their tools and their users. Copyable values; any thread.
#include <cstdint>
#include <string>
#include <vector>

namespace norvale {

// Which streams of a fusion camera to start, stop or record; also the viewer's view type.
enum STREAM_TYPE : int {
    STREAM_DVS = 0,
    STREAM_APS = 1,
    STREAM_FUSION = 2, // both
};

// Selects one of a camera's tools. 2 is not used.
enum ToolType : int {
    TOOL_BIASES = 0,
    TOOL_TRIGGER_IN = 1,
    TOOL_ANTI_FLICKER = 3,
    TOOL_EVENT_TRAIL_FILTER = 4,
    TOOL_EVENT_RATE_CONTROL = 5,
    TOOL_ROI = 6,
    TOOL_APS = 7,
};

// Figures of the last second of streaming.
struct NrStatisticInfo {
    uint64_t bandwidth = 0; // bytes per second of the stream encoded as EVT 3.0
    uint64_t eventRate = 0; // events per second delivered (after the camera's tools)
};

// What a network camera received and left out since it was opened (zero for other cameras).
// A UDP stream carries no sequence numbers, so datagrams lost on the way cannot be seen;
// lostDatagrams counts those this machine's receive queue had no room for (the camera could not
// keep up), as the system reports them.
struct NrStreamLoss {
    uint64_t datagrams = 0;          // received while streaming
    uint64_t lostDatagrams = 0;      // dropped by the receive queue while streaming
    uint64_t malformedDatagrams = 0; // empty or not a whole number of events: dropped whole
    uint64_t reorderedDatagrams = 0; // older than what was handed on already, or stepping back within
                                     // themselves: dropped whole
    uint64_t reorderedEvents = 0;    // the events of those
    uint64_t invalidEvents = 0;      // outside the geometry, or a polarity other than 0 or 1: left out
};

// How a camera is attached.
enum CameraLinkType : int32_t {
    LINK_USB = 0,
    LINK_ETHERNET = 1,
    LINK_NETWORK_STREAM = 2, // a network camera: an event stream received over UDP
};

// One camera as the manager lists it. Address fields are dotted quads; empty for USB cameras.
struct CameraDescription {
    std::string serial;
    std::string product;
    std::string manufacturer;
    int32_t deviceIndex = 0; // position in the manager's list
    int32_t linkType = LINK_USB;
    std::string cameraIp;
    std::string localIp; // the PC's address on the interface the camera is seen on
    std::string netmask;
    std::string firmwareVersion;
    std::string gateway;
    uint64_t macAddress = 0; // Ethernet cameras; 0 otherwise
};

// Value types of tool parameters.
enum ParamType : int {
    PARAM_INT = 0,
    PARAM_FLOAT = 1,
    PARAM_BOOL = 2,
    PARAM_ENUM = 4,
};

// A tool's self-description of one parameter. The typed records repeat the basic fields.
struct BasicParameterInfo {
    std::string name;        // lower-case words joined by "_"
    std::string description; // one sentence for a tooltip
    int type = PARAM_INT;    // ParamType
};

struct IntParameterInfo : BasicParameterInfo {
    int min = 0;
    int max = 0;
    int defaultValue = 0;
    std::string unit;
};

struct FloatParameterInfo : BasicParameterInfo {
    float min = 0;
    float max = 0;
    float defaultValue = 0;
    std::string unit;
};

struct BoolParameterInfo : BasicParameterInfo {
    bool defaultValue = false;
};

struct EnumParameterInfo : BasicParameterInfo {
    std::vector<std::string> options;
    std::string defaultValue; // one of options
};

// One entry of getAllToolsInfo.
struct ToolInfo {
    ToolType type = TOOL_BIASES;
    std::string name;        // "Biases", "Trigger In", ...
    std::string sectionName; // its object in a camera configuration file ("Biases", "TirggerIn", ...)
};

} // namespace norvale
