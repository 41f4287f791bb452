#include "norvale/DvsCameraManager.h"

#include <map>
#include <mutex>
#include <set>

#include "camera/CameraCore.h"
#include "camera/EthAddress.h"
#include "camera/FusionApsStream.h"
#include "camera/ReplaySource.h"
#include "camera/SceneSource.h"
#include "camera/SimulatedCameras.h"
#include "camera/SimulatedDevice.h"
#include "norvale/FuncUtils.h"
#include "norvale/Logger.h"

namespace norvale {

namespace {

struct EthSettings {
    std::string ip, mask, gateway;
};

// Process-wide: which serials are open, and the addresses given to Ethernet cameras.
struct Registry {
    std::mutex mutex;
    std::set<std::string> open;
    std::map<std::string, EthSettings> addresses;
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

bool findEntry(const std::string& serial, SimulatedCameraEntry& out) {
    for (auto& s : listSimulatedCameras())
        if (s.desc.serial == serial) {
            out = std::move(s);
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

std::shared_ptr<CameraCore> openCore(const std::string& serial, bool fusion) {
    SimulatedCameraEntry entry;
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
    for (auto& s : listSimulatedCameras()) {
        applyAddresses(s.desc);
        s.desc.deviceIndex = int32_t(out.size());
        out.push_back(std::move(s.desc));
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
