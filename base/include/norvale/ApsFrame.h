#pragma once

#include <cstdint>
#include <memory>

#include "norvale/Export.h"

namespace norvale {

// One APS intensity image, 3 bytes per pixel in blue-green-red order, rows without padding.
// Copies share the pixel buffer (atomic reference count, pixels unguarded); clone() copies it.
// Writers work on clones.
class NR_BASE_EXPORT ApsFrame {
public:
    ApsFrame() = default;
    // A new owning buffer of width x height x 3 zero bytes.
    ApsFrame(int width, int height, uint64_t auxTimestamp, uint64_t timestamp);
    // copy true: a new owning buffer with a copy of width x height x 3 bytes of data.
    // copy false: borrows data; it must outlive every frame that shares it. size is not used.
    ApsFrame(int width, int height, uint64_t auxTimestamp, uint64_t timestamp, uint8_t* data, uint64_t size,
             bool copy);
    ApsFrame(const ApsFrame& other) = default;
    ApsFrame& operator=(const ApsFrame& other) = default;

    ApsFrame clone() const;

    uint8_t* data() { return buffer.get(); }
    const uint8_t* data() const { return buffer.get(); }
    uint64_t getDataSize() const {
        return static_cast<uint64_t>(frameWidth) * static_cast<uint64_t>(frameHeight) * 3u;
    }
    int width() const { return frameWidth; }
    int height() const { return frameHeight; }
    int pixelType() const { return framePixelType; }

    uint64_t auxTimestamp = 0; // carried along, not interpreted
    uint64_t timestamp = 0;    // time on the event timeline (us)

private:
    int32_t frameWidth = 0;
    int32_t frameHeight = 0;
    int32_t framePixelType = 0; // 0: 3 bytes per pixel
    std::shared_ptr<uint8_t> buffer;
};

} // namespace norvale
