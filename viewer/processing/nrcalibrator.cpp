#include "processing/nrcalibrator.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <type_traits>

namespace norvale {

Calibrator Calibrator::defaultCalibration() {
    Calibrator c;
    c.dvsFrameCols = 1280;
    c.dvsFrameRows = 720;
    c.apsFrameCols = 3840;
    c.apsFrameRows = 2160;
    c.dvsToAps = {3.351724137931035, 0, -225.10344827586232, 0, 3.351724137931035, -126.62068965517255};
    const double s = 0.29835390946502055;
    c.apsToDvs = {s, 0, 640 - 1920 * s, 0, s, 360 - 1080 * s};
    return c;
}

void Calibrator::loadCalibrationParam(CalibratorParameters& params) {
    static_cast<CalibratorParameters&>(*this) = params;
    dvsToAps = affineMatrix["1"].data;
    apsToDvs = affineMatrix["0"].data;
}

bool Calibrator::foldOffset(double offsetX, double offsetY) {
    if (dvsToAps.size() != 6)
        return false;
    std::vector<double>& a = dvsToAps;
    a[2] += offsetX;
    a[5] += offsetY;
    affineMatrix["1"].data = a;
    const double det = a[0] * a[4] - a[1] * a[3];
    const bool invertible = std::fabs(det) >= 1e-12;
    if (invertible) {
        std::vector<double> b(6);
        b[0] = a[4] / det;
        b[1] = -a[1] / det;
        b[3] = -a[3] / det;
        b[4] = a[0] / det;
        b[2] = -(b[0] * a[2] + b[1] * a[5]);
        b[5] = -(b[3] * a[2] + b[4] * a[5]);
        apsToDvs = b;
    }
    affineMatrix["0"].data = apsToDvs;
    return invertible;
}

bool NrApsMapper::Transform::operator==(const Transform& o) const {
    return std::equal(a, a + 6, o.a) && valid == o.valid && offsetX == o.offsetX && offsetY == o.offsetY &&
           dvsCols == o.dvsCols && dvsRows == o.dvsRows && apsCols == o.apsCols && apsRows == o.apsRows;
}

NrApsMapper::Transform NrApsMapper::transformOf(const Calibrator& c, double offsetX, double offsetY) {
    Transform t;
    t.valid = c.dvsToAps.size() == 6;
    for (size_t i = 0; t.valid && i < 6; ++i) {
        t.a[i] = c.dvsToAps[i];
        t.valid = std::isfinite(t.a[i]);
    }
    t.offsetX = offsetX;
    t.offsetY = offsetY;
    t.dvsCols = c.dvsFrameCols;
    t.dvsRows = c.dvsFrameRows;
    t.apsCols = c.apsFrameCols;
    t.apsRows = c.apsFrameRows;
    return t;
}

namespace {

// The truncated coordinate when it lies in [0, limit), else -1. Written as the comparisons of the
// double so that huge or NaN values never reach an integer conversion.
inline int64_t sampleIndex(double value, int limit) {
    if (!(value > -1.0) || !(value < double(limit)))
        return -1;
    return int64_t(value); // truncation toward zero: (-1, 0) gives 0
}

template <bool rgb>
inline void putSample(uint8_t* d, const uint8_t* s) {
    d[0] = rgb ? s[2] : s[0];
    d[1] = s[1];
    d[2] = rgb ? s[0] : s[2];
}

} // namespace

void NrApsMapper::prepare(const Transform& t, int srcCols, int srcRows) {
    if (t == prepared && srcCols == preparedSrcCols && srcRows == preparedSrcRows)
        return;
    prepared = t;
    preparedSrcCols = srcCols;
    preparedSrcRows = srcRows;
    separable = t.valid && t.a[1] == 0 && t.a[3] == 0;
    if (!separable)
        return;
    const int cols = std::min(t.apsCols, srcCols);
    const int rows = std::min(t.apsRows, srcRows);
    const size_t srcBytesPerLine = size_t(srcCols) * 3;
    columnOffset.resize(size_t(std::max(t.dvsCols, 0)));
    rowOffset.resize(size_t(std::max(t.dvsRows, 0)));
    // The same expression as per pixel, with the vanishing term kept, so the result is bit-identical.
    for (int x = 0; x < t.dvsCols; ++x) {
        const int64_t u = sampleIndex(((t.a[0] * x + t.a[1] * 0.0) + t.a[2]) + t.offsetX, cols);
        columnOffset[size_t(x)] = u < 0 ? -1 : u * 3;
    }
    for (int y = 0; y < t.dvsRows; ++y) {
        const int64_t v = sampleIndex(((t.a[3] * 0.0 + t.a[4] * y) + t.a[5]) + t.offsetY, rows);
        rowOffset[size_t(y)] = v < 0 ? -1 : int64_t(size_t(v) * srcBytesPerLine);
    }
}

void NrApsMapper::mapToRgb(const ApsFrame& src, const Transform& t, uint8_t* dst, size_t dstBytesPerLine) {
    mapGeneral(src, t, dst, dstBytesPerLine, true);
}

ApsFrame NrApsMapper::mapToFrame(const ApsFrame& src, const Transform& t) {
    ApsFrame out(std::max(t.dvsCols, 0), std::max(t.dvsRows, 0), src.auxTimestamp, src.timestamp);
    if (out.data())
        mapGeneral(src, t, out.data(), size_t(out.width()) * 3, false);
    return out;
}

void NrApsMapper::mapGeneral(const ApsFrame& src, const Transform& t, uint8_t* dst, size_t dstBytesPerLine,
                             bool rgb) {
    const size_t rowBytes = size_t(std::max(t.dvsCols, 0)) * 3;
    const uint8_t* in = src.data();
    if (!t.valid || !in || src.width() <= 0 || src.height() <= 0) {
        for (int y = 0; y < t.dvsRows; ++y)
            std::memset(dst + size_t(y) * dstBytesPerLine, 0, rowBytes);
        return;
    }
    prepare(t, src.width(), src.height());
    auto run = [&](auto rgbTag) {
        constexpr bool kRgb = decltype(rgbTag)::value;
        if (separable) {
            for (int y = 0; y < t.dvsRows; ++y) {
                uint8_t* line = dst + size_t(y) * dstBytesPerLine;
                const int64_t r = rowOffset[size_t(y)];
                if (r < 0) {
                    std::memset(line, 0, rowBytes);
                    continue;
                }
                const uint8_t* srcRow = in + r;
                for (int x = 0; x < t.dvsCols; ++x) {
                    const int64_t c = columnOffset[size_t(x)];
                    if (c < 0) {
                        line[size_t(x) * 3] = line[size_t(x) * 3 + 1] = line[size_t(x) * 3 + 2] = 0;
                        continue;
                    }
                    putSample<kRgb>(line + size_t(x) * 3, srcRow + c);
                }
            }
            return;
        }
        const int cols = std::min(t.apsCols, src.width());
        const int rows = std::min(t.apsRows, src.height());
        const size_t srcBytesPerLine = size_t(src.width()) * 3;
        for (int y = 0; y < t.dvsRows; ++y) {
            uint8_t* line = dst + size_t(y) * dstBytesPerLine;
            for (int x = 0; x < t.dvsCols; ++x) {
                uint8_t* d = line + size_t(x) * 3;
                const int64_t u = sampleIndex(((t.a[0] * x + t.a[1] * y) + t.a[2]) + t.offsetX, cols);
                const int64_t v = u < 0 ? -1 : sampleIndex(((t.a[3] * x + t.a[4] * y) + t.a[5]) + t.offsetY, rows);
                if (v < 0) {
                    d[0] = d[1] = d[2] = 0;
                    continue;
                }
                putSample<kRgb>(d, in + size_t(v) * srcBytesPerLine + size_t(u) * 3);
            }
        }
    };
    if (rgb)
        run(std::true_type());
    else
        run(std::false_type());
}

} // namespace norvale
