#include "video/EventFrameRenderer.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace norvale::video {

namespace {

uint8_t clampByte(double v) { return static_cast<uint8_t>(std::lround(std::clamp(v, 0.0, 255.0))); }

// Limited-range BT.601, the colour tagging of our files.
void toYuv(VideoRgb c, uint8_t& y, uint8_t& cb, uint8_t& cr) {
    const double r = c.r, g = c.g, b = c.b;
    y = clampByte(16.0 + (65.481 * r + 128.553 * g + 24.966 * b) / 255.0);
    cb = clampByte(128.0 + (-37.797 * r - 74.203 * g + 112.0 * b) / 255.0);
    cr = clampByte(128.0 + (112.0 * r - 93.786 * g - 18.214 * b) / 255.0);
}

// Background 0, ON 1, OFF 2 for the pair of counts (OFF, ON) of one pixel; OFF wins ties.
inline uint8_t classOf(const uint16_t* pair) {
    const uint16_t off = std::min(pair[0], EventFrameRenderer::kCountCap);
    const uint16_t on = std::min(pair[1], EventFrameRenderer::kCountCap);
    return static_cast<uint8_t>((off | on) == 0 ? 0 : (on > off ? 1 : 2));
}

} // namespace

EventFrameRenderer::EventFrameRenderer(int w, int h, VideoRgb on, VideoRgb off, VideoRgb background)
    : width(w), height(h), counts(static_cast<size_t>(w) * static_cast<size_t>(h) * 2, 0) {
    rowClasses[0].assign(static_cast<size_t>(w), 0);
    rowClasses[1].assign(static_cast<size_t>(w), 0);
    toYuv(background, lumaOf[0], cbOf[0], crOf[0]);
    toYuv(on, lumaOf[1], cbOf[1], crOf[1]);
    toYuv(off, lumaOf[2], cbOf[2], crOf[2]);
}

void EventFrameRenderer::add(const Event2D* begin, const Event2D* end) {
    uint16_t* c = counts.data();
    for (const Event2D* e = begin; e != end; ++e) {
        if (e->x >= width || e->y >= height || e->polarity > 1) continue;
        uint16_t& n = c[(static_cast<size_t>(e->y) * static_cast<size_t>(width) + e->x) * 2 + e->polarity];
        n = static_cast<uint16_t>(n + (n != 0xffff));
    }
}

void EventFrameRenderer::remove(const Event2D* begin, const Event2D* end) {
    uint16_t* c = counts.data();
    for (const Event2D* e = begin; e != end; ++e) {
        if (e->x >= width || e->y >= height || e->polarity > 1) continue;
        uint16_t& n = c[(static_cast<size_t>(e->y) * static_cast<size_t>(width) + e->x) * 2 + e->polarity];
        if (n > 0 && n < 0xffff) --n; // a saturated count stays (its true value is unknown)
    }
}

void EventFrameRenderer::clear() { std::fill(counts.begin(), counts.end(), uint16_t(0)); }

uint8_t EventFrameRenderer::pixelClass(int x, int y) const {
    return classOf(counts.data() + (static_cast<size_t>(y) * static_cast<size_t>(width) + x) * 2);
}

void EventFrameRenderer::classifyRow(int y, uint8_t* classes, bool clearCounts) {
    uint16_t* row = counts.data() + static_cast<size_t>(y) * static_cast<size_t>(width) * 2;
    for (int x = 0; x < width; ++x) classes[x] = classOf(row + 2 * x);
    if (clearCounts) std::memset(row, 0, static_cast<size_t>(width) * 2 * sizeof(uint16_t));
}

void EventFrameRenderer::render(uint8_t* yPlane, int yStride, uint8_t* uPlane, int uStride, uint8_t* vPlane,
                                int vStride, bool clearCounts) {
    uint8_t* top = rowClasses[0].data();
    uint8_t* bottom = rowClasses[1].data();
    for (int y = 0; y < height; y += 2) {
        classifyRow(y, top, clearCounts);
        classifyRow(y + 1, bottom, clearCounts);
        uint8_t* y0 = yPlane + static_cast<ptrdiff_t>(y) * yStride;
        uint8_t* y1 = y0 + yStride;
        for (int x = 0; x < width; ++x) {
            y0[x] = lumaOf[top[x]];
            y1[x] = lumaOf[bottom[x]];
        }
        uint8_t* u = uPlane + static_cast<ptrdiff_t>(y / 2) * uStride;
        uint8_t* v = vPlane + static_cast<ptrdiff_t>(y / 2) * vStride;
        for (int x = 0; x < width / 2; ++x) {
            const int a = top[2 * x], b = top[2 * x + 1], c = bottom[2 * x], d = bottom[2 * x + 1];
            u[x] = static_cast<uint8_t>((cbOf[a] + cbOf[b] + cbOf[c] + cbOf[d] + 2) >> 2);
            v[x] = static_cast<uint8_t>((crOf[a] + crOf[b] + crOf[c] + crOf[d] + 2) >> 2);
        }
    }
}

} // namespace norvale::video
