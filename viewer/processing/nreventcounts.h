#pragma once

// Per-pixel, per-polarity event counts and their painting into RGB888 scan lines. Stateless; any
// thread, on buffers the caller owns.
//
// Count layout: two uint16 counts per pixel, row-major, polarity-interleaved: the count of pixel
// (x, y) with polarity p is at (y * width + x) * 2 + p. A count buffer has kCountSinkSlots more
// entries after the pixels, where events outside the frame land; nothing reads them.
#include <cstddef>
#include <cstdint>

#include "norvale/Event2D.h"
#include "norvale/EventFrame.h"

namespace nrcounts {

constexpr size_t kCountSinkSlots = 1;

// Entries of a count buffer for a width x height frame.
inline size_t countBufferSize(int width, int height) {
    return size_t(width) * size_t(height) * 2 + kCountSinkSlots;
}

using Rgb = norvale::FrameRgb;

// Adds one to the count of each event, saturating at ceiling (norvale::kEventCountCap for frames). Events outside width x height are
// dropped (an x past the row end would otherwise land on the next row); any non-zero polarity is ON.
void countEvents(uint16_t* counts, uint32_t width, uint32_t height, const norvale::Event2D* begin,
                 const norvale::Event2D* end, uint16_t ceiling);

// Sets every pixel of the image to colour.
void fillRows(uint8_t* bits, size_t bytesPerLine, int width, int height, Rgb colour);

// Paints pixels with events by the event frame rule (norvale/EventFrame.h); pixels without events
// are left as they are.
void paintCounts(const uint16_t* counts, int width, int height, uint8_t* bits, size_t bytesPerLine, Rgb on,
                 Rgb off);

} // namespace nrcounts
