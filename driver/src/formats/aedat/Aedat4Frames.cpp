#include "formats/aedat/Aedat4Frames.h"

#include <algorithm>
#include <cstring>

#include "FramePacket_generated.h"
#include "norvale/Logger.h"

namespace norvale::detail {

using namespace aedat;
namespace fb = ::norvale::aedat4;

namespace {

constexpr int kMaxSide = 32767; // the frame table's sizes are 16-bit

int channelsOf(int format) {
    switch (format) {
    case fb::FrameFormat_GRAY: return 1;
    case fb::FrameFormat_BGR: return 3;
    case fb::FrameFormat_BGRA: return 4;
    default: return 0;
    }
}

bool canvasFits(int64_t w, int64_t h) {
    return w > 0 && h > 0 && w <= kMaxSide && h <= kMaxSide && uint64_t(w) * uint64_t(h) * 3 <= kMaxDecodedBytes;
}

} // namespace

bool Aedat4Frames::load(uint64_t offset, uint32_t stored, Shape& shape, const uint8_t*& pixels, std::string& problem) {
    if (!source.packetBody(offset, stored, kMaxDecodedBytes, body, inflated, problem)) return false;
    const std::string where = "the frame packet at byte " + std::to_string(offset);
    flatbuffers::Verifier check(inflated.data(), inflated.size());
    if (inflated.size() < 12 || !flatbuffers::BufferHasIdentifier(inflated.data(), fb::FrameIdentifier(), true) ||
        !fb::VerifySizePrefixedFrameBuffer(check)) {
        problem = where + " is damaged (it does not verify as a frame)";
        return false;
    }
    const fb::Frame* f = fb::GetSizePrefixedFrame(inflated.data());
    shape.time = f->timestamp();
    shape.format = int(f->format());
    shape.x = f->position_x();
    shape.y = f->position_y();
    shape.w = f->size_x();
    shape.h = f->size_y();
    const int channels = channelsOf(shape.format);
    if (channels == 0) {
        problem = where + " holds pixel format " + std::to_string(shape.format) + " (gray, BGR and BGRA are read)";
        return false;
    }
    if (shape.time < 0 || shape.x < 0 || shape.y < 0 || shape.w <= 0 || shape.h <= 0) {
        problem = where + " declares a negative time, position or size";
        return false;
    }
    const uint64_t need = uint64_t(shape.w) * uint64_t(shape.h) * uint64_t(channels);
    const size_t have = f->pixels() ? f->pixels()->size() : 0;
    if (have != need) {
        problem = where + " declares " + std::to_string(shape.w) + " x " + std::to_string(shape.h) + " pixels (" +
                  std::to_string(need) + " bytes) but holds " + std::to_string(have);
        return false;
    }
    pixels = f->pixels()->data();
    return true;
}

bool Aedat4Frames::open(const std::string& path, std::string& problem, bool firstOnly) {
    filePath = path;
    if (!source.open(path, problem)) return false;
    const int32_t stream = source.frameStream();
    if (stream < 0) {
        problem = path + " holds no frame stream";
        return false;
    }
    int64_t w = source.frameStreamWidth(), h = source.frameStreamHeight();
    if (!canvasFits(w, h)) w = h = 0; // stated sizes beyond any sensor: the frames' own sizes decide
    size_t leftOutCount = 0; // the first is named, the rest counted: a file of damaged frames logs twice
    const auto leftOut = [&](const std::string& why) {
        if (leftOutCount++ == 0) NR_LOG(LOG_WARN, "%s: %s; that frame is left out", path.c_str(), why.c_str());
        if (firstDamage.empty()) firstDamage = why;
    };
    for (uint64_t offset = source.packetsBegin(); offset < source.packetsEnd();) {
        int32_t id = 0;
        uint32_t stored = 0;
        std::string why;
        if (!source.packetAt(offset, id, stored, why)) {
            // The packets after a broken header cannot be found: the frames before it stay.
            NR_LOG(LOG_ERROR, "%s: %s; frames after it are not read", path.c_str(), why.c_str());
            if (firstDamage.empty()) firstDamage = why;
            break;
        }
        if (id == stream) {
            Shape s;
            const uint8_t* pixels = nullptr;
            if (!load(offset, stored, s, pixels, why)) {
                leftOut(why);
            } else {
                const int64_t right = std::max<int64_t>(w, int64_t(s.x) + s.w);
                const int64_t bottom = std::max<int64_t>(h, int64_t(s.y) + s.h);
                if (!canvasFits(right, bottom)) {
                    leftOut("the frame packet at byte " + std::to_string(offset) + " lies beyond any sensor size");
                } else {
                    w = right;
                    h = bottom;
                    index.push_back(Entry{offset, stored, s.time});
                    if (firstOnly) break;
                }
            }
        }
        offset += kPacketHeaderSize + stored;
    }
    if (leftOutCount > 1) NR_LOG(LOG_WARN, "%s: %zu frames left out in all", path.c_str(), leftOutCount);
    if (index.empty()) {
        problem = path + " holds no readable frame" + (firstDamage.empty() ? std::string() : ": " + firstDamage);
        return false;
    }
    // Frames play in time order; frames of equal times keep their file order.
    std::stable_sort(index.begin(), index.end(), [](const Entry& a, const Entry& b) { return a.time < b.time; });
    index.shrink_to_fit();
    canvasWidth = int(w);
    canvasHeight = int(h);
    return true;
}

bool Aedat4Frames::read(size_t i, ApsFrame& out, std::string& problem) {
    if (i >= index.size()) {
        problem = filePath + ": no frame " + std::to_string(i);
        return false;
    }
    Shape s;
    const uint8_t* in = nullptr;
    if (!load(index[i].offset, index[i].stored, s, in, problem)) {
        problem = filePath + ": " + problem;
        return false;
    }
    if (s.x + s.w > canvasWidth || s.y + s.h > canvasHeight) { // the file changed since it was indexed
        problem = filePath + ": frame " + std::to_string(i) + " no longer fits the frame size";
        return false;
    }
    if (out.width() != canvasWidth || out.height() != canvasHeight || !out.data())
        out = ApsFrame(canvasWidth, canvasHeight, 0, out.timestamp);
    else if (s.x != 0 || s.y != 0 || s.w != canvasWidth || s.h != canvasHeight)
        std::memset(out.data(), 0, out.getDataSize()); // the part outside the frame's region is black
    const int channels = channelsOf(s.format);
    const size_t rowBytes = size_t(canvasWidth) * 3;
    for (int y = 0; y < s.h; ++y) {
        const uint8_t* src = in + size_t(y) * size_t(s.w) * size_t(channels);
        uint8_t* dst = out.data() + size_t(s.y + y) * rowBytes + size_t(s.x) * 3;
        if (channels == 3) {
            std::memcpy(dst, src, size_t(s.w) * 3);
        } else {
            for (int x = 0; x < s.w; ++x, dst += 3, src += channels) {
                dst[0] = src[0];
                dst[1] = channels == 1 ? src[0] : src[1];
                dst[2] = channels == 1 ? src[0] : src[2];
            }
        }
    }
    return true;
}

} // namespace norvale::detail
