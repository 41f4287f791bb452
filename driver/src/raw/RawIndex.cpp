#include "raw/RawIndex.h"

#include <algorithm>

namespace norvale::detail {

void RawIndex::chunkRange(uint64_t from, uint64_t to, size_t& first, size_t& last) const {
    auto a = std::lower_bound(chunks.begin(), chunks.end(), from,
                              [](const IndexChunk& c, uint64_t t) { return c.maxUpTo < t; });
    auto b = std::lower_bound(a, chunks.end(), to, [](const IndexChunk& c, uint64_t t) { return c.minFrom < t; });
    first = size_t(a - chunks.begin());
    last = size_t(b - chunks.begin());
}

} // namespace norvale::detail
