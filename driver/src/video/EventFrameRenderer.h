#pragma once

#include <cstdint>
#include <vector>

#include "norvale/VideoExporter.h"
#include "video/EventStatePlane.h"

namespace norvale::video {

// Paints an EventStatePlane into the YUV 4:2:0 planes of one picture by the event frame rule of
// norvale/EventFrame.h (background, ON or OFF colour from the capped counts);
// chroma is the rounded mean of the 2 x 2 pixels it covers. Row pairs without events are filled
// with the background, and only when the picture may hold something else there, so a quiet
// picture costs next to nothing.
// One thread uses an object (the encoder thread of an export), always with the same picture
// buffers (their content is remembered between frames).
class EventFrameRenderer {
public:
    // width and height even.
    EventFrameRenderer(int width, int height, VideoRgb on, VideoRgb off, VideoRgb background);

    void render(const EventStatePlane& plane, uint8_t* yPlane, int yStride, uint8_t* uPlane, int uStride,
                uint8_t* vPlane, int vStride);

private:
    struct Shade {
        uint8_t background, on, off;
    };

    int width;
    int height;
    Shade luma;
    Shade cb;
    Shade cr;
    std::vector<uint8_t> pairDirty; // per row pair: the picture may differ from the background
    std::vector<uint8_t> chromaRows; // per-pixel chroma of a row pair, before averaging
};

} // namespace norvale::video
