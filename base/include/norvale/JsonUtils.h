#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "norvale/Export.h"

namespace norvale {

struct MatrixData {
    int32_t rows = 0;
    int32_t cols = 0;
    int32_t type = 0; // element type code, passed on uninterpreted
    std::vector<double> data; // row by row
};

// DVS (camera "0") to APS (camera "1") calibration of a fusion camera.
struct CalibratorParameters {
    std::string cameraSerial;
    uint16_t dvsFrameCols = 0;
    uint16_t dvsFrameRows = 0;
    uint16_t apsFrameCols = 0;
    uint16_t apsFrameRows = 0;
    MatrixData cameraMatrix;
    MatrixData distCoeffs;
    // Keyed by the target camera: "1" DVS -> APS, "0" APS -> DVS. Six numbers a0..a5.
    std::map<std::string, MatrixData> affineMatrix;
    std::vector<double> rotation;
    std::vector<double> translation;
};

// Writes params as pretty-printed JSON through a temporary file in the same folder that replaces
// path only when everything was written: a failure never leaves a half-written file behind.
// Returns false (after an error line in the log) when the file could not be written.
NR_BASE_EXPORT bool paramToJsonFile(CalibratorParameters& params, std::string path);

// Reads and parses a calibration file. False after an error line for a missing or unreadable
// file or a missing member. Throws nlohmann::json exceptions for text that is not JSON or
// members of the wrong type.
NR_BASE_EXPORT bool jsonFileToParam(std::string path, CalibratorParameters& params);

// As jsonFileToParam, from bytes in memory. Fields filled before a failure stay filled.
// Throws nlohmann::json::parse_error / type_error (both derive from nlohmann::json::exception,
// itself a std::exception) for text that is not JSON or members of the wrong type.
NR_BASE_EXPORT bool jsonDataToParam(std::vector<unsigned char>& bytes, CalibratorParameters& params);

} // namespace norvale
