// What the fuzz targets share: the input as a file, and a block source read over it.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "formats/EventBlockSource.h"

namespace norvale::fuzz {

// One temporary file per process (removed at exit) holding the current input; suffix is its
// extension where the reader looks at it.
inline const std::string& inputFile(const uint8_t* data, size_t size, const char* suffix = "") {
    static char pattern[128]; // a plain array: still there for atexit
    static const std::string made = [suffix] {
        std::snprintf(pattern, sizeof pattern, "/tmp/norvale_fuzz_XXXXXX%s", suffix);
        const int fd = ::mkstemps(pattern, int(std::strlen(suffix)));
        if (fd < 0) std::abort();
        ::close(fd);
        std::atexit([] { ::unlink(pattern); });
        return std::string(pattern);
    }();
    FILE* f = std::fopen(made.c_str(), "wb");
    if (!f) std::abort();
    if (size) std::fwrite(data, 1, size, f);
    std::fclose(f);
    return made;
}

// Opens the file and reads up to maxBlocks blocks: a failure always comes with a message, a block
// never holds more than its bound, and blocks move forward in the file.
inline void readBlocks(detail::EventBlockSource& source, const std::string& path, int maxBlocks) {
    std::string problem;
    if (!source.open(path, problem)) {
        if (problem.empty()) std::abort();
        return;
    }
    std::vector<Event2D> events;
    std::vector<EventTriggerIn> triggers;
    detail::BlockPosition pos = source.first(), next;
    // Starts listed without reading the blocks before them: in file order, each read or refused
    // with a message.
    std::vector<detail::BlockPosition> starts;
    if (source.blockStarts(starts, problem))
        for (size_t i = 0; i < starts.size() && i < size_t(maxBlocks); ++i) {
            const detail::BlockPosition& a = i ? starts[i - 1] : pos;
            if (i && !(a.offset < starts[i].offset || (a.offset == starts[i].offset && a.index < starts[i].index)))
                std::abort();
            bool end = false;
            problem.clear();
            if (!source.read(starts[i], events, triggers, next, end, problem) && problem.empty()) std::abort();
            if (events.size() > detail::EventBlockSource::kMaxBlockEvents) std::abort();
        }
    for (int i = 0; i < maxBlocks; ++i) {
        bool end = false;
        if (!source.read(pos, events, triggers, next, end, problem)) {
            if (problem.empty()) std::abort();
            return;
        }
        if (end) return;
        if (events.size() > detail::EventBlockSource::kMaxBlockEvents) std::abort();
        if (next.offset < pos.offset || (next.offset == pos.offset && next.index <= pos.index)) std::abort();
        pos = next;
    }
}

} // namespace norvale::fuzz
