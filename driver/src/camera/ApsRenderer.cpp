#include "camera/ApsRenderer.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace norvale {

namespace {
const double kScale = 3.351724137931035, kOffX = -225.10344827586232, kOffY = -126.62068965517255;
const double kInvScale = 0.29835390946502055;
} // namespace

CalibratorParameters defaultFusionCalibration(const std::string& serial) {
    CalibratorParameters p;
    p.cameraSerial = serial;
    p.dvsFrameCols = 1280;
    p.dvsFrameRows = 720;
    p.apsFrameCols = kApsWidth;
    p.apsFrameRows = kApsHeight;
    MatrixData toAps{2, 3, 6, {kScale, 0, kOffX, 0, kScale, kOffY}};
    MatrixData toDvs{2, 3, 6, {kInvScale, 0, 640 - 1920 * kInvScale, 0, kInvScale, 360 - 1080 * kInvScale}};
    p.affineMatrix["1"] = toAps;
    p.affineMatrix["0"] = toDvs;
    return p;
}

ApsRenderer::ApsRenderer(uint32_t w, uint32_t h)
    : dvsW(w), dvsH(h), a0(kScale), a2(kOffX), a4(kScale), a5(kOffY), row(size_t(kApsWidth) * 3) {
    shapes.reserve(8);
    patch = SceneSource(w, h, 0, 1).flickerPatch();
}

ApsFrame ApsRenderer::render(uint64_t startUs, uint64_t exposureUs, float gain) {
    ApsFrame frame(kApsWidth, kApsHeight, startUs + exposureUs, startUs);
    const double light = std::min(2.0, double(exposureUs) / 10000.0 * gain); // 1.0: a well exposed image
    auto level = [&](double v) { return uint8_t(std::min(255.0, v * light)); };
    const uint64_t mid = startUs + exposureUs / 2;
    SceneSource::shapesAt(mid, dvsW, dvsH, shapes);
    // the blinking patch as the exposure integrates it: the share of the exposure it was lit
    uint64_t lit = 0, steps = 0;
    for (uint64_t t = startUs; t < startUs + std::max<uint64_t>(exposureUs, 1); t += 50, ++steps)
        lit += SceneSource::flickerOn(t);
    const double patchShare = steps ? double(lit) / double(steps) : 0.0;
    uint8_t* out = frame.data();
    auto fill = [&](double x0, double x1, uint8_t b, uint8_t g, uint8_t r) {
        const int u0 = std::max(0, int(std::ceil(a0 * x0 + a2))), u1 = std::min(kApsWidth, int(std::ceil(a0 * x1 + a2)));
        for (int u = u0; u < u1; ++u) {
            row[size_t(u) * 3] = b;
            row[size_t(u) * 3 + 1] = g;
            row[size_t(u) * 3 + 2] = r;
        }
    };
    int lastRow = -1000000;
    for (int v = 0; v < kApsHeight; ++v) {
        const double y = std::floor((v - a5) / a4); // the sensor row this APS row sees
        if (int(y) == lastRow) { // the same sensor row: the same picture row
            std::memcpy(out + size_t(v) * row.size(), out + size_t(v - 1) * row.size(), row.size());
            continue;
        }
        lastRow = int(y);
        const uint8_t bg = level(50 + 40.0 * std::max(0.0, std::min(1.0, y / dvsH)));
        std::memset(row.data(), bg, row.size());
        for (size_t i = 0; i < shapes.size(); ++i) {
            const auto& s = shapes[i];
            if (y < s.y0 || y >= s.y1) continue;
            if (i < 3) fill(s.x0, s.x1, level(230), level(200), level(150)); // bars
            else fill(s.x0, s.x1, level(90), level(170), level(235));        // rectangles
        }
        if (patchShare > 0 && y >= patch.y && y < patch.y + patch.h) {
            const uint8_t p = level(bg / light * (1 - patchShare) + 245 * patchShare);
            fill(patch.x, patch.x + patch.w, p, p, p);
        }
        std::memcpy(out + size_t(v) * row.size(), row.data(), row.size());
    }
    return frame;
}

} // namespace norvale
