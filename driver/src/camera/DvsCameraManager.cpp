#include "norvale/DvsCameraManager.h"

#include <algorithm>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <set>

#include "camera/CameraCore.h"
#include "camera/EthAddress.h"
#include "camera/FusionApsStream.h"
#include "camera/ReplaySource.h"
#include "camera/SceneSource.h"
#include "camera/SimulatedCameras.h"
#include "camera/SimulatedDevice.h"
#include "network/NetworkCameras.h"
#include "norvale/FuncUtils.h"
#include "norvale/Logger.h"

namespace norvale {

namespace {

struct EthSettings {
    std::string ip, mask, gateway;
};

// Process-wide: which serials are open, the addresses given to Ethernet cameras and the network
// cameras added at run time.
struct Registry {
    std::mutex mutex;
    std::set<std::string> open;
    std::map<std::string, EthSettings> addresses;
    std::vector<NetworkCameraEntry> added;
};
Registry& registry() {
    static Registry r;
    return r;
}

void applyAddresses(CameraDescription& d) {
    std::lock_guard<std::mutex> lock(registry().mutex);
    const auto it = registry().addresses.find(d.serial);
    if (it == registry().addresses.end()) return;
    d.cameraIp = it->second.ip;
    d.netmask = it->second.mask;
    d.gateway = it->second.gateway;
}

// Every camera of the cameras file (read anew), simulated ones first.
struct Listing {
    std::vector<SimulatedCameraEntry> simulated;
    std::vector<NetworkCameraEntry> network;
};
Listing listCameras() {
    nlohmann::json doc;
    const nlohmann::json* file = loadCamerasFile(doc) ? &doc : nullptr;
    Listing l;
    l.simulated = listSimulatedCameras(file);
    std::vector<std::string> serials;
    for (const auto& s : l.simulated) serials.push_back(s.desc.serial);
    l.network = listNetworkCameras(file, serials);
    // Those added at run time after the file's, unless the file names the same serial.
    for (const auto& n : l.network) serials.push_back(n.desc.serial);
    std::lock_guard<std::mutex> lock(registry().mutex);
    for (const auto& n : registry().added)
        if (std::find(serials.begin(), serials.end(), n.desc.serial) == serials.end()) l.network.push_back(n);
    return l;
}

bool findEntry(const std::string& serial, SimulatedCameraEntry& out) {
    for (auto& s : listSimulatedCameras())
        if (s.desc.serial == serial) {
            out = std::move(s);
            return true;
        }
    return false;
}

bool findNetworkEntry(const std::string& serial, NetworkCameraEntry& out) {
    for (auto& n : listCameras().network)
        if (n.desc.serial == serial) {
            out = std::move(n);
            return true;
        }
    return false;
}

// Claims the serial; false when it is open already.
bool claim(const std::string& serial) {
    std::lock_guard<std::mutex> lock(registry().mutex);
    return registry().open.insert(serial).second;
}
void unclaim(const std::string& serial) {
    std::lock_guard<std::mutex> lock(registry().mutex);
    registry().open.erase(serial);
}

// The device of an entry; empty when its replay file cannot be played.
std::unique_ptr<SimulatedDevice> makeDevice(const SimulatedCameraEntry& s) {
    std::unique_ptr<EventSource> source;
    if (s.kind == SimKind::Replay) source = ReplaySource::open(s.file, s.seed);
    else source = std::make_unique<SceneSource>(1280, 720, s.eventRate, s.seed);
    if (!source) return nullptr;
    SimulatedDeviceOptions o;
    o.triggerPeriodUs = s.triggerPeriodUs;
    if (s.kind == SimKind::Fusion) {
        o.apsPeriodUs = FusionApsStream::kFramePeriodUs;
        o.aps = true;
    }
    return std::make_unique<SimulatedDevice>(std::move(source), o);
}

// A network camera listens on its address once opened; empty (logged) when it cannot.
std::shared_ptr<CameraCore> openNetworkCore(const NetworkCameraEntry& entry) {
    const std::string serial = entry.desc.serial;
    if (!claim(serial)) {
        NR_LOG(LOG_WARN, "camera %s is open already", serial.c_str());
        return nullptr;
    }
    std::string why;
    auto device = NetworkDevice::open(entry.stream, why);
    if (!device) {
        NR_LOG(LOG_ERROR, "network camera %s cannot be opened: %s", serial.c_str(), why.c_str());
        unclaim(serial);
        return nullptr;
    }
    NR_LOG(LOG_INFO, "network camera %s listens on udp://%s:%u (%s, %ux%u)", serial.c_str(),
           entry.stream.address.c_str(), unsigned(entry.stream.port), wireFormatName(entry.stream.format),
           entry.stream.width, entry.stream.height);
    return std::make_shared<CameraCore>(entry.desc, std::move(device), [serial] { unclaim(serial); });
}

std::shared_ptr<CameraCore> openCore(const std::string& serial, bool fusion) {
    SimulatedCameraEntry entry;
    if (NetworkCameraEntry net; !findEntry(serial, entry) && findNetworkEntry(serial, net)) {
        if (fusion) {
            NR_LOG(LOG_WARN, "camera %s is not a fusion camera", serial.c_str());
            return nullptr;
        }
        return openNetworkCore(net);
    }
    if (!findEntry(serial, entry)) {
        NR_LOG(LOG_WARN, "no camera with serial %s", serial.c_str());
        return nullptr;
    }
    if ((entry.kind == SimKind::Fusion) != fusion) {
        NR_LOG(LOG_WARN, "camera %s is %s fusion camera", serial.c_str(), fusion ? "not a" : "a");
        return nullptr;
    }
    if (!claim(serial)) {
        NR_LOG(LOG_WARN, "camera %s is open already", serial.c_str());
        return nullptr;
    }
    auto device = makeDevice(entry);
    if (!device) {
        unclaim(serial);
        return nullptr;
    }
    applyAddresses(entry.desc);
    return std::make_shared<CameraCore>(entry.desc, std::move(device), [serial] { unclaim(serial); }, fusion);
}

} // namespace

DvsCameraManager::DvsCameraManager() = default;
DvsCameraManager::~DvsCameraManager() = default;

std::vector<CameraDescription> DvsCameraManager::getCameraDescs() {
    std::vector<CameraDescription> out;
    Listing all = listCameras();
    for (auto& s : all.simulated) {
        applyAddresses(s.desc);
        s.desc.deviceIndex = int32_t(out.size());
        out.push_back(std::move(s.desc));
    }
    for (auto& n : all.network) {
        n.desc.deviceIndex = int32_t(out.size());
        out.push_back(std::move(n.desc));
    }
    return out;
}

std::shared_ptr<DvsCamera> DvsCameraManager::openCamera(const std::string& serial) {
    auto core = openCore(serial, false);
    return core ? std::make_shared<DvsCamera>(std::move(core)) : nullptr;
}

bool DvsCameraManager::isFusionCamera(const std::string& serial) {
    SimulatedCameraEntry entry;
    return findEntry(serial, entry) && entry.kind == SimKind::Fusion;
}

std::shared_ptr<FusionCamera> DvsCameraManager::openFusionCamera(const std::string& serial) {
    auto core = openCore(serial, true);
    if (!core) return nullptr;
    auto aps = std::make_unique<FusionApsStream>(core);
    return std::make_shared<FusionCamera>(std::move(core), std::move(aps));
}

std::string DvsCameraManager::addNetworkCamera(const std::string& url, uint32_t width, uint32_t height,
                                              const std::string& format, std::string& why) {
    NetworkCameraEntry entry;
    if (!networkCameraFromUrl(url, width, height, format, entry, why)) return "";
    std::lock_guard<std::mutex> lock(registry().mutex);
    Registry& r = registry();
    const std::string serial = entry.desc.serial;
    auto same = std::find_if(r.added.begin(), r.added.end(),
                             [&](const NetworkCameraEntry& n) { return n.desc.serial == serial; });
    if (same != r.added.end()) {
        const NetworkStreamSettings& had = same->stream;
        const bool changed = had.width != entry.stream.width || had.height != entry.stream.height ||
                             had.format != entry.stream.format;
        if (changed && r.open.count(serial)) {
            why = serial + " is open with other settings: close it first";
            return "";
        }
        *same = std::move(entry);
    } else {
        r.added.push_back(std::move(entry));
    }
    return serial;
}

bool DvsCameraManager::ethCameraForceIP(const CameraDescription& description, uint32_t ip, uint32_t mask,
                                        uint32_t gateway) {
    SimulatedCameraEntry entry;
    if (!findEntry(description.serial, entry) || entry.desc.linkType != LINK_ETHERNET) {
        NR_LOG(LOG_WARN, "%s is not an Ethernet camera we know", description.serial.c_str());
        return false;
    }
    std::string reason;
    if (!validEthSettings(ip, mask, gateway, reason)) {
        NR_LOG(LOG_WARN, "new address of %s refused: %s", description.serial.c_str(), reason.c_str());
        return false;
    }
    std::lock_guard<std::mutex> lock(registry().mutex);
    registry().addresses[description.serial] = EthSettings{ipToString(ip), ipToString(mask), ipToString(gateway)};
    NR_LOG(LOG_INFO, "camera %s now has address %s/%s, gateway %s", description.serial.c_str(),
           ipToString(ip).c_str(), ipToString(mask).c_str(), ipToString(gateway).c_str());
    return true;
}

} // namespace norvale
