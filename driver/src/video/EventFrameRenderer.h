#pragma once

#include <cstdint>
#include <vector>

#include "norvale/Event2D.h"
#include "norvale/VideoExporter.h"

namespace norvale::video {

// Per-pixel, per-polarity event counts of one frame and their painting into YUV 4:2:0 planes.
// The counts are exact up to 65535 per pixel and window, so a sliding window can take events out
// again; painting caps both at kCountCap before comparing, which is what the live view's
// saturating counters amount to. 16-bit counts keep a 720p frame's counts (3.7 MB) cache-friendly.
// One thread uses an object; buffers are allocated once by the constructor.
class EventFrameRenderer {
public:
    static constexpr uint16_t kCountCap = 3;

    // width and height even.
    EventFrameRenderer(int width, int height, VideoRgb on, VideoRgb off, VideoRgb background);

    // Counts events in; events outside the frame are dropped.
    void add(const Event2D* begin, const Event2D* end);
    // Counts events out again (they left the accumulation window).
    void remove(const Event2D* begin, const Event2D* end);
    void clear();

    // Paints the frame into the three planes; clearCounts resets the counts on the way, which is
    // cheaper than clear() afterwards.
    void render(uint8_t* yPlane, int yStride, uint8_t* uPlane, int uStride, uint8_t* vPlane, int vStride,
                bool clearCounts);

    // Classes of the pixels of one row: 0 background, 1 ON, 2 OFF; for tests.
    uint8_t pixelClass(int x, int y) const;

private:
    void classifyRow(int y, uint8_t* classes, bool clearCounts);

    int width;
    int height;
    std::vector<uint16_t> counts; // (y * width + x) * 2 + polarity
    std::vector<uint8_t> rowClasses[2];
    uint8_t lumaOf[3];
    uint8_t cbOf[3];
    uint8_t crOf[3];
};

} // namespace norvale::video
