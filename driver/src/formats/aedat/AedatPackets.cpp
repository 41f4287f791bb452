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

bool inflateLz4(const uint8_t* body, size_t size, size_t cap, std::vector<uint8_t>& out, std::string& problem) {
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
    size_t consumed = size;
    const size_t hint = LZ4F_getFrameInfo(ctx, &frame, body, &consumed);
    if (LZ4F_isError(hint)) {
        problem = std::string("damaged LZ4 frame: ") + LZ4F_getErrorName(hint);
        return false;
    }
    if (frame.contentSize > cap) {
        problem = "LZ4 frame declares " + std::to_string(frame.contentSize) + " bytes, more than a packet may hold";
        return false;
    }
    out.clear();
    // The declared size when there is one; otherwise grown as it inflates, never past cap.
    out.resize(frame.contentSize ? size_t(frame.contentSize) : std::min(cap, std::max<size_t>(size * 4, 4096)));
    size_t produced = 0;
    size_t pos = consumed;
    for (;;) {
        if (produced == out.size()) {
            if (out.size() >= cap) {
                problem = "LZ4 frame inflates beyond what a packet may hold";
                return false;
            }
            out.resize(std::min(cap, out.size() * 2));
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
        if (r == 0) break; // frame complete
        if (pos == size && dst == 0) {
            problem = "LZ4 frame ends early";
            return false;
        }
    }
    if (frame.contentSize && produced != frame.contentSize) {
        problem = "LZ4 frame holds fewer bytes than it declares";
        return false;
    }
    out.resize(produced);
    return true;
}

bool inflateZstd(const uint8_t* body, size_t size, size_t cap, std::vector<uint8_t>& out, std::string& problem) {
    const unsigned long long declared = ZSTD_getFrameContentSize(body, size);
    if (declared == ZSTD_CONTENTSIZE_ERROR) {
        problem = "damaged Zstd frame";
        return false;
    }
    if (declared != ZSTD_CONTENTSIZE_UNKNOWN) {
        if (declared > cap) {
            problem = "Zstd frame declares " + std::to_string(declared) + " bytes, more than a packet may hold";
            return false;
        }
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
    out.assign(std::min(cap, std::max<size_t>(size * 4, 4096)), 0);
    ZSTD_inBuffer in{body, size, 0};
    size_t produced = 0;
    for (;;) {
        if (produced == out.size()) {
            if (out.size() >= cap) {
                problem = "Zstd frame inflates beyond what a packet may hold";
                return false;
            }
            out.resize(std::min(cap, out.size() * 2));
        }
        ZSTD_outBuffer o{out.data() + produced, out.size() - produced, 0};
        const size_t r = ZSTD_decompressStream(ds, &o, &in);
        if (ZSTD_isError(r)) {
            problem = std::string("damaged Zstd frame: ") + ZSTD_getErrorName(r);
            return false;
        }
        produced += o.pos;
        if (r == 0) break;
        if (in.pos == in.size && o.pos == 0) {
            problem = "Zstd frame ends early";
            return false;
        }
    }
    out.resize(produced);
    return true;
}

} // namespace

bool decompressBody(Compression c, const uint8_t* body, size_t size, size_t cap, std::vector<uint8_t>& out,
                    std::string& problem) {
    switch (c) {
    case Compression::None:
        if (size > cap) {
            problem = "packet larger than a packet may be";
            return false;
        }
        out.assign(body, body + size);
        return true;
    case Compression::Lz4:
    case Compression::Lz4High: return inflateLz4(body, size, cap, out, problem);
    case Compression::Zstd:
    case Compression::ZstdHigh: return inflateZstd(body, size, cap, out, problem);
    }
    problem = "unknown compression";
    return false;
}

bool inflatePrefix(Compression c, const uint8_t* body, size_t size, size_t want, size_t cap,
                   std::vector<uint8_t>& out, bool& whole, std::string& problem) {
    out.clear();
    whole = false;
    switch (c) {
    case Compression::None:
        out.assign(body, body + std::min(size, want));
        return true; // the caller knows whether body was all of the packet
    case Compression::Lz4:
    case Compression::Lz4High: {
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
        if (frame.contentSize > cap) {
            problem = "LZ4 frame declares " + std::to_string(frame.contentSize) + " bytes, more than a packet may hold";
            return false;
        }
        out.resize(want);
        size_t produced = 0;
        while (produced < want) {
            size_t dst = want - produced;
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
            if (dst == 0 && src == 0) break; // the bytes given end here
        }
        out.resize(produced);
        return true;
    }
    case Compression::Zstd:
    case Compression::ZstdHigh: {
        const unsigned long long declared = ZSTD_getFrameContentSize(body, size);
        if (declared == ZSTD_CONTENTSIZE_ERROR) {
            problem = "damaged Zstd frame";
            return false;
        }
        if (declared != ZSTD_CONTENTSIZE_UNKNOWN && declared > cap) {
            problem = "Zstd frame declares " + std::to_string(declared) + " bytes, more than a packet may hold";
            return false;
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
        out.resize(want);
        ZSTD_inBuffer in{body, size, 0};
        size_t produced = 0;
        while (produced < want) {
            ZSTD_outBuffer o{out.data() + produced, want - produced, 0};
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
            if (o.pos == 0 && in.pos == before) break; // the bytes given end here
        }
        out.resize(produced);
        return true;
    }
    }
    problem = "unknown compression";
    return false;
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
