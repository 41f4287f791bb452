#pragma once

// The DVS-APS calibration in use (Calibrator) and the mapping of an APS frame onto the DVS pixel
// grid through it (NrApsMapper).
//
// A DVS pixel (x, y) samples APS pixel (u, v) = (trunc(a0 x + a1 y + a2 + offsetX),
// trunc(a3 x + a4 y + a5 + offsetY)), a = dvsToAps, truncated toward zero; pixels whose (u, v) lies
// outside the APS frame stay black.
//
// The black bands around the APS and fusion views are such pixels: the DVS sensor sees more than
// the APS sensor. With the cameras' factory calibration (scale 972/290, DVS centre on APS centre)
// the APS image covers DVS columns 67 to 1212 and rows 38 to 682; the events outside it are real.
//
// Threads: a Calibrator is a plain value (its owner guards it). An NrApsMapper belongs to one
// thread at a time (each mapping path has its own); it keeps per-column and per-row source
// offsets and recomputes them only when the transform, the offset or a size changes.
//
// Decisions
// - A transform that is not six finite numbers maps nothing (black), instead of reading past it.
// - The source frame's own size bounds every read, whatever size the calibration claims.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "norvale/ApsFrame.h"
#include "norvale/JsonUtils.h"

namespace norvale {

class Calibrator : public CalibratorParameters {
public:
    std::vector<double> dvsToAps; // 6 values: DVS pixel -> APS pixel
    std::vector<double> apsToDvs; // its inverse

    // The fusion processor's calibration before any camera or file gives one: 1280 x 720 DVS,
    // 3840 x 2160 APS, the DVS centre on the APS centre; no affine entries.
    static Calibrator defaultCalibration();

    // Copies every field; the transforms come from affineMatrix "1" (DVS -> APS) and "0" (APS -> DVS),
    // a missing key being added as an empty entry (leaving that transform empty).
    void loadCalibrationParam(CalibratorParameters& params);

    // Folds a shift (APS pixels) into dvsToAps, stores it as affineMatrix "1", recomputes apsToDvs
    // (kept as it was when dvsToAps is singular, |det| < 1e-12) and stores it as "0". False when
    // singular or dvsToAps is not six values.
    bool foldOffset(double offsetX, double offsetY);
};

class NrApsMapper {
public:
    struct Transform {
        double a[6] = {0, 0, 0, 0, 0, 0};
        bool valid = false; // six finite numbers
        double offsetX = 0;
        double offsetY = 0;
        int dvsCols = 0;
        int dvsRows = 0;
        int apsCols = 0; // as the calibration says
        int apsRows = 0;
        bool operator==(const Transform& o) const;
    };
    static Transform transformOf(const Calibrator& calibration, double offsetX, double offsetY);

    // Writes the dvsCols x dvsRows mapped image into dst as RGB888 (rows of dstBytesPerLine), the
    // source being blue-green-red. dst must hold dvsRows rows of dvsCols pixels.
    void mapToRgb(const ApsFrame& src, const Transform& t, uint8_t* dst, size_t dstBytesPerLine);
    // The same into a new blue-green-red ApsFrame of the DVS size with the source's time values.
    ApsFrame mapToFrame(const ApsFrame& src, const Transform& t);

private:
    void prepare(const Transform& t, int srcCols, int srcRows);
    void mapGeneral(const ApsFrame& src, const Transform& t, uint8_t* dst, size_t dstBytesPerLine, bool rgb);

    Transform prepared;
    int preparedSrcCols = -1;
    int preparedSrcRows = -1;
    bool separable = false;            // a1 = a3 = 0: u depends on x only, v on y only
    std::vector<int64_t> columnOffset; // byte offset of u in a source row, or -1
    std::vector<int64_t> rowOffset;    // byte offset of row v in the source, or -1
};

} // namespace norvale
