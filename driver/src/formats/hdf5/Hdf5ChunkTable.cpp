#include "formats/hdf5/Hdf5ChunkTable.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace norvale::detail::hdf5 {

namespace {

constexpr uint64_t kUndefined = ~uint64_t(0);
constexpr size_t kMaxHeaderBlock = 1 << 20; // an object header's block of messages
constexpr int kMaxHeaderBlocks = 64;
constexpr int kMaxDepth = 32;

// The file's little-endian integers of 1 to 8 bytes.
uint64_t le(const uint8_t* p, unsigned bytes) {
    uint64_t v = 0;
    for (unsigned i = 0; i < bytes; ++i) v |= uint64_t(p[i]) << (8 * i);
    return v;
}

class Walker {
public:
    explicit Walker(const ChunkTableQuery& q) : q(q) {}

    bool run(std::vector<uint64_t>& addresses) {
        if (q.chunk == 0 || q.elementSize == 0 || q.length == 0 || (q.addressBytes != 4 && q.addressBytes != 8) ||
            (q.lengthBytes != 4 && q.lengthBytes != 8))
            return false;
        uint64_t tree = kUndefined;
        unsigned dims = 0;
        if (!layout(tree, dims) || dims != 2) return false; // one dimension and the element's
        keyBytes = 8 + 8 * size_t(dims);
        table.assign(size_t((q.length + q.chunk - 1) / q.chunk), kUndefined);
        if (!node(tree, -1, 0)) return false;
        for (uint64_t a : table)
            if (a == kUndefined) return false;
        addresses = std::move(table);
        return true;
    }

private:
    // Bytes at a file address (counted from base), all of them or false.
    bool bytesAt(uint64_t address, size_t n, std::vector<uint8_t>& out) const {
        if (address == kUndefined || address > q.fileSize || q.base > q.fileSize - address ||
            n > q.fileSize - q.base - address)
            return false;
        out.resize(n);
        for (size_t got = 0; got < n;) {
            const ssize_t r = ::pread(q.fd, out.data() + got, n - got, off_t(q.base + address + got));
            if (r < 0 && errno == EINTR) continue;
            if (r <= 0) return false;
            got += size_t(r);
        }
        return true;
    }

    // The chunk B-tree's address from the dataset's layout message, through header blocks and
    // their continuations.
    bool layout(uint64_t& tree, unsigned& dims) {
        std::vector<uint8_t> b;
        struct Block {
            uint64_t at, size;
            bool v2;
        };
        std::vector<Block> blocks;
        if (!bytesAt(q.headerAddress, 16, b)) return false;
        bool v2 = false;
        if (std::memcmp(b.data(), "OHDR", 4) == 0) {
            if (b[4] != 2) return false;
            const uint8_t flags = b[5];
            size_t at = 6 + ((flags & 0x20) ? 16 : 0) + ((flags & 0x10) ? 4 : 0);
            const unsigned sizeBytes = 1u << (flags & 3);
            if (!bytesAt(q.headerAddress, at + sizeBytes, b)) return false;
            const uint64_t size = le(b.data() + at, sizeBytes);
            blocks.push_back({q.headerAddress + at + sizeBytes, size, true});
            v2 = true;
            creationOrder = (flags & 0x04) != 0;
        } else {
            if (b[0] != 1) return false;
            blocks.push_back({q.headerAddress + 16, le(b.data() + 8, 4), false});
        }
        for (size_t k = 0; k < blocks.size(); ++k) {
            if (k >= kMaxHeaderBlocks || blocks[k].size > kMaxHeaderBlock) return false;
            if (!bytesAt(blocks[k].at, size_t(blocks[k].size), b)) return false;
            size_t at = 0;
            const size_t end = b.size() - (blocks[k].v2 && k > 0 ? 4 : 0); // a continuation's checksum
            if (blocks[k].v2 && k > 0) {
                if (b.size() < 8 || std::memcmp(b.data(), "OCHK", 4) != 0) return false;
                at = 4;
            }
            const size_t prefix = v2 ? 4 + (creationOrder ? 2 : 0) : 8;
            while (at + prefix <= end) {
                const unsigned type = v2 ? b[at] : unsigned(le(b.data() + at, 2));
                const size_t size = size_t(le(b.data() + at + (v2 ? 1 : 2), 2));
                const size_t data = at + prefix;
                if (size > end - data) break; // a v2 block's gap
                const uint8_t* m = b.data() + data;
                if (type == 0x10 && size >= q.addressBytes + q.lengthBytes) { // continuation
                    blocks.push_back({le(m, q.addressBytes), le(m + q.addressBytes, q.lengthBytes), v2});
                } else if (type == 0x08) { // data layout
                    // version 3, chunked: dimensionality, the B-tree's address, the chunk's sizes
                    if (size < 3 + q.addressBytes || m[0] != 3 || m[1] != 2) return false;
                    dims = m[2];
                    tree = le(m + 3, q.addressBytes);
                    if (size < 3 + q.addressBytes + 4 * size_t(dims) || dims < 1) return false;
                    const uint64_t chunkElements = le(m + 3 + q.addressBytes, 4);
                    const uint64_t element = le(m + 3 + q.addressBytes + 4 * size_t(dims - 1), 4);
                    return chunkElements == q.chunk && element == q.elementSize;
                }
                at = data + size;
            }
        }
        return false;
    }

    // A node of the chunk B-tree (version 1): its chunks into the table, its children walked.
    bool node(uint64_t address, int level, int depth) {
        if (depth > kMaxDepth) return false;
        std::vector<uint8_t> b;
        const size_t head = 8 + 2 * size_t(q.addressBytes);
        if (!bytesAt(address, head, b) || std::memcmp(b.data(), "TREE", 4) != 0 || b[4] != 1) return false;
        const int nodeLevel = b[5];
        const size_t entries = size_t(le(b.data() + 6, 2));
        if ((level >= 0 && nodeLevel != level) || entries == 0) return false;
        const size_t entry = keyBytes + q.addressBytes;
        if (!bytesAt(address, head + entries * entry + keyBytes, b)) return false;
        for (size_t i = 0; i < entries; ++i) {
            const uint8_t* key = b.data() + head + i * entry;
            const uint64_t child = le(key + keyBytes, q.addressBytes);
            if (nodeLevel > 0) {
                if (!node(child, nodeLevel - 1, depth + 1)) return false;
                continue;
            }
            const uint64_t bytes = le(key, 4), mask = le(key + 4, 4), offset = le(key + 8, 8), last = le(key + 16, 8);
            if (mask != 0 || last != 0 || offset % q.chunk != 0 || bytes != q.chunk * q.elementSize) return false;
            const uint64_t k = offset / q.chunk;
            if (k >= table.size() || table[size_t(k)] != kUndefined || child > q.fileSize ||
                bytes > q.fileSize - child)
                return false;
            table[size_t(k)] = child;
        }
        return true;
    }

    const ChunkTableQuery& q;
    size_t keyBytes = 0;
    bool creationOrder = false;
    std::vector<uint64_t> table;
};

} // namespace

bool readChunkTable(const ChunkTableQuery& q, std::vector<uint64_t>& addresses) {
    return Walker(q).run(addresses);
}

} // namespace norvale::detail::hdf5
