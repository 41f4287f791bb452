#pragma once

// The network cameras of the cameras file: its "network_cameras" array, beside the simulated
// cameras' "cameras". Each entry:
//   {"serial": "NET-0001", "address": "127.0.0.1", "port": 5000, "width": 640, "height": 480,
//    "format": "t64_x16_y16_on8", "product": "...", "manufacturer": "..."}
// serial and port are required; address defaults to 127.0.0.1 (another interface, or 0.0.0.0
// for all, only when named), width x height to 1280 x 720 (each 1 to 4096), format to
// t64_x16_y16_on8. Stateless; any thread.
#include <nlohmann/json_fwd.hpp>
#include <string>
#include <vector>

#include "network/NetworkDevice.h"
#include "norvale/CameraTypes.h"

namespace norvale {

struct NetworkCameraEntry {
    CameraDescription desc; // linkType LINK_NETWORK_STREAM, localIp the address listened on
    NetworkStreamSettings stream;
};

// The valid entries of doc (null: none) whose serial is not in taken; each bad one is skipped
// with a log line naming why.
std::vector<NetworkCameraEntry> listNetworkCameras(const nlohmann::json* doc, const std::vector<std::string>& taken);

// A network camera named at run time by "udp://ADDRESS:PORT" ("localhost" is 127.0.0.1), with the
// checks of a file's entry; its serial is "UDP-ADDRESS-PORT". False with why.
bool networkCameraFromUrl(const std::string& url, uint32_t width, uint32_t height, const std::string& format,
                          NetworkCameraEntry& out, std::string& why);

} // namespace norvale
