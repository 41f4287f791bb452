#include "camera/SimulatedCameras.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <nlohmann/json.hpp>

#include "camera/CameraConfigFile.h"
#include "norvale/FuncUtils.h"
#include "norvale/Logger.h"
#include "norvale/SafeOutputFile.h"

namespace norvale {

using nlohmann::json;

namespace {

const char* const kManufacturer = "Norvale (simulated)";

SimulatedCameraEntry makeDefault(const std::string& serial, const std::string& product, const std::string& firmware,
                                SimKind kind, uint64_t seed) {
    SimulatedCameraEntry s;
    s.desc.serial = serial;
    s.desc.product = product;
    s.desc.manufacturer = kManufacturer;
    s.desc.firmwareVersion = firmware;
    s.kind = kind;
    s.seed = seed;
    return s;
}

std::vector<SimulatedCameraEntry> defaults() {
    std::vector<SimulatedCameraEntry> out;
    out.push_back(makeDefault("SIM-DVS-0001", "Norvale SimDVS 1280", "SIM_V1.0.0", SimKind::Dvs, 1));
    out.push_back(makeDefault("SIM-FUS-0001", "Velfox", "Velfox_V1.7.2", SimKind::Fusion, 2));
    SimulatedCameraEntry eth = makeDefault("SIM-ETH-0001", "Norvale SimDVS 1280 GigE", "SIM_V1.0.0", SimKind::Dvs, 3);
    eth.desc.linkType = LINK_ETHERNET;
    // documentation addresses (TEST-NET-1): nothing is ever sent to them
    eth.desc.cameraIp = "192.0.2.20";
    eth.desc.localIp = "192.0.2.1";
    eth.desc.netmask = "255.255.255.0";
    eth.desc.gateway = "192.0.2.1";
    eth.desc.macAddress = 0x02AB00000001ull;
    out.push_back(eth);
    return out;
}

constexpr size_t kMaxSerial = 64;
constexpr size_t kMaxText = 4096; // names, addresses, a replay file's path
constexpr size_t kMaxSimulatedCamerasBytes = 1 << 20; // a list of a few cameras is a few KB

bool validAddress(const std::string& s) {
    try {
        return isValidIP(s);
    } catch (const std::exception&) {
        return false;
    }
}

bool parseEntry(const json& e, SimulatedCameraEntry& s, std::string& why) {
    if (!e.is_object()) {
        why = "not an object";
        return false;
    }
    std::string kind = "dvs", link = "usb";
    if (!entryText(e, "serial", s.desc.serial, why) || !entryText(e, "kind", kind, why) ||
        !entryText(e, "link", link, why) || !entryText(e, "product", s.desc.product, why) ||
        !entryText(e, "manufacturer", s.desc.manufacturer, why) ||
        !entryText(e, "firmware", s.desc.firmwareVersion, why) || !entryText(e, "camera_ip", s.desc.cameraIp, why) ||
        !entryText(e, "local_ip", s.desc.localIp, why) || !entryText(e, "netmask", s.desc.netmask, why) ||
        !entryText(e, "gateway", s.desc.gateway, why) || !entryText(e, "file", s.file, why))
        return false;
    if (s.desc.serial.compare(0, 4, "SIM-") != 0) {
        why = "\"serial\" must begin with \"SIM-\"";
        return false;
    }
    double rateMev = s.eventRate / 1e6, periodMs = double(s.triggerPeriodUs) / 1000.0, seed = double(s.seed);
    if (!entryNumber(e, "event_rate", rateMev, 0, 50, why) ||
        !entryNumber(e, "trigger_period_ms", periodMs, 0, 3600000, why) ||
        !entryNumber(e, "seed", seed, 0, 4294967295.0, why))
        return false;
    s.eventRate = rateMev * 1e6;
    s.triggerPeriodUs = uint64_t(periodMs * 1000.0);
    s.seed = uint64_t(seed);
    if (kind == "dvs") s.kind = SimKind::Dvs;
    else if (kind == "fusion") s.kind = SimKind::Fusion;
    else if (kind == "replay") s.kind = SimKind::Replay;
    else {
        why = "\"kind\" must be dvs, fusion or replay";
        return false;
    }
    if (link == "usb") s.desc.linkType = LINK_USB;
    else if (link == "ethernet") s.desc.linkType = LINK_ETHERNET;
    else {
        why = "\"link\" must be usb or ethernet";
        return false;
    }
    if (s.desc.linkType == LINK_ETHERNET) { // addresses may conflict or lie elsewhere, but must be addresses
        for (const std::string* a : {&s.desc.cameraIp, &s.desc.localIp, &s.desc.netmask, &s.desc.gateway})
            if (!a->empty() && !validAddress(*a)) {
                why = "\"" + *a + "\" is not a dotted-quad address";
                return false;
            }
    }
    if (s.kind == SimKind::Replay) {
        struct stat st {};
        if (s.file.empty()) {
            why = "a replay camera needs a \"file\"";
            return false;
        }
        if (::stat(s.file.c_str(), &st) != 0) {
            why = "replay file \"" + s.file + "\" cannot be used: " + std::strerror(errno);
            return false;
        }
        if (!S_ISREG(st.st_mode)) {
            why = "replay file \"" + s.file + "\" is " + fileKindText(st.st_mode) +
                  ", not a regular file";
            return false;
        }
    }
    if (s.kind == SimKind::Fusion && !e.contains("product")) s.desc.product = "Velfox";
    if (s.kind == SimKind::Fusion && !e.contains("firmware")) s.desc.firmwareVersion = "Velfox_V1.7.2";
    return true;
}

} // namespace

// Reads a string member; false (and why) when present with another type, holding a control
// character (it would break a file header or a listing) or longer than a sane limit.
bool entryText(const json& e, const char* key, std::string& out, std::string& why) {
    if (!e.contains(key)) return true;
    if (!e[key].is_string()) {
        why = std::string("\"") + key + "\" is not a string";
        return false;
    }
    const std::string value = e[key].get<std::string>();
    const size_t limit = std::string(key) == "serial" ? kMaxSerial : kMaxText;
    if (value.size() > limit) {
        why = std::string("\"") + key + "\" is longer than " + std::to_string(limit) + " bytes";
        return false;
    }
    for (unsigned char c : value)
        if (c < 0x20 || c == 0x7F) {
            why = std::string("\"") + key + "\" holds a control character";
            return false;
        }
    out = value;
    return true;
}

bool entryNumber(const json& e, const char* key, double& out, double min, double max, std::string& why) {
    if (!e.contains(key)) return true;
    if (!e[key].is_number() || e[key].get<double>() < min || e[key].get<double>() > max) {
        why = std::string("\"") + key + "\" is not a number in range";
        return false;
    }
    out = e[key].get<double>();
    return true;
}

std::string simulatedCamerasFilePath() {
    if (const char* env = std::getenv("NORVALE_SIMULATED_CAMERAS"); env && *env) return env;
    std::string base;
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg) base = xdg;
    else if (const char* home = std::getenv("HOME"); home && *home) base = std::string(home) + "/.local/share";
    else return "";
    return base + "/Norvale/NorvaleCamView/simulated_cameras.json";
}

bool loadCamerasFile(json& doc) {
    const std::string path = simulatedCamerasFilePath();
    if (path.empty()) return false;
    // Read like a camera configuration: a FIFO or a device is never waited on, a huge file never
    // read whole.
    std::string text, problem;
    bool missing = false;
    if (!readSmallTextFile(path, kMaxSimulatedCamerasBytes, text, problem, &missing)) {
        if (!missing) // no file: the defaults only, silently
            NR_LOG(LOG_WARN, "simulated cameras file %s cannot be read (%s): default cameras only", path.c_str(),
                   problem.c_str());
        return false;
    }
    try {
        doc = json::parse(text);
    } catch (const json::exception& e) {
        NR_LOG(LOG_WARN, "simulated cameras file %s is not JSON (%s): default cameras only", path.c_str(), e.what());
        return false;
    }
    return true;
}

std::vector<SimulatedCameraEntry> listSimulatedCameras() {
    json doc;
    return listSimulatedCameras(loadCamerasFile(doc) ? &doc : nullptr);
}

std::vector<SimulatedCameraEntry> listSimulatedCameras(const json* doc) {
    std::vector<SimulatedCameraEntry> out = defaults();
    if (!doc) return out;
    const std::string path = simulatedCamerasFilePath();
    const json* list = doc->is_object() && doc->contains("cameras") ? &(*doc)["cameras"] : nullptr;
    if (!list || !list->is_array()) {
        // a file of network cameras only needs no simulated ones
        if (!doc->is_object() || !doc->contains("network_cameras"))
            NR_LOG(LOG_WARN, "simulated cameras file %s has no \"cameras\" array: default cameras only", path.c_str());
        return out;
    }
    for (size_t i = 0; i < list->size(); ++i) {
        SimulatedCameraEntry s;
        s.desc.manufacturer = kManufacturer;
        s.desc.product = "Norvale SimDVS 1280";
        s.desc.firmwareVersion = "SIM_V1.0.0";
        s.seed = 100 + i;
        std::string why;
        bool ok = false;
        try {
            ok = parseEntry((*list)[i], s, why);
        } catch (const json::exception& e) {
            why = e.what();
        }
        bool duplicate = false;
        for (const auto& o : out) duplicate = duplicate || o.desc.serial == s.desc.serial;
        if (ok && duplicate) {
            ok = false;
            why = "serial " + s.desc.serial + " is listed already";
        }
        if (!ok) {
            NR_LOG(LOG_WARN, "simulated cameras file %s: entry %zu skipped: %s", path.c_str(), i, why.c_str());
            continue;
        }
        out.push_back(std::move(s));
    }
    return out;
}

} // namespace norvale
