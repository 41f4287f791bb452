#include "CameraCommands.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <thread>

#include "norvale/DvsCameraManager.h"

using namespace norvale;

int cmdCameras(const Args& args) {
    if (!args.positional().empty()) throw UsageError("usage: nrraw cameras");
    DvsCameraManager manager;
    const auto cams = manager.getCameraDescs();
    std::printf("%-20s %-26s %-9s %-16s %-16s %-16s %-16s %s\n", "serial", "product", "link", "camera ip", "local ip",
                "netmask", "gateway", "firmware");
    auto or_ = [](const std::string& s) { return s.empty() ? std::string("-") : s; };
    for (const auto& c : cams)
        std::printf("%-20s %-26s %-9s %-16s %-16s %-16s %-16s %s\n", c.serial.c_str(), c.product.c_str(),
                    c.linkType == LINK_ETHERNET ? "ethernet" : "usb", or_(c.cameraIp).c_str(), or_(c.localIp).c_str(),
                    or_(c.netmask).c_str(), or_(c.gateway).c_str(), or_(c.firmwareVersion).c_str());
    return 0;
}

int cmdRecord(const Args& args) {
    if (args.positional().size() != 2 || !args.has("--seconds"))
        throw UsageError("usage: nrraw record SERIAL OUT --seconds N [--config FILE] [--progress]");
    const std::string serial = args.positional()[0], out = args.positional()[1];
    const double seconds = args.number("--seconds", 0);
    if (!(seconds > 0 && seconds <= 86400)) throw UsageError("--seconds must be above 0 and at most 86400");
    const bool hasConfig = args.has("--config");
    const std::string config = hasConfig ? args.text("--config") : std::string();
    const auto duration = std::chrono::duration<double>(seconds);

    DvsCameraManager manager;
    bool fusion = false, known = false;
    for (const auto& c : manager.getCameraDescs())
        if (c.serial == serial) {
            known = true;
            fusion = manager.isFusionCamera(serial); // whatever its product name
        }
    if (!known) {
        std::fprintf(stderr, "nrraw: no camera %s (nrraw cameras lists them)\n", serial.c_str());
        return 1;
    }
    // opened, configured and started, or a message and empty
    auto prepare = [&](auto cam, const char* what) -> decltype(cam) {
        if (!cam) {
            std::fprintf(stderr, "nrraw: camera %s cannot be opened\n", serial.c_str());
            return nullptr;
        }
        if (hasConfig && !cam->loadCameraConfigParams(config)) {
            std::fprintf(stderr, "nrraw: %s: not a usable camera configuration\n", config.c_str());
            return nullptr;
        }
        std::fprintf(stderr, "recording %s to %s%s for %g s\n", serial.c_str(), out.c_str(), what, seconds);
        return cam;
    };
    if (fusion) {
        auto cam = prepare(manager.openFusionCamera(serial), ".raw/.mp4/.json");
        if (!cam) return 1;
        const std::filesystem::path p(out);
        const std::string folder = p.has_parent_path() ? p.parent_path().string() : ".";
        if (cam->start(STREAM_FUSION) != 0 || !cam->startRecording(folder, p.filename().string(), STREAM_FUSION)) {
            std::fprintf(stderr, "nrraw: cannot record %s to %s (.raw, .mp4, .json)\n", serial.c_str(), out.c_str());
            return 1;
        }
        std::this_thread::sleep_for(duration);
        const bool ok = cam->stopRecording(STREAM_FUSION);
        cam->stop(STREAM_FUSION);
        std::printf("frames: %llu\n", (unsigned long long)cam->getRecordedFrameCount());
        std::printf("events: %llu\n", (unsigned long long)cam->getRecordedEventCount());
        return ok ? 0 : 1;
    }
    auto cam = prepare(manager.openCamera(serial), "");
    if (!cam) return 1;
    if (cam->start() != 0 || !cam->startRecording(out)) {
        std::fprintf(stderr, "nrraw: cannot record %s to %s\n", serial.c_str(), out.c_str());
        return 1;
    }
    if (args.has("--progress")) { // camera time and events recorded, ten times a second
        const auto end = std::chrono::steady_clock::now() + duration;
        while (std::chrono::steady_clock::now() < end) {
            std::this_thread::sleep_for(std::min<std::chrono::duration<double>>(std::chrono::milliseconds(100),
                                                                                end - std::chrono::steady_clock::now()));
            std::fprintf(stderr, "progress: %llu us %llu events\n", (unsigned long long)cam->getCameraTime(),
                         (unsigned long long)cam->getRecordedEventCount());
        }
    } else {
        std::this_thread::sleep_for(duration);
    }
    const bool ok = cam->stopRecording();
    cam->stop();
    if (cam->getDroppedEventCount() != 0)
        std::fprintf(stderr, "nrraw: %llu events could not be stored in time\n",
                     (unsigned long long)cam->getDroppedEventCount());
    std::printf("events: %llu\n", (unsigned long long)cam->getRecordedEventCount());
    return ok ? 0 : 1;
}
