#pragma once

// Where every chunk of a 1-D chunked dataset lies, read from the file's own chunk index in one
// walk. The library's chunk queries of our version search the whole index for each chunk, which
// makes a file of 10,000 chunks take seconds to plan; this walks the version 1 B-tree that the
// default file layout keeps (v1 and v2 object headers, layout message version 3) and refuses
// anything else, so the caller asks the library instead. Nothing is trusted: a signature, size,
// offset or address that is not what a whole, unfiltered index of the dataset holds refuses it.
//
// Threads: no library call; reads the file with pread.
#include <cstdint>
#include <vector>

namespace norvale::detail::hdf5 {

struct ChunkTableQuery {
    int fd = -1;
    uint64_t fileSize = 0;
    uint64_t base = 0;        // where the file's addresses count from (after a user block)
    uint64_t headerAddress = 0; // the dataset's object header (H5Oget_info)
    unsigned addressBytes = 8;  // the file's sizes of offsets and lengths (H5Pget_sizes)
    unsigned lengthBytes = 8;
    uint64_t length = 0;      // elements of the dataset
    uint64_t chunk = 0;       // elements per chunk
    uint64_t elementSize = 0; // bytes per element
};

// The file address (as the file states it, from base) of each chunk in order; false when the
// index is not one this reads or does not hold exactly the dataset's whole unfiltered chunks.
bool readChunkTable(const ChunkTableQuery& q, std::vector<uint64_t>& addresses);

} // namespace norvale::detail::hdf5
