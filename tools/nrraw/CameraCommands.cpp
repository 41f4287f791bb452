#include "CameraCommands.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <thread>

#include "StopSignals.h"
#include "norvale/DvsCameraManager.h"
#include "norvale/Logger.h"

using namespace norvale;

static const char* linkName(int32_t link) {
    return link == LINK_ETHERNET ? "ethernet" : link == LINK_NETWORK_STREAM ? "network" : "usb";
}

int cmdCameras(const Args& args) {
    if (!args.positional().empty()) throw UsageError("usage: nrraw cameras");
    DvsCameraManager manager;
    const auto cams = manager.getCameraDescs();
    std::printf("%-20s %-26s %-9s %-16s %-16s %-16s %-16s %s\n", "serial", "product", "link", "camera ip", "local ip",
                "netmask", "gateway", "firmware");
    auto or_ = [](const std::string& s) { return s.empty() ? std::string("-") : s; };
    for (const auto& c : cams)
        std::printf("%-20s %-26s %-9s %-16s %-16s %-16s %-16s %s\n", c.serial.c_str(), c.product.c_str(),
                    linkName(c.linkType), or_(c.cameraIp).c_str(), or_(c.localIp).c_str(),
                    or_(c.netmask).c_str(), or_(c.gateway).c_str(), or_(c.firmwareVersion).c_str());
    return 0;
}

namespace {

std::string whyNot(const std::string& fallback) {
    std::string why = norvale::Logger::threadError();
    if (why.empty()) return fallback;
    if (why.find(" exists; ") != std::string::npos) why += " (--overwrite replaces it)";
    return why;
}

} // namespace

int cmdRecord(const Args& args) {
    if (args.positional().size() != 2 || !args.has("--seconds"))
        throw UsageError("usage: nrraw record SERIAL OUT --seconds N [--config FILE] [--overwrite] [--progress]");
    const std::string serial = args.positional()[0], out = args.positional()[1];
    const double seconds = args.number("--seconds", 0);
    if (!(seconds > 0 && seconds <= 86400)) throw UsageError("--seconds must be above 0 and at most 86400");
    const bool hasConfig = args.has("--config");
    const bool overwrite = args.has("--overwrite");
    const std::string config = hasConfig ? args.text("--config") : std::string();
    const auto duration = std::chrono::duration_cast<std::chrono::steady_clock::duration>(std::chrono::duration<double>(seconds));
    StopSignals signals; // before the manager: its threads inherit the blocked signals

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
    // opened and configured, or a message and empty
    auto prepare = [&](auto cam) -> decltype(cam) {
        if (!cam) {
            std::fprintf(stderr, "nrraw: camera %s cannot be opened\n", serial.c_str());
            return nullptr;
        }
        norvale::Logger::clearThreadError();
        if (hasConfig && !cam->loadCameraConfigParams(config)) {
            std::fprintf(stderr, "nrraw: %s: not a usable camera configuration\n", config.c_str());
            return nullptr;
        }
        return cam;
    };
    // After the recording: what reached the file, and how it ended.
    auto finish = [&](bool ok, int sig, uint64_t events, const std::string& where) {
        if (sig) {
            std::fprintf(stderr, "nrraw: interrupted; %llu events recorded to %s\n", (unsigned long long)events,
                         where.c_str());
            return ok ? 128 + sig : 1;
        }
        if (!ok) std::fprintf(stderr, "nrraw: the recording failed; %s holds %llu events\n", where.c_str(), (unsigned long long)events);
        return ok ? 0 : 1;
    };
    if (fusion) {
        auto cam = prepare(manager.openFusionCamera(serial));
        if (!cam) return 1;
        const std::filesystem::path p(out);
        const std::string folder = p.has_parent_path() ? p.parent_path().string() : ".";
        norvale::Logger::clearThreadError();
        if (cam->start(STREAM_FUSION) != 0 || !cam->startRecording(folder, p.filename().string(), STREAM_FUSION, overwrite)) {
            std::fprintf(stderr, "nrraw: cannot record %s to %s (.raw, .mp4, .json): %s\n", serial.c_str(), out.c_str(),
                         whyNot("the camera refused").c_str());
            return 1;
        }
        std::fprintf(stderr, "recording %s to %s.raw/.mp4/.json for %g s\n", serial.c_str(), out.c_str(), seconds);
        const int sig = signals.waitUntil(std::chrono::steady_clock::now() + duration);
        const bool ok = cam->stopRecording(STREAM_FUSION);
        cam->stop(STREAM_FUSION);
        std::printf("frames: %llu\n", (unsigned long long)cam->getRecordedFrameCount());
        std::printf("events: %llu\n", (unsigned long long)cam->getRecordedEventCount());
        return finish(ok, sig, cam->getRecordedEventCount(), out + ".raw");
    }
    auto cam = prepare(manager.openCamera(serial));
    if (!cam) return 1;
    norvale::Logger::clearThreadError();
    if (cam->start() != 0 || !cam->startRecording(out, overwrite)) {
        std::fprintf(stderr, "nrraw: cannot record %s to %s: %s\n", serial.c_str(), out.c_str(),
                     whyNot("the camera refused").c_str());
        return 1;
    }
    std::fprintf(stderr, "recording %s to %s for %g s\n", serial.c_str(), out.c_str(), seconds);
    const auto end = std::chrono::steady_clock::now() + duration;
    int sig = 0;
    if (args.has("--progress")) { // camera time and events recorded, ten times a second
        while (!sig && std::chrono::steady_clock::now() < end) {
            sig = signals.waitUntil(std::min(end, std::chrono::steady_clock::now() + std::chrono::milliseconds(100)));
            std::fprintf(stderr, "progress: %llu us %llu events\n", (unsigned long long)cam->getCameraTime(),
                         (unsigned long long)cam->getRecordedEventCount());
        }
    } else {
        sig = signals.waitUntil(end);
    }
    // Everything captured so far is written before the file is closed, a signal or not.
    const bool ok = cam->stopRecording();
    cam->stop();
    if (cam->getCameraDescription().linkType == LINK_NETWORK_STREAM) {
        const NrStreamLoss l = cam->getStreamLoss();
        std::fprintf(stderr,
                     "stream: %llu datagrams received, %llu lost in the receive queue, %llu malformed, %llu late "
                     "(%llu events), %llu events outside the sensor\n",
                     (unsigned long long)l.datagrams, (unsigned long long)l.lostDatagrams,
                     (unsigned long long)l.malformedDatagrams, (unsigned long long)l.reorderedDatagrams,
                     (unsigned long long)l.reorderedEvents, (unsigned long long)l.invalidEvents);
    }
    if (cam->getDroppedEventCount() != 0)
        std::fprintf(stderr, "nrraw: %llu events could not be stored in time\n",
                     (unsigned long long)cam->getDroppedEventCount());
    std::printf("events: %llu\n", (unsigned long long)cam->getRecordedEventCount());
    return finish(ok, sig, cam->getRecordedEventCount(), out);
}
