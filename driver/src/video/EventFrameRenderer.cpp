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

// The shade of one pixel state (off | on << 2). Plain selects, so that the row loops below vectorise.
inline uint8_t pick(uint8_t state, uint8_t background, uint8_t on, uint8_t off) {
    return eventShade<uint8_t>(state & 3u, state >> 2, background, on, off);
}

// One row of shades; separate loops over plain arrays, so that each vectorises.
void shadeRow(const uint8_t* __restrict states, uint8_t* __restrict out, int n, uint8_t background, uint8_t on,
              uint8_t off) {
    for (int x = 0; x < n; ++x) out[x] = pick(states[x], background, on, off);
}

// Chroma of a row pair: the rounded mean of each 2 x 2 block of per-pixel values.
void averageBlocks(const uint8_t* __restrict top, const uint8_t* __restrict bottom, uint8_t* __restrict out, int half) {
    for (int x = 0; x < half; ++x)
        out[x] = static_cast<uint8_t>((top[2 * x] + top[2 * x + 1] + bottom[2 * x] + bottom[2 * x + 1] + 2) >> 2);
}

} // namespace

EventFrameRenderer::EventFrameRenderer(int w, int h, VideoRgb on, VideoRgb off, VideoRgb background)
    : width(w), height(h), pairDirty(static_cast<size_t>(h / 2), 1), // a new picture holds anything
      chromaRows(static_cast<size_t>(w) * 2) {
    toYuv(background, luma.background, cb.background, cr.background);
    toYuv(on, luma.on, cb.on, cr.on);
    toYuv(off, luma.off, cb.off, cr.off);
}

void EventFrameRenderer::render(const EventStatePlane& plane, uint8_t* yPlane, int yStride, uint8_t* uPlane, int uStride,
                                uint8_t* vPlane, int vStride) {
    const Shade l = luma, b = cb, r = cr;
    const int half = width / 2;
    for (int y = 0; y < height; y += 2) {
        uint8_t* y0 = yPlane + static_cast<ptrdiff_t>(y) * yStride;
        uint8_t* y1 = y0 + yStride;
        uint8_t* u = uPlane + static_cast<ptrdiff_t>(y / 2) * uStride;
        uint8_t* v = vPlane + static_cast<ptrdiff_t>(y / 2) * vStride;
        uint8_t& dirty = pairDirty[static_cast<size_t>(y / 2)];
        if (!plane.rowTouched[static_cast<size_t>(y)] && !plane.rowTouched[static_cast<size_t>(y + 1)]) {
            if (dirty) {
                std::memset(y0, l.background, static_cast<size_t>(width));
                std::memset(y1, l.background, static_cast<size_t>(width));
                std::memset(u, b.background, static_cast<size_t>(half));
                std::memset(v, r.background, static_cast<size_t>(half));
                dirty = 0;
            }
            continue;
        }
        const uint8_t* s0 = plane.row(y);
        const uint8_t* s1 = plane.row(y + 1);
        shadeRow(s0, y0, width, l.background, l.on, l.off);
        shadeRow(s1, y1, width, l.background, l.on, l.off);
        uint8_t* top = chromaRows.data();
        uint8_t* bottom = top + width;
        shadeRow(s0, top, width, b.background, b.on, b.off);
        shadeRow(s1, bottom, width, b.background, b.on, b.off);
        averageBlocks(top, bottom, u, half);
        shadeRow(s0, top, width, r.background, r.on, r.off);
        shadeRow(s1, bottom, width, r.background, r.on, r.off);
        averageBlocks(top, bottom, v, half);
        dirty = 1;
    }
}

} // namespace norvale::video
