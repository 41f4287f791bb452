#include "norvale/FusionCamera.h"

#include <sys/stat.h>

#include <cmath>
#include <future>

#include "camera/ApsRenderer.h"
#include "camera/CameraCore.h"
#include "camera/FusionApsStream.h"
#include "norvale/Logger.h"

namespace norvale {

namespace {
bool validAffine(const CalibratorParameters& p, const char* key) {
    const auto it = p.affineMatrix.find(key);
    if (it == p.affineMatrix.end() || it->second.data.size() != 6) return false;
    for (double v : it->second.data)
        if (!std::isfinite(v)) return false;
    const auto& a = it->second.data;
    return std::fabs(a[0] * a[4] - a[1] * a[3]) >= 1e-12;
}

} // namespace

FusionCamera::FusionCamera(std::shared_ptr<CameraCore> c, std::unique_ptr<FusionApsStream> a)
    : core(std::move(c)), aps(std::move(a)), calibration(defaultFusionCalibration(core->description().serial)) {}

FusionCamera::~FusionCamera() { closeCamera(); }

bool FusionCamera::isConnected() const { return core->connected(); }
const CameraDescription& FusionCamera::getCameraDescription() const { return core->description(); }

int FusionCamera::addEventsCallback(EventsCallback cb) { return core->addEventsCallback(std::move(cb)); }
int FusionCamera::addTriggerInCallback(TriggerInCallback cb) { return core->addTriggerCallback(std::move(cb)); }
int FusionCamera::addApsFrameCallback(ApsFrameCallback cb) {
    if (!cb) return -1;
    return aps->addCallback(std::move(cb), core->newCallbackId()); // one id sequence for all kinds
}
bool FusionCamera::removeCallback(int id) { return core->removeCallback(id) || aps->removeCallback(id); }
void FusionCamera::setStatisticInfoCallback(StatisticCallback cb) { core->setStatisticCallback(std::move(cb)); }

int FusionCamera::start(STREAM_TYPE type) {
    if (!core->connected()) return -1;
    int rc = 0;
    if (type == STREAM_DVS || type == STREAM_FUSION) rc = core->start();
    if (rc == 0 && (type == STREAM_APS || type == STREAM_FUSION)) {
        if (!core->streaming()) rc = core->start(); // the APS stream runs on the camera clock
        if (rc == 0) rc = aps->start();
    }
    return rc;
}

int FusionCamera::stop(STREAM_TYPE type) {
    if (type == STREAM_APS || type == STREAM_FUSION) aps->stop();
    if (type == STREAM_DVS || type == STREAM_FUSION) {
        aps->stop(); // the APS stream needs the camera clock
        core->stop();
    }
    return 0;
}

void FusionCamera::closeCamera() {
    stopRecording(STREAM_FUSION);
    aps->stop();
    core->stop();
    core->device().unplug(); // released: reports not connected from now on
}

bool FusionCamera::startRecording(const std::string& folder, const std::string& baseName, STREAM_TYPE type,
                                  bool overwrite) {
    if (!core->connected()) return false;
    const std::string base = folder + "/" + baseName;
    // the first frame to record: the next exposure
    const uint64_t p = FusionApsStream::kFramePeriodUs;
    const uint64_t apsStart = (core->deliveredUntil() / p + 1) * p;
    const bool dvs = type == STREAM_DVS || type == STREAM_FUSION;
    const bool video = type == STREAM_APS || type == STREAM_FUSION;
    // Every file is checked before the first byte of any is written.
    std::string problem = dvs ? core->recordingPathProblem(base + ".raw", overwrite) : "";
    for (const char* ext : {".mp4", ".json"})
        if (problem.empty() && video) problem = detail::RecordingOutput::check(base + ext, overwrite, {});
    if (!problem.empty()) {
        NR_LOG(LOG_ERROR, "recording refused: %s", problem.c_str());
        return false;
    }
    if (dvs && !core->startRecording(base + ".raw", apsStart, overwrite)) return false;
    if (video) {
        CalibratorParameters cal;
        getCalibrationParams(cal);
        // A calibration file that is replaced goes only when the recording has succeeded.
        struct stat st {};
        const bool replaceJson = ::stat((base + ".json").c_str(), &st) == 0;
        if (!aps->startRecording(base + ".mp4", apsStart, overwrite) ||
            (!replaceJson && !paramToJsonFile(cal, base + ".json"))) {
            aps->stopRecording();
            if (dvs) core->discardRecording(); // a recording that never began leaves no .raw
            return false;
        }
        std::lock_guard<std::mutex> lock(calibrationMutex);
        jsonOnSuccess = replaceJson ? base + ".json" : std::string();
    }
    return true;
}

bool FusionCamera::stopRecording(STREAM_TYPE type) {
    // Both files end where the stream is now, whatever the storage and video threads still have
    // to write; they finish side by side.
    const uint64_t endUs = core->deliveredUntil();
    const bool dvs = (type == STREAM_DVS || type == STREAM_FUSION) && core->recording();
    const bool video = type == STREAM_APS || type == STREAM_FUSION;
    std::future<bool> videoDone;
    if (video) videoDone = std::async(std::launch::async, [this, endUs] { return aps->stopRecording(endUs); });
    bool ok = true, any = dvs;
    if (dvs) ok = core->stopRecording(endUs);
    if (video) {
        const bool v = videoDone.get();
        any = any || v;
        ok = ok && (v || type == STREAM_FUSION);
        std::string json;
        CalibratorParameters cal;
        {
            std::lock_guard<std::mutex> lock(calibrationMutex);
            json.swap(jsonOnSuccess);
            cal = calibration;
        }
        if (!json.empty() && v && ok && !paramToJsonFile(cal, json)) ok = false;
    }
    return any && ok;
}

uint64_t FusionCamera::getRecordedEventCount() const { return core->recordedEvents(); }
uint64_t FusionCamera::getRecordedFrameCount() const { return aps->framesRecorded(); }

bool FusionCamera::getCalibrationParams(CalibratorParameters& params) const {
    std::lock_guard<std::mutex> lock(calibrationMutex);
    params = calibration;
    return true;
}

bool FusionCamera::writeCalibrationParams(const std::string& path) {
    CalibratorParameters p;
    try {
        if (!jsonFileToParam(path, p)) return false;
    } catch (const std::exception& e) {
        NR_LOG(LOG_ERROR, "calibration file %s is not valid: %s", path.c_str(), e.what());
        return false;
    }
    if (p.dvsFrameCols == 0 || p.dvsFrameRows == 0 || p.apsFrameCols == 0 || p.apsFrameRows == 0 ||
        !validAffine(p, "0") || !validAffine(p, "1")) {
        NR_LOG(LOG_ERROR, "calibration file %s: sizes or affine transforms missing or singular", path.c_str());
        return false;
    }
    std::lock_guard<std::mutex> lock(calibrationMutex);
    calibration = p;
    return true;
}

std::string FusionCamera::getFirmwareVersion() const { return core->description().firmwareVersion; }
uint16_t FusionCamera::getWidth() const { return uint16_t(core->device().width()); }
uint16_t FusionCamera::getHeight() const { return uint16_t(core->device().height()); }
int FusionCamera::getApsWidth() const { return kApsWidth; }
int FusionCamera::getApsHeight() const { return kApsHeight; }
double FusionCamera::getApsFrameRate() const { return 1e6 / double(FusionApsStream::kFramePeriodUs); }
std::shared_ptr<CameraTool> FusionCamera::getTool(ToolType type) const { return core->tool(type); }
std::vector<ToolInfo> FusionCamera::getAllToolsInfo() const { return core->toolsInfo(); }
bool FusionCamera::loadCameraConfigParams(const std::string& path) { return core->loadConfig(path); }
bool FusionCamera::exportCameraConfigParams(const std::string& path) const { return core->exportConfig(path); }
void FusionCamera::simulateUnplug() {
    core->device().unplug();
    aps->stop();
    aps->stopRecording();
    core->unplug();
}

} // namespace norvale
