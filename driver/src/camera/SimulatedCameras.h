#pragma once

// The list of simulated cameras: the three defaults and those of the simulated-cameras file
// (format in the README). Stateless; any thread.
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

// Defaults first, then the file's valid entries (each bad one skipped with a log line; a
// missing file is no error, an unreadable or non-JSON one is logged).
std::vector<SimulatedCameraEntry> listSimulatedCameras();

} // namespace norvale
