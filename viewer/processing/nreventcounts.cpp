#include "processing/nreventcounts.h"

#include <cstring>

namespace nrcounts {

void countEvents(uint16_t* counts, uint32_t width, uint32_t height, const norvale::Event2D* begin,
                 const norvale::Event2D* end, uint16_t ceiling) {
    // No branches: compare-and-branch saturation mispredicts on real data (3x slower), and events
    // outside the frame go to the sink slot instead of being skipped.
    const size_t sink = size_t(width) * height * 2;
    for (const norvale::Event2D* e = begin; e != end; ++e) {
        const uint32_t x = e->x;
        const uint32_t y = e->y;
        const size_t index = (size_t(y) * width + x) * 2 + (e->polarity != 0);
        uint16_t* c = counts + ((x < width && y < height) ? index : sink);
        *c = uint16_t(*c + (*c < ceiling));
    }
}

static inline void putPixel(uint8_t* p, Rgb c) {
    p[0] = c.r;
    p[1] = c.g;
    p[2] = c.b;
}

void fillRows(uint8_t* bits, size_t bytesPerLine, int width, int height, Rgb colour) {
    if (width <= 0 || height <= 0)
        return;
    for (int x = 0; x < width; ++x)
        putPixel(bits + size_t(x) * 3, colour);
    for (int y = 1; y < height; ++y)
        std::memcpy(bits + size_t(y) * bytesPerLine, bits, size_t(width) * 3);
}

void paintCounts(const uint16_t* counts, int width, int height, uint8_t* bits, size_t bytesPerLine, Rgb on,
                 Rgb off) {
    for (int y = 0; y < height; ++y) {
        const uint16_t* row = counts + size_t(y) * size_t(width) * 2;
        uint8_t* line = bits + size_t(y) * bytesPerLine;
        int x = 0;
        // Most pixels of a frame have no events: skip them four at a time.
        for (; x + 4 <= width; x += 4) {
            uint64_t a, b;
            std::memcpy(&a, row + size_t(x) * 2, 8);
            std::memcpy(&b, row + size_t(x) * 2 + 4, 8);
            if ((a | b) == 0)
                continue;
            for (int k = 0; k < 4; ++k) {
                const uint16_t c0 = row[size_t(x + k) * 2];
                const uint16_t c1 = row[size_t(x + k) * 2 + 1];
                if ((c0 | c1) != 0)
                    putPixel(line + size_t(x + k) * 3, norvale::onWins(c0, c1) ? on : off);
            }
        }
        for (; x < width; ++x) {
            const uint16_t c0 = row[size_t(x) * 2];
            const uint16_t c1 = row[size_t(x) * 2 + 1];
            if ((c0 | c1) != 0)
                putPixel(line + size_t(x) * 3, norvale::onWins(c0, c1) ? on : off);
        }
    }
}

} // namespace nrcounts
