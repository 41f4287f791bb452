#include "formats/aedat/AedatPackets.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <unistd.h>

#include <lz4frame.h>
#include <zstd.h>

namespace norvale::detail::aedat {

const char* compressionName(Compression c) {
    switch (c) {
    case Compression::None: return "none";
    case Compression::Lz4: return "LZ4";
    case Compression::Lz4High: return "LZ4 (high)";
    case Compression::Zstd: return "Zstd";
    case Compression::ZstdHigh: return "Zstd (high)";
    }
    return "unknown";
}

namespace {

// How much an inflation is to produce: a whole packet (the frame must end, within cap) or only its
// first want bytes (stopping there, or where the bytes given end, is no fault).
struct InflateGoal {
    size_t cap;
    size_t want = 0; // 0: the whole packet
    bool prefix() const { return want != 0; }
};

// The first size of out: what the frame declares, the prefix asked for, or a guess grown later.
size_t firstSize(const InflateGoal& goal, uint64_t declared, size_t size) {
    if (goal.prefix()) return goal.want;
    return declared ? size_t(declared) : std::min(goal.cap, std::max<size_t>(size * 4, 4096));
}

// When out is full: a prefix is done, a whole packet gets a larger out unless it passed cap.
enum class Full { Done, Grown, TooLarge };
Full whenFull(const InflateGoal& goal, std::vector<uint8_t>& out, const char* what, std::string& problem) {
    if (goal.prefix()) return Full::Done;
    if (out.size() >= goal.cap) {
        problem = std::string(what) + " frame inflates beyond what a packet may hold";
        return Full::TooLarge;
    }
    out.resize(std::min(goal.cap, out.size() * 2));
    return Full::Grown;
}

bool inflateLz4(const uint8_t* body, size_t size, const InflateGoal& goal, std::vector<uint8_t>& out, bool& whole,
                std::string& problem) {
    LZ4F_dctx* ctx = nullptr;
    if (LZ4F_isError(LZ4F_createDecompressionContext(&ctx, LZ4F_VERSION))) {
        problem = "cannot start LZ4 decompression";
        return false;
    }
    struct Free {
        LZ4F_dctx* c;
        ~Free() { LZ4F_freeDecompressionContext(c); }
    } release{ctx};
    LZ4F_frameInfo_t frame{};
    size_t pos = size;
    const size_t hint = LZ4F_getFrameInfo(ctx, &frame, body, &pos);
    if (LZ4F_isError(hint)) {
        problem = std::string("damaged LZ4 frame: ") + LZ4F_getErrorName(hint);
        return false;
    }
    if (frame.contentSize > goal.cap) {
        problem = "LZ4 frame declares " + std::to_string(frame.contentSize) + " bytes, more than a packet may hold";
        return false;
    }
    out.resize(firstSize(goal, frame.contentSize, size));
    size_t produced = 0;
    for (;;) {
        if (produced == out.size()) {
            const Full full = whenFull(goal, out, "LZ4", problem);
            if (full == Full::TooLarge) return false;
            if (full == Full::Done) break;
        }
        size_t dst = out.size() - produced;
        size_t src = size - pos;
        const size_t r = LZ4F_decompress(ctx, out.data() + produced, &dst, body + pos, &src, nullptr);
        if (LZ4F_isError(r)) {
            problem = std::string("damaged LZ4 frame: ") + LZ4F_getErrorName(r);
            return false;
        }
        produced += dst;
        pos += src;
        if (r == 0) {
            whole = true;
            break;
        }
        if (dst == 0 && src == 0) {
            if (goal.prefix()) break; // the bytes given end here
            problem = "LZ4 frame ends early";
            return false;
        }
    }
    if (!goal.prefix() && frame.contentSize && produced != frame.contentSize) {
        problem = "LZ4 frame holds fewer bytes than it declares";
        return false;
    }
    out.resize(produced);
    return true;
}

bool inflateZstd(const uint8_t* body, size_t size, const InflateGoal& goal, std::vector<uint8_t>& out, bool& whole,
                 std::string& problem) {
    const unsigned long long declared = ZSTD_getFrameContentSize(body, size);
    if (declared == ZSTD_CONTENTSIZE_ERROR) {
        problem = "damaged Zstd frame";
        return false;
    }
    const bool known = declared != ZSTD_CONTENTSIZE_UNKNOWN;
    if (known && declared > goal.cap) {
        problem = "Zstd frame declares " + std::to_string(declared) + " bytes, more than a packet may hold";
        return false;
    }
    if (known && !goal.prefix()) {
        // One context per thread, kept: making one per packet costs as much as many a packet's inflation.
        thread_local std::unique_ptr<ZSTD_DCtx, size_t (*)(ZSTD_DCtx*)> context(ZSTD_createDCtx(), ZSTD_freeDCtx);
        if (!context) {
            problem = "cannot start Zstd decompression";
            return false;
        }
        out.resize(size_t(declared));
        const size_t r = ZSTD_decompressDCtx(context.get(), out.data(), out.size(), body, size);
        if (ZSTD_isError(r) || r != declared) {
            problem = std::string("damaged Zstd frame: ") + (ZSTD_isError(r) ? ZSTD_getErrorName(r) : "short");
            return false;
        }
        whole = true;
        return true;
    }
    ZSTD_DStream* ds = ZSTD_createDStream();
    if (!ds) {
        problem = "cannot start Zstd decompression";
        return false;
    }
    struct Free {
        ZSTD_DStream* s;
        ~Free() { ZSTD_freeDStream(s); }
    } release{ds};
    out.resize(firstSize(goal, 0, size));
    ZSTD_inBuffer in{body, size, 0};
    size_t produced = 0;
    for (;;) {
        if (produced == out.size()) {
            const Full full = whenFull(goal, out, "Zstd", problem);
            if (full == Full::TooLarge) return false;
            if (full == Full::Done) break;
        }
        ZSTD_outBuffer o{out.data() + produced, out.size() - produced, 0};
        const size_t before = in.pos;
        const size_t r = ZSTD_decompressStream(ds, &o, &in);
        if (ZSTD_isError(r)) {
            problem = std::string("damaged Zstd frame: ") + ZSTD_getErrorName(r);
            return false;
        }
        produced += o.pos;
        if (r == 0) {
            whole = true;
            break;
        }
        if (o.pos == 0 && in.pos == before) {
            if (goal.prefix()) break; // the bytes given end here
            problem = "Zstd frame ends early";
            return false;
        }
    }
    out.resize(produced);
    return true;
}

bool inflate(Compression c, const uint8_t* body, size_t size, const InflateGoal& goal, std::vector<uint8_t>& out,
             bool& whole, std::string& problem) {
    whole = false;
    switch (c) {
    case Compression::None:
        if (!goal.prefix() && size > goal.cap) {
            problem = "packet larger than a packet may be";
            return false;
        }
        out.assign(body, body + (goal.prefix() ? std::min(size, goal.want) : size));
        whole = !goal.prefix(); // a prefix: the caller knows whether body was all of the packet
        return true;
    case Compression::Lz4:
    case Compression::Lz4High: return inflateLz4(body, size, goal, out, whole, problem);
    case Compression::Zstd:
    case Compression::ZstdHigh: return inflateZstd(body, size, goal, out, whole, problem);
    }
    problem = "unknown compression";
    return false;
}

} // namespace

bool decompressBody(Compression c, const uint8_t* body, size_t size, size_t cap, std::vector<uint8_t>& out,
                    std::string& problem) {
    bool whole = false;
    return inflate(c, body, size, InflateGoal{cap}, out, whole, problem);
}

bool inflatePrefix(Compression c, const uint8_t* body, size_t size, size_t want, size_t cap,
                   std::vector<uint8_t>& out, bool& whole, std::string& problem) {
    out.clear();
    if (want == 0) {
        whole = false;
        return true;
    }
    return inflate(c, body, size, InflateGoal{cap, want}, out, whole, problem);
}

bool compressBody(Compression c, const uint8_t* data, size_t size, std::vector<uint8_t>& out, std::string& problem) {
    switch (c) {
    case Compression::None: out.assign(data, data + size); return true;
    case Compression::Lz4:
    case Compression::Lz4High: {
        LZ4F_preferences_t prefs{};
        prefs.frameInfo.contentSize = size; // lets a reader check the size before allocating
        prefs.compressionLevel = c == Compression::Lz4High ? 9 : 0;
        out.resize(LZ4F_compressFrameBound(size, &prefs));
        const size_t r = LZ4F_compressFrame(out.data(), out.size(), data, size, &prefs);
        if (LZ4F_isError(r)) {
            problem = std::string("LZ4 compression failed: ") + LZ4F_getErrorName(r);
            return false;
        }
        out.resize(r);
        return true;
    }
    case Compression::Zstd:
    case Compression::ZstdHigh: {
        out.resize(ZSTD_compressBound(size));
        // ZSTD_compress records the content size in the frame header.
        const size_t r = ZSTD_compress(out.data(), out.size(), data, size, c == Compression::ZstdHigh ? 9 : 1);
        if (ZSTD_isError(r)) {
            problem = std::string("Zstd compression failed: ") + ZSTD_getErrorName(r);
            return false;
        }
        out.resize(r);
        return true;
    }
    }
    problem = "unknown compression";
    return false;
}

bool readAt(int fd, uint64_t offset, void* data, size_t size, std::string& problem) {
    auto* p = static_cast<uint8_t*>(data);
    size_t done = 0;
    while (done < size) {
        const ssize_t got = ::pread(fd, p + done, size - done, off_t(offset + done));
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            problem = std::string("read error: ") + std::strerror(errno);
            return false;
        }
        if (got == 0) {
            problem = "file ends at byte " + std::to_string(offset + done) + " inside a packet";
            return false;
        }
        done += size_t(got);
    }
    return true;
}

} // namespace norvale::detail::aedat
