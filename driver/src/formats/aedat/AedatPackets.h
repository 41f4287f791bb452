#pragma once

// The byte side shared by the AEDAT 4 reader and writer: the version line, packet headers and the
// compression of packet bodies (each body one LZ4 or Zstd frame). Stateless; any thread.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace norvale::detail::aedat {

inline constexpr char kVersionLine[] = "#!AER-DAT4.0\r\n";
inline constexpr size_t kVersionLineSize = sizeof(kVersionLine) - 1;
inline constexpr size_t kPacketHeaderSize = 8; // int32 stream id, int32 body size
// A packet body or the header is never inflated beyond this: a declared size above it is refused
// before anything is allocated (8 million events a packet).
inline constexpr size_t kMaxDecodedBytes = size_t(128) << 20;
inline constexpr size_t kMaxIoHeaderBytes = size_t(16) << 20;

enum class Compression : int32_t { None = 0, Lz4 = 1, Lz4High = 2, Zstd = 3, ZstdHigh = 4 };

const char* compressionName(Compression c);

// body -> the size-prefixed FlatBuffer it holds. False with problem when the frame is damaged or
// would inflate beyond cap.
bool decompressBody(Compression c, const uint8_t* body, size_t size, size_t cap, std::vector<uint8_t>& out,
                    std::string& problem);
bool compressBody(Compression c, const uint8_t* data, size_t size, std::vector<uint8_t>& out, std::string& problem);
// The first want bytes of what body inflates to (fewer when it holds fewer, or when body is only
// the start of a packet's bytes and ends first); whole: out is all of it. A frame declaring more
// than cap is refused as decompressBody refuses it. False with problem when the part read is damaged.
bool inflatePrefix(Compression c, const uint8_t* body, size_t size, size_t want, size_t cap,
                   std::vector<uint8_t>& out, bool& whole, std::string& problem);

inline int32_t readI32(const uint8_t* p) {
    return int32_t(uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24);
}
inline void putI32(uint8_t* p, int32_t v) {
    const uint32_t u = uint32_t(v);
    p[0] = uint8_t(u);
    p[1] = uint8_t(u >> 8);
    p[2] = uint8_t(u >> 16);
    p[3] = uint8_t(u >> 24);
}

// pread of exactly size bytes (EINTR and short reads retried). False with problem.
bool readAt(int fd, uint64_t offset, void* data, size_t size, std::string& problem);

} // namespace norvale::detail::aedat
