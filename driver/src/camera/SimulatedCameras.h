#pragma once

// The list of simulated cameras: the three defaults and those of the cameras file
// (format in the README). Stateless; any thread.
#include <nlohmann/json_fwd.hpp>
#include <string>
#include <vector>

#include "norvale/CameraTypes.h"

namespace norvale {

enum class SimKind { Dvs, Fusion, Replay };

struct SimulatedCameraEntry {
    CameraDescription desc;
    SimKind kind = SimKind::Dvs;
    double eventRate = 3e6;             // events per second with the biases at 0 (scene cameras)
    uint64_t triggerPeriodUs = 1000000; // the simulated trigger input's period
    std::string file;                   // replay cameras: the raw file played as the live stream
    uint64_t seed = 1;
};

// Where the simulated-cameras file is: $NORVALE_SIMULATED_CAMERAS, else
// $XDG_DATA_HOME (or ~/.local/share) + /Norvale/NorvaleCamView/simulated_cameras.json.
std::string simulatedCamerasFilePath();

// An entry's string member (absent: out unchanged); false (and why) when of another type, holding a
// control character or longer than a sane limit ("serial": 64 bytes).
bool entryText(const nlohmann::json& entry, const char* key, std::string& out, std::string& why);
// An entry's number member within [min, max] (absent: out unchanged).
bool entryNumber(const nlohmann::json& entry, const char* key, double& out, double min, double max, std::string& why);

// The cameras file parsed; false when there is none (silently) or it is unusable (logged).
bool loadCamerasFile(nlohmann::json& doc);

// Defaults first, then the valid entries of the file's "cameras" (each bad one skipped with a
// log line; a missing file is no error, an unreadable or non-JSON one is logged).
std::vector<SimulatedCameraEntry> listSimulatedCameras();
// The same from a file read already (null: none).
std::vector<SimulatedCameraEntry> listSimulatedCameras(const nlohmann::json* doc);

} // namespace norvale
