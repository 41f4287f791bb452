#include "network/NetworkCameras.h"

#include <algorithm>
#include <nlohmann/json.hpp>

#include "camera/SimulatedCameras.h"
#include "norvale/FuncUtils.h"
#include "norvale/Logger.h"

namespace norvale {

using nlohmann::json;

namespace {

constexpr double kMaxSide = 4096; // per-pixel state of the filters stays within reason

bool parseEntry(const json& e, NetworkCameraEntry& n, std::string& why) {
    if (!e.is_object()) {
        why = "not an object";
        return false;
    }
    std::string format = wireFormatName(n.stream.format);
    if (!entryText(e, "serial", n.desc.serial, why) || !entryText(e, "address", n.stream.address, why) ||
        !entryText(e, "format", format, why) || !entryText(e, "product", n.desc.product, why) ||
        !entryText(e, "manufacturer", n.desc.manufacturer, why))
        return false;
    if (n.desc.serial.empty()) {
        why = "\"serial\" is missing";
        return false;
    }
    if (!e.contains("port")) {
        why = "\"port\" is missing";
        return false;
    }
    double port = 0, width = n.stream.width, height = n.stream.height;
    if (!entryNumber(e, "port", port, 1, 65535, why) || !entryNumber(e, "width", width, 1, kMaxSide, why) ||
        !entryNumber(e, "height", height, 1, kMaxSide, why))
        return false;
    if (port != double(uint16_t(port)) || width != double(uint32_t(width)) || height != double(uint32_t(height))) {
        why = "\"port\", \"width\" and \"height\" must be whole numbers";
        return false;
    }
    bool address = false;
    try {
        address = isValidIP(n.stream.address);
    } catch (const std::exception&) {
    }
    if (!address) {
        why = "\"address\" \"" + n.stream.address + "\" is not a dotted-quad address";
        return false;
    }
    if (!parseWireFormat(format, n.stream.format)) {
        why = "\"format\" must be t64_x16_y16_on8 or t32_x16_y15_on1";
        return false;
    }
    n.stream.port = uint16_t(port);
    n.stream.width = uint32_t(width);
    n.stream.height = uint32_t(height);
    n.desc.linkType = LINK_NETWORK_STREAM;
    n.desc.localIp = n.stream.address;
    n.desc.firmwareVersion =
        std::string(wireFormatName(n.stream.format)) + " on udp port " + std::to_string(n.stream.port);
    return true;
}

} // namespace

namespace {

void setDefaults(NetworkCameraEntry& n) {
    n.desc.product = "Norvale UDP event stream";
    n.desc.manufacturer = "Norvale";
}

} // namespace

bool networkCameraFromUrl(const std::string& url, uint32_t width, uint32_t height, const std::string& format,
                          NetworkCameraEntry& out, std::string& why) {
    std::string host;
    uint16_t port = 0;
    if (!parseUdpUrl(url, host, port, why)) return false;
    if (host == "localhost") host = "127.0.0.1";
    const json entry = {{"serial", "UDP-" + host + "-" + std::to_string(port)},
                        {"address", host},
                        {"port", port},
                        {"width", width},
                        {"height", height},
                        {"format", format}};
    NetworkCameraEntry n;
    setDefaults(n);
    if (!parseEntry(entry, n, why)) return false;
    out = std::move(n);
    return true;
}

std::vector<NetworkCameraEntry> listNetworkCameras(const json* doc, const std::vector<std::string>& taken) {
    std::vector<NetworkCameraEntry> out;
    if (!doc || !doc->is_object() || !doc->contains("network_cameras")) return out;
    const std::string path = simulatedCamerasFilePath();
    const json& list = (*doc)["network_cameras"];
    if (!list.is_array()) {
        NR_LOG(LOG_WARN, "cameras file %s: \"network_cameras\" is not an array: no network cameras", path.c_str());
        return out;
    }
    for (size_t i = 0; i < list.size(); ++i) {
        NetworkCameraEntry n;
        setDefaults(n);
        std::string why;
        bool ok = false;
        try {
            ok = parseEntry(list[i], n, why);
        } catch (const json::exception& e) {
            why = e.what();
        }
        const auto same = [&](const std::string& s) { return s == n.desc.serial; };
        const bool duplicate =
            std::any_of(taken.begin(), taken.end(), same) ||
            std::any_of(out.begin(), out.end(), [&](const NetworkCameraEntry& o) { return same(o.desc.serial); });
        if (ok && duplicate) {
            ok = false;
            why = "serial " + n.desc.serial + " is listed already";
        }
        if (!ok) {
            NR_LOG(LOG_WARN, "cameras file %s: network camera %zu skipped: %s", path.c_str(), i, why.c_str());
            continue;
        }
        out.push_back(std::move(n));
    }
    return out;
}

} // namespace norvale
