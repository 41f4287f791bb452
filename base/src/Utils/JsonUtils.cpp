#include "norvale/JsonUtils.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <iterator>
#include <limits>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include "norvale/Logger.h"
#include "norvale/SafeOutputFile.h"

namespace norvale {

using nlohmann::json;

namespace {

json matrixToJson(const MatrixData& m) {
    return json{{"rows", m.rows}, {"cols", m.cols}, {"type", m.type}, {"data", m.data}};
}

// An integer member. A float that the target type cannot hold would be undefined behaviour in a
// plain conversion, so it is a type error like any other member of the wrong kind.
template <typename T>
T integerOf(const json& j) {
    if (j.is_number_float()) {
        const double d = j.get<double>();
        if (!(d >= double(std::numeric_limits<T>::min()) && d <= double(std::numeric_limits<T>::max())))
            throw json::type_error::create(302, "number out of range", &j);
    }
    return j.get<T>();
}

template <typename T>
T integerMember(const json& j, const char* key) {
    if (!j.is_object()) return j.value(key, T(0)); // raises the library's type error
    return j.contains(key) ? integerOf<T>(j.at(key)) : T(0);
}

MatrixData matrixFromJson(const json& j) {
    MatrixData m;
    m.rows = integerMember<int32_t>(j, "rows");
    m.cols = integerMember<int32_t>(j, "cols");
    m.type = integerMember<int32_t>(j, "type");
    if (j.contains("data")) m.data = j.at("data").get<std::vector<double>>();
    return m;
}

json affineToJson(const CalibratorParameters& params, const std::string& target) {
    const auto it = params.affineMatrix.find(target);
    if (it == params.affineMatrix.end()) return nullptr;
    return json{{target, matrixToJson(it->second)}};
}

json vectorOrNull(const std::vector<double>& v) {
    return v.empty() ? json(nullptr) : json(v);
}

void readAffine(const json& camera, CalibratorParameters& params) {
    if (!camera.contains("affine_matrix") || camera.at("affine_matrix").is_null()) return;
    for (const auto& item : camera.at("affine_matrix").items())
        params.affineMatrix[item.key()] = matrixFromJson(item.value());
}

// Reads "frame_size" of one camera; false after the error line.
bool readFrameSize(const json& camera, uint16_t& cols, uint16_t& rows) {
    if (!camera.contains("frame_size")) {
        NR_LOG(LOG_ERROR, "Error: Missing 'frame_size' field.\n");
        return false;
    }
    const json& size = camera.at("frame_size");
    if (!size.contains("cols") || !size.contains("rows")) {
        NR_LOG(LOG_ERROR, "Error: Invalid 'frame_size' in JSON.\n");
        return false;
    }
    cols = integerOf<uint16_t>(size.at("cols"));
    rows = integerOf<uint16_t>(size.at("rows"));
    return true;
}

// Writes text to a fresh temporary beside path, then renames it over path: a reader of path sees
// the old file or the whole new one, never a part, and no file but path is ever replaced.
bool writeFileAtomically(const std::string& path, const std::string& text) {
    SafeOutputFile out;
    if (!out.open(path)) {
        NR_LOG(LOG_ERROR, "Error: open %s failed.", path.c_str());
        NR_LOG(LOG_ERROR, "%s", out.reason().c_str());
        return false;
    }
    bool ok = true;
    std::size_t done = 0;
    while (ok && done < text.size()) {
        const ssize_t n = ::write(out.descriptor(), text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) ok = false;
        else done += std::size_t(n);
    }
    if (!ok) {
        NR_LOG(LOG_ERROR, "Error: write %s failed: %s", path.c_str(), std::strerror(errno));
        return false; // out removes its temporary
    }
    if (!out.commit()) {
        NR_LOG(LOG_ERROR, "Error: write %s failed: %s", path.c_str(), out.reason().c_str());
        return false;
    }
    return true;
}

} // namespace

bool paramToJsonFile(CalibratorParameters& params, std::string path) {
    json root;
    root["0"]["affine_matrix"] = affineToJson(params, "1");
    root["0"]["camera_matrix"] = matrixToJson(params.cameraMatrix);
    root["0"]["camera_serial"] = params.cameraSerial;
    root["0"]["dist_coeffs"] = matrixToJson(params.distCoeffs);
    root["0"]["frame_size"] = json{{"cols", unsigned(params.dvsFrameCols)}, {"rows", unsigned(params.dvsFrameRows)}};
    root["0"]["rotation"] = vectorOrNull(params.rotation);
    root["0"]["translation"] = vectorOrNull(params.translation);
    root["1"]["affine_matrix"] = affineToJson(params, "0");
    root["1"]["frame_size"] = json{{"cols", unsigned(params.apsFrameCols)}, {"rows", unsigned(params.apsFrameRows)}};
    return writeFileAtomically(path, root.dump(4) + "\n");
}

bool jsonFileToParam(std::string path, CalibratorParameters& params) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        NR_LOG(LOG_ERROR, "Error: open %s failed.", path.c_str());
        return false;
    }
    std::vector<unsigned char> bytes;
    unsigned char chunk[65536];
    bool ok = true;
    for (;;) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) ok = false;
        if (n <= 0) break;
        bytes.insert(bytes.end(), chunk, chunk + n);
    }
    ::close(fd);
    if (!ok) {
        NR_LOG(LOG_ERROR, "Error: read %s failed.", path.c_str());
        return false;
    }
    return jsonDataToParam(bytes, params);
}

bool jsonDataToParam(std::vector<unsigned char>& bytes, CalibratorParameters& params) {
    const json root = json::parse(bytes.begin(), bytes.end());
    if (!root.is_object() || !root.contains("0")) {
        NR_LOG(LOG_ERROR, "Error: No camera with ID '0' found in calibration data.\n");
        return false;
    }
    const json& dvs = root.at("0");
    if (!dvs.contains("camera_serial")) {
        NR_LOG(LOG_ERROR, "Error: Missing or invalid 'camera_serial' field.\n");
        return false;
    }
    params.cameraSerial = dvs.at("camera_serial").get<std::string>();
    if (!readFrameSize(dvs, params.dvsFrameCols, params.dvsFrameRows)) return false;
    if (!dvs.contains("camera_matrix")) {
        NR_LOG(LOG_ERROR, "Error: Missing 'camera_matrix'.\n");
        return false;
    }
    params.cameraMatrix = matrixFromJson(dvs.at("camera_matrix"));
    if (!dvs.contains("dist_coeffs")) {
        NR_LOG(LOG_ERROR, "Error: Missing 'dist_coeffs'.\n");
        return false;
    }
    params.distCoeffs = matrixFromJson(dvs.at("dist_coeffs"));
    readAffine(dvs, params);
    if (dvs.contains("rotation") && !dvs.at("rotation").is_null())
        params.rotation = dvs.at("rotation").get<std::vector<double>>();
    if (dvs.contains("translation") && !dvs.at("translation").is_null())
        params.translation = dvs.at("translation").get<std::vector<double>>();
    NR_LOG(LOG_INFO, "Camera Serial: %s", params.cameraSerial.c_str());
    NR_LOG(LOG_INFO, "Dvs Resolution: %d, %d", int(params.dvsFrameCols), int(params.dvsFrameRows));

    static const json kNoCamera = json::object();
    const json& aps = root.contains("1") ? root.at("1") : kNoCamera;
    if (!readFrameSize(aps, params.apsFrameCols, params.apsFrameRows)) return false;
    readAffine(aps, params);
    NR_LOG(LOG_INFO, "Aps Resolution: %d, %d", int(params.apsFrameCols), int(params.apsFrameRows));
    return true;
}

} // namespace norvale
