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
constexpr size_t kPeekStoredBytes = 64 * 1024; // of a packet's stored bytes, for its first kPeekBytes
constexpr size_t kPeekBytes = 4096;

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
    if (!checkShape(shape, f->pixels() ? f->pixels()->size() : 0, where, problem)) return false;
    pixels = f->pixels()->data();
    return true;
}

bool Aedat4Frames::checkShape(const Shape& shape, uint64_t have, const std::string& where, std::string& problem) {
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
    if (have != need) {
        problem = where + " declares " + std::to_string(shape.w) + " x " + std::to_string(shape.h) + " pixels (" +
                  std::to_string(need) + " bytes) but holds " + std::to_string(have);
        return false;
    }
    return true;
}

// The frame table and the length of its pixels sit at the start of the buffer as FlatBuffers
// builders lay it out (the pixels after them), so the index reads a few KiB of each frame packet
// instead of inflating its pixels. Every position is checked against the bytes at hand and the
// buffer's own size; when something lies beyond them, or the packet is laid out otherwise, the
// whole packet is read and verified instead.
Aedat4Frames::Peek Aedat4Frames::peek(uint64_t offset, uint32_t stored, Shape& shape, std::string& problem) {
    // A compressed block inflates only when all of it is at hand: more of the packet is read until
    // the start comes out.
    for (size_t readBytes = kPeekStoredBytes;; readBytes *= 4) {
        if (!source.packetStart(offset, stored, readBytes, body, problem)) return Peek::Failed;
        bool whole = false;
        if (!inflatePrefix(source.compression(), body.data(), body.size(), kPeekBytes, kMaxDecodedBytes, inflated,
                           whole, problem)) {
            problem = "packet at byte " + std::to_string(offset) + ": " + problem;
            return Peek::Failed;
        }
        if (inflated.size() >= kPeekBytes || whole || body.size() >= stored) break;
    }
    const uint8_t* p = inflated.data();
    const size_t n = inflated.size();
    const auto u16 = [&](size_t at) { return uint32_t(p[at]) | uint32_t(p[at + 1]) << 8; };
    const auto u32 = [&](size_t at) { return uint32_t(readI32(p + at)); };
    const auto i64 = [&](size_t at) { return int64_t(uint64_t(u32(at)) | uint64_t(u32(at + 4)) << 32); };
    if (n < 12 || std::memcmp(p + 8, fb::FrameIdentifier(), 4) != 0) return Peek::ReadWhole;
    const uint64_t total = uint64_t(u32(0)) + 4; // the buffer's size as its prefix states it
    const uint64_t table = 4 + uint64_t(u32(4));
    if (table + 4 > n || table + 4 > total) return Peek::ReadWhole;
    const int64_t vtable = int64_t(table) - int64_t(readI32(p + table));
    if (vtable < 4 || uint64_t(vtable) + 4 > n) return Peek::ReadWhole;
    const uint32_t vtableSize = u16(size_t(vtable)), tableSize = u16(size_t(vtable) + 2);
    if (vtableSize < 4 || uint64_t(vtable) + vtableSize > n || table + tableSize > n) return Peek::ReadWhole;
    // A field's place in the table (0: absent, its default applies), within the table's size.
    bool inside = true;
    const auto field = [&](int slot, size_t width) -> size_t {
        const size_t at = 4 + 2 * size_t(slot);
        if (at + 2 > vtableSize) return 0;
        const size_t off = u16(size_t(vtable) + at);
        if (off && off + width > tableSize) inside = false;
        return off && inside ? size_t(table) + off : 0;
    };
    const size_t t = field(0, 8), format = field(5, 1), w = field(6, 2), h = field(7, 2), x = field(8, 2),
                 y = field(9, 2), pixels = field(10, 4);
    if (!inside) return Peek::ReadWhole;
    const auto i16 = [&](size_t at) { return at ? int(int16_t(u16(at))) : 0; };
    shape.time = t ? i64(t) : 0;
    shape.format = format ? int(int8_t(p[format])) : 0;
    shape.w = i16(w);
    shape.h = i16(h);
    shape.x = i16(x);
    shape.y = i16(y);
    uint64_t have = 0;
    if (pixels) {
        const uint64_t vector = pixels + uint64_t(u32(pixels));
        if (vector + 4 > n) return Peek::ReadWhole;
        have = u32(size_t(vector));
        if (vector + 4 + have > total) {
            problem = "the frame packet at byte " + std::to_string(offset) + " is damaged (its pixels run past it)";
            return Peek::Failed;
        }
    }
    if (!checkShape(shape, have, "the frame packet at byte " + std::to_string(offset), problem)) return Peek::Failed;
    return Peek::Indexed;
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
            Peek found = peek(offset, stored, s, why);
            if (found == Peek::ReadWhole) {
                ++inflatedWhole;
                found = load(offset, stored, s, pixels, why) ? Peek::Indexed : Peek::Failed;
            }
            if (found == Peek::Failed) {
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
