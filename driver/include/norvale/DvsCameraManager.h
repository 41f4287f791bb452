#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "norvale/CameraTypes.h"
#include "norvale/DriverExport.h"
#include "norvale/DvsCamera.h"
#include "norvale/FusionCamera.h"

namespace norvale {

// Lists and opens the cameras. Our cameras are simulated devices (serials begin with "SIM-"):
// always a USB DVS camera, a USB fusion camera and an Ethernet DVS camera, plus those of the
// simulated-cameras file (see the README): the path in NORVALE_SIMULATED_CAMERAS, otherwise
// simulated_cameras.json in the per-user data folder (~/.local/share/Norvale/NorvaleCamView).
// The same file lists network cameras ("network_cameras"): event streams received over UDP
// (norvale/NetworkStream.h), listening on their address from open until released. Nothing is
// ever sent over a network.
//
// Threads: any thread; the list of open cameras and the address settings are process-wide and
// guarded by one lock.
class NR_DRIVER_EXPORT DvsCameraManager {
public:
    DvsCameraManager();
    ~DvsCameraManager();

    // Every camera, defaults first, then the file's in file order (bad entries are skipped with
    // a log line). Reads the file anew on each call.
    std::vector<CameraDescription> getCameraDescs();

    // Empty when the serial is unknown, is of the other kind, or the camera is open already
    // (in this process) and not yet released.
    std::shared_ptr<DvsCamera> openCamera(const std::string& serial);
    std::shared_ptr<FusionCamera> openFusionCamera(const std::string& serial);
    // True when serial names a fusion camera (opened with openFusionCamera), false for a DVS
    // camera or an unknown serial.
    bool isFusionCamera(const std::string& serial);

    // Adds a network camera for the rest of this process, beside the file's: the event stream of
    // format ("t64_x16_y16_on8" or "t32_x16_y15_on1") and width x height (1 to 4096 each) that
    // comes to udp://ADDRESS:PORT (a dotted quad or localhost; nothing listens until it is opened).
    // Returns its serial, "UDP-ADDRESS-PORT", the same for the same address and port (with the
    // new settings, unless it is open); "" with why when refused.
    static std::string addNetworkCamera(const std::string& url, uint32_t width, uint32_t height,
                                        const std::string& format, std::string& why);

    // Gives an Ethernet camera a new address (first dotted part most significant). False for a
    // camera that is not a known Ethernet camera, an address of 0.0.0.0, a broadcast, network or
    // multicast address, a mask that is not contiguous (or leaves no host), or a gateway outside
    // the subnet. Otherwise kept for that serial: the next getCameraDescs shows it.
    static bool ethCameraForceIP(const CameraDescription& description, uint32_t ip, uint32_t mask, uint32_t gateway);
};

} // namespace norvale
